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
constexpr const char *kFrame = "Frame";

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

} // namespace

struct Profile::Ini
{
    CSimpleIniA ini { false, false, false }; // no UTF-8 conversion, single keys, no multi-line
};

Profile::Profile(std::filesystem::path file)
    : m_file(std::move(file)), m_ini(std::make_unique<Ini>())
{
    m_ini->ini.SetSpaces(false);
    std::vector<uint8_t> bytes;
    uint64_t size = 0;
    const int rc = ReadFileStart(m_file, kMaxProfileBytes, bytes, size);
    if (rc != 0) {
        m_loadError = rc == ENOENT ? 0 : rc;
        return;
    }
    if (size > kMaxProfileBytes) {
        m_loadError = EFBIG;
        return;
    }
    if (!bytes.empty())
        m_ini->ini.LoadData(reinterpret_cast<const char *>(bytes.data()), bytes.size());
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
}

int Profile::Save()
{
    if (m_loadError != 0)
        return m_loadError;
    std::string data;
    if (m_ini->ini.Save(data) < 0)
        return EIO;
    return WriteFileAtomically(
        m_file, { reinterpret_cast<const uint8_t *>(data.data()), data.size() }, 0644);
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

FramePlacement ReadFramePlacement(const Profile &profile)
{
    FramePlacement p;
    p.Top = profile.GetProfileInt(kFrame, "Top", -1);
    p.Left = profile.GetProfileInt(kFrame, "Left", -1);
    p.Bottom = profile.GetProfileInt(kFrame, "Bottom", -1);
    p.Right = profile.GetProfileInt(kFrame, "Right", -1);
    return p;
}

bool WriteFramePlacement(Profile &profile, const FramePlacement &placement)
{
    profile.SetProfileInt(kFrame, "Top", placement.Top);
    profile.SetProfileInt(kFrame, "Left", placement.Left);
    profile.SetProfileInt(kFrame, "Bottom", placement.Bottom);
    profile.SetProfileInt(kFrame, "Right", placement.Right);
    return profile.Save() == 0;
}

} // namespace vorlund
