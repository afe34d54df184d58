#pragma once

#include <gst/video/gstvideofilter.h>
#include <gst/video/video.h>

G_BEGIN_DECLS

#define VORLUND_TYPE_COLOR_SPACE (vorlund_color_space_get_type())
G_DECLARE_FINAL_TYPE(VorlundColorSpace, vorlund_color_space, VORLUND, COLOR_SPACE, GstVideoFilter)

// YUY2 to BGR for the frame grabber branch of the capture pipeline.
struct _VorlundColorSpace
{
    GstVideoFilter parent;

    // Row converter picked when the caps were set; null until then.
    void (*convert_row)(const guint8 *src, guint8 *dst, int width);

    // Control settings that the server may set; the conversion does not depend on them.
    gint gate;
    gint stamp_enabled;
};

GST_ELEMENT_REGISTER_DECLARE(vorlundcolorspace);

G_END_DECLS
