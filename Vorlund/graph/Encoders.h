// The record branch's encoders: how each one is set up for recording.
#pragma once

#include "GraphPlan.h"

#include <gst/gst.h>

namespace vorlund {

// Settings an encoder needs for a recording that survives a crash: H.264 for MP4 without a
// look-ahead and with a key frame about every second, so each fragment stands alone.
void ConfigureVideoEncoder(GstElement *encoder, RecordingFormat format);

} // namespace vorlund
