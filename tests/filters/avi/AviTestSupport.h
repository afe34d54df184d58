// Shared pieces of the vorlundavi tests: harness ownership and frame builders.
#pragma once

#include <gst/check/gstharness.h>
#include <gst/gst.h>
#include <gst/video/video.h>

#include <cstdint>
#include <memory>
#include <string>

namespace vorlund::test {

struct HarnessDeleter
{
    void operator()(GstHarness *h) const { gst_harness_teardown(h); }
};
using Harness = std::unique_ptr<GstHarness, HarnessDeleter>;

struct BufferDeleter
{
    void operator()(GstBuffer *b) const { gst_buffer_unref(b); }
};
using BufferPtr = std::unique_ptr<GstBuffer, BufferDeleter>;

constexpr GstClockTime kFrame = 40 * GST_MSECOND;

inline std::string RawCaps(const char *format, int width, int height)
{
    return "video/x-raw,format=" + std::string(format) + ",width=" + std::to_string(width)
        + ",height=" + std::to_string(height) + ",framerate=25/1";
}

// A harness around a fresh vorlundavi with `caps` on its input.
inline Harness MakeAvi(const std::string &caps)
{
    Harness h(gst_harness_new("vorlundavi"));
    gst_harness_set_src_caps_str(h.get(), caps.c_str());
    return h;
}

// Frame `index` of a gap-free 40 ms stream, filled with `fill`.
inline GstBuffer *MakeFrame(gsize size, guint64 index, guint8 fill = 0x40)
{
    GstBuffer *buf = gst_buffer_new_allocate(nullptr, size, nullptr);
    gst_buffer_memset(buf, 0, fill, size);
    GST_BUFFER_PTS(buf) = index * kFrame;
    GST_BUFFER_DTS(buf) = index * kFrame;
    GST_BUFFER_DURATION(buf) = kFrame;
    GST_BUFFER_OFFSET(buf) = index;
    GST_BUFFER_OFFSET_END(buf) = index + 1;
    return buf;
}

inline gsize FrameSize(const char *format, int width, int height)
{
    GstVideoInfo info;
    gst_video_info_set_format(&info, gst_video_format_from_string(format), width, height);
    return info.size;
}

inline void SetGate(GstHarness *h, bool open)
{
    g_object_set(h->element, "gate", gboolean(open), nullptr);
}

} // namespace vorlund::test
