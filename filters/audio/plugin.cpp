#include "VorlundPluginDefine.h"
#include "gstvorlundaudio.h"

static gboolean plugin_init(GstPlugin *plugin)
{
    return GST_ELEMENT_REGISTER(vorlundaudio, plugin);
}

VORLUND_PLUGIN_DEFINE(VorlundAudio, "Audio gate of the recording", plugin_init)
