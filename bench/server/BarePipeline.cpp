// The bare side of the server benchmark: runs a gst-launch-1.0 description whose appsink named
// "grab" is consumed as the server consumes its grabber branch (every sample pulled and its
// frame mapped), until SIGINT or SIGTERM, which ends the recording with an end of stream.
#include <gst/app/gstappsink.h>
#include <gst/gst.h>
#include <gst/video/video.h>

#include <glib-unix.h>

#include <csignal>
#include <cstdio>

namespace {

GMainLoop *g_loop = nullptr;
GstElement *g_pipeline = nullptr;

GstFlowReturn NewSample(GstAppSink *sink, gpointer)
{
    GstSample *sample = gst_app_sink_pull_sample(sink);
    if (!sample)
        return GST_FLOW_OK;
    GstVideoInfo info;
    GstVideoFrame frame;
    if (gst_video_info_from_caps(&info, gst_sample_get_caps(sample))
        && gst_video_frame_map(&frame, &info, gst_sample_get_buffer(sample), GST_MAP_READ))
        gst_video_frame_unmap(&frame);
    gst_sample_unref(sample);
    return GST_FLOW_OK;
}

gboolean OnSignal(gpointer)
{
    gst_element_send_event(g_pipeline, gst_event_new_eos());
    return G_SOURCE_REMOVE;
}

gboolean OnBus(GstBus *, GstMessage *message, gpointer)
{
    if (GST_MESSAGE_TYPE(message) == GST_MESSAGE_EOS
        || GST_MESSAGE_TYPE(message) == GST_MESSAGE_ERROR)
        g_main_loop_quit(g_loop);
    return TRUE;
}

} // namespace

int main(int argc, char **argv)
{
    gst_init(&argc, &argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s 'PIPELINE WITH appsink name=grab'\n", argv[0]);
        return 2;
    }
    GError *error = nullptr;
    g_pipeline = gst_parse_launch(argv[1], &error);
    if (!g_pipeline || error) {
        std::fprintf(stderr, "%s\n", error ? error->message : "no pipeline");
        return 1;
    }
    if (GstElement *grab = gst_bin_get_by_name(GST_BIN(g_pipeline), "grab")) {
        GstAppSinkCallbacks callbacks {};
        callbacks.new_sample = NewSample;
        gst_app_sink_set_callbacks(GST_APP_SINK(grab), &callbacks, nullptr, nullptr);
        gst_object_unref(grab);
    }
    g_loop = g_main_loop_new(nullptr, FALSE);
    GstBus *bus = gst_pipeline_get_bus(GST_PIPELINE(g_pipeline));
    gst_bus_add_watch(bus, OnBus, nullptr);
    gst_object_unref(bus);
    g_unix_signal_add(SIGINT, OnSignal, nullptr);
    g_unix_signal_add(SIGTERM, OnSignal, nullptr);
    gst_element_set_state(g_pipeline, GST_STATE_PLAYING);
    g_main_loop_run(g_loop);
    gst_element_set_state(g_pipeline, GST_STATE_NULL);
    gst_object_unref(g_pipeline);
    g_main_loop_unref(g_loop);
    return 0;
}
