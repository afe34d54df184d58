#pragma once

#include "WindowPlacement.h"

#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace vorlund {

inline constexpr std::string_view kProfileFileName = "Vorlund.INI";

// The application profile: an INI file whose section and key names are matched without regard
// to case and may contain blanks ("Last Device"). Reads never fail: a missing file, section or
// key gives the default. Like per-key profile writes, a save changes only the keys set since
// the last save and keeps whatever else the file holds now, hand edits included.
class Profile : public IProfileStore
{
public:
    // Loads `file` if it exists; later writes go to the same file. An empty path keeps the
    // profile in memory: every save fails with ENOENT.
    explicit Profile(std::filesystem::path file);
    ~Profile() override;
    Profile(const Profile &) = delete;
    Profile &operator=(const Profile &) = delete;

    // A number is read like the platform's profile API does: leading blanks, an optional sign
    // and decimal digits; a value with no digits reads as 0.
    int GetProfileInt(std::string_view section, std::string_view key,
                      int defaultValue) const override;
    std::string GetProfileString(std::string_view section, std::string_view key,
                                 std::string_view defaultValue) const;

    // Change the value in memory; Save writes it.
    void SetProfileInt(std::string_view section, std::string_view key, int value) override;
    void SetProfileString(std::string_view section, std::string_view key, std::string_view value);
    // Re-reads the file, sets the keys changed since the last save and writes it back.
    // Returns 0 or the errno of the failed write. A file that exists but cannot be read
    // whole is never written over (its error is returned), so no key in it is lost; the
    // changes stay pending for the next save.
    int Save();
    bool Commit() override { return Save() == 0; }

    // Change and write at once. Return false when the file could not be written.
    bool WriteProfileInt(std::string_view section, std::string_view key, int value);
    bool WriteProfileString(std::string_view section, std::string_view key, std::string_view value);

    const std::filesystem::path &Path() const { return m_file; }

private:
    struct Ini;
    struct Change
    {
        std::string section;
        std::string key;
        std::string value;
    };
    static int Load(const std::filesystem::path &file, Ini &ini);

    std::filesystem::path m_file;
    std::unique_ptr<Ini> m_ini;
    std::vector<Change> m_changes; // set since the last save, newest value per key
};

// Profile values the server reads at start-up; member initialisers are the defaults.
struct ProfileSettings
{
    int LastDevice = 112; // menu command id 112..115 of the device to open
    std::string LastDeviceDesc;
    int AutoStartDetect = 0;
    std::string ImageRotate;
    int WindowOnTop = 0;
    int OptimizePerformance = 0;
    int TimeStampCorner = 0;
    int DVVideoStandard = 2000;
    int DVVideoFullSize = 0;
    int DVProgressiveMode = 0;
    int DVRGB219 = 0;
};

ProfileSettings ReadStartupProfile(const Profile &profile);
// Sets the keys every settings save writes, in their order ("Last Device Desc" is
// `deviceName`); the caller then saves the profile.
void SetSaveProfile(Profile &profile, const ProfileSettings &values, std::string_view deviceName);
bool WriteAutoStartDetect(Profile &profile, int value);

} // namespace vorlund
