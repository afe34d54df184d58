#pragma once

// The working folder's sounds for the program, which includes none of the media library's
// headers.

#include "Seams.h"

#include <filesystem>
#include <memory>

namespace vorlund {

std::unique_ptr<ISound> MakeSoundPlayer(const std::filesystem::path &folder);

} // namespace vorlund
