#include "ConfigValues.h"

#include "DeviceSettings.h"
#include "Profile.h"
#include "ServerContext.h"

namespace vorlund {

namespace {

constexpr std::string_view kSettingsSection = "Settings";
constexpr std::string_view kPtzAddress4Key = "PtzAddress4";

void NormaliseEnd(uint8_t &hour, uint8_t &minute)
{
    if (!IsClockTime(hour, minute))
        hour = minute = kTimeUnset;
}

} // namespace

ConfigurationValues CopyInConfiguration(const ServerContext &context)
{
    const DeviceConfig &c = context.settings.Config;
    const SettingsBlock &b = c.Block;
    const EngineState &engine = context.engine;
    ConfigurationValues v;
    // A run with one camera shortens the settle time; the configured value is the saved one.
    const uint32_t saved = engine.SavedSettleTime;
    v.SwitchDelay = static_cast<int>(saved != 0 ? saved : engine.SettleTime.load());
    v.ListenPort = b.RemotePort;
    v.CameraOnePriority = engine.CameraOnePriority;
    v.AutoStart = context.view.Startup.AutoStartDetect;
    v.RemoteAllowed = b.RemoteEnabled != 0;
    v.RemoteMode = c.RemoteMode;
    v.CameraCount = engine.CameraCount;
    v.SwitcherPortIndex = b.SwitcherComPort - 1;
    v.RolloverByTime = b.RolloverOn;
    v.RolloverTimeChoice = c.RolloverMode;
    v.RolloverSize = c.RolloverMBytes;
    v.SwitchType = engine.SwitchType;
    v.VideoFolder = c.VideoFolder;
    v.Password = c.RemotePassword;
    v.SnapshotLimit = b.SnapshotLimit;
    v.RelayLogin = c.RelayLogin;
    v.RelayPassword = c.RelayPassword;
    v.Mail = { c.MailTo, c.MailFrom, c.SmtpServer, b.AttachPicture, c.LowDiskMail };
    AdvancedValues &a = v.Advanced;
    a.Continuous = c.ContinuousRecord;
    a.RecordWindow = c.RecordWindow;
    a.CameraCount = v.CameraCount;
    a.TvMode = engine.TvMode == 1 ? 1 : 0;
    a.PtzPortIndex = c.PtzComPort - 1;
    a.PtzBaud = c.PtzBaud;
    a.PtzProtocol = c.PtzProtocol;
    for (int cam = 1; cam <= kMaxCameras; ++cam) {
        a.PtzCamera[cam] = static_cast<int8_t>(context.settings.Ptz.CameraFlags[cam]);
        a.PtzAddress[cam] = c.PtzAddress[cam];
    }
    a.DvStandard = context.view.Startup.DVVideoStandard;
    a.DvProgressive = context.view.Startup.DVProgressiveMode;
    a.DvFullSize = context.view.Startup.DVVideoFullSize;
    a.DvRgb219 = context.view.Startup.DVRGB219;
    v.Timestamp = c.VideoTimestamp;
    v.RecycleOn = c.RecycleEnabled;
    v.RecycleSize = c.RecycleMBytes;
    return v;
}

AdvancedValues AdvancedForDialog(ConfigurationValues &values)
{
    if (values.CameraCount != 1)
        values.Advanced.Continuous = 0;
    AdvancedValues a = values.Advanced;
    a.CameraCount = values.CameraCount;
    return a;
}

void TakeAdvancedValues(ConfigurationValues &values, const AdvancedValues &advanced)
{
    const AdvancedValues before = values.Advanced;
    values.Advanced = advanced;
    values.Advanced.CameraCount = before.CameraCount;
    values.Advanced.TvMode = before.TvMode;
    TimeWindow &w = values.Advanced.RecordWindow;
    NormaliseEnd(w.FromHour, w.FromMinute);
    NormaliseEnd(w.ToHour, w.ToMinute);
}

void TakeMailValues(ConfigurationValues &values, const MailValues &mail)
{
    values.Mail.To = mail.To;
    values.Mail.From = mail.From;
    values.Mail.Server = mail.Server;
    if (!mail.To.empty()) {
        values.Mail.Attach = mail.Attach;
        values.Mail.LowDisk = mail.LowDisk;
    }
}

void ReadPtzAddress4(const Profile &profile, DeviceConfig &config)
{
    const int stored
        = profile.GetProfileInt(kSettingsSection, kPtzAddress4Key, config.PtzAddress[4]);
    if (stored >= 0 && stored <= 255)
        config.PtzAddress[4] = static_cast<uint8_t>(stored);
}

bool WritePtzAddress4(Profile &profile, uint8_t address)
{
    return profile.WriteProfileInt(kSettingsSection, kPtzAddress4Key, address);
}

} // namespace vorlund
