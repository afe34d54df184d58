// vorlundcolorspace: YUY2 to BGR for the frame grabber branch of the capture pipeline.
#pragma once

#include <gst/video/gstvideofilter.h>

G_BEGIN_DECLS

// The identifiers the rest of the system knows this filter by; kept as element metadata.
#define VORLUND_COLOR_SPACE_CLASS_ID "{9EC0E775-C9C7-478F-B591-A0145B326CDC}"
#define VORLUND_COLOR_SPACE_CONTROL_ID "{A65F5A9E-7DC6-4C85-8C28-6707A1F898B0}"
#define VORLUND_COLOR_SPACE_FILE_VERSION "1.8.1.9"

#define VORLUND_TYPE_COLOR_SPACE (vorlund_color_space_get_type())
G_DECLARE_FINAL_TYPE(VorlundColorSpace, vorlund_color_space, VORLUND, COLOR_SPACE, GstVideoFilter)

GST_ELEMENT_REGISTER_DECLARE(vorlundcolorspace);

G_END_DECLS
