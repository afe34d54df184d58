// A real recording: videotestsrc ! vorlundavi ! avimux ! filesink with the gate toggled while
// the pipeline runs, then the file read back with avidemux.
#include "../PipelineRun.h"
#include "AviTestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <mutex>
#include <vector>

using namespace vorlund::test;

namespace {

struct ObjectDeleter
{
    void operator()(gpointer p) const { gst_object_unref(p); }
};
using Pipeline = std::unique_ptr<GstElement, ObjectDeleter>;

struct Timeline
{
    std::mutex lock;
    std::vector<std::pair<GstClockTime, GstClockTime>> spans; // pts, duration
};

GstPadProbeReturn Record(GstPad *, GstPadProbeInfo *info, gpointer data)
{
    auto *t = static_cast<Timeline *>(data);
    GstBuffer *b = GST_PAD_PROBE_INFO_BUFFER(info);
    std::lock_guard<std::mutex> guard(t->lock);
    t->spans.emplace_back(GST_BUFFER_PTS(b), GST_BUFFER_DURATION(b));
    return GST_PAD_PROBE_OK;
}

// Opens the gate for frames [10, 20), [30, 60) and [75, 100) of the source.
GstPadProbeReturn DriveGate(GstPad *pad, GstPadProbeInfo *info, gpointer)
{
    const guint64 n = GST_BUFFER_OFFSET(GST_PAD_PROBE_INFO_BUFFER(info));
    const bool open = (n >= 10 && n < 20) || (n >= 30 && n < 60) || (n >= 75 && n < 100);
    GstElement *avi = gst_pad_get_parent_element(pad);
    g_object_set(avi, "gate", gboolean(open), nullptr);
    gst_object_unref(avi);
    return GST_PAD_PROBE_OK;
}

void AddProbe(GstElement *pipeline, const char *element, const char *pad, GstPadProbeCallback cb,
              gpointer data)
{
    GstElement *e = gst_bin_get_by_name(GST_BIN(pipeline), element);
    ASSERT_NE(e, nullptr);
    GstPad *p = gst_element_get_static_pad(e, pad);
    gst_pad_add_probe(p, GST_PAD_PROBE_TYPE_BUFFER, cb, data, nullptr);
    gst_object_unref(p);
    gst_object_unref(e);
}

// Runs to EOS; false (and a test failure) on an error or a timeout.
bool RunToEos(GstElement *pipeline)
{
    const PipelineEnd end = RunPipeline(pipeline);
    if (!end.eos)
        ADD_FAILURE() << end.error;
    return end.eos;
}

using Spans = std::vector<std::pair<GstClockTime, GstClockTime>>;

// Records through `launch`, whose vorlundavi is named "avi" and has `gate` on its input;
// returns the times of what the gate passed.
Spans RecordThroughGate(const std::string &launch, GstPadProbeCallback gate)
{
    Pipeline record(gst_parse_launch(launch.c_str(), nullptr));
    Timeline passed;
    if (!record) {
        ADD_FAILURE() << launch;
        return {};
    }
    AddProbe(record.get(), "avi", "sink", gate, nullptr);
    AddProbe(record.get(), "avi", "src", Record, &passed);
    RunToEos(record.get());
    return passed.spans;
}

// The frame times `demuxer` reads back from `file`, which is removed afterwards.
Spans ReadBack(const std::filesystem::path &file, const char *demuxer)
{
    const std::string launch = "filesrc location=" + file.string() + " ! " + demuxer
        + " ! fakesink name=sink sync=false";
    Pipeline play(gst_parse_launch(launch.c_str(), nullptr));
    Timeline read;
    if (play) {
        AddProbe(play.get(), "sink", "sink", Record, &read);
        RunToEos(play.get());
    }
    std::filesystem::remove(file);
    return read.spans;
}

void ExpectGapless(const Spans &spans)
{
    for (size_t i = 1; i < spans.size(); ++i)
        ASSERT_EQ(spans[i].first, spans[i - 1].first + spans[i - 1].second) << "frame " << i;
}

} // namespace

TEST(AviPipeline, RecordingOfAToggledGateHasEveryPassedFrameAndNoGap)
{
    const std::filesystem::path file = std::filesystem::temp_directory_path()
        / ("vorlundavi-" + std::to_string(getpid()) + ".avi");
    const std::string launch = "videotestsrc name=src num-buffers=120 ! "
                               "video/x-raw,format=BGR,width=320,height=240,framerate=25/1 ! "
                               "vorlundavi name=avi stamp=true ! avimux ! filesink location="
        + file.string();
    const Spans passed = RecordThroughGate(launch, DriveGate);
    ASSERT_EQ(passed.size(), 65u);
    EXPECT_EQ(passed.front().first, 10 * kFrame);
    ExpectGapless(passed);

    const Spans read = ReadBack(file, "avidemux");
    ASSERT_EQ(read.size(), passed.size());
    ExpectGapless(read);
    EXPECT_EQ(read.back().first + read.back().second - read.front().first, 65 * kFrame);
}

namespace {

// A source that leaves durations out: strips them, and opens the gate for frames [10, 20)
// and [30, 60) of 60.
GstPadProbeReturn StripDurationAndDriveGate(GstPad *pad, GstPadProbeInfo *info, gpointer)
{
    GstBuffer *buffer = gst_buffer_make_writable(GST_PAD_PROBE_INFO_BUFFER(info));
    GST_PAD_PROBE_INFO_DATA(info) = buffer;
    GST_BUFFER_DURATION(buffer) = GST_CLOCK_TIME_NONE;
    const guint64 n = GST_BUFFER_OFFSET(buffer);
    GstElement *avi = gst_pad_get_parent_element(pad);
    g_object_set(avi, "gate", gboolean((n >= 10 && n < 20) || n >= 30), nullptr);
    gst_object_unref(avi);
    return GST_PAD_PROBE_OK;
}

bool HasElement(const char *factory)
{
    GstElementFactory *f = gst_element_factory_find(factory);
    if (f)
        gst_object_unref(f);
    return f != nullptr;
}

} // namespace

TEST(AviPipeline, FramesWithoutDurationsMakeAGapFreeMp4)
{
    if (!HasElement("x264enc") || !HasElement("mp4mux"))
        GTEST_SKIP() << "x264enc or mp4mux not installed";
    const std::filesystem::path file = std::filesystem::temp_directory_path()
        / ("vorlundavi-" + std::to_string(getpid()) + ".mp4");
    const std::string launch = "videotestsrc num-buffers=60 ! "
                               "video/x-raw,format=BGR,width=160,height=120,framerate=25/1 ! "
                               "vorlundavi name=avi ! videoconvert ! "
                               "x264enc speed-preset=ultrafast bframes=0 ! mp4mux ! "
                               "filesink location="
        + file.string();
    const Spans passed = RecordThroughGate(launch, StripDurationAndDriveGate);
    ASSERT_EQ(passed.size(), 40u);
    ExpectGapless(passed);

    const Spans read = ReadBack(file, "qtdemux");
    ASSERT_EQ(read.size(), 40u);
    // Every frame lasts one frame time: the closed period left no long frame behind.
    for (size_t i = 0; i < read.size(); ++i) {
        EXPECT_EQ(read[i].first, read[0].first + i * kFrame) << "frame " << i;
        EXPECT_EQ(read[i].second, kFrame) << "frame " << i;
    }
}

// What a capture source offers beyond 720 x 576 reaches the gate when it fits its size rule.
TEST(AviPipeline, NegotiatesBgrWithinTheByteLimitAndLargeYuy2)
{
    const struct
    {
        const char *caps;
        bool negotiates;
    } cases[] = {
        { "video/x-raw,format=BGR,width=768,height=540", true },
        { "video/x-raw,format=YUY2,width=1280,height=720", true },
        { "video/x-raw,format=BGR,width=800,height=600", false },
    };
    for (const auto &c : cases) {
        const std::string launch = std::string("videotestsrc num-buffers=2 ! ") + c.caps
            + " ! vorlundavi gate=true stamp=true ! fakesink";
        Pipeline pipeline(gst_parse_launch(launch.c_str(), nullptr));
        ASSERT_TRUE(pipeline);
        const PipelineEnd end = RunPipeline(pipeline.get());
        EXPECT_EQ(end.eos, c.negotiates) << c.caps << ": " << end.error;
        if (!c.negotiates) {
            EXPECT_NE(end.error, "timed out") << c.caps;
        }
    }
}
