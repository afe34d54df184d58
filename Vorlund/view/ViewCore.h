#pragma once

#include "AlertMailer.h"
#include "CameraSwitcher.h"
#include "DeviceSettings.h"
#include "DiskGuard.h"
#include "MainTick.h"
#include "Ptz.h"
#include "QtTimers.h"
#include "Recycler.h"
#include "RemoteServing.h"
#include "Review.h"
#include "RunControl.h"
#include "SerialLine.h"
#include "ServerContext.h"
#include "Snapshots.h"
#include "StatusTick.h"
#include "TimedZones.h"
#include "ViewCommands.h"
#include "ViewDialogs.h"
#include "ViewMessageEvent.h"

#include <QObject>

namespace vorlund {
class DevicePages;
class IDesktop;
} // namespace vorlund

#include <filesystem>
#include <functional>
#include <memory>

namespace vorlund {

// The production capture graph over the core's context.
std::unique_ptr<ICaptureGraph> MakeCaptureGraph(ServerContext &context);

// No remote viewing: the factory makes no link objects.
class NoLinks : public ILinkFactory
{
public:
    std::unique_ptr<IDirectLink> MakeDirect() override { return nullptr; }
    std::unique_ptr<IRelayLink> MakeRelay(IMessageSink &) override { return nullptr; }
};

// Sounds for a view given no sound player: silent.
class SilentSound : public ISound
{
public:
    void PlaySound(std::string_view) override { }
};

// The non-widget core of the server's view (UI thread): owns the engine, the settings and every
// topic, dispatches the private messages (WindowProc) and timers (OnTimer), and runs start-up and
// shutdown in their order.
class ViewCore : public QObject
{
public:
    struct Options
    {
        std::filesystem::path workingFolder; // empty when the current directory is unusable
        int commandLineDevice = -1;
        // Makes the capture graph over the core's context; none gives a graph that builds
        // nothing.
        std::function<std::unique_ptr<ICaptureGraph>(ServerContext &)> makeGraph;
        // Makes the remote link libraries' objects; none means no remote viewing.
        std::function<std::unique_ptr<ILinkFactory>()> makeLinks;
        // Plays the working folder's sounds; none keeps the server silent.
        std::function<std::unique_ptr<ISound>(const std::filesystem::path &folder)> makeSound;
        // The engine's clock; none is the system's. Tests run the ticks in virtual time.
        const IClock *clock = nullptr;
        // Makes the view's timers, which call back with their id; none gives one QTimer each.
        std::function<std::unique_ptr<ITimers>(std::function<void(int)> onTimer)> makeTimers;
        // Opens recordings in the user's player; none is the desktop's. The view's Play Video
        // dialog takes it.
        IDesktop *desktop = nullptr;
    };

    // `dialogs` outlives the core.
    ViewCore(Profile &profile, INotifier &notifier, IViewShell &shell, IViewDialogs &dialogs,
             const Options &options);
    ~ViewCore() override;

    void OnInitialUpdate();
    void OnCommand(int id);
    bool IsCommandEnabled(int id) const;
    bool IsCommandChecked(int id) const;
    bool HasCrossbar() const;
    bool HasTvTuner() const;
    bool HasVideoSettingsPage() const;
    // Closing the window: capture stopped with its end of stream, the graph released.
    void OnClose();
    // The view goes away: the last save.
    void OnDestroy();
    // The service close signal: settings saved, capture stopped, the window stays.
    void OnServiceClose();

    void WindowProc(uint32_t message, uintptr_t wParam);
    void OnLButtonDown(int x, int y);
    void OnMouseMove(int x, int y, bool leftButtonDown) { m_ptz.OnMouseMove(x, y, leftButtonDown); }
    void OnLButtonUp(int x, int y) { m_ptz.OnLButtonUp(x, y); }
    void OnKeyDown(int key, bool ctrl) { m_ptz.OnKeyDown(key, ctrl); }
    void OnKeyUp(int key) { m_ptz.OnKeyUp(key); }
    void OnReviewKey(int key, bool shift) { m_review.OnReviewKey(key, shift); }
    std::string ReviewMenuText() const { return std::string(m_review.MenuText()); }
    const Ptz &PanTiltZoom() const { return m_ptz; }
    RemoteServing &Remote() { return m_remote; }
    ICaptureGraph &Graph() { return m_graph; }
    void OnTimer(int id);

    // Called after each status tick (the frame's command state follows it).
    std::function<void()> StatusTicked;
    // Configuration's nested relay credentials dialog (modal, from the command): true on OK.
    std::function<bool(std::string &login, std::string &password)> RunCredentials;

    EngineState &Engine() { return m_engine; }
    ViewState &View() { return m_view; }
    DeviceSettings &Settings() { return m_settings; }
    IMessageSink &Sink() { return m_sink; }
    RunControl &Run() { return m_run; }
    ServerContext &Context() { return m_context; }

protected:
    void customEvent(QEvent *event) override;

private:
    void PrepareFolders();
    void ShowIntroPicture();
    void ShowFiltersBalloon();
    void PickDevice(int id);
    CommandState CurrentCommandState() const;
    void ChangeVideoDevice(bool announce);
    void RunConfigurationCommand();
    void OpenTimedZones();

    Profile &m_profile;
    INotifier &m_notifier;
    IViewShell &m_shell;
    IViewDialogs &m_dialogs;
    Options m_options;

    SilentSound m_silent;
    std::unique_ptr<ISound> m_sound;
    NullTopics m_null;
    EngineState m_engine;
    ViewState m_view;
    ErrorLog m_log;
    DeviceSettings m_settings;
    QueuedEventSink m_sink { this };
    std::unique_ptr<ITimers> m_timers;
    ServerContext m_context;

    std::unique_ptr<ICaptureGraph> m_ownedGraph;
    ICaptureGraph &m_graph;
    SerialLine m_switcherPort;
    CameraSwitcher m_switcher;
    std::unique_ptr<ILinkFactory> m_links;
    std::unique_ptr<IDeviceAccess> m_noDevice; // the device of a graph without one
    std::unique_ptr<DevicePages> m_pages;
    SerialLine m_ptzPort;
    Ptz m_ptz;
    RemoteServing m_remote;
    RunControl m_run;
    AlertMailer m_mailer;
    DiskGuard m_disk;
    CVideoRecycler m_recycler;
    StatusTick m_status;
    MainTick m_tick;
    Snapshots m_snapshots;
    Review m_review;
    std::unique_ptr<ICameraSettingsWindows> m_camSettings;
    TimedZoneEditor m_zones;
    std::unique_ptr<ITimedZonesWindow> m_zonesWindow;

    int m_dispatchDepth = 0;
};

} // namespace vorlund
