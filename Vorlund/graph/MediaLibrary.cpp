#include "MediaLibrary.h"

#include "PluginFolder.h"

#include <gst/gst.h>

namespace vorlund {

bool StartMediaLibrary(int &argc, char **&argv, std::string &error)
{
    GError *gstError = nullptr;
    if (gst_init_check(&argc, &argv, &gstError))
        return true;
    error = gstError && gstError->message ? gstError->message : "?";
    g_clear_error(&gstError);
    return false;
}

bool AddMediaPlugins(const std::string &folder)
{
    return AddPluginFolder(folder);
}

void EndMediaLibrary()
{
    gst_deinit();
}

} // namespace vorlund
