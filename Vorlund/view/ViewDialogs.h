#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>

namespace vorlund {

class ICaptureGraph;
class IDevicePageDialogs;
class INotifier;
class MainTick;
class TimedZoneEditor;
struct ConfigEnvironment;
struct ServerContext;

// The Camera Settings dialog (or the TV recording timer in TV mode) and its messages.
class ICameraSettingsWindows
{
public:
    virtual ~ICameraSettingsWindows() = default;
    // WM_CAMERA_SETTINGS with the command id 106..109; never blocks.
    virtual void OnCameraSettings(int commandId) = 0;
    // WM_LIVE_SETTING.
    virtual void ApplyLiveSetting(uintptr_t wParam) = 0;
    // WM_SETTINGS_CLOSED.
    virtual void OnSettingsDialogClosed(uintptr_t wParam) = 0;
};

// The modeless Timed Zones dialog over the editor it was made for.
class ITimedZonesWindow
{
public:
    virtual ~ITimedZonesWindow() = default;
    // Opens (or refreshes) the editor and shows the dialog on its current zone.
    virtual void Show() = 0;
};

// How the core runs the server's dialogs: the widget view implements it, so the core holds no
// window of its own. Modal runs return true on OK.
class IViewDialogs
{
public:
    virtual ~IViewDialogs() = default;
    virtual IDevicePageDialogs &DevicePages() = 0;
    // Made once, with the core; lives as long as the core.
    virtual std::unique_ptr<ICameraSettingsWindows> MakeCameraSettings(ServerContext &context,
                                                                       MainTick &tick)
        = 0;
    // Made on the first open; the core drops it before the editor goes.
    virtual std::unique_ptr<ITimedZonesWindow> MakeTimedZones(TimedZoneEditor &zones) = 0;
    // "&Configuration": copies in, runs, applies and saves on OK.
    virtual bool RunConfiguration(ServerContext &context, ConfigEnvironment &environment) = 0;
    // "Video &Compression": the codec chooser and its windows.
    virtual bool ChooseVideoCodec(ServerContext &context, ICaptureGraph &graph) = 0;
    // Review mode's question: false on Cancel, else `motion` says which pictures.
    virtual bool AskReviewKind(bool &motion) = 0;
    // "Play Video": picks recordings from `videoFolder` and opens each in the player.
    virtual void PlayVideo(const std::filesystem::path &videoFolder,
                           const std::filesystem::path &recordingNow, INotifier &notifier)
        = 0;
};

} // namespace vorlund
