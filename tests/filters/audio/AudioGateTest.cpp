// The audio gate in a harness: gating, re-timing on both time axes, the reference time rule.
#include "gstvorlundaudio.h"

#include <gst/check/gstharness.h>
#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace {

constexpr GstClockTime kBufferTime = 10 * GST_MSECOND;
constexpr guint64 kBufferSamples = 80; // 10 ms at 8 kHz

using Switches = std::vector<std::pair<GstClockTime, bool>>; // ms, open
// Ten switches inside buffers: five openings of 7 or 8 ms, 39 ms in all within 0..300 ms.
const Switches kManyShortOpenings
    = { { 12, true },  { 19, false }, { 33, true },   { 41, false }, { 66, true },
        { 74, false }, { 101, true }, { 109, false }, { 155, true }, { 163, false } };

struct HarnessDeleter
{
    void operator()(GstHarness *h) const { gst_harness_teardown(h); }
};
using Harness = std::unique_ptr<GstHarness, HarnessDeleter>;

struct Passed
{
    GstClockTime pts;
    GstClockTime duration;
    guint64 offset;
    guint64 offsetEnd;
    bool discont;
};

class AudioGateTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        h_.reset(gst_harness_new("vorlundaudio"));
        gst_harness_set_src_caps_str(h_.get(),
                                     "audio/x-raw,format=S16LE,rate=8000,channels=1,"
                                     "layout=interleaved");
    }

    GstElement *element() const { return h_->element; }
    void SetGate(bool open) { g_object_set(element(), "gate", gboolean(open), nullptr); }
    void SetRetiming(bool on) { g_object_set(element(), "retiming", gboolean(on), nullptr); }
    // Each asked for before the buffers arrive: a backlog judged by when it was captured.
    void ScheduleSwitches(const Switches &switches)
    {
        for (const auto &[at, open] : switches) {
            g_object_set(element(), "gate-time", guint64(at * GST_MSECOND), nullptr);
            SetGate(open);
        }
    }
    gint64 StartTime() const
    {
        gint64 t = -1;
        g_object_get(element(), "start-time", &t, nullptr);
        return t;
    }

    // Buffer number n of a gap-free stream of 10 ms buffers.
    void PushNumber(guint64 n)
    {
        Push(n * kBufferTime, withDuration_ ? kBufferTime : GST_CLOCK_TIME_NONE, n * kBufferSamples,
             (n + 1) * kBufferSamples);
    }
    void PushNumbers(guint64 first, guint64 last)
    {
        for (guint64 n = first; n <= last; ++n)
            PushNumber(n);
    }
    // Buffers 0 to 19 with the gate closed, open, closed and open for five buffers each.
    void PushClosedOpenClosedOpen()
    {
        for (guint64 run = 0; run < 4; ++run) {
            SetGate(run % 2 == 1);
            PushNumbers(run * 5, run * 5 + 4);
        }
    }
    void Push(GstClockTime pts, GstClockTime duration, guint64 offset, guint64 offsetEnd,
              gsize samples = kBufferSamples)
    {
        GstBuffer *buffer = gst_buffer_new_allocate(nullptr, samples * 2, nullptr);
        GST_BUFFER_PTS(buffer) = pts;
        GST_BUFFER_DURATION(buffer) = duration;
        GST_BUFFER_OFFSET(buffer) = offset;
        GST_BUFFER_OFFSET_END(buffer) = offsetEnd;
        ASSERT_EQ(gst_harness_push(h_.get(), buffer), GST_FLOW_OK);
    }

    std::vector<Passed> PullAll()
    {
        std::vector<Passed> out;
        while (GstBuffer *b = gst_harness_try_pull(h_.get())) {
            out.push_back({ GST_BUFFER_PTS(b), GST_BUFFER_DURATION(b), GST_BUFFER_OFFSET(b),
                            GST_BUFFER_OFFSET_END(b),
                            GST_BUFFER_FLAG_IS_SET(b, GST_BUFFER_FLAG_DISCONT) != 0 });
            gst_buffer_unref(b);
        }
        return out;
    }

    Harness h_;
    bool withDuration_ = true;
};

TEST_F(AudioGateTest, NewGateIsClosedAndNotRetiming)
{
    gboolean gate = TRUE, retiming = TRUE;
    gint64 reference = -1;
    g_object_get(element(), "gate", &gate, "retiming", &retiming, "reference-time", &reference,
                 nullptr);
    EXPECT_FALSE(gate);
    EXPECT_FALSE(retiming);
    EXPECT_EQ(reference, 0);
    PushNumbers(0, 2);
    EXPECT_TRUE(PullAll().empty());
}

TEST_F(AudioGateTest, WithoutRetimingTheGateAloneDecides)
{
    PushNumbers(0, 4);
    SetGate(true);
    PushNumbers(5, 7);
    SetGate(false);
    PushNumbers(8, 9);
    SetGate(true);
    PushNumbers(10, 11);

    const std::vector<Passed> out = PullAll();
    const std::vector<guint64> numbers = { 5, 6, 7, 10, 11 };
    ASSERT_EQ(out.size(), numbers.size());
    for (size_t i = 0; i < out.size(); ++i) {
        EXPECT_EQ(out[i].pts, numbers[i] * kBufferTime);
        EXPECT_EQ(out[i].duration, kBufferTime);
        EXPECT_EQ(out[i].offset, numbers[i] * kBufferSamples);
        // The first buffer after each closed period marks the break.
        EXPECT_EQ(out[i].discont, i == 0 || i == 3) << i;
    }
    EXPECT_EQ(StartTime(), 0); // only recorded while re-timing
}

TEST_F(AudioGateTest, ReopeningStartsExactlyAtTheLastStop)
{
    SetRetiming(true);
    PushClosedOpenClosedOpen();

    const std::vector<Passed> out = PullAll();
    ASSERT_EQ(out.size(), 10u);
    // The first period keeps its own times; the second joins on where the first stopped.
    for (size_t i = 0; i < out.size(); ++i) {
        EXPECT_EQ(out[i].pts, (5 + i) * kBufferTime) << i;
        EXPECT_EQ(out[i].duration, kBufferTime) << i;
        EXPECT_EQ(out[i].offset, (5 + i) * kBufferSamples) << i;
        EXPECT_EQ(out[i].offsetEnd, (6 + i) * kBufferSamples) << i;
    }
    EXPECT_TRUE(out[5].discont);
}

// Sources that leave durations out: each buffer lasts as long as its samples at the rate.
TEST_F(AudioGateTest, BuffersWithoutADurationAreTimedFromTheirSamples)
{
    SetRetiming(true);
    withDuration_ = false;
    PushClosedOpenClosedOpen();
    // A half-size buffer lasts half as long.
    Push(20 * kBufferTime, GST_CLOCK_TIME_NONE, 20 * kBufferSamples, 21 * kBufferSamples,
         kBufferSamples / 2);

    const std::vector<Passed> out = PullAll();
    ASSERT_EQ(out.size(), 11u);
    for (size_t i = 0; i < out.size(); ++i) {
        EXPECT_EQ(out[i].pts, (5 + i) * kBufferTime) << i;
        EXPECT_EQ(out[i].duration, i < 10 ? kBufferTime : kBufferTime / 2) << i;
    }
    EXPECT_TRUE(out[5].discont);
}

TEST_F(AudioGateTest, SharedBufferIsRetimedOnACopy)
{
    SetRetiming(true);
    PushNumbers(0, 1);
    SetGate(true);
    PushNumber(2);
    SetGate(false);
    PushNumber(3);
    SetGate(true);
    // Another branch still holds this buffer: its times must stay as they are.
    GstBuffer *shared = gst_buffer_new_allocate(nullptr, kBufferSamples * 2, nullptr);
    GST_BUFFER_PTS(shared) = 4 * kBufferTime;
    GST_BUFFER_DURATION(shared) = kBufferTime;
    ASSERT_EQ(gst_harness_push(h_.get(), gst_buffer_ref(shared)), GST_FLOW_OK);

    const std::vector<Passed> out = PullAll();
    ASSERT_EQ(out.size(), 2u);
    EXPECT_EQ(out[1].pts, 3 * kBufferTime);
    EXPECT_EQ(GST_BUFFER_PTS(shared), 4 * kBufferTime);
    gst_buffer_unref(shared);
}

TEST_F(AudioGateTest, FirstPeriodOpenFromTheStartStillJoinsTheNext)
{
    SetRetiming(true);
    SetGate(true);
    PushNumbers(0, 2);
    SetGate(false);
    PushNumbers(3, 6);
    SetGate(true);
    PushNumbers(7, 8);

    const std::vector<Passed> out = PullAll();
    ASSERT_EQ(out.size(), 5u);
    for (size_t i = 0; i < out.size(); ++i) {
        EXPECT_EQ(out[i].pts, i * kBufferTime) << i;
        EXPECT_EQ(out[i].offset, i * kBufferSamples) << i;
    }
}

TEST_F(AudioGateTest, OffsetMayBeNegativeWithoutClamp)
{
    SetRetiming(true);
    Push(0, kBufferTime, 0, 80);
    SetGate(true);
    // Overlaps the dropped buffer by 5 ms: moved forward to start where it stopped.
    Push(5 * GST_MSECOND, kBufferTime, 40, 120);
    Push(15 * GST_MSECOND, kBufferTime, 120, 200);

    const std::vector<Passed> out = PullAll();
    ASSERT_EQ(out.size(), 2u);
    EXPECT_EQ(out[0].pts, 10 * GST_MSECOND);
    EXPECT_EQ(out[1].pts, 20 * GST_MSECOND);
    EXPECT_EQ(out[0].offset, 80u);
    EXPECT_EQ(out[1].offsetEnd, 240u);
}

TEST_F(AudioGateTest, BufferWithoutTimesIsGatedAndChangesNothing)
{
    SetRetiming(true);
    PushNumbers(0, 4);
    Push(GST_CLOCK_TIME_NONE, GST_CLOCK_TIME_NONE, GST_BUFFER_OFFSET_NONE, GST_BUFFER_OFFSET_NONE);
    SetGate(true);
    Push(GST_CLOCK_TIME_NONE, GST_CLOCK_TIME_NONE, GST_BUFFER_OFFSET_NONE, GST_BUFFER_OFFSET_NONE);
    PushNumber(5);

    const std::vector<Passed> out = PullAll();
    ASSERT_EQ(out.size(), 2u);
    EXPECT_EQ(out[0].pts, GST_CLOCK_TIME_NONE);
    EXPECT_EQ(out[0].offset, GST_BUFFER_OFFSET_NONE);
    EXPECT_EQ(out[1].pts, 5 * kBufferTime);
    EXPECT_EQ(out[1].offset, 5 * kBufferSamples);
    EXPECT_EQ(StartTime(), gint64(4 * kBufferTime));
}

// Switches asked for with a capture time apply to the buffers captured from then on, however
// late they arrive: the sound starts and stops at the samples nearest the switches, so the
// sound passed keeps to the time the gate was open for.
TEST_F(AudioGateTest, SwitchesByCaptureTimeCutTheSoundAtTheSwitchSamples)
{
    struct Case
    {
        const char *name;
        Switches switches;
        GstClockTime open; // ms the gate was open within buffers 0..29
        GstClockTime first; // ms: the first sound passed starts here (the first period keeps
                            // its times)
    };
    const Case cases[] = {
        { "on buffer edges", { { 50, true }, { 120, false } }, 70, 50 },
        { "inside buffers",
          { { 25, true }, { 95, false }, { 143, true }, { 201, false } },
          128,
          25 },
        { "many short openings", kManyShortOpenings, 39, 12 },
        { "open to the end", { { 287, true } }, 13, 287 },
    };
    constexpr GstClockTime kSample = GST_SECOND / 8000;
    for (const Case &c : cases) {
        SetUp();
        SetRetiming(true);
        ScheduleSwitches(c.switches);
        PushNumbers(0, 29);
        const std::vector<Passed> out = PullAll();
        ASSERT_FALSE(out.empty()) << c.name;
        GstClockTime passed = 0;
        guint64 samples = 0;
        for (const Passed &p : out) {
            passed += p.duration;
            samples += p.offsetEnd - p.offset;
        }
        const GstClockTime open = c.open * GST_MSECOND;
        EXPECT_LE(passed > open ? passed - open : open - passed, kSample) << c.name;
        EXPECT_EQ(samples, c.open * 8) << c.name;
        EXPECT_EQ(out[0].pts, c.first * GST_MSECOND) << c.name;
        EXPECT_EQ(out[0].offset, c.first * 8) << c.name;
        for (size_t i = 1; i < out.size(); ++i) {
            EXPECT_EQ(out[i].pts, out[i - 1].pts + out[i - 1].duration) << c.name << " " << i;
            EXPECT_EQ(out[i].offset, out[i - 1].offsetEnd) << c.name << " " << i;
        }
    }
}

// Behind an encoder the gate passes whole packets, stamped and judged by when their sound was
// captured (the packet's time less the encoder's delay): the sound passed stays within half a
// packet of the time the gate was open, and the packets join without a hole.
TEST_F(AudioGateTest, CompressedPacketsPassWholeByTheCaptureTimeOfTheirSound)
{
    struct Case
    {
        const char *name;
        guint delaySamples; // at 8 kHz: 40 samples are 5 ms
        Switches switches;
        GstClockTime open; // ms the gate was open within packets 0..29
        guint64 first; // the first packet passed
        size_t count; // packets passed
    };
    const Case cases[] = {
        { "no delay", 0, { { 24, true }, { 94, false } }, 70, 2, 7 },
        { "5 ms delay", 40, { { 24, true }, { 94, false } }, 70, 3, 7 },
        { "many short openings", 0, kManyShortOpenings, 39, 1, 4 },
    };
    for (const Case &c : cases) {
        SetUp();
        gst_harness_set_src_caps_str(h_.get(),
                                     "audio/mpeg,mpegversion=1,layer=3,rate=8000,"
                                     "channels=1");
        SetRetiming(true);
        g_object_set(element(), "encoder-delay", c.delaySamples, nullptr);
        ScheduleSwitches(c.switches);
        for (guint64 n = 0; n < 30; ++n) {
            // Compressed packets carry no sample offsets and are never cut.
            Push(n * kBufferTime, kBufferTime, GST_BUFFER_OFFSET_NONE, GST_BUFFER_OFFSET_NONE);
        }
        std::vector<GstBuffer *> out;
        while (GstBuffer *b = gst_harness_try_pull(h_.get()))
            out.push_back(b);
        ASSERT_EQ(out.size(), c.count) << c.name;
        EXPECT_EQ(GST_BUFFER_PTS(out[0]),
                  c.first * kBufferTime - c.delaySamples * GST_SECOND / 8000)
            << c.name;
        GstClockTime passed = 0;
        for (size_t i = 0; i < out.size(); ++i) {
            EXPECT_EQ(gst_buffer_get_size(out[i]), kBufferSamples * 2) << c.name << " " << i;
            if (i > 0) {
                EXPECT_EQ(GST_BUFFER_PTS(out[i]), GST_BUFFER_PTS(out[i - 1]) + kBufferTime)
                    << c.name << " " << i;
            }
            passed += GST_BUFFER_DURATION(out[i]);
            gst_buffer_unref(out[i]);
        }
        const GstClockTime open = c.open * GST_MSECOND;
        EXPECT_LE(passed > open ? passed - open : open - passed, kBufferTime / 2) << c.name;
    }
}

TEST_F(AudioGateTest, StartTimeFollowsDroppedBuffersUntilAReferenceIsSet)
{
    SetRetiming(true);
    PushNumbers(0, 2);
    EXPECT_EQ(StartTime(), gint64(2 * kBufferTime));
    g_object_set(element(), "reference-time", gint64(GST_SECOND), nullptr);
    PushNumbers(3, 4);
    EXPECT_EQ(StartTime(), gint64(2 * kBufferTime));
    g_object_set(element(), "reference-time", gint64(0), nullptr);
    PushNumber(5);
    EXPECT_EQ(StartTime(), gint64(5 * kBufferTime));
    // Passed buffers never count.
    SetGate(true);
    PushNumber(6);
    EXPECT_EQ(StartTime(), gint64(5 * kBufferTime));
}

TEST_F(AudioGateTest, OutputHasNoHoleAndNeverGoesBackWhileTheGateFlips)
{
    SetRetiming(true);
    GValue open = G_VALUE_INIT, closed = G_VALUE_INIT;
    g_value_init(&open, G_TYPE_BOOLEAN);
    g_value_init(&closed, G_TYPE_BOOLEAN);
    g_value_set_boolean(&open, TRUE);
    // Flip the gate from another thread as fast as it goes while buffers stream through.
    GstHarnessThread *flipper = gst_harness_stress_property_start_full(h_.get(), "gate", &open, 0);
    GstHarnessThread *closer = gst_harness_stress_property_start_full(h_.get(), "gate", &closed, 0);
    for (guint64 n = 0; n < 3000; ++n)
        PushNumber(n);
    gst_harness_stress_thread_stop(flipper);
    gst_harness_stress_thread_stop(closer);
    g_value_unset(&open);
    g_value_unset(&closed);

    const std::vector<Passed> out = PullAll();
    for (size_t i = 1; i < out.size(); ++i) {
        ASSERT_EQ(out[i].pts, out[i - 1].pts + out[i - 1].duration) << i;
        ASSERT_EQ(out[i].offset, out[i - 1].offsetEnd) << i;
    }
}

} // namespace

int main(int argc, char **argv)
{
    gst_init(&argc, &argv);
    GST_ELEMENT_REGISTER(vorlundaudio, nullptr);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
