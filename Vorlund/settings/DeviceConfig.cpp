#include "DeviceConfig.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>

namespace vorlund {

PerCamera<PerCamera<ZoneMaskBytes>> SettingsBlock::AllCellsWatched()
{
    PerCamera<PerCamera<ZoneMaskBytes>> masks {};
    for (int c = 1; c <= kMaxCameras; ++c) {
        for (int z = 1; z <= kZones; ++z)
            masks[c][z].fill(1);
    }
    return masks;
}

PerCamera<PerCamera<uint8_t>> DeviceConfig::UniformZoneSensitivity(uint8_t value)
{
    PerCamera<PerCamera<uint8_t>> table {};
    for (int c = 1; c <= kMaxCameras; ++c) {
        for (int z = 1; z <= kZones; ++z)
            table[c][z] = value;
    }
    return table;
}

void SetConfigDefaults(DeviceConfig &config, const DefaultsContext &context)
{
    const DeviceConfig fresh;
    SettingsBlock &b = config.Block;
    const SettingsBlock &fb = fresh.Block;

    config.DeviceName = context.DeviceName;
    config.CodecName = fresh.CodecName;
    config.VideoFolder = context.WorkingFolder + std::string(kCaptureDataFolder);
    config.RemotePassword.clear();
    config.MailTo.clear();
    config.MailFrom.clear();
    config.SmtpServer.clear();
    config.SpareText1.clear();
    config.SpareText2.clear();

    b.SwitcherComPort = fb.SwitcherComPort;
    b.DetectionPeriod = fb.DetectionPeriod;
    b.MotionEnabled = fb.MotionEnabled;
    b.RecordOnMotion = fb.RecordOnMotion;
    b.RecordSeconds = fb.RecordSeconds;
    b.SnapOnMotion = fb.SnapOnMotion;
    b.JpegQuality = fb.JpegQuality;
    b.MailOnMotion = fb.MailOnMotion;
    b.SoundOnMotion = fb.SoundOnMotion;
    b.Sensitivity = fb.Sensitivity;
    b.ZoneHours = fb.ZoneHours;
    b.RemoteEnabled = fb.RemoteEnabled;
    b.RemotePort = fb.RemotePort;
    b.CaptureWidth = fb.CaptureWidth;
    b.CaptureHeight = fb.CaptureHeight;
    b.ZoneMask = fb.ZoneMask;

    config.RemoteMode = fresh.RemoteMode;
    config.RelayLogin.clear();
    config.RelayPassword.clear();
    config.TimeLapseEnabled = fresh.TimeLapseEnabled;
    config.TimeLapseMinutes = fresh.TimeLapseMinutes;
    config.TimeLapseLimit = fresh.TimeLapseLimit;
    config.TimeLapseCount = fresh.TimeLapseCount;
    config.RecordAudio = 0;
    config.AudioDevice = context.FirstAudioDevice;
    config.AudioInput = fresh.AudioInput;
    config.InputLevel = fresh.InputLevel;
    config.WmProfilePath.clear();
    config.FrameDuration = 0;
    config.MotionDistanceEnabled = 0;
    for (int c = 1; c <= kMaxCameras; ++c)
        config.MotionDistance[c] = fresh.MotionDistance[c];
    config.ContinuousRecord = 0;
    config.PtzComPort = fresh.PtzComPort;
    config.PtzCamera = fresh.PtzCamera;
    config.PtzBaud = fresh.PtzBaud;
    config.PtzAddress = fresh.PtzAddress;
    config.ZoneSensitivity = fresh.ZoneSensitivity;
    config.ZoneSensitivityEnabled = 0;
    config.TvRecord = 0;
    config.PtzProtocol = fresh.PtzProtocol;
    config.Wmv9FrameRate = fresh.Wmv9FrameRate;
    config.Wmv9Vbr = fresh.Wmv9Vbr;
    config.Wmv9CbrQuality = fresh.Wmv9CbrQuality;
    config.Wmv9Bitrate = fresh.Wmv9Bitrate;
    config.Wmv9VbrQuality = fresh.Wmv9VbrQuality;
    config.CaptureSubtype = fresh.CaptureSubtype;
    config.TvFormat = fresh.TvFormat;
}

namespace {

std::string ToText(int64_t v)
{
    return std::to_string(v);
}
std::string ToText(float v)
{
    char buf[32];
    std::snprintf(buf, sizeof buf, "%g", static_cast<double>(v));
    return buf;
}

// Replaces values outside their range and writes one log line for each.
class RangeCheck
{
public:
    RangeCheck(std::string_view source, const SettingsLogFunction &log)
        : m_source(source), m_log(log)
    { }

    template <typename T>
    void Int(T &value, int64_t lo, int64_t hi, T fallback, std::string_view name, int index = 0)
    {
        const auto v = static_cast<int64_t>(value);
        if (v >= lo && v <= hi)
            return;
        Report(name, index, ToText(v), ToText(static_cast<int64_t>(fallback)));
        value = fallback;
    }

    // Finite, above zero and at most `hi`.
    void Positive(float &value, float hi, float fallback, std::string_view name, int index = 0)
    {
        if (std::isfinite(value) && value > 0.0f && value <= hi)
            return;
        Report(name, index, ToText(value), ToText(fallback));
        value = fallback;
    }

    // Hours 0..23, minutes 0..59, or 255 for unset; a bad window keeps the one in force.
    void Window(TimeWindow &w, const TimeWindow &fallback, std::string_view name, int index = 0)
    {
        auto ok = [](uint8_t v, uint8_t max) { return v <= max || v == 255; };
        if (ok(w.FromHour, 23) && ok(w.FromMinute, 59) && ok(w.ToHour, 23) && ok(w.ToMinute, 59))
            return;
        char text[32];
        std::snprintf(text, sizeof text, "%u:%u-%u:%u", w.FromHour, w.FromMinute, w.ToHour,
                      w.ToMinute);
        Report(name, index, text, "the window in force");
        w = fallback;
    }

    void Text(std::string &value, const std::string &fallback, std::string_view name)
    {
        if (!value.empty())
            return;
        Report(name, 0, "empty", fallback);
        value = fallback;
    }

    static void Flag(uint8_t &value) { value = value != 0 ? 1 : 0; }
    template <size_t N> static void Flags(std::array<uint8_t, N> &values)
    {
        for (auto &v : values)
            Flag(v);
    }

    int Replaced() const { return m_replaced; }

private:
    void Report(std::string_view name, int index, const std::string &bad, const std::string &used)
    {
        ++m_replaced;
        if (!m_log)
            return;
        std::string line(m_source);
        line += ": ";
        line += name;
        if (index > 0)
            line += "[" + std::to_string(index) + "]";
        line += " " + bad + " is out of range, using " + used;
        m_log(line);
    }

    std::string_view m_source;
    const SettingsLogFunction &m_log;
    int m_replaced = 0;
};

constexpr int64_t kIntMax = std::numeric_limits<int32_t>::max();
constexpr int32_t kMaxComPort = 256;
constexpr int32_t kMaxSensitivity = 300; // calibration can raise it well past the dialog's 99
constexpr int32_t kMaxRecordSeconds = 24 * 3600;

} // namespace

int CheckDeviceConfig(DeviceConfig &config, const DeviceConfig &inForce, std::string_view source,
                      const SettingsLogFunction &log)
{
    const DeviceConfig d; // defaults and start values
    RangeCheck check(source, log);
    SettingsBlock &b = config.Block;

    check.Text(config.VideoFolder, inForce.VideoFolder, "VideoFolder");

    check.Int(b.SwitcherComPort, 1, kMaxComPort, d.Block.SwitcherComPort, "SwitcherComPort");
    check.Int(b.DetectionPeriod, 1, kIntMax, d.Block.DetectionPeriod, "DetectionPeriod");
    if (b.DetectionPeriod >= 1500)
        b.DetectionPeriod = 220; // the old "off" value of the switch delay
    check.Int(b.SnapshotLimit, 1, kIntMax, d.Block.SnapshotLimit, "SnapshotLimit");
    check.Int(b.CameraCount, 1, kMaxCameras, d.Block.CameraCount, "CameraCount");
    for (int c = 1; c <= kMaxCameras; ++c) {
        check.Int(b.RecordSeconds[c], 0, kMaxRecordSeconds, d.Block.RecordSeconds[c],
                  "RecordSeconds", c);
        check.Int(b.JpegQuality[c], 10, 100, d.Block.JpegQuality[c], "JpegQuality", c);
        check.Int(b.SnapshotCount[c], 0, kIntMax, 0, "SnapshotCount", c);
        check.Int(b.Sensitivity[c], 1, kMaxSensitivity, d.Block.Sensitivity[c], "Sensitivity", c);
    }
    RangeCheck::Flags(b.MotionEnabled);
    RangeCheck::Flags(b.RecordOnMotion);
    RangeCheck::Flags(b.SnapOnMotion);
    RangeCheck::Flags(b.MailOnMotion);
    RangeCheck::Flags(b.SoundOnMotion);
    RangeCheck::Flag(b.AttachPicture);
    RangeCheck::Flag(b.CameraOnePriority);
    RangeCheck::Flag(b.AutoCalibrate);
    for (size_t i = 0; i < b.ZoneHours.size(); ++i)
        check.Int(b.ZoneHours[i], 0, 24, d.Block.ZoneHours[i], "ZoneHours",
                  static_cast<int>(i + 1));
    RangeCheck::Flag(b.RemoteEnabled);
    RangeCheck::Flag(b.RolloverOn);
    check.Int(b.RemotePort, 1, 65535, d.Block.RemotePort, "RemotePort");
    check.Int(b.CaptureWidth, 1, kMaxFrameWidth, d.Block.CaptureWidth, "CaptureWidth");
    check.Int(b.CaptureHeight, 1, kMaxFrameHeight, d.Block.CaptureHeight, "CaptureHeight");

    RangeCheck::Flag(config.RemoteMode);
    RangeCheck::Flags(config.TimeLapseEnabled);
    for (int c = 1; c <= kMaxCameras; ++c) {
        check.Positive(config.TimeLapseMinutes[c], std::numeric_limits<float>::max(),
                       d.TimeLapseMinutes[c], "TimeLapseMinutes", c);
        check.Int(config.TimeLapseLimit[c], 1, kIntMax, d.TimeLapseLimit[c], "TimeLapseLimit", c);
        check.Window(config.TimeLapseWindow[c], inForce.TimeLapseWindow[c], "TimeLapseWindow", c);
        check.Int(config.TimeLapseCount[c], 0, kIntMax, 0, "TimeLapseCount", c);
        check.Int(config.MotionDistance[c], 1, 60, d.MotionDistance[c], "MotionDistance", c);
        for (int z = 1; z <= kZones; ++z) {
            check.Int(config.ZoneSensitivity[c][z], 1, 255, d.ZoneSensitivity[c][z],
                      "ZoneSensitivity", (c - 1) * kZones + z);
        }
    }
    RangeCheck::Flag(config.LowDiskMail);
    RangeCheck::Flag(config.RecordAudio);
    check.Int(config.InputLevel, 0, kIntMax, d.InputLevel, "InputLevel");
    check.Int(config.UseWmProfile, 0, 1, inForce.UseWmProfile, "UseWmProfile");
    check.Int(config.FrameDuration, 0, std::numeric_limits<int64_t>::max(), d.FrameDuration,
              "FrameDuration");
    RangeCheck::Flag(config.MotionDistanceEnabled);
    RangeCheck::Flag(config.ContinuousRecord);
    check.Window(config.RecordWindow, inForce.RecordWindow, "RecordWindow");
    check.Int(config.PtzComPort, 1, kMaxComPort, d.PtzComPort, "PtzComPort");
    RangeCheck::Flags(config.PtzCamera);
    check.Int(config.PtzBaud, 1, 4000000, d.PtzBaud, "PtzBaud");
    check.Int(config.RolloverMode, 0, 3, d.RolloverMode, "RolloverMode");
    check.Int(config.RolloverMBytes, 1, kIntMax, d.RolloverMBytes, "RolloverMBytes");
    check.Int(config.ZoneSensitivityEnabled, 0, 1, d.ZoneSensitivityEnabled,
              "ZoneSensitivityEnabled");
    RangeCheck::Flag(config.TvRecord);
    check.Window(config.TvWindow, inForce.TvWindow, "TvWindow");
    RangeCheck::Flag(config.VideoTimestamp);
    check.Int(config.TvChannel, 0, 9999, d.TvChannel, "TvChannel");
    check.Int(config.RecycleEnabled, 0, 1, d.RecycleEnabled, "RecycleEnabled");
    check.Int(config.RecycleMBytes, 1, kIntMax, d.RecycleMBytes, "RecycleMBytes");
    check.Int(config.PtzProtocol, 0, 1, d.PtzProtocol, "PtzProtocol");
    check.Int(config.SwitchType, 0, 1, d.SwitchType, "SwitchType");
    check.Positive(config.Wmv9FrameRate, 1000.0f, d.Wmv9FrameRate, "Wmv9FrameRate");
    RangeCheck::Flag(config.Wmv9Vbr);
    check.Int(config.Wmv9CbrQuality, 0, 100, d.Wmv9CbrQuality, "Wmv9CbrQuality");
    check.Int(config.Wmv9Bitrate, 1, kIntMax, d.Wmv9Bitrate, "Wmv9Bitrate");
    check.Int(config.Wmv9VbrQuality, 0, 100, d.Wmv9VbrQuality, "Wmv9VbrQuality");
    check.Int(config.TvFormat, -1, kIntMax, d.TvFormat, "TvFormat");
    return check.Replaced();
}

std::string ComPortName(int32_t number)
{
    return "Com" + std::to_string(number);
}

int32_t ComPortNumber(std::string_view name)
{
    if (name.size() <= 3)
        return 0;
    int32_t n = 0;
    const char *first = name.data() + 3;
    const auto [ptr, ec] = std::from_chars(first, name.data() + name.size(), n);
    (void)ptr;
    return ec == std::errc() ? n : 0;
}

} // namespace vorlund
