// A working folder the server starts capturing in by itself: its device file and its profile.
#pragma once

#include "DeviceConfig.h"

#include <filesystem>
#include <functional>

namespace vorlund::bench {

// Starts from the test camera's defaults recording continuously to folder/CaptureData with
// MPEG-4 V3 at 25 fps, lets `adjust` change what the caller needs, and writes the device file
// and the profile. Returns false (with the reason on stderr) when they could not be written.
bool WriteWorkingFolder(const std::filesystem::path &folder,
                        const std::function<void(DeviceConfig &)> &adjust);

// The values WriteWorkingFolder writes, for comparing against what loads back.
DeviceConfig WorkingFolderConfig(const std::filesystem::path &folder,
                                 const std::function<void(DeviceConfig &)> &adjust);

} // namespace vorlund::bench
