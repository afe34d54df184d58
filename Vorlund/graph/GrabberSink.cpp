#include "GrabberSink.h"

#include "EngineState.h"
#include "MotionGrabber.h"

#include <gst/app/gstappsink.h>
#include <gst/video/video.h>

#include <cstring>
#include <memory>

namespace vorlund {

namespace {

GstFlowReturn NewSample(GstAppSink *appsink, gpointer data)
{
    SampleRef sample(gst_app_sink_pull_sample(appsink), RefMode::HasRef);
    if (sample)
        static_cast<GrabberSink *>(data)->OnSample(sample.get());
    return GST_FLOW_OK;
}

// A mapped frame that stays mapped, and its buffer referenced, while the engine keeps it.
struct MappedFrame
{
    GstVideoFrame frame {};
    bool mapped = false;
    MappedFrame() = default;
    MappedFrame(const MappedFrame &) = delete;
    MappedFrame &operator=(const MappedFrame &) = delete;
    ~MappedFrame()
    {
        if (mapped)
            gst_video_frame_unmap(&frame);
    }
};

// Whether the buffer may be kept past the callback: not when it comes from a pool of a fixed
// number of buffers (a capture device's), whose source would run dry waiting for it.
bool MayHold(GstBuffer *buffer)
{
    GstBufferPool *pool = buffer->pool;
    if (!pool)
        return true;
    GstStructure *config = gst_buffer_pool_get_config(pool);
    guint min = 0, max = 0;
    const bool known
        = config && gst_buffer_pool_config_get_params(config, nullptr, nullptr, &min, &max);
    if (config)
        gst_structure_free(config);
    return known && max == 0;
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
    auto mapped = std::make_shared<MappedFrame>();
    mapped->mapped = gst_video_frame_map(&mapped->frame, &info, buffer, GST_MAP_READ);
    if (!mapped->mapped) {
        ++m_refused;
        return;
    }
    const GstVideoFrame &frame = mapped->frame;
    const auto *pixels = static_cast<const uint8_t *>(GST_VIDEO_FRAME_PLANE_DATA(&frame, 0));
    const std::ptrdiff_t stride = GST_VIDEO_FRAME_PLANE_STRIDE(&frame, 0);
    // The detector reads rows bottom-up; the mapped frame is read in place from its last row.
    // Where the source can spare the buffer, the engine keeps it mapped as the live frame or
    // reference; otherwise each row is copied once, by whoever keeps it.
    const FrameRows rows { pixels + (height - 1) * stride, -stride, row, row * size_t(height) };
    const GstClockTime pts = GST_BUFFER_PTS(buffer);
    const double sampleTime = GST_CLOCK_TIME_IS_VALID(pts) ? double(pts) / double(GST_SECOND) : 0.0;
    ++m_delivered;
    if (MayHold(buffer)) {
        ++m_held;
        m_grabber.OnFrame(sampleTime, rows, std::move(mapped));
    } else {
        m_grabber.OnFrame(sampleTime, rows);
    }
}

} // namespace vorlund
