#include "Encoders.h"

#include <cstring>

namespace vorlund {

namespace {

bool IsFactory(GstElement *element, const char *name)
{
    GstElementFactory *factory = element ? gst_element_get_factory(element) : nullptr;
    return factory && std::strcmp(GST_OBJECT_NAME(factory), name) == 0;
}

} // namespace

void ConfigureVideoEncoder(GstElement *encoder, RecordingFormat)
{
    if (IsFactory(encoder, "x264enc")) {
        gst_util_set_object_arg(G_OBJECT(encoder), "tune", "zerolatency");
        gst_util_set_object_arg(G_OBJECT(encoder), "speed-preset", "veryfast");
        g_object_set(encoder, "key-int-max", 25u, nullptr);
    }
}

} // namespace vorlund
