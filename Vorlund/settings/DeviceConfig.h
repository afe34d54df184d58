#pragma once

#include "CameraTypes.h"
#include "MediaGuid.h"

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace vorlund {

// Called with one line for the error log (a bad value read from a settings file, a failed write).
using SettingsLogFunction = std::function<void(std::string_view)>;

// From-hour, from-minute, to-hour, to-minute; 255 marks an unset window.
struct TimeWindow
{
    uint8_t FromHour = 0;
    uint8_t FromMinute = 0;
    uint8_t ToHour = 0;
    uint8_t ToMinute = 0;

    bool operator==(const TimeWindow &) const = default;
};

// Widths of the text fields in the device file; a text holds at most width - 1 bytes.
inline constexpr size_t kDeviceNameWidth = 128;
inline constexpr size_t kCodecNameWidth = 64;
inline constexpr size_t kVideoFolderWidth = 260;
inline constexpr size_t kRemotePasswordWidth = 16;
inline constexpr size_t kMailWidth = 64;
inline constexpr size_t kSpareText1Width = 64;
inline constexpr size_t kSpareText2Width = 25;
inline constexpr size_t kRelayTextWidth = 52;
inline constexpr size_t kAudioDeviceWidth = 64;
inline constexpr size_t kAudioInputWidth = 24;
inline constexpr size_t kWmProfilePathWidth = 128;

inline constexpr int kZones = 4;
inline constexpr int32_t kDefaultRemotePort = 49330;
inline constexpr int32_t kDefaultDetectionPeriod = 200;
inline constexpr std::string_view kDefaultCodecName = "WMVideo9 Encoder DMO";
// True for the codec names that ask for the WMV9 encoder.
inline bool IsWmv9CodecName(std::string_view codecName)
{
    return codecName == kDefaultCodecName
        || codecName.find("WMVideo Advanced") != std::string_view::npos;
}
inline constexpr std::string_view kDefaultAudioInput = "Microphone";
inline constexpr std::string_view kCaptureDataFolder = "/CaptureData";

// Camera, detection and remote settings: the block in the middle of the device file.
// Member initialisers are the values a new view starts with; SetDefaultSettings then resets
// the ones that have a default.
struct SettingsBlock
{
    int32_t SwitcherComPort = 1;
    int32_t DetectionPeriod = kDefaultDetectionPeriod;
    int32_t SnapshotLimit = 6000;
    int32_t CameraCount = 1;
    PerCamera<uint8_t> MotionEnabled { 0, 1, 1, 1, 1 };
    PerCamera<uint8_t> RecordOnMotion { 0, 1, 1, 1, 1 };
    PerCamera<int32_t> RecordSeconds { 0, 1, 1, 1, 1 };
    PerCamera<uint8_t> SnapOnMotion { 0, 1, 1, 1, 1 };
    PerCamera<int32_t> JpegQuality { 0, 50, 50, 50, 50 };
    PerCamera<uint8_t> MailOnMotion {};
    uint8_t AttachPicture = 0;
    PerCamera<uint8_t> SoundOnMotion {};
    uint8_t CameraOnePriority = 0;
    uint8_t AutoCalibrate = 0;
    PerCamera<int32_t> SnapshotCount {};
    PerCamera<int32_t> Sensitivity { 0, 25, 25, 25, 25 };
    // Begin and end hour of timed zones 1..4.
    std::array<int32_t, 2 * kZones> ZoneHours { 19, 6, 6, 10, 10, 14, 14, 19 };
    uint8_t RemoteEnabled = 1;
    uint8_t RolloverOn = 1;
    int32_t RemotePort = kDefaultRemotePort;
    int32_t CaptureWidth = 320;
    int32_t CaptureHeight = 240;
    // [camera][zone], both 1..4; non-zero cells are watched.
    PerCamera<PerCamera<ZoneMaskBytes>> ZoneMask = AllCellsWatched();

    static PerCamera<PerCamera<ZoneMaskBytes>> AllCellsWatched();
    bool operator==(const SettingsBlock &) const = default;
};

// Every setting of one capture device as the device file holds it. The capture subtype is one
// value that the file stores twice (in the block and near the end).
struct DeviceConfig
{
    std::string DeviceName;
    std::string CodecName { kDefaultCodecName };
    std::string VideoFolder;
    std::string RemotePassword;
    std::string MailTo;
    std::string MailFrom;
    std::string SmtpServer;
    std::string SpareText1;
    std::string SpareText2;
    SettingsBlock Block;
    uint8_t RemoteMode = 1;
    std::string RelayLogin;
    std::string RelayPassword;
    PerCamera<uint8_t> TimeLapseEnabled {};
    PerCamera<float> TimeLapseMinutes { 0.0f, 15.0f, 15.0f, 15.0f, 15.0f };
    PerCamera<int32_t> TimeLapseLimit { 0, 5000, 5000, 5000, 5000 };
    PerCamera<TimeWindow> TimeLapseWindow {};
    PerCamera<int32_t> TimeLapseCount {};
    uint8_t LowDiskMail = 0;
    uint8_t RecordAudio = 0;
    std::string AudioDevice;
    std::string AudioInput { kDefaultAudioInput };
    int32_t InputLevel = 1;
    int32_t UseWmProfile = 0;
    std::string WmProfilePath;
    int64_t FrameDuration = 0;
    // Camera 1's flag: the only camera that applies Motion Distance.
    uint8_t MotionDistanceEnabled = 0;
    PerCamera<int32_t> MotionDistance { 0, 12, 12, 12, 12 };
    // Four more ints the file carries after the per-camera values; kept and written back.
    std::array<int32_t, 4> MotionDistanceSpare {};
    uint8_t ContinuousRecord = 0;
    TimeWindow RecordWindow {};
    int32_t PtzComPort = 3;
    PerCamera<uint8_t> PtzCamera {};
    int32_t PtzBaud = 2400;
    // Per camera; the file holds cameras 1..3 behind a zero byte, camera 4 lives in memory only.
    PerCamera<uint8_t> PtzAddress { 0, 1, 2, 3, 4 };
    int32_t RolloverMode = 0;
    int32_t RolloverMBytes = 250;
    PerCamera<PerCamera<uint8_t>> ZoneSensitivity = UniformZoneSensitivity(25); // [camera][zone]
    // Camera 1's value; the other cameras' live in the engine only.
    int32_t ZoneSensitivityEnabled = 0;
    uint8_t TvRecord = 0;
    TimeWindow TvWindow {};
    uint8_t VideoTimestamp = 1;
    int32_t TvChannel = 4;
    int32_t RecycleEnabled = 0;
    int32_t RecycleMBytes = 15000;
    int32_t PtzProtocol = 0;
    int32_t SwitchType = 0;
    float Wmv9FrameRate = 24.0f;
    uint8_t Wmv9Vbr = 1;
    int32_t Wmv9CbrQuality = 50;
    int32_t Wmv9Bitrate = 700000;
    int32_t Wmv9VbrQuality = 50;
    Guid CaptureSubtype = kSubtypeRgb24;
    int32_t TvFormat = -1;

    static PerCamera<PerCamera<uint8_t>> UniformZoneSensitivity(uint8_t value);
    bool operator==(const DeviceConfig &) const = default;
};

// Pan/tilt/zoom values the view derives from the settings.
struct PtzState
{
    uint8_t CurrentAddress = 1;
    PerCamera<uint8_t> CameraFlags {};
    bool AnyCamera = false;
};

// What a reset to defaults needs from the view.
struct DefaultsContext
{
    std::string DeviceName; // the current device
    std::string WorkingFolder;
    std::string FirstAudioDevice; // empty when none was found
};

// Resets every stored setting that has a default. Fields the dialogs own (windows, snapshot
// numbers, a few flags) and the values set once at view creation are left alone.
void SetConfigDefaults(DeviceConfig &config, const DefaultsContext &context);

// Checks every value against its range. A bad value falls back to its default (or, for
// settings without a default, to the value in `inForce`) and is reported through `log` with
// `source` in front. Flags are normalised to 0/1. Returns the number of values replaced.
int CheckDeviceConfig(DeviceConfig &config, const DeviceConfig &inForce, std::string_view source,
                      const SettingsLogFunction &log);

// Serial port names are "Com" + number; a name is read as the number after its first three
// characters (0 when there is none).
std::string ComPortName(int32_t number);
int32_t ComPortNumber(std::string_view name);

} // namespace vorlund
