#include "gstvorlundaudio.h"

static gboolean plugin_init(GstPlugin *plugin)
{
    return GST_ELEMENT_REGISTER(vorlundaudio, plugin);
}

GST_PLUGIN_DEFINE(GST_VERSION_MAJOR, GST_VERSION_MINOR, VorlundAudio, "Audio gate of the recording",
                  plugin_init, VERSION, "Proprietary", PACKAGE, "https://vorlund.invalid")
