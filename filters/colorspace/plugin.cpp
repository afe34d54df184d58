#include "VorlundPluginDefine.h"
#include "gstvorlundcolorspace.h"

static gboolean plugin_init(GstPlugin *plugin)
{
    return GST_ELEMENT_REGISTER(vorlundcolorspace, plugin);
}

VORLUND_PLUGIN_DEFINE(VorlundColorSpace, "YUY2 to BGR converter of the capture pipeline",
                      plugin_init)
