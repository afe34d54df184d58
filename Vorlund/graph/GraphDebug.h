// The capture graph's debug category (GST_DEBUG=vorlund*:5), shared by its source files.
#pragma once

#include <gst/gst.h>

GST_DEBUG_CATEGORY_EXTERN(vorlund_graph_debug);
#define GST_CAT_DEFAULT vorlund_graph_debug
