#pragma once

#include "DeviceConfig.h"
#include "SettingsFile.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace vorlund::test {

// A fresh folder under the system temp folder, removed with everything in it.
class TempFolder
{
public:
    TempFolder()
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "vorlund-settings-XXXXXX");
        if (::mkdtemp(pattern.data()))
            path = pattern;
    }
    ~TempFolder()
    {
        std::error_code ec;
        std::filesystem::remove_all(path, ec);
    }
    std::filesystem::path path;
};

inline const DefaultsContext kContext { "Front Door Cam", "/var/lib/vorlund", "USB Mic" };

inline DeviceConfig DefaultConfig(const DefaultsContext &context = kContext)
{
    DeviceConfig c;
    SetConfigDefaults(c, context);
    return c;
}

// Every stored field differs from its default and lies in its range.
inline DeviceConfig UnusualConfig()
{
    DeviceConfig c = DefaultConfig();
    SettingsBlock &b = c.Block;
    c.CodecName = "Other Codec";
    c.VideoFolder = "/srv/video";
    c.RemotePassword = "secret15chars!!";
    c.MailTo = "to@example.com";
    c.MailFrom = "from@example.com";
    c.SmtpServer = "smtp.example.com";
    c.SpareText1 = "spare one";
    c.SpareText2 = "spare two";
    b.SwitcherComPort = 2;
    b.DetectionPeriod = 350;
    b.SnapshotLimit = 1234;
    b.CameraCount = 4;
    b.MotionEnabled = { 0, 0, 1, 0, 1 };
    b.RecordOnMotion = { 0, 0, 0, 1, 1 };
    b.RecordSeconds = { 0, 5, 6, 7, 8 };
    b.SnapOnMotion = { 0, 1, 0, 0, 0 };
    b.JpegQuality = { 0, 10, 20, 90, 100 };
    b.MailOnMotion = { 0, 1, 1, 0, 1 };
    b.AttachPicture = 1;
    b.SoundOnMotion = { 0, 0, 1, 1, 0 };
    b.CameraOnePriority = 1;
    b.AutoCalibrate = 1;
    b.SnapshotCount = { 0, 11, 22, 33, 44 };
    b.Sensitivity = { 0, 30, 40, 99, 120 };
    b.ZoneHours = { 1, 2, 3, 4, 5, 6, 7, 8 };
    b.RemoteEnabled = 0;
    b.RolloverOn = 0;
    b.RemotePort = 8080;
    b.CaptureWidth = 720;
    b.CaptureHeight = 576;
    for (int cam = 1; cam <= kMaxCameras; ++cam) {
        for (int z = 1; z <= kZones; ++z) {
            for (int k = 0; k < kCells; ++k)
                b.ZoneMask[cam][z][k] = static_cast<uint8_t>((k + cam + z) % 2);
            c.ZoneSensitivity[cam][z] = static_cast<uint8_t>(cam * 10 + z);
        }
    }
    c.RemoteMode = 0;
    c.RelayLogin = "relaylogin";
    c.RelayPassword = "relaypass";
    c.TimeLapseEnabled = { 0, 1, 0, 1, 0 };
    c.TimeLapseMinutes = { 0.0f, 0.5f, 1.25f, 60.0f, 999.0f };
    c.TimeLapseLimit = { 0, 10, 20, 30, 40 };
    c.TimeLapseWindow = {
        TimeWindow {}, { 8, 0, 17, 30 }, { 9, 1, 18, 31 }, { 10, 2, 19, 32 }, { 255, 255, 255, 255 }
    };
    c.TimeLapseCount = { 0, 1, 2, 3, 4 };
    c.LowDiskMail = 1;
    c.RecordAudio = 1;
    c.AudioDevice = "Line Device";
    c.AudioInput = "Line In";
    c.InputLevel = 3;
    c.UseWmProfile = 1;
    c.WmProfilePath = "/srv/profile.prx";
    c.FrameDuration = 333333;
    c.MotionDistanceEnabled = 1;
    c.MotionDistance = { 0, 5, 15, 25, 35 };
    c.MotionDistanceSpare = { -1, 7, 8, 9 };
    c.ContinuousRecord = 1;
    c.RecordWindow = { 22, 15, 6, 45 };
    c.PtzComPort = 5;
    c.PtzCamera = { 0, 1, 0, 0, 1 };
    c.PtzBaud = 9600;
    c.PtzAddress = { 0, 9, 8, 7, 4 }; // camera 4's is not stored
    c.RolloverMode = 2;
    c.RolloverMBytes = 700;
    c.ZoneSensitivityEnabled = 1;
    c.TvRecord = 1;
    c.TvWindow = { 255, 255, 255, 255 };
    c.VideoTimestamp = 0;
    c.TvChannel = 12;
    c.RecycleEnabled = 1;
    c.RecycleMBytes = 50000;
    c.PtzProtocol = 1;
    c.SwitchType = 1;
    c.Wmv9FrameRate = 29.97f;
    c.Wmv9Vbr = 0;
    c.Wmv9CbrQuality = 75;
    c.Wmv9Bitrate = 1500000;
    c.Wmv9VbrQuality = 80;
    c.CaptureSubtype
        = { 0x32595559, 0x0000, 0x0010, { 0x80, 0x00, 0x00, 0xaa, 0x00, 0x38, 0x9b, 0x71 } };
    c.TvFormat = 0x10;
    return c;
}

inline int32_t I32At(const std::vector<uint8_t> &b, size_t off)
{
    return static_cast<int32_t>(static_cast<uint32_t>(b.at(off)) | (uint32_t(b.at(off + 1)) << 8)
                                | (uint32_t(b.at(off + 2)) << 16)
                                | (uint32_t(b.at(off + 3)) << 24));
}

inline float F32At(const std::vector<uint8_t> &b, size_t off)
{
    const uint32_t bits = static_cast<uint32_t>(I32At(b, off));
    float f;
    std::memcpy(&f, &bits, sizeof f);
    return f;
}

// The text of a field and whether the rest of the field is all zeros.
inline std::string TextAt(const std::vector<uint8_t> &b, size_t off, size_t width,
                          bool *zeroFilled = nullptr)
{
    std::string text;
    size_t i = 0;
    for (; i < width && b.at(off + i) != 0; ++i)
        text.push_back(static_cast<char>(b[off + i]));
    if (zeroFilled) {
        *zeroFilled = true;
        for (; i < width; ++i)
            *zeroFilled = *zeroFilled && b.at(off + i) == 0;
    }
    return text;
}

inline void WriteBytes(const std::filesystem::path &path, const std::vector<uint8_t> &bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char *>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

inline std::vector<uint8_t> ReadBytes(const std::filesystem::path &path)
{
    std::ifstream in(path, std::ios::binary);
    return { std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>() };
}

// An older layout of the file: the three mail texts after MailFrom are absent below 1975 bytes.
inline std::vector<uint8_t> OlderLayout(const std::vector<uint8_t> &current, size_t size)
{
    std::vector<uint8_t> bytes = current;
    if (size <= 1974)
        bytes.erase(bytes.begin() + 596, bytes.begin() + 749);
    bytes.resize(size);
    return bytes;
}

} // namespace vorlund::test
