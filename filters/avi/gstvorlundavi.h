// vorlundavi: the recording gate of the capture pipeline. Re-times what it passes so closed
// periods leave no hole, drops buffers while the gate is closed, and stamps date and time.
#pragma once

#include <gst/base/gstbasetransform.h>

G_BEGIN_DECLS

// The identifiers the rest of the system knows this filter by; kept as element metadata.
#define VORLUND_AVI_CLASS_ID "{31875B61-F6D2-475B-BFE7-9C5B003F3C4A}"
#define VORLUND_AVI_CONTROL_ID "{3ACB3995-61B9-4913-8CF3-8373ED56BFB1}"
#define VORLUND_AVI_FILE_VERSION "1.9.0.0"

#define VORLUND_TYPE_AVI (vorlund_avi_get_type())
G_DECLARE_FINAL_TYPE(VorlundAvi, vorlund_avi, VORLUND, AVI, GstBaseTransform)

GST_ELEMENT_REGISTER_DECLARE(vorlundavi);

G_END_DECLS
