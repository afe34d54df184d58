// The gate element through GstHarness: re-timing, gating, settings and caps.
#include "AviTestSupport.h"

#include <gtest/gtest.h>

#include <vector>

using namespace vorlund::test;

namespace {

const std::string kBgr = RawCaps("BGR", 64, 48);
const gsize kBgrSize = FrameSize("BGR", 64, 48);

struct Out
{
    GstClockTime pts, dts, duration;
    guint64 offset, offsetEnd;
    bool discont;
};

std::vector<Out> PullAll(GstHarness *h)
{
    std::vector<Out> out;
    while (GstBuffer *b = gst_harness_try_pull(h)) {
        out.push_back({ GST_BUFFER_PTS(b), GST_BUFFER_DTS(b), GST_BUFFER_DURATION(b),
                        GST_BUFFER_OFFSET(b), GST_BUFFER_OFFSET_END(b),
                        GST_BUFFER_FLAG_IS_SET(b, GST_BUFFER_FLAG_DISCONT) });
        gst_buffer_unref(b);
    }
    return out;
}

// Passed buffers form one timeline: each starts where the one before stopped.
void ExpectContinuous(const std::vector<Out> &out)
{
    for (size_t i = 0; i < out.size(); ++i)
        ASSERT_EQ(out[i].dts, out[i].pts) << "buffer " << i; // the decode time moves along
    for (size_t i = 1; i < out.size(); ++i) {
        ASSERT_EQ(out[i].pts, out[i - 1].pts + out[i - 1].duration) << "buffer " << i;
        ASSERT_EQ(out[i].offset, out[i - 1].offsetEnd) << "buffer " << i;
    }
}

// Pushes frames first..last-1 with the gate as `open(index)` says.
template <typename Open> void PushFrames(GstHarness *h, guint64 first, guint64 last, Open open)
{
    for (guint64 i = first; i < last; ++i) {
        SetGate(h, open(i));
        ASSERT_EQ(gst_harness_push(h, MakeFrame(kBgrSize, i)), GST_FLOW_OK);
    }
}

} // namespace

TEST(AviRetiming, ClosedPeriodsLeaveNoHole)
{
    Harness h = MakeAvi(kBgr);
    PushFrames(h.get(), 0, 40, [](guint64 i) { return (i >= 10 && i < 20) || i >= 30; });
    const std::vector<Out> out = PullAll(h.get());
    ASSERT_EQ(out.size(), 20u);
    // The first open period keeps its own times.
    for (int i = 0; i < 10; ++i) {
        EXPECT_EQ(out[i].pts, (10 + i) * kFrame);
        EXPECT_EQ(out[i].offset, guint64(10 + i));
    }
    // Frame 30 starts where frame 19 stopped.
    EXPECT_EQ(out[10].pts, 20 * kFrame);
    EXPECT_EQ(out[10].duration, kFrame);
    EXPECT_EQ(out[10].offset, 20u);
    ExpectContinuous(out);
    // The first buffer after each closed period is marked as a discontinuity.
    for (size_t i = 0; i < out.size(); ++i)
        EXPECT_EQ(out[i].discont, i == 0 || i == 10) << i;
    gint64 lastStart = 0;
    g_object_get(h->element, "last-start-time", &lastStart, nullptr);
    EXPECT_EQ(lastStart, gint64(29 * kFrame));
}

// A switch asked for with a capture time takes the frames whose middle lies past it, however
// late they arrive: frames waiting in a queue are judged by when they were captured.
TEST(AviRetiming, SwitchesByCaptureTimeTakeTheFramesCapturedAfterThem)
{
    Harness h = MakeAvi(kBgr);
    const auto switchAt = [&](GstClockTime at, bool open) {
        g_object_set(h->element, "gate-time", guint64(at), nullptr);
        SetGate(h.get(), open);
    };
    switchAt(10 * kFrame, true); // a frame start
    switchAt(20 * kFrame + kFrame / 3, false); // frame 20's middle lies past it: shut
    switchAt(30 * kFrame + kFrame * 2 / 3, true); // frame 30's does not: still shut
    for (guint64 i = 0; i < 40; ++i)
        ASSERT_EQ(gst_harness_push(h.get(), MakeFrame(kBgrSize, i)), GST_FLOW_OK);
    const std::vector<Out> out = PullAll(h.get());
    ASSERT_EQ(out.size(), 19u); // frames 10..19 and 31..39
    EXPECT_EQ(out.front().offset, 10u);
    EXPECT_TRUE(out[10].discont);
    ExpectContinuous(out);
    gboolean gate = FALSE;
    g_object_get(h->element, "gate", &gate, nullptr);
    EXPECT_TRUE(gate) << "the newest request";
}

TEST(AviRetiming, GapSeenWhileClosedClampsTheOffsetAtZero)
{
    Harness h = MakeAvi(kBgr);
    // Two dropped frames with a hole of 60 ms between them make the join negative.
    GstBuffer *a = MakeFrame(kBgrSize, 0);
    GstBuffer *b = MakeFrame(kBgrSize, 0);
    GST_BUFFER_PTS(b) = 100 * GST_MSECOND;
    GstBuffer *c = MakeFrame(kBgrSize, 0);
    GST_BUFFER_PTS(c) = 140 * GST_MSECOND;
    ASSERT_EQ(gst_harness_push(h.get(), a), GST_FLOW_OK);
    ASSERT_EQ(gst_harness_push(h.get(), b), GST_FLOW_OK);
    SetGate(h.get(), true);
    ASSERT_EQ(gst_harness_push(h.get(), c), GST_FLOW_OK);
    BufferPtr out(gst_harness_pull(h.get()));
    EXPECT_EQ(GST_BUFFER_PTS(out.get()), 140 * GST_MSECOND);
}

TEST(AviRetiming, FirstOpenPeriodFromTheStartStillJoinsLaterOnes)
{
    Harness h = MakeAvi(kBgr);
    PushFrames(h.get(), 0, 30, [](guint64 i) { return i < 10 || i >= 20; });
    const std::vector<Out> out = PullAll(h.get());
    ASSERT_EQ(out.size(), 20u);
    EXPECT_EQ(out[0].pts, 0u);
    EXPECT_EQ(out[10].pts, 10 * kFrame);
    ExpectContinuous(out);
}

// Frames that carry a start time only, with the gate closed, open, closed, open.
TEST(AviRetiming, FramesWithoutADurationAreTimedFromTheRateOrTheSpacing)
{
    for (const char *rate : { "25/1", "0/1" }) {
        SCOPED_TRACE(rate);
        Harness h
            = MakeAvi("video/x-raw,format=BGR,width=64,height=48,framerate=" + std::string(rate));
        for (guint64 i = 0; i < 40; ++i) {
            SetGate(h.get(), (i >= 10 && i < 20) || i >= 30);
            GstBuffer *frame = MakeFrame(kBgrSize, i);
            GST_BUFFER_DURATION(frame) = GST_CLOCK_TIME_NONE;
            ASSERT_EQ(gst_harness_push(h.get(), frame), GST_FLOW_OK);
        }
        const std::vector<Out> out = PullAll(h.get());
        ASSERT_EQ(out.size(), 20u);
        EXPECT_EQ(out[0].pts, 10 * kFrame);
        EXPECT_EQ(out[10].pts, 20 * kFrame); // frame 30 starts where frame 19 stopped
        for (const Out &o : out)
            EXPECT_EQ(o.duration, kFrame);
        ExpectContinuous(out);
    }
}

// Without a rate the stop comes from the spacing of the two frames before; the first two
// frames have none and, like a frame without a start time, are passed as they are.
TEST(AviRetiming, WithoutARateTheSpacingBeforeGivesTheDuration)
{
    Harness h = MakeAvi("video/x-raw,format=BGR,width=64,height=48,framerate=0/1");
    SetGate(h.get(), true);
    const GstClockTime none = GST_CLOCK_TIME_NONE;
    const GstClockTime in[] = { 0, 40 * GST_MSECOND, 100 * GST_MSECOND, none, 130 * GST_MSECOND };
    const GstClockTime duration[] = { none, none, 40 * GST_MSECOND, none, 60 * GST_MSECOND };
    for (const GstClockTime pts : in) {
        GstBuffer *frame = MakeFrame(kBgrSize, 0);
        GST_BUFFER_PTS(frame) = GST_BUFFER_DTS(frame) = pts;
        GST_BUFFER_DURATION(frame) = GST_CLOCK_TIME_NONE;
        ASSERT_EQ(gst_harness_push(h.get(), frame), GST_FLOW_OK);
    }
    const std::vector<Out> out = PullAll(h.get());
    ASSERT_EQ(out.size(), 5u);
    for (size_t i = 0; i < out.size(); ++i) {
        EXPECT_EQ(out[i].pts, in[i]) << i;
        EXPECT_EQ(out[i].duration, duration[i]) << i;
    }
}

TEST(AviRetiming, BuffersWithoutAStartAreGatedButNotRetimedOrCounted)
{
    Harness h = MakeAvi(kBgr);
    PushFrames(h.get(), 0, 5, [](guint64) { return false; });
    GstBuffer *open = MakeFrame(kBgrSize, 7);
    GST_BUFFER_PTS(open) = GST_CLOCK_TIME_NONE;
    GST_BUFFER_OFFSET_END(open) = GST_BUFFER_OFFSET_NONE;
    SetGate(h.get(), true);
    ASSERT_EQ(gst_harness_push(h.get(), open), GST_FLOW_OK);
    SetGate(h.get(), false);
    GstBuffer *closed = MakeFrame(kBgrSize, 8);
    GST_BUFFER_PTS(closed) = GST_CLOCK_TIME_NONE;
    ASSERT_EQ(gst_harness_push(h.get(), closed), GST_FLOW_OK);
    SetGate(h.get(), true);
    ASSERT_EQ(gst_harness_push(h.get(), MakeFrame(kBgrSize, 5)), GST_FLOW_OK);
    const std::vector<Out> out = PullAll(h.get());
    ASSERT_EQ(out.size(), 2u);
    EXPECT_EQ(out[0].pts, GST_CLOCK_TIME_NONE);
    EXPECT_EQ(out[0].offset, 7u);
    EXPECT_EQ(out[1].pts, 5 * kFrame);
    gint64 lastStart = 0;
    g_object_get(h->element, "last-start-time", &lastStart, nullptr);
    EXPECT_EQ(lastStart, gint64(4 * kFrame));
}

TEST(AviRetiming, TimelineStaysContinuousWhileTheGateIsToggledConcurrently)
{
    Harness h = MakeAvi(kBgr);
    GValue on = G_VALUE_INIT, off = G_VALUE_INIT;
    g_value_init(&on, G_TYPE_BOOLEAN);
    g_value_init(&off, G_TYPE_BOOLEAN);
    g_value_set_boolean(&on, TRUE);
    g_value_set_boolean(&off, FALSE);
    GstHarnessThread *opener = gst_harness_stress_property_start_full(h.get(), "gate", &on, 0);
    GstHarnessThread *closer = gst_harness_stress_property_start_full(h.get(), "gate", &off, 0);
    for (guint64 i = 0; i < 20000; ++i)
        ASSERT_EQ(gst_harness_push(h.get(), MakeFrame(kBgrSize, i)), GST_FLOW_OK);
    gst_harness_stress_thread_stop(opener);
    gst_harness_stress_thread_stop(closer);
    g_value_unset(&on);
    g_value_unset(&off);
    const std::vector<Out> out = PullAll(h.get());
    ASSERT_FALSE(out.empty());
    ExpectContinuous(out);
}

TEST(AviControl, PassThroughOpensTheGateAndLeavesTimesAlone)
{
    Harness h = MakeAvi(kBgr);
    PushFrames(h.get(), 0, 5, [](guint64) { return false; });
    g_object_set(h->element, "pass-through", TRUE, nullptr);
    gboolean gate = FALSE;
    g_object_get(h->element, "gate", &gate, nullptr);
    EXPECT_TRUE(gate);
    for (guint64 i = 9; i < 12; ++i)
        ASSERT_EQ(gst_harness_push(h.get(), MakeFrame(kBgrSize, i)), GST_FLOW_OK);
    const std::vector<Out> out = PullAll(h.get());
    ASSERT_EQ(out.size(), 3u);
    EXPECT_EQ(out[0].pts, 9 * kFrame);
    EXPECT_EQ(out[0].offset, 9u);

    g_object_set(h->element, "pass-through", FALSE, nullptr);
    g_object_get(h->element, "gate", &gate, nullptr);
    EXPECT_FALSE(gate);
    ASSERT_EQ(gst_harness_push(h.get(), MakeFrame(kBgrSize, 12)), GST_FLOW_OK);
    EXPECT_EQ(gst_harness_buffers_in_queue(h.get()), 0u);
}

TEST(AviControl, HoldModeAndRestoreKeepTheGateOnTheLastRequest)
{
    Harness h = MakeAvi(kBgr);
    g_object_set(h->element, "hold-mode", TRUE, nullptr);
    gboolean gate = FALSE;
    SetGate(h.get(), true);
    SetGate(h.get(), true);
    g_object_get(h->element, "gate", &gate, nullptr);
    EXPECT_TRUE(gate);
    g_signal_emit_by_name(h->element, "restore-gate", 0);
    g_object_get(h->element, "gate", &gate, nullptr);
    EXPECT_TRUE(gate);
    SetGate(h.get(), false);
    g_signal_emit_by_name(h->element, "restore-gate", 1);
    g_object_get(h->element, "gate", &gate, nullptr);
    EXPECT_FALSE(gate);
    ASSERT_EQ(gst_harness_push(h.get(), MakeFrame(kBgrSize, 0)), GST_FLOW_OK);
    EXPECT_EQ(gst_harness_buffers_in_queue(h.get()), 0u);
}

TEST(AviControl, ABufferSharedWithAnotherBranchIsNotModified)
{
    Harness h = MakeAvi(kBgr);
    g_object_set(h->element, "stamp", TRUE, "stamp-at-top", TRUE, nullptr);
    // Open, closed, then open again: the join moves the times of the shared buffer.
    PushFrames(h.get(), 0, 4, [](guint64 i) { return i < 2; });
    PullAll(h.get());
    SetGate(h.get(), true);
    GstBuffer *shared = MakeFrame(kBgrSize, 4, 0x40);
    gst_buffer_ref(shared); // what a tee does for each branch
    BufferPtr keep(shared);
    ASSERT_EQ(gst_harness_push(h.get(), shared), GST_FLOW_OK);
    BufferPtr out(gst_harness_pull(h.get()));
    EXPECT_EQ(GST_BUFFER_PTS(keep.get()), 4 * kFrame);
    EXPECT_EQ(GST_BUFFER_PTS(out.get()), 2 * kFrame);

    GstMapInfo orig, stamped;
    ASSERT_TRUE(gst_buffer_map(keep.get(), &orig, GST_MAP_READ));
    ASSERT_TRUE(gst_buffer_map(out.get(), &stamped, GST_MAP_READ));
    bool origUntouched = true, outStamped = false;
    for (gsize i = 0; i < orig.size; ++i) {
        origUntouched = origUntouched && orig.data[i] == 0x40;
        outStamped = outStamped || stamped.data[i] != 0x40;
    }
    gst_buffer_unmap(keep.get(), &orig);
    gst_buffer_unmap(out.get(), &stamped);
    EXPECT_TRUE(origUntouched);
    EXPECT_TRUE(outStamped);
}

namespace {

GstFlowReturn PushWithCaps(const std::string &caps, gsize size, bool acceptInterleaved = false,
                           bool requireVideoInfo = false)
{
    Harness h(gst_harness_new("vorlundavi"));
    g_object_set(h->element, "gate", TRUE, "accept-interleaved", gboolean(acceptInterleaved),
                 "require-video-info", gboolean(requireVideoInfo), nullptr);
    gst_harness_set_src_caps_str(h.get(), caps.c_str());
    return gst_harness_push(h.get(), MakeFrame(size, 0));
}

} // namespace

// BGR up to 720 x 576 x 3 bytes in any shape (the product in 64 bits), YUY2 of any size.
TEST(AviCaps, BgrUpToTheFrameByteLimitAndYuy2OfAnySize)
{
    const struct
    {
        const char *format;
        int width, height;
        bool accepted;
    } cases[] = {
        { "BGR", 720, 576, true },
        { "BGR", 768, 540, true },
        { "BGR", 414720, 1, true },
        { "BGR", 720, 577, false },
        { "BGR", 800, 600, false },
        { "BGR", 65536, 21846, false }, // wraps to 131,072 bytes in 32 bits
        { "YUY2", 720, 576, true },
        { "YUY2", 722, 576, true },
        { "YUY2", 1280, 720, true },
        { "I420", 320, 240, false },
        { "RGB", 320, 240, false },
    };
    for (const auto &c : cases) {
        // Refused caps fail before the buffer is looked at.
        const gsize size = c.accepted ? FrameSize(c.format, c.width, c.height) : 64;
        EXPECT_EQ(PushWithCaps(RawCaps(c.format, c.width, c.height), size),
                  c.accepted ? GST_FLOW_OK : GST_FLOW_NOT_NEGOTIATED)
            << c.format << " " << c.width << "x" << c.height;
    }
}

TEST(AviCaps, DvOnlyWhileInterleavedIsAccepted)
{
    const std::string dv = "video/x-dv,systemstream=true";
    EXPECT_EQ(PushWithCaps(dv, 144000), GST_FLOW_NOT_NEGOTIATED);
    EXPECT_EQ(PushWithCaps(dv, 144000, true), GST_FLOW_OK);
}

TEST(AviCaps, RequireVideoInfoRefusesCapsWithoutFrameRate)
{
    const std::string bare = "video/x-raw,format=YUY2,width=320,height=240";
    const gsize size = FrameSize("YUY2", 320, 240);
    EXPECT_EQ(PushWithCaps(bare, size), GST_FLOW_OK);
    EXPECT_EQ(PushWithCaps(bare, size, false, true), GST_FLOW_NOT_NEGOTIATED);
    EXPECT_EQ(PushWithCaps(RawCaps("YUY2", 320, 240), size, false, true), GST_FLOW_OK);
}
