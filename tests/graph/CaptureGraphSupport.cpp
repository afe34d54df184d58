#include "CaptureGraphSupport.h"

#include <QCoreApplication>

#include <gst/app/gstappsrc.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <mutex>
#include <thread>

namespace vorlund::test {

namespace {

constexpr size_t kPalFrameBytes = 144000;
constexpr GstClockTime kPalFrame = 40 * GST_MSECOND;

bool RunToEnd(GstElement *pipeline, GstClockTime limit)
{
    if (gst_element_set_state(pipeline, GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE)
        return false;
    GstBus *bus = gst_element_get_bus(pipeline);
    GstMessage *msg = gst_bus_timed_pop_filtered(
        bus, limit, GstMessageType(GST_MESSAGE_EOS | GST_MESSAGE_ERROR));
    const bool eos = msg && GST_MESSAGE_TYPE(msg) == GST_MESSAGE_EOS;
    if (msg)
        gst_message_unref(msg);
    gst_object_unref(bus);
    gst_element_set_state(pipeline, GST_STATE_NULL);
    return eos;
}

// Plays a DV file's frames in a loop, one every 40 ms of stream time.
struct DvPlayer
{
    std::vector<char> bytes;
    guint64 next = 0;
};

void FeedDv(GstAppSrc *src, guint, gpointer data)
{
    auto *player = static_cast<DvPlayer *>(data);
    const size_t frames = player->bytes.size() / kPalFrameBytes;
    if (frames == 0) {
        gst_app_src_end_of_stream(src);
        return;
    }
    const size_t index = size_t(player->next % frames);
    GstBuffer *buffer
        = gst_buffer_new_memdup(player->bytes.data() + index * kPalFrameBytes, kPalFrameBytes);
    GST_BUFFER_PTS(buffer) = player->next * kPalFrame;
    GST_BUFFER_DURATION(buffer) = kPalFrame;
    ++player->next;
    gst_app_src_push_buffer(src, buffer);
}

GstElement *MakeDvCamera(const std::filesystem::path &file, const char *name)
{
    auto *player = new DvPlayer;
    std::ifstream in(file, std::ios::binary);
    player->bytes.assign(std::istreambuf_iterator<char>(in), {});
    GstElement *bin = gst_bin_new(name);
    GstElement *src = gst_element_factory_make("appsrc", nullptr);
    GstElement *sync = gst_element_factory_make("clocksync", nullptr);
    GstElement *filter = gst_element_factory_make("capsfilter", nullptr);
    GstCaps *caps = gst_caps_from_string("video/x-dv,systemstream=true,format=PAL");
    g_object_set(src, "caps", caps, "is-live", TRUE, "format", GST_FORMAT_TIME, "max-buffers",
                 guint64(2), nullptr);
    g_object_set(filter, "caps", caps, nullptr);
    gst_caps_unref(caps);
    GstAppSrcCallbacks callbacks {};
    callbacks.need_data = FeedDv;
    gst_app_src_set_callbacks(GST_APP_SRC(src), &callbacks, player,
                              [](gpointer p) { delete static_cast<DvPlayer *>(p); });
    gst_bin_add_many(GST_BIN(bin), src, sync, filter, nullptr);
    gst_element_link_many(src, sync, filter, nullptr);
    GstPad *pad = gst_element_get_static_pad(filter, "src");
    gst_element_add_pad(bin, gst_ghost_pad_new("src", pad));
    gst_object_unref(pad);
    return bin;
}

GstElement *MakeBin(const char *description, const char *name)
{
    GstElement *bin = gst_parse_bin_from_description(description, TRUE, nullptr);
    if (bin && name)
        gst_object_set_name(GST_OBJECT(bin), name);
    return bin;
}

GstPadProbeReturn CountBuffer(GstPad *, GstPadProbeInfo *, gpointer data)
{
    ++*static_cast<std::atomic<int> *>(data);
    return GST_PAD_PROBE_OK;
}

struct Timeline
{
    std::mutex lock;
    std::vector<std::pair<GstClockTime, GstClockTime>> spans;
};

GstPadProbeReturn RecordSpan(GstPad *, GstPadProbeInfo *info, gpointer data)
{
    auto *t = static_cast<Timeline *>(data);
    GstBuffer *b = GST_PAD_PROBE_INFO_BUFFER(info);
    std::lock_guard guard(t->lock);
    t->spans.emplace_back(GST_BUFFER_PTS(b), GST_BUFFER_DURATION(b));
    return GST_PAD_PROBE_OK;
}

} // namespace

bool MakeDvFile(const std::filesystem::path &file, int frames)
{
    const std::string launch = "videotestsrc pattern=ball num-buffers=" + std::to_string(frames)
        + " ! video/x-raw,width=720,height=576,framerate=25/1 ! avenc_dvvideo ! avmux_dv name=m"
          " ! filesink location=\""
        + file.string() + "\" audiotestsrc samplesperbuffer=1920 num-buffers="
        + std::to_string(frames) + " ! audio/x-raw,rate=48000,channels=2,format=S16LE ! m.";
    GstElement *pipeline = gst_parse_launch(launch.c_str(), nullptr);
    if (!pipeline)
        return false;
    const bool ok = RunToEnd(pipeline, 30 * GST_SECOND);
    gst_object_unref(pipeline);
    return ok;
}

namespace {

// One DV file per test process, removed when it ends.
struct SharedDvFile
{
    SharedDvFile()
        : path(std::filesystem::temp_directory_path()
               / ("vorlund-graph-" + std::to_string(getpid()) + ".dv"))
    {
        EXPECT_TRUE(MakeDvFile(path, 50));
    }
    ~SharedDvFile()
    {
        std::error_code ec;
        std::filesystem::remove(path, ec);
    }
    std::filesystem::path path;
};

} // namespace

std::filesystem::path DvFile()
{
    static const SharedDvFile file;
    return file.path;
}

std::vector<CaptureDevice> TestCameras::VideoDevices()
{
    CaptureDevice dv;
    dv.name = std::string(kDvFileCamera);
    dv.path = dv.name;
    dv.kind = DeviceKind::DvCamera;
    dv.make = [file = m_dvFile](const char *name) { return MakeDvCamera(file, name); };
    CaptureDevice large;
    large.name = std::string(kLargeCamera);
    large.path = large.name;
    large.make = [](const char *name) {
        return MakeBin("videotestsrc is-live=true pattern=ball ! "
                       "capsfilter caps=video/x-raw,format=BGR,width=1280,height=720",
                       name);
    };
    CaptureDevice board;
    board.name = std::string(kMpeg2Board);
    board.path = board.name;
    board.make = [](const char *name) {
        return MakeBin("videotestsrc is-live=true pattern=ball ! "
                       "video/x-raw,width=352,height=288,framerate=25/1 ! avenc_mpeg2video ! "
                       "mpegtsmux ! capsfilter caps=video/mpegts,systemstream=true",
                       name);
    };
    CaptureDevice test;
    test.name = std::string(kTestCameraName);
    test.path = test.name;
    test.kind = DeviceKind::TestCamera;
    return { dv, large, board, test };
}

std::vector<CaptureDevice> TestCameras::AudioDevices()
{
    if (!withAudio)
        return {};
    CaptureDevice test;
    test.name = std::string(kTestAudioName);
    test.path = test.name;
    test.kind = DeviceKind::TestAudio;
    return { test };
}

void GraphFixture::Configure(std::string_view device, const Guid &subtype, int width, int height,
                             std::string_view codec)
{
    settings.Config.DeviceName = std::string(device);
    settings.Config.CaptureSubtype = subtype;
    settings.Config.Block.CaptureWidth = width;
    settings.Config.Block.CaptureHeight = height;
    settings.Config.CodecName = std::string(codec);
}

bool WaitFor(const std::function<bool()> &done, std::chrono::milliseconds limit)
{
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

BufferCounter::BufferCounter(GstElement *element, const char *pad)
{
    if (element)
        m_pad = gst_element_get_static_pad(element, pad);
    if (m_pad)
        m_probe
            = gst_pad_add_probe(m_pad, GST_PAD_PROBE_TYPE_BUFFER, CountBuffer, &m_count, nullptr);
}

BufferCounter::~BufferCounter()
{
    if (m_pad) {
        gst_pad_remove_probe(m_pad, m_probe);
        gst_object_unref(m_pad);
    }
}

namespace {

struct Reader
{
    GstElement *pipeline = nullptr;
    Timeline video;
    Timeline audio;
};

void OnDecodedPad(GstElement *, GstPad *pad, gpointer data)
{
    auto *reader = static_cast<Reader *>(data);
    GstCaps *caps = gst_pad_get_current_caps(pad);
    if (!caps)
        caps = gst_pad_query_caps(pad, nullptr);
    const bool video = gst_structure_has_name(gst_caps_get_structure(caps, 0), "video/x-raw");
    gst_caps_unref(caps);
    GstElement *sink = gst_element_factory_make("fakesink", nullptr);
    g_object_set(sink, "sync", FALSE, nullptr);
    gst_bin_add(GST_BIN(reader->pipeline), sink);
    gst_element_sync_state_with_parent(sink);
    GstPad *sinkPad = gst_element_get_static_pad(sink, "sink");
    if (video)
        gst_pad_add_probe(sinkPad, GST_PAD_PROBE_TYPE_BUFFER, RecordSpan, &reader->video, nullptr);
    else
        gst_pad_add_probe(sinkPad, GST_PAD_PROBE_TYPE_BUFFER, RecordSpan, &reader->audio, nullptr);
    gst_pad_link(pad, sinkPad);
    gst_object_unref(sinkPad);
}

} // namespace

std::string ReadText(const std::filesystem::path &file)
{
    std::ifstream in(file, std::ios::binary);
    return { std::istreambuf_iterator<char>(in), {} };
}

ReadBack ReadRecording(const std::filesystem::path &file)
{
    ReadBack out;
    Reader reader;
    reader.pipeline = gst_pipeline_new(nullptr);
    GstElement *src = gst_element_factory_make("filesrc", nullptr);
    GstElement *decode = gst_element_factory_make("decodebin", nullptr);
    g_object_set(src, "location", file.c_str(), nullptr);
    gst_bin_add_many(GST_BIN(reader.pipeline), src, decode, nullptr);
    gst_element_link(src, decode);
    g_signal_connect(decode, "pad-added", G_CALLBACK(OnDecodedPad), &reader);
    out.ok = RunToEnd(reader.pipeline, 30 * GST_SECOND);
    gst_object_unref(reader.pipeline);
    const auto &spans = reader.video.spans;
    out.frames = int(spans.size());
    out.audioBuffers = int(reader.audio.spans.size());
    for (const auto &[pts, duration] : reader.audio.spans) {
        const double seconds
            = GST_CLOCK_TIME_IS_VALID(duration) ? double(duration) / GST_SECOND : 0;
        out.audioSeconds += seconds;
        out.longestAudioBuffer = std::max(out.longestAudioBuffer, seconds);
    }
    for (size_t i = 1; i < spans.size(); ++i) {
        const auto [pts, duration] = spans[i - 1];
        const GstClockTimeDiff gap
            = GstClockTimeDiff(spans[i].first) - GstClockTimeDiff(pts + duration);
        if (gap > GstClockTimeDiff(2 * GST_MSECOND) || gap < -GstClockTimeDiff(2 * GST_MSECOND))
            out.gapless = false;
    }
    if (!spans.empty())
        out.seconds = double(spans.back().first + spans.back().second - spans.front().first)
            / double(GST_SECOND);
    return out;
}

} // namespace vorlund::test
