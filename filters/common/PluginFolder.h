// Loading Vorlund's own plugin modules into the GStreamer registry, as the server does at start
// and the tests do against the build's plugin folder.
#pragma once

#include <string>

namespace vorlund {

// Scans `folder` for plugin modules. False when the folder does not exist or GStreamer is not
// initialised; plugins that fail to load are left out by GStreamer itself.
bool AddPluginFolder(const std::string &folder);

// The file a loaded plugin came from, or "" when no plugin of that name is in the registry
// (a statically registered element has no file).
std::string PluginFileName(const std::string &pluginName);

} // namespace vorlund
