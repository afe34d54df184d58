#include "Profile.h"

#include "FileIo.h"

#include <SimpleIni.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <string>
#include <vector>

namespace vorlund {

namespace {

constexpr size_t kMaxProfileBytes = 1 << 20; // far above anything the server writes
constexpr int kFirstDeviceCommand = 112;
constexpr int kLastDeviceCommand = 115;

constexpr const char *kVideo = "Video";
constexpr const char *kSettings = "Settings";

int ParseProfileInt(std::string_view text)
{
    size_t i = 0;
    while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i])))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+'))
        negative = text[i++] == '-';
    long long value = 0;
    for (; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); ++i) {
        value = value * 10 + (text[i] - '0');
        if (value > static_cast<long long>(INT_MAX) + 1)
            break;
    }
    value = negative ? -value : value;
    return static_cast<int>(std::clamp<long long>(value, INT_MIN, INT_MAX));
}

// Section and key names compare as the profile API compares them: ASCII letters without case.
bool SameName(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x))
                   == std::tolower(static_cast<unsigned char>(y));
           });
}

} // namespace

struct Profile::Ini
{
    CSimpleIniA ini { false, false, false }; // no UTF-8 conversion, single keys, no multi-line
};

int Profile::Load(const std::filesystem::path &file, Ini &ini)
{
    ini.ini.SetSpaces(false);
    std::vector<uint8_t> bytes;
    uint64_t size = 0;
    const int rc = ReadFileStart(file, kMaxProfileBytes, bytes, size);
    if (rc != 0)
        return rc;
    if (size > kMaxProfileBytes)
        return EFBIG;
    if (!bytes.empty()
        && ini.ini.LoadData(reinterpret_cast<const char *>(bytes.data()), bytes.size()) < 0)
        return EIO;
    return 0;
}

Profile::Profile(std::filesystem::path file)
    : m_file(std::move(file)), m_ini(std::make_unique<Ini>())
{
    // What cannot be read gives the defaults; Save finds out again before it writes.
    if (Load(m_file, *m_ini) != 0)
        m_ini = std::make_unique<Ini>();
    m_ini->ini.SetSpaces(false);
}

Profile::~Profile() = default;

int Profile::GetProfileInt(std::string_view section, std::string_view key, int defaultValue) const
{
    const char *value
        = m_ini->ini.GetValue(std::string(section).c_str(), std::string(key).c_str(), nullptr);
    return value ? ParseProfileInt(value) : defaultValue;
}

std::string Profile::GetProfileString(std::string_view section, std::string_view key,
                                      std::string_view defaultValue) const
{
    const char *value
        = m_ini->ini.GetValue(std::string(section).c_str(), std::string(key).c_str(), nullptr);
    return value ? std::string(value) : std::string(defaultValue);
}

void Profile::SetProfileInt(std::string_view section, std::string_view key, int value)
{
    SetProfileString(section, key, std::to_string(value));
}

void Profile::SetProfileString(std::string_view section, std::string_view key,
                               std::string_view value)
{
    // A line break would split the entry; the profile API stores one line per key.
    std::string text(value.substr(0, value.find_first_of("\r\n")));
    m_ini->ini.SetValue(std::string(section).c_str(), std::string(key).c_str(), text.c_str());
    for (Change &c : m_changes)
        if (SameName(c.section, section) && SameName(c.key, key)) {
            c.value = std::move(text);
            return;
        }
    m_changes.push_back({ std::string(section), std::string(key), std::move(text) });
}

int Profile::Save()
{
    if (m_file.empty())
        return ENOENT; // a profile kept in memory only
    // Start from the file as it is now, so that keys written by anyone else since we read it
    // survive; only our own changes go over it.
    auto merged = std::make_unique<Ini>();
    const int rc = Load(m_file, *merged);
    if (rc != 0 && rc != ENOENT)
        return rc;
    for (const Change &c : m_changes)
        merged->ini.SetValue(c.section.c_str(), c.key.c_str(), c.value.c_str());
    std::string data;
    if (merged->ini.Save(data) < 0)
        return EIO;
    const int written = WriteFileIfChanged(
        m_file, { reinterpret_cast<const uint8_t *>(data.data()), data.size() }, 0644);
    if (written != 0)
        return written;
    m_ini = std::move(merged);
    m_changes.clear();
    return 0;
}

bool Profile::WriteProfileInt(std::string_view section, std::string_view key, int value)
{
    SetProfileInt(section, key, value);
    return Save() == 0;
}

bool Profile::WriteProfileString(std::string_view section, std::string_view key,
                                 std::string_view value)
{
    SetProfileString(section, key, value);
    return Save() == 0;
}

ProfileSettings ReadStartupProfile(const Profile &profile)
{
    ProfileSettings s;
    s.LastDevice = profile.GetProfileInt(kVideo, "Last Device", s.LastDevice);
    if (s.LastDevice < kFirstDeviceCommand || s.LastDevice > kLastDeviceCommand)
        s.LastDevice = kFirstDeviceCommand;
    s.LastDeviceDesc = profile.GetProfileString(kVideo, "Last Device Desc", "");
    s.AutoStartDetect = profile.GetProfileInt(kSettings, "AutoStartDetect", s.AutoStartDetect);
    s.ImageRotate = profile.GetProfileString(kSettings, "ImageRotate", "");
    s.WindowOnTop = profile.GetProfileInt(kSettings, "WindowOnTop", s.WindowOnTop);
    s.OptimizePerformance
        = profile.GetProfileInt(kSettings, "OptimizePerformance", s.OptimizePerformance);
    s.TimeStampCorner = profile.GetProfileInt(kSettings, "TimeStampCorner", s.TimeStampCorner);
    s.DVVideoStandard = profile.GetProfileInt(kSettings, "DVVideoStandard", s.DVVideoStandard);
    s.DVVideoFullSize = profile.GetProfileInt(kSettings, "DVVideoFullSize", s.DVVideoFullSize);
    s.DVProgressiveMode
        = profile.GetProfileInt(kSettings, "DVProgressiveMode", s.DVProgressiveMode);
    s.DVRGB219 = profile.GetProfileInt(kSettings, "DVRGB219", s.DVRGB219);
    return s;
}

void SetSaveProfile(Profile &profile, const ProfileSettings &values, std::string_view deviceName)
{
    profile.SetProfileInt(kVideo, "Last Device", values.LastDevice);
    profile.SetProfileString(kVideo, "Last Device Desc", deviceName);
    profile.SetProfileInt(kSettings, "WindowOnTop", values.WindowOnTop);
    profile.SetProfileInt(kSettings, "DVVideoStandard", values.DVVideoStandard);
    profile.SetProfileInt(kSettings, "DVVideoFullSize", values.DVVideoFullSize);
    profile.SetProfileInt(kSettings, "DVProgressiveMode", values.DVProgressiveMode);
    profile.SetProfileInt(kSettings, "DVRGB219", values.DVRGB219);
}

bool WriteAutoStartDetect(Profile &profile, int value)
{
    return profile.WriteProfileInt(kSettings, "AutoStartDetect", value);
}

} // namespace vorlund
