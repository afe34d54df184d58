#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <string_view>

namespace vorlund {

inline constexpr std::string_view kProfileFileName = "Vorlund.INI";

// The application profile: an INI file whose section and key names are matched without regard
// to case and may contain blanks ("Last Device"). Reads never fail: a missing file, section or
// key gives the default.
class Profile
{
public:
    // Loads `file` if it exists; later writes go to the same file.
    explicit Profile(std::filesystem::path file);
    ~Profile();
    Profile(const Profile &) = delete;
    Profile &operator=(const Profile &) = delete;

    // A number is read like the platform's profile API does: leading blanks, an optional sign
    // and decimal digits; a value with no digits reads as 0.
    int GetProfileInt(std::string_view section, std::string_view key, int defaultValue) const;
    std::string GetProfileString(std::string_view section, std::string_view key,
                                 std::string_view defaultValue) const;

    // Change the value in memory; Save writes the whole file at once.
    void SetProfileInt(std::string_view section, std::string_view key, int value);
    void SetProfileString(std::string_view section, std::string_view key, std::string_view value);
    // Returns 0 or the errno of the failed write. A file that exists but could not be read
    // whole is never written over (its error is returned), so no key in it is lost.
    int Save();

    // Change and write at once. Return false when the file could not be written.
    bool WriteProfileInt(std::string_view section, std::string_view key, int value);
    bool WriteProfileString(std::string_view section, std::string_view key, std::string_view value);

    const std::filesystem::path &Path() const { return m_file; }

private:
    struct Ini;
    std::filesystem::path m_file;
    std::unique_ptr<Ini> m_ini;
    int m_loadError = 0;
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

// The main window's rectangle in section "Frame"; -1 where none was stored.
struct FramePlacement
{
    int Top = -1;
    int Left = -1;
    int Bottom = -1;
    int Right = -1;
};
FramePlacement ReadFramePlacement(const Profile &profile);
bool WriteFramePlacement(Profile &profile, const FramePlacement &placement);

} // namespace vorlund
