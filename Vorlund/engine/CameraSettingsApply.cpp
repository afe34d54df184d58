#include "CameraSettingsApply.h"

#include "DeviceSettings.h"
#include "MainTick.h"
#include "Schedules.h"

#include <algorithm>

namespace vorlund {

namespace {

constexpr const char *kContinuousText
    = " You have set Continuous Recording mode.\nAll motion detection settings are disabled.";
constexpr const char *kRecordNowEndedText
    = "Recording finished. You should\nStop Vorlund now to close the file.\n\n";
constexpr const char *kTvTimerSetText = "TV Recording timer set. \nBe sure to Start Vorlund.\n\n";
// "Record Now!" at more than 320 pixels across switches faster, so more of the picture is new.
constexpr uint32_t kRecordNowSettleMs = 150;

std::optional<TimeOfDay> MakeTime(uint8_t hour, uint8_t minute)
{
    if (hour > 23 || minute > 59)
        return std::nullopt;
    return TimeOfDay { hour, minute };
}

// A zone outside 1..4 (no slow pass has run yet) is taken from the time of day first, by the
// tick's rule, so nothing indexes the per-zone values with it.
int EnsureCurrentZone(ServerContext &context)
{
    EngineState &e = context.engine;
    if (!IsCamera(e.CurrentZone)) {
        const std::optional<int> zone
            = ZoneForHour(context.settings.Config.Block.ZoneHours, context.clock.Now().hour);
        e.CurrentZone = uint8_t(zone.value_or(1));
    }
    return e.CurrentZone;
}

} // namespace

uintptr_t PackLiveSetting(const LiveSettingRecord &record)
{
    return uintptr_t(record.type) | uintptr_t(record.camera) << 8
        | uintptr_t(record.byteValue) << 16 | uintptr_t(uint32_t(record.intValue)) << 32;
}

LiveSettingRecord UnpackLiveSetting(uintptr_t wParam)
{
    LiveSettingRecord r;
    r.type = LiveSetting(wParam & 0xFF);
    r.camera = uint8_t(wParam >> 8);
    r.byteValue = uint8_t(wParam >> 16);
    r.intValue = int32_t(uint32_t(wParam >> 32));
    return r;
}

uintptr_t PackSettingsClosed(int templateId, CloseOutcome outcome, int camera)
{
    return uintptr_t(templateId & 0xFFFF) | uintptr_t(outcome) << 16
        | uintptr_t(uint8_t(camera)) << 24;
}

std::optional<TimeOfDay> WindowStart(const TimeWindow &window)
{
    return MakeTime(window.FromHour, window.FromMinute);
}

std::optional<TimeOfDay> WindowEnd(const TimeWindow &window)
{
    return MakeTime(window.ToHour, window.ToMinute);
}

TimeWindow MakeWindow(std::optional<TimeOfDay> from, std::optional<TimeOfDay> to)
{
    // A picker left empty (or holding something that is not a time of day) is stored unset.
    const auto valid = [](const std::optional<TimeOfDay> &t) {
        return t && t->hour >= 0 && t->hour <= 23 && t->minute >= 0 && t->minute <= 59;
    };
    TimeWindow w { 255, 255, 255, 255 };
    if (valid(from)) {
        w.FromHour = uint8_t(from->hour);
        w.FromMinute = uint8_t(from->minute);
    }
    if (valid(to)) {
        w.ToHour = uint8_t(to->hour);
        w.ToMinute = uint8_t(to->minute);
    }
    return w;
}

CameraSettingsApply::CameraSettingsApply(ServerContext &context, MainTick &tick)
    : m_context(context), m_tick(tick)
{ }

CameraSettingsApply::OpenAction CameraSettingsApply::OnCameraSettings(int commandId,
                                                                      CamSettingsValues &values)
{
    EngineState &e = m_context.engine;
    if (e.TvMode)
        return OpenAction::TvDialog;
    if (m_context.settings.Config.ContinuousRecord) {
        m_context.notifier.ShowMessage(kContinuousText, kPlainCaption);
        return OpenAction::ContinuousMessage;
    }
    if (commandId < Cmd::Camera1 || commandId > Cmd::Camera4)
        return OpenAction::None;
    // A second camera command leaves the open dialog, its camera and its Cancel state alone.
    if (m_openCamera != 0)
        return OpenAction::BringForward;

    const int c = commandId - (Cmd::Camera1 - 1);
    m_openCamera = c;
    m_keptSensitivity = e.Sensitivity[c];
    m_keptDistance = e.MotionDistance[c];
    m_keptDistanceEnabled = e.MotionDistanceEnabled[c];
    // A running post-motion recording ends.
    e.RecordCountdown = 0;
    Fill(c, values);
    e.DialogCamera = uint8_t(c);
    m_context.view.CamSettingsOpen = true;
    m_context.shell.SetPaneText(kPaneCamera, std::to_string(c));
    return OpenAction::Open;
}

void CameraSettingsApply::Fill(int c, CamSettingsValues &v)
{
    const EngineState &e = m_context.engine;
    const DeviceConfig &config = m_context.settings.Config;
    v = CamSettingsValues {};
    v.camera = c;
    v.sensitivity = e.Sensitivity[c];
    v.distance = e.MotionDistance[c];
    // The configured value: a pan/tilt/zoom move clears the working copy for a moment.
    v.motionEnabled = e.SavedMotionEnabled[c] != 0;
    v.record = e.RecordOnMotion[c] != 0;
    v.recordSeconds = e.RecordSeconds[c];
    v.snapshot = e.SnapOnMotion[c] != 0;
    v.mail = e.MailOnMotion[c] != 0;
    v.snapshotQuality = config.Block.JpegQuality[c];
    v.sound = e.SoundOnMotion[c] != 0;
    v.distanceEnabled = e.MotionDistanceEnabled[c] != 0;
    v.timeLapseEnabled = config.TimeLapseEnabled[c] != 0;
    v.timeLapseMinutes = config.TimeLapseMinutes[c];
    v.timeLapseLimit = config.TimeLapseLimit[c];
    v.timeLapseWindow = config.TimeLapseWindow[c];
    for (int z = 1; z <= kZones; ++z)
        v.zoneSensitivity[size_t(z - 1)] = e.ZoneSensitivity[c][z];
    v.zoneSensitivityEnabled = e.ZoneSensitivityEnabled[c] != 0;
    v.mailConfigured = !config.MailTo.empty();
    v.currentZone = EnsureCurrentZone(m_context);
}

int CameraSettingsApply::ApplyLiveSetting(uintptr_t wParam)
{
    ApplyLiveSetting(UnpackLiveSetting(wParam));
    return 0;
}

void CameraSettingsApply::ApplyLiveSetting(const LiveSettingRecord &r)
{
    EngineState &e = m_context.engine;
    if (!IsCamera(r.camera))
        return;
    switch (r.type) {
    case LiveSetting::MotionDistance:
        e.MotionDistance[r.camera] = std::clamp(r.intValue, kDistanceBarMin, kDistanceBarMax);
        break;
    case LiveSetting::Sensitivity:
        e.Sensitivity[r.camera]
            = std::clamp(int32_t(r.byteValue), kSensitivityBarMin, kSensitivityBarMax);
        break;
    case LiveSetting::MotionDistanceOnOff:
        e.MotionDistanceEnabled[r.camera] = r.intValue != 0 ? 1 : 0;
        break;
    }
}

bool CameraSettingsApply::OnSettingsDialogClosed(uintptr_t wParam, const CamSettingsValues &values)
{
    if (SettingsDialogOf(wParam) != kCamSettingsTemplate)
        return false;
    EngineState &e = m_context.engine;
    const auto outcome = CloseOutcome((wParam >> 16) & 0xFF);
    const int camera = int((wParam >> 24) & 0xFF);
    if (m_openCamera != 0) {
        if (outcome == CloseOutcome::Cancel) {
            e.Sensitivity[m_openCamera] = m_keptSensitivity;
            e.MotionDistance[m_openCamera] = m_keptDistance;
            // Otherwise the next periodic save would store the cancelled value.
            e.MotionDistanceEnabled[m_openCamera] = m_keptDistanceEnabled;
        } else if (outcome == CloseOutcome::Ok && camera == m_openCamera
                   && values.camera == m_openCamera) {
            ApplyOk(values);
        }
    }
    m_openCamera = 0;
    e.DialogCamera = 0;
    m_context.view.CamSettingsOpen = false;
    return true;
}

void CameraSettingsApply::ApplyOk(const CamSettingsValues &v)
{
    EngineState &e = m_context.engine;
    DeviceConfig &config = m_context.settings.Config;
    const int c = v.camera;

    e.MotionEnabled[c] = v.motionEnabled ? 1 : 0;
    if (e.PtzStopped) {
        // A camera move has cleared the working copies; the others' saved values must survive
        // the restore.
        e.SavedMotionEnabled[c] = e.MotionEnabled[c].load();
    } else {
        for (int k = 1; k <= kMaxCameras; ++k)
            e.SavedMotionEnabled[k] = e.MotionEnabled[k].load();
    }
    e.RecordOnMotion[c] = v.record ? 1 : 0;
    e.SnapOnMotion[c] = v.snapshot ? 1 : 0;
    e.MailOnMotion[c] = v.mail ? 1 : 0;
    e.SoundOnMotion[c] = v.sound ? 1 : 0;
    e.MotionDistanceEnabled[c] = v.distanceEnabled ? 1 : 0;
    // The dialog refuses values outside these ranges; the clamp keeps seconds * 1000 in range
    // whatever reaches here.
    e.RecordSeconds[c] = std::clamp(v.recordSeconds, kMinRecordSeconds, kMaxRecordSeconds);
    config.Block.JpegQuality[c] = std::clamp(v.snapshotQuality, kMinJpegQuality, kMaxJpegQuality);

    config.TimeLapseEnabled[c] = v.timeLapseEnabled ? 1 : 0;
    // Only camera 1 runs the time-lapse timer.
    const bool timerRunning = c == 1 && m_context.timers.IsTimerRunning(TIMELAPSE_TIMER);
    bool killTimer = timerRunning && !v.timeLapseEnabled;
    if (v.timeLapseMinutes > 0.0f) {
        if (v.timeLapseMinutes != config.TimeLapseMinutes[c])
            killTimer = killTimer || timerRunning;
        config.TimeLapseMinutes[c] = v.timeLapseMinutes;
    }
    if (killTimer)
        m_context.timers.KillTimer(TIMELAPSE_TIMER);
    if (v.timeLapseLimit > 0)
        config.TimeLapseLimit[c] = v.timeLapseLimit;

    config.TimeLapseWindow[c] = v.timeLapseWindow;
    for (int z = 1; z <= kZones; ++z)
        e.ZoneSensitivity[c][z] = uint8_t(
            std::clamp(v.zoneSensitivity[size_t(z - 1)], kMinZoneSensitivity, kMaxZoneSensitivity));
    e.ZoneSensitivityEnabled[c] = v.zoneSensitivityEnabled ? 1 : 0;
    if (v.zoneSensitivityEnabled)
        e.Sensitivity[c] = e.ZoneSensitivity[c][EnsureCurrentZone(m_context)].load();
    // Sensitivity and Motion Distance reached the engine live.
    SaveDeviceSettings(m_context);
}

TvSettingsValues CameraSettingsApply::TvValues() const
{
    const DeviceConfig &config = m_context.settings.Config;
    return { m_context.view.TvTimerSet, config.TvRecord != 0, config.TvWindow, config.TvChannel };
}

void CameraSettingsApply::ApplyTvSettings(const TvSettingsValues &v)
{
    EngineState &e = m_context.engine;
    DeviceConfig &config = m_context.settings.Config;
    ViewState &view = m_context.view;
    const bool wasRecordingNow = view.TvTimerSet;
    // A stop ended "Record Now!" and put the settle time back itself.
    if (!wasRecordingNow)
        m_tvSavedSettle = 0;

    if (v.recordNow) {
        if (!wasRecordingNow) {
            if (e.FrameWidth > 320 && m_tvSavedSettle == 0) {
                m_tvSavedSettle = e.SettleTime;
                e.SettleTime = kRecordNowSettleMs;
            }
            m_tick.SetGates(true);
        }
    } else {
        if (m_tvSavedSettle != 0) {
            e.SettleTime = m_tvSavedSettle;
            m_tvSavedSettle = 0;
        }
        // Only the end of "Record Now!" shuts the gates: an OK that changes the channel leaves
        // a scheduled recording running.
        if (wasRecordingNow) {
            m_tick.SetGates(false);
            ShowReminder(kRecordNowEndedText);
        }
    }
    view.TvTimerSet = v.recordNow;

    if (!v.record) {
        // The scheduled recording ends in its own file; a "Record Now!" recording goes on.
        if (config.TvRecord && e.GateOpen && !v.recordNow) {
            m_tick.SetGates(false);
            m_context.sink.PostMessage(WM_RESTART_CAPTURE);
        }
    } else if (view.Idle) {
        ShowReminder(kTvTimerSetText);
    }
    config.TvRecord = v.record ? 1 : 0;
    config.TvWindow = v.window;
    config.TvChannel = v.channel;
}

void CameraSettingsApply::ShowReminder(const char *text)
{
    m_context.shell.ShowBalloon({ "Reminder", text, 32516, 0x400, 5000 });
}

} // namespace vorlund
