#include "VorlundPluginDefine.h"
#include "gstvorlundavi.h"

static gboolean plugin_init(GstPlugin *plugin)
{
    return GST_ELEMENT_REGISTER(vorlundavi, plugin);
}

VORLUND_PLUGIN_DEFINE(VorlundAVI, "Recording gate with date/time stamp", plugin_init)
