#include "DemuxCheck.h"

#include <gst/gst.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace mendrel::test {

namespace {

struct Counts
{
    std::atomic<uint64_t> videoBuffers { 0 };
    std::atomic<uint64_t> videoKeys { 0 };
    std::atomic<uint64_t> audioBuffers { 0 };
    std::atomic<bool> afterSeek { false };
    std::atomic<uint64_t> firstVideoAfterSeek { GST_CLOCK_TIME_NONE };
    GstElement *pipeline = nullptr;
};

GstPadProbeReturn OnBuffer(GstPad *pad, GstPadProbeInfo *info, gpointer data)
{
    auto *counts = static_cast<Counts *>(data);
    GstBuffer *buf = GST_PAD_PROBE_INFO_BUFFER(info);
    gchar *name = gst_pad_get_name(pad);
    const bool video = std::strncmp(name, "video", 5) == 0;
    g_free(name);
    if (video) {
        counts->videoBuffers++;
        if (!GST_BUFFER_FLAG_IS_SET(buf, GST_BUFFER_FLAG_DELTA_UNIT))
            counts->videoKeys++;
        uint64_t none = GST_CLOCK_TIME_NONE;
        if (counts->afterSeek)
            counts->firstVideoAfterSeek.compare_exchange_strong(none, GST_BUFFER_PTS(buf));
    } else {
        counts->audioBuffers++;
    }
    return GST_PAD_PROBE_OK;
}

void OnPadAdded(GstElement *, GstPad *pad, gpointer data)
{
    auto *counts = static_cast<Counts *>(data);
    // One queue per stream, so a sink waiting in preroll does not stall the other stream.
    GstElement *queue = gst_element_factory_make("queue", nullptr);
    GstElement *sink = gst_element_factory_make("fakesink", nullptr);
    g_object_set(sink, "sync", FALSE, nullptr);
    gst_bin_add_many(GST_BIN(counts->pipeline), queue, sink, nullptr);
    gst_element_link(queue, sink);
    gst_element_sync_state_with_parent(sink);
    gst_element_sync_state_with_parent(queue);
    GstPad *sinkPad = gst_element_get_static_pad(queue, "sink");
    gst_pad_link(pad, sinkPad);
    gst_object_unref(sinkPad);
    gst_pad_add_probe(pad, GST_PAD_PROBE_TYPE_BUFFER, OnBuffer, counts, nullptr);
}

GstMessageType Wait(GstElement *pipeline, GstMessageType types)
{
    GstBus *bus = gst_element_get_bus(pipeline);
    GstMessage *msg = gst_bus_timed_pop_filtered(bus, 30 * GST_SECOND,
                                                 GstMessageType(types | GST_MESSAGE_ERROR));
    GstMessageType type = msg ? GST_MESSAGE_TYPE(msg) : GST_MESSAGE_UNKNOWN;
    if (msg)
        gst_message_unref(msg);
    gst_object_unref(bus);
    return type;
}

} // namespace

DemuxResult Demux(const std::filesystem::path &path, bool seekToMiddle)
{
    if (!gst_is_initialized())
        gst_init(nullptr, nullptr);
    DemuxResult result;
    Counts counts;
    counts.pipeline = gst_pipeline_new(nullptr);
    GstElement *src = gst_element_factory_make("filesrc", nullptr);
    GstElement *demux = gst_element_factory_make("avidemux", nullptr);
    g_object_set(src, "location", path.c_str(), nullptr);
    gst_bin_add_many(GST_BIN(counts.pipeline), src, demux, nullptr);
    gst_element_link(src, demux);
    g_signal_connect(demux, "pad-added", G_CALLBACK(OnPadAdded), &counts);

    bool ok = true;
    if (seekToMiddle) {
        gst_element_set_state(counts.pipeline, GST_STATE_PAUSED);
        ok = Wait(counts.pipeline, GST_MESSAGE_ASYNC_DONE) == GST_MESSAGE_ASYNC_DONE;
        gint64 duration = 0;
        if (ok && gst_element_query_duration(counts.pipeline, GST_FORMAT_TIME, &duration)
            && duration > 0) {
            result.duration = uint64_t(duration);
            counts.afterSeek = true;
            result.seeked = gst_element_seek_simple(
                counts.pipeline, GST_FORMAT_TIME,
                GstSeekFlags(GST_SEEK_FLAG_FLUSH | GST_SEEK_FLAG_KEY_UNIT), duration / 2);
        }
    }
    if (ok) {
        gst_element_set_state(counts.pipeline, GST_STATE_PLAYING);
        result.finished = Wait(counts.pipeline, GST_MESSAGE_EOS) == GST_MESSAGE_EOS;
    }
    gst_element_set_state(counts.pipeline, GST_STATE_NULL);
    gst_object_unref(counts.pipeline);
    result.videoBuffers = counts.videoBuffers;
    result.videoKeys = counts.videoKeys;
    result.audioBuffers = counts.audioBuffers;
    result.firstVideoAfterSeek = counts.firstVideoAfterSeek;
    return result;
}

namespace {

// One count ffprobe reports for the video stream: "packets" read, or "frames" decoded.
int64_t FfprobeVideoCount(const std::filesystem::path &path, const std::string &what)
{
    const std::string command = "ffprobe -v error -select_streams v:0 -count_" + what
        + " -show_entries stream=nb_read_" + what + " -of csv=p=0 '" + path.string() + "' 2>&1";
    FILE *pipe = ::popen(command.c_str(), "r");
    char out[64] = {};
    const bool read = pipe && std::fgets(out, sizeof out, pipe) && std::fgetc(pipe) == EOF;
    // Anything but the one number is an error ffprobe reported.
    char *end = nullptr;
    const long long count = std::strtoll(out, &end, 10);
    const bool ok
        = pipe && ::pclose(pipe) == 0 && read && end != out && std::strcmp(end, "\n") == 0;
    return ok ? count : -1;
}

} // namespace

int64_t FfprobeVideoPackets(const std::filesystem::path &path)
{
    return FfprobeVideoCount(path, "packets");
}

int64_t FfprobeVideoFrames(const std::filesystem::path &path)
{
    return FfprobeVideoCount(path, "frames");
}

} // namespace mendrel::test
