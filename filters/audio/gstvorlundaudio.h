// vorlundaudio: the audio gate of the capture pipeline. Drops buffers while closed, together
// with the video gate, and optionally re-times what it passes so closed periods leave no hole.
// The audio data itself is never touched.
#pragma once

#include <gst/base/gstbasetransform.h>

G_BEGIN_DECLS

// The identifiers the rest of the system knows this filter by; kept as element metadata.
#define VORLUND_AUDIO_CLASS_ID "{BE6E2E22-D931-4085-AE08-F47305953879}"
#define VORLUND_AUDIO_CONTROL_ID "{752A74BC-80E7-45E8-A8E1-EB166C2F51B4}"
#define VORLUND_AUDIO_FILE_VERSION "1.8.0.9"

#define VORLUND_TYPE_AUDIO (vorlund_audio_get_type())
G_DECLARE_FINAL_TYPE(VorlundAudio, vorlund_audio, VORLUND, AUDIO, GstBaseTransform)

GST_ELEMENT_REGISTER_DECLARE(vorlundaudio);

G_END_DECLS
