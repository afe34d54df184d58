#pragma once

#include <filesystem>

namespace vorlund {

// What the application hands the view at start-up.
struct CVorlundApp
{
    int Device = -1; // from the command line; the view uses it only when 1-4
    std::filesystem::path WorkingFolder; // empty when the current directory is unusable
    std::filesystem::path ProgramFolder; // where the executable lies
};

} // namespace vorlund
