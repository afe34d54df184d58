#include "gstvorlundcolorspace.h"

static gboolean plugin_init(GstPlugin *plugin)
{
    return GST_ELEMENT_REGISTER(vorlundcolorspace, plugin);
}

GST_PLUGIN_DEFINE(GST_VERSION_MAJOR, GST_VERSION_MINOR, VorlundColorSpace,
                  "YUY2 to BGR converter of the capture pipeline", plugin_init, VERSION,
                  "Proprietary", PACKAGE, "https://vorlund.invalid")
