#include "GrabberSink.h"

#include "EngineState.h"
#include "MotionGrabber.h"

#include <gst/app/gstappsink.h>
#include <gst/video/video.h>

#include <cstring>

namespace vorlund {

namespace {

GstFlowReturn NewSample(GstAppSink *appsink, gpointer data)
{
    SampleRef sample(gst_app_sink_pull_sample(appsink), RefMode::HasRef);
    if (sample)
        static_cast<GrabberSink *>(data)->OnSample(sample.get());
    return GST_FLOW_OK;
}

} // namespace

GrabberSink::GrabberSink(CMotionGrabber &grabber) : m_grabber(grabber) { }

GrabberSink::~GrabberSink() = default;

ElementRef GrabberSink::CreateAppSink(const char *name)
{
    ElementRef sink(gst_element_factory_make("appsink", name), RefMode::HasRef);
    if (!sink)
        return sink;
    CapsRef caps(gst_caps_new_simple("video/x-raw", "format", G_TYPE_STRING, "BGR", nullptr),
                 RefMode::HasRef);
    g_object_set(sink.get(), "caps", caps.get(), "sync", FALSE, "max-buffers", 1u, "drop", TRUE,
                 "wait-on-eos", FALSE, "enable-last-sample", FALSE, "async", FALSE, nullptr);
    GstAppSinkCallbacks callbacks {};
    callbacks.new_sample = NewSample;
    gst_app_sink_set_callbacks(GST_APP_SINK(sink.get()), &callbacks, this, nullptr);
    return sink;
}

void GrabberSink::OnSample(GstSample *sample)
{
    GstVideoInfo info;
    GstCaps *caps = gst_sample_get_caps(sample);
    GstBuffer *buffer = gst_sample_get_buffer(sample);
    if (!caps || !buffer || !gst_video_info_from_caps(&info, caps)
        || GST_VIDEO_INFO_FORMAT(&info) != GST_VIDEO_FORMAT_BGR) {
        ++m_refused;
        return;
    }
    const int width = GST_VIDEO_INFO_WIDTH(&info);
    const int height = GST_VIDEO_INFO_HEIGHT(&info);
    const size_t row = size_t(width) * 3;
    // The build fixed the detector's geometry; a frame of another size is never scored.
    if (width != m_grabber.FrameWidth || height != m_grabber.FrameHeight || width <= 0
        || height <= 0 || row * size_t(height) > kFrameBufferSize) {
        ++m_refused;
        return;
    }
    GstVideoFrame frame;
    if (!gst_video_frame_map(&frame, &info, buffer, GST_MAP_READ)) {
        ++m_refused;
        return;
    }
    const auto *pixels = static_cast<const uint8_t *>(GST_VIDEO_FRAME_PLANE_DATA(&frame, 0));
    const std::ptrdiff_t stride = GST_VIDEO_FRAME_PLANE_STRIDE(&frame, 0);
    // The detector reads rows bottom-up; the mapped frame is read in place from its last row,
    // so each row is copied once, by whoever keeps it.
    const FrameRows rows { pixels + (height - 1) * stride, -stride, row, row * size_t(height) };
    const GstClockTime pts = GST_BUFFER_PTS(buffer);
    const double sampleTime = GST_CLOCK_TIME_IS_VALID(pts) ? double(pts) / double(GST_SECOND) : 0.0;
    ++m_delivered;
    m_grabber.OnFrame(sampleTime, rows);
    gst_video_frame_unmap(&frame);
}

} // namespace vorlund
