#include "PluginFolder.h"

#include <gst/gst.h>

#include <filesystem>
#include <system_error>

namespace vorlund {

bool AddPluginFolder(const std::string &folder)
{
    std::error_code ec;
    if (folder.empty() || !std::filesystem::is_directory(folder, ec) || !gst_is_initialized())
        return false;
    // The return value only says whether the registry changed, which it does not when the
    // cache is already current, so success is that the folder could be scanned.
    gst_registry_scan_path(gst_registry_get(), folder.c_str());
    return true;
}

std::string PluginFileName(const std::string &pluginName)
{
    if (!gst_is_initialized())
        return {};
    GstPlugin *plugin = gst_registry_find_plugin(gst_registry_get(), pluginName.c_str());
    if (!plugin)
        return {};
    const gchar *file = gst_plugin_get_filename(plugin);
    std::string result = file ? file : "";
    gst_object_unref(plugin);
    return result;
}

} // namespace vorlund
