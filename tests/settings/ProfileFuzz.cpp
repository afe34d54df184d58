// The profile on arbitrary file contents: load, read the start-up keys, save changes over the
// file as it is then, and read the saved file back.
#include "Profile.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace {

using namespace vorlund;

const std::filesystem::path &ProfileFile()
{
    static const std::filesystem::path file = [] {
        std::string pattern = (std::filesystem::temp_directory_path() / "vorlund-ini-XXXXXX");
        if (!::mkdtemp(pattern.data()))
            std::abort();
        return std::filesystem::path(pattern) / "Vorlund.INI";
    }();
    return file;
}

void Require(bool condition)
{
    if (!condition)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const std::filesystem::path &file = ProfileFile();
    std::ofstream(file, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char *>(data), std::streamsize(size));

    Profile profile(file);
    ProfileSettings values = ReadStartupProfile(profile);
    Require(values.LastDevice >= 112 && values.LastDevice <= 115);
    (void)ReadFramePlacement(profile);
    values.WindowOnTop = 1;
    SetSaveProfile(profile, values, "Fuzz Camera");
    if (profile.Save() != 0)
        return 0;
    // What was set reads back, whatever else the file held.
    const Profile again(file);
    Require(ReadStartupProfile(again).WindowOnTop == 1);
    Require(again.GetProfileString("Video", "Last Device Desc", "") == "Fuzz Camera");
    return 0;
}
