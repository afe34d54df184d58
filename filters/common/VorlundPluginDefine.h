// The module boilerplate every Vorlund plugin shares. A plugin module holds nothing but
//   static gboolean plugin_init(GstPlugin *plugin) { return GST_ELEMENT_REGISTER(x, plugin); }
//   VORLUND_PLUGIN_DEFINE(VorlundX, "what it does", plugin_init)
// The name must match the module's file name (libVorlundX.so) so the loader finds its
// description symbol. PACKAGE and VERSION come from vorlund_add_gst_plugin.
#pragma once

#include <gst/gst.h>

#define VORLUND_PLUGIN_ORIGIN "https://vorlund.invalid/"

#define VORLUND_PLUGIN_DEFINE(name, description, init)                                             \
    GST_PLUGIN_DEFINE(GST_VERSION_MAJOR, GST_VERSION_MINOR, name, description, init, VERSION,      \
                      "Proprietary", PACKAGE, VORLUND_PLUGIN_ORIGIN)
