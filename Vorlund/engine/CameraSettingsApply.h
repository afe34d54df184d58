#pragma once

#include "DeviceConfig.h"
#include "ServerContext.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>

namespace vorlund {

class MainTick;

// Template ids of the two modeless settings dialogs; WM_SETTINGS_CLOSED names one of them.
inline constexpr int kCamSettingsTemplate = 143;
inline constexpr int kTimedZonesTemplate = 142;
inline constexpr int kMinRecordSeconds = 1;
inline constexpr int kMaxRecordSeconds = 86400;
inline constexpr int kMinZoneSensitivity = 1;
inline constexpr int kMaxZoneSensitivity = 255;
inline constexpr int kMinJpegQuality = 10;
inline constexpr int kMaxJpegQuality = 100;
inline constexpr int kSensitivityBarMin = 1;
inline constexpr int kSensitivityBarMax = 99;
inline constexpr int kDistanceBarMin = 1;
inline constexpr int kDistanceBarMax = 60;

// What the Camera Settings dialog edits for one camera: copied in when it opens, read back
// when it closes with OK.
struct CamSettingsValues
{
    int camera = 0; // 1..4
    int sensitivity = 0; // the bar's start position
    int distance = 0; // the Motion Distance bar's start position
    bool motionEnabled = false;
    bool timeLapseEnabled = false;
    bool record = false;
    bool snapshot = false;
    bool sound = false;
    bool distanceEnabled = false;
    int recordSeconds = 0;
    int snapshotQuality = 0;
    TimeWindow timeLapseWindow {};
    std::array<int, 4> zoneSensitivity {}; // timed zones 1..4
    bool zoneSensitivityEnabled = false;
    float timeLapseMinutes = 0.0f;
    int timeLapseLimit = 0;
    int currentZone = 1; // 1..4
    bool mail = false;
    bool mailConfigured = false;

    std::string Label() const { return "Camera " + std::to_string(camera); }
};

// One live change from the open dialog. It travels packed into the message's wParam, so no
// record outlives a message that is never delivered.
enum class LiveSetting : uint8_t { MotionDistance = 1, Sensitivity = 2, MotionDistanceOnOff = 3 };
struct LiveSettingRecord
{
    LiveSetting type = LiveSetting::Sensitivity;
    uint8_t camera = 0;
    uint8_t byteValue = 0;
    int32_t intValue = 0;
};
static_assert(sizeof(uintptr_t) >= 8, "a live setting is packed into a 64-bit wParam");
uintptr_t PackLiveSetting(const LiveSettingRecord &record);
LiveSettingRecord UnpackLiveSetting(uintptr_t wParam);

// WM_SETTINGS_CLOSED: the dialog's template id in the low 16 bits; for Camera Settings the
// outcome and the camera above it. A plain 142 or 143 is a close with nothing to apply.
enum class CloseOutcome : uint8_t { None = 0, Ok = 1, Cancel = 2 };
uintptr_t PackSettingsClosed(int templateId, CloseOutcome outcome, int camera);
inline int SettingsDialogOf(uintptr_t wParam)
{
    return int(wParam & 0xFFFF);
}

// The TV recording timer as its dialog edits it.
struct TvSettingsValues
{
    bool recordNow = false;
    bool record = false;
    TimeWindow window {};
    int channel = 0;
};

// One end of a time window as a picker shows it: hour and minute, or none when either is not
// a time of day (255 marks an unset end).
struct TimeOfDay
{
    int hour = 0;
    int minute = 0;
};
std::optional<TimeOfDay> WindowStart(const TimeWindow &window);
std::optional<TimeOfDay> WindowEnd(const TimeWindow &window);
TimeWindow MakeWindow(std::optional<TimeOfDay> from, std::optional<TimeOfDay> to);

// The opener and the appliers of the Camera Settings dialog and of the TV recording timer
// (UI thread). The dialogs themselves are widgets; this holds everything they change.
class CameraSettingsApply
{
public:
    CameraSettingsApply(ServerContext &context, MainTick &tick);

    enum class OpenAction {
        None, // a command id that names no camera
        ContinuousMessage, // continuous recording: told so, nothing opens
        TvDialog, // run the TV recording timer with TvValues(), then ApplyTvSettings
        Open, // show the dialog filled from `values`
        BringForward, // the dialog is open already (for its first camera): raise it
    };
    OpenAction OnCameraSettings(int commandId, CamSettingsValues &values);

    // Live changes from the open dialog; returns 0.
    int ApplyLiveSetting(uintptr_t wParam);
    void ApplyLiveSetting(const LiveSettingRecord &record);

    // The close of the Camera Settings dialog: OK applies `values` and saves, Cancel restores
    // what the live changes altered. Returns whether the close was for this dialog.
    bool OnSettingsDialogClosed(uintptr_t wParam, const CamSettingsValues &values);

    TvSettingsValues TvValues() const;
    void ApplyTvSettings(const TvSettingsValues &values);

    bool IsOpen() const { return m_openCamera != 0; }

private:
    void Fill(int camera, CamSettingsValues &values);
    void ApplyOk(const CamSettingsValues &values);
    void ShowReminder(const char *text);

    ServerContext &m_context;
    MainTick &m_tick;
    // The camera of the open dialog and what Cancel puts back.
    int m_openCamera = 0;
    int32_t m_keptSensitivity = 0;
    int32_t m_keptDistance = 0;
    uint8_t m_keptDistanceEnabled = 0;
    // The settle time replaced while "Record Now!" runs; 0 when none is.
    uint32_t m_tvSavedSettle = 0;
};

} // namespace vorlund
