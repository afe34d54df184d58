#include "ConfigApply.h"

#include "DeviceSettings.h"
#include "FieldChecks.h"
#include "Profile.h"
#include "ServerContext.h"

#include <algorithm>

namespace vorlund {

namespace {

// Texts over their field's width never reach the file cut mid-character: they are refused in
// the dialogs, and anything else keeps the value in force.
void StoreText(std::string &field, const std::string &value, size_t width)
{
    if (FitsField(value, width))
        field = value;
}

} // namespace

bool DvChangeNeedsRebuild(const ProfileSettings &before, const AdvancedValues &after,
                          std::string_view codecName)
{
    if (after.DvFullSize != before.DVVideoFullSize
        || after.DvProgressive != before.DVProgressiveMode)
        return true;
    const bool encoderOptionsChanged
        = after.DvStandard != before.DVVideoStandard || after.DvRgb219 != before.DVRGB219;
    return encoderOptionsChanged && codecName == kDvEncoderName;
}

void ApplyConfigurationValues(ServerContext &context, ConfigEnvironment &environment,
                              const ConfigurationValues &v)
{
    DeviceConfig &c = context.settings.Config;
    SettingsBlock &b = c.Block;
    EngineState &engine = context.engine;
    ProfileSettings &startup = context.view.Startup;

    // 1. Settle time; while a run has shortened it, the configured value waits in the copy.
    const auto delay = static_cast<uint32_t>(std::max(v.SwitchDelay, 1));
    if (engine.SavedSettleTime.load() != 0)
        engine.SavedSettleTime = delay;
    else
        engine.SettleTime = delay;
    b.DetectionPeriod = static_cast<int32_t>(delay);

    // 2. Remote mode: the objects change only with the mode.
    const auto mode = static_cast<uint8_t>(v.RemoteMode != 0 ? 1 : 0);
    if (mode != c.RemoteMode) {
        c.RemoteMode = mode;
        environment.remote.ApplyRemoteMode();
    }
    // 3. The relay has no listen port of ours.
    if (c.RemoteMode == 1)
        b.RemotePort = v.ListenPort;
    // 4.
    if (v.RemoteAllowed)
        StoreText(c.RemotePassword, v.Password, kRemotePasswordWidth);
    // 5. A port index below 0 means no choice was made: the stored port stays.
    if (v.SwitcherPortIndex >= 0)
        b.SwitcherComPort = v.SwitcherPortIndex + 1;
    // 6.
    const int cameras = std::clamp(v.CameraCount, 1, kMaxCameras);
    engine.CameraCount = cameras;
    engine.CycleCount = cameras;
    b.CameraCount = cameras;
    // 7.
    b.SnapshotLimit = std::max(v.SnapshotLimit, 1);
    engine.CameraOnePriority = static_cast<uint8_t>(v.CameraOnePriority);
    b.CameraOnePriority = static_cast<uint8_t>(v.CameraOnePriority);
    // 8.
    if (v.AutoStart != startup.AutoStartDetect) {
        startup.AutoStartDetect = v.AutoStart;
        WriteAutoStartDetect(context.profile, v.AutoStart);
    }
    // 9.
    if (FitsField(v.VideoFolder, kVideoFolderWidth) && !v.VideoFolder.empty()) {
        c.VideoFolder = v.VideoFolder;
        context.view.VideoFolder = v.VideoFolder;
    }
    // 10.
    const auto allowed = static_cast<uint8_t>(v.RemoteAllowed != 0 ? 1 : 0);
    if (allowed != b.RemoteEnabled)
        context.notifier.ShowMessage(kRestartMessage, kPlainCaption);
    // 11.
    b.RemoteEnabled = allowed;
    b.RolloverOn = static_cast<uint8_t>(v.RolloverByTime != 0 ? 1 : 0);
    c.RolloverMode = v.RolloverTimeChoice;
    c.RolloverMBytes = std::max(v.RolloverSize, 1);
    c.VideoTimestamp = static_cast<uint8_t>(v.Timestamp != 0 ? 1 : 0);
    c.RecycleEnabled = v.RecycleOn != 0 ? 1 : 0;
    c.RecycleMBytes = std::max(v.RecycleSize, 1);
    c.SwitchType = v.SwitchType;
    engine.SwitchType = v.SwitchType;
    // 12. The relay credentials too: a Cancel of Configuration leaves them as they were.
    StoreText(c.MailTo, v.Mail.To, kMailWidth);
    StoreText(c.MailFrom, v.Mail.From, kMailWidth);
    StoreText(c.SmtpServer, v.Mail.Server, kMailWidth);
    b.AttachPicture = static_cast<uint8_t>(v.Mail.Attach != 0 ? 1 : 0);
    c.LowDiskMail = static_cast<uint8_t>(v.Mail.LowDisk != 0 ? 1 : 0);
    StoreText(c.RelayLogin, v.RelayLogin, kRelayTextWidth);
    StoreText(c.RelayPassword, v.RelayPassword, kRelayTextWidth);
    // 13.
    const AdvancedValues &a = v.Advanced;
    c.ContinuousRecord = static_cast<uint8_t>(a.Continuous != 0 ? 1 : 0);
    c.RecordWindow = a.RecordWindow;
    if (c.ContinuousRecord) {
        engine.MotionEnabled[1] = 0;
        engine.SavedMotionEnabled[1] = 0;
        b.MotionEnabled[1] = 0;
    }
    // 14.
    if (a.PtzPortIndex >= 0)
        c.PtzComPort = a.PtzPortIndex + 1;
    // 15.
    PtzState &ptz = context.settings.Ptz;
    ptz.AnyCamera = false;
    for (int cam = 1; cam <= kMaxCameras; ++cam) {
        c.PtzAddress[cam] = a.PtzAddress[cam];
        const auto flag = static_cast<uint8_t>(a.PtzCamera[cam]);
        c.PtzCamera[cam] = flag;
        ptz.CameraFlags[cam] = flag;
        ptz.AnyCamera = ptz.AnyCamera || flag != 0;
    }
    c.PtzProtocol = a.PtzProtocol;
    c.PtzBaud = a.PtzBaud;
    ptz.CurrentAddress = a.PtzAddress[1];
    WritePtzAddress4(context.profile, a.PtzAddress[4]);
    // 16. The next start builds a torn-down graph anew.
    const bool rebuild = DvChangeNeedsRebuild(startup, a, c.CodecName);
    startup.DVVideoStandard = a.DvStandard;
    startup.DVProgressiveMode = a.DvProgressive;
    startup.DVVideoFullSize = a.DvFullSize;
    startup.DVRGB219 = a.DvRgb219;
    if (rebuild && environment.graph.IsBuilt()) {
        engine.KeepDeviceFilter = 0;
        environment.graph.TearDownGraph();
    }
    // 17.
    if (v.ResetPressed) {
        for (int cam = 1; cam <= kMaxCameras; ++cam)
            b.SnapshotCount[cam] = 0;
        if (environment.ResetReviewPositions)
            environment.ResetReviewPositions();
        environment.remote.ResetStillCounters();
        context.notifier.ShowMessage(kCountersResetMessage, kPlainCaption);
    }
    // 18.
    SaveDeviceSettings(context);
    context.shell.RebuildCameraMenu();
}

} // namespace vorlund
