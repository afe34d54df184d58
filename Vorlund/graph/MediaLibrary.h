#pragma once

// The media library's start and end, for programs that include none of its headers.

#include <string>

namespace vorlund {

// Initialises the media library with the program's arguments (it takes its own options out).
// False with the reason when it cannot be used.
bool StartMediaLibrary(int &argc, char **&argv, std::string &error);
// Loads the plugin modules of `folder` (the program's own elements); false when there is none.
bool AddMediaPlugins(const std::string &folder);
// Releases what the library holds; nothing of it may be used afterwards.
void EndMediaLibrary();

} // namespace vorlund
