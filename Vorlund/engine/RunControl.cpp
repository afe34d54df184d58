#include "RunControl.h"

#include "DeviceSettings.h"

#include <QLoggingCategory>

#include <algorithm>
#include <cstdio>

// Quiet unless asked for: QT_LOGGING_RULES="vorlund.*.info=true".
Q_LOGGING_CATEGORY(lcRun, "vorlund.run", QtWarningMsg)

namespace vorlund {

namespace {

constexpr const char *kNoFramesText
    = "Could not connect device filters.\r\nIs the capture device being used by another "
      "application?";

std::string Code(const char *format, uint32_t code)
{
    char text[96];
    std::snprintf(text, sizeof text, format, unsigned(code));
    return text;
}

} // namespace

RunControl::RunControl(ServerContext &context, ICaptureGraph &graph, ICameraSwitch &cameras,
                       IDevicePages &pages, IRemoteLink &remote)
    : m_context(context), m_graph(graph), m_cameras(cameras), m_pages(pages), m_remote(remote)
{ }

void RunControl::OnStartCommand()
{
    m_context.view.RestartPending = false;
    m_restartAfterDialog = false;
    m_restartRetries = 0;
    m_context.timers.KillTimer(RESTART_TIMER);
    StartCapture();
}

void RunControl::OnStopCommand()
{
    Stop(true);
}

void RunControl::StartCapture()
{
    Start(false);
}

bool RunControl::Start(bool automatic)
{
    ServerContext &c = m_context;
    EngineState &e = c.engine;
    ViewState &view = c.view;
    if (!view.Idle || view.ShuttingDown)
        return false;
    m_automaticStart = automatic;

    e.PrimeForStart();
    e.PtzStopped = 0;
    if (OnPrime)
        OnPrime();
    if (!e.ViewWindow.load())
        e.ViewWindow = &c.sink;

    if (!m_graph.IsBuilt()) {
        e.KeepDeviceFilter = 1;
        if (m_graph.BuildCaptureGraph(false) != BuildResult::Ok) {
            e.KeepDeviceFilter = 0;
            view.DeviceReady = false;
            m_graph.TearDownGraph();
            if (automatic)
                c.log.AppendErrorLog("Could not build the capture graph.");
            return false;
        }
    }

    view.Idle = false;
    view.IntroShown = false;
    view.DisplayWidth = e.FrameWidth;
    view.DisplayHeight = e.FrameHeight;
    view.Grid = ComputeZoneGrid(e.FrameWidth, e.FrameHeight);
    const int cameras = std::clamp<int>(e.CameraCount, 1, kMaxCameras);
    c.shell.UpdateLayout(e.FrameWidth * (cameras > 1 ? 2 : 1),
                         e.FrameHeight * (cameras > 2 ? 2 : 1));
    c.shell.SetPaneText(kPaneCamera, "0");

    if (cameras > 1) {
        m_cameras.DetectSwitcher(automatic);
        if (view.SwitcherPresent)
            m_cameras.SwitchCamera(-1);
    }
    // After a restart that kept the link this keeps the viewers, unless what they were told
    // (picture size, cameras, port, password) changed.
    m_remote.StartListening({ e.FrameWidth, e.FrameHeight, cameras });
    m_linkKept = false;

    m_graph.SetGateOpen(false);
    e.GateOpen = 0;
    m_graph.SetStamp(c.settings.Config.VideoTimestamp != 0, view.Startup.TimeStampCorner != 0);
    if (m_pages.HasCrossbar())
        m_pages.ShowCrossbarPage(true);

    if (!m_graph.RunGraph()) {
        StartFailed(kDeviceInUseText);
        return false;
    }
    m_graph.SetAudioReferenceTime(0);

    c.timers.SetTimer(MAIN_TICK_TIMER, 15);
    if (cameras < 2) {
        c.timers.SetTimer(STATUS_TIMER, 30);
        e.SavedSettleTime = e.SettleTime.load();
        e.SettleTime = e.TvMode ? 14 : 90;
    } else {
        c.timers.SetTimer(STATUS_TIMER, e.CameraOnePriority || e.DialogCamera ? 30 : 60);
    }
    c.timers.SetTimer(FIRST_FRAME_TIMER, kFirstFrameMs);
    qCInfo(lcRun, "capture started%s", automatic ? " by the restart timer" : "");
    c.sound.PlaySound("start.wav");

    const bool continuous = c.settings.Config.ContinuousRecord && !e.TvMode;
    if (continuous)
        c.shell.ShowBalloon({ "Reminder", "Continuous Record mode is set.\n\n", 32516, 0, 3000 });
    // Without continuous recording or TV mode the slow work is back at its normal pace.
    e.SlowPeriod = continuous || e.TvMode ? 1000 : 12000;
    return true;
}

void RunControl::StartFailed(const char *reason)
{
    const bool automatic = m_automaticStart;
    Stop(false);
    m_context.log.AppendErrorLog(reason);
    if (automatic && m_restartRetries < kRestartRetries) {
        // A passing fault must not end unattended recording.
        ++m_restartRetries;
        m_context.log.AppendErrorLog("Capture did not start (retrying...)");
        m_context.timers.SetTimer(RESTART_TIMER, kRestartDelayMs);
        return;
    }
    if (!automatic)
        ShowErrorBox(m_context.notifier, reason);
}

void RunControl::OnFirstFrameTimer()
{
    m_context.timers.KillTimer(FIRST_FRAME_TIMER);
    if (m_context.view.Idle)
        return;
    if (m_graph.FramesDelivered() == 0) {
        StartFailed(kNoFramesText);
        return;
    }
    m_restartRetries = 0;
}

void RunControl::StopCapture()
{
    Stop(false);
}

void RunControl::Stop(bool cancelRestart, bool keepLink)
{
    ServerContext &c = m_context;
    EngineState &e = c.engine;
    ViewState &view = c.view;
    if (cancelRestart) {
        view.RestartPending = false;
        m_restartAfterDialog = false;
        c.timers.KillTimer(RESTART_TIMER);
    }
    if (!keepLink)
        ReleaseKeptLink();
    if (view.Idle)
        return;
    view.RestartMark = false;
    if (keepLink)
        m_linkKept = true;
    else
        m_remote.StopListening();
    if (e.GateOpen)
        m_graph.SetGateOpen(false);
    m_graph.StopGraph();
    for (int id : { MAIN_TICK_TIMER, STATUS_TIMER, TIMELAPSE_TIMER, FIRST_FRAME_TIMER })
        c.timers.KillTimer(id);
    qCInfo(lcRun, "capture stopped%s", keepLink ? " for a restart" : "");
    view.Idle = true;
    view.TvTimerSet = false;
    c.shell.SetPaneText(kPaneState, "OFF");
    c.shell.SetPaneText(kPaneCamera, "0");
    m_remote.ResetStillCounters();
    e.ResetOnStop();
    e.KeepDeviceFilter = view.RestartStamp != 0 ? 0 : 1;
    m_graph.TearDownGraph();
    c.shell.Repaint(0);
    c.sound.PlaySound("stop.wav");
}

void RunControl::ReleaseKeptLink()
{
    if (!m_linkKept)
        return;
    m_linkKept = false;
    m_remote.StopListening();
}

void RunControl::RestartCapture()
{
    qCInfo(lcRun, "restart: capture stops now and starts again in %u ms", kRestartDelayMs);
    // A rollover or a restart after an error is a moment's pause: remote viewers stay.
    Stop(false, true);
    m_context.view.RestartPending = false;
    m_context.timers.SetTimer(RESTART_TIMER, kRestartDelayMs);
}

void RunControl::OnRestartTimer()
{
    ViewState &view = m_context.view;
    m_context.timers.KillTimer(RESTART_TIMER);
    if (view.ShuttingDown)
        return;
    if (view.PropertyPageOpen || view.ConfigurationOpen || view.CodecDialogOpen) {
        m_restartAfterDialog = true;
        return;
    }
    view.RestartMark = true;
    if (!Start(true) && view.Idle && m_restartRetries < kRestartRetries
        && !m_context.timers.IsTimerRunning(RESTART_TIMER)) {
        ++m_restartRetries;
        m_context.log.AppendErrorLog("Capture did not start (retrying...)");
        m_context.timers.SetTimer(RESTART_TIMER, kRestartDelayMs);
    }
    if (view.Idle && !m_context.timers.IsTimerRunning(RESTART_TIMER))
        ReleaseKeptLink();
}

void RunControl::OnDialogClosed()
{
    if (!m_restartAfterDialog)
        return;
    m_restartAfterDialog = false;
    OnRestartTimer();
}

void RunControl::OnGraphEvent()
{
    ServerContext &c = m_context;
    bool aborted = false;
    uint32_t code = 0;
    for (const GraphEvent &event : m_graph.TakeGraphEvents()) {
        if (event.kind == GraphEvent::Kind::DeviceLost) {
            Stop(true);
            ShowErrorBox(c.notifier, "Stopping capture... (device removed?)");
            return;
        }
        aborted = true;
        code = event.code;
    }
    // One failure often posts several errors (the sink's, then its upstream's): those that
    // come while the restart it led to is pending belong to the abort already noted.
    if (!aborted || c.view.Idle || c.view.RestartPending)
        return;
    const uint32_t now = c.clock.TickCount();
    ViewState &view = c.view;
    qCInfo(lcRun, "abort %08x at %u ms, the last one that restarted at %u ms", unsigned(code),
           unsigned(now), unsigned(view.RestartStamp));
    if (view.RestartStamp == 0 || now - view.RestartStamp > kAbortWindowMs) {
        c.log.AppendErrorLog(Code("Abort during capture (restarting...), code = %08x", code));
        view.RestartStamp = now;
        view.RestartPending = true;
        return;
    }
    c.log.AppendErrorLog(Code("Abort during capture (stopping...), code = %08x", code));
    Stop(true);
    ShowErrorBox(c.notifier, "Stopped due to serious error!");
}

BuildResult RunControl::OpenNextVideoDevice()
{
    ServerContext &c = m_context;
    ViewState &view = c.view;
    const std::string remembered = c.settings.Config.DeviceName;
    c.engine.KeepDeviceFilter = 0;
    BuildResult result = BuildResult::NoDevice;
    for (int attempt = 0; attempt < 4; ++attempt) {
        const int slot = std::clamp(view.DeviceCommandId - Cmd::Device1, 0, 3);
        if (!view.VideoDeviceNames[slot].empty()) {
            c.settings.Config.DeviceName = view.VideoDeviceNames[slot];
            result = m_graph.BuildCaptureGraph(true);
        }
        if (result != BuildResult::Failed)
            break;
        view.DeviceCommandId = Cmd::DeviceCommand((slot + 1) % 4);
        m_graph.TearDownGraph();
    }
    c.settings.Config.DeviceName = remembered;
    m_graph.TearDownGraph();
    return result;
}

void RunControl::SelectDeviceCommand()
{
    ViewState &view = m_context.view;
    const std::vector<std::string> names = m_graph.ListVideoDevices();
    for (size_t i = 0; i < view.VideoDeviceNames.size(); ++i)
        view.VideoDeviceNames[i] = i < names.size() ? names[i] : std::string();
    for (size_t i = 0; i < view.VideoDeviceNames.size(); ++i) {
        if (!view.VideoDeviceNames[i].empty()
            && view.VideoDeviceNames[i] == m_context.settings.Config.DeviceName) {
            view.DeviceCommandId = Cmd::DeviceCommand(int(i));
            return;
        }
    }
}

void RunControl::ChangeVideoDevice(bool announce)
{
    ServerContext &c = m_context;
    ViewState &view = c.view;
    EngineState &e = c.engine;
    DeviceConfig &config = c.settings.Config;
    c.shell.RebuildDeviceMenu();

    const int slot = std::clamp(view.DeviceCommandId - Cmd::Device1, 0, 3);
    const std::string name = view.VideoDeviceNames[slot];
    if (name != config.DeviceName) {
        e.KeepDeviceFilter = 0;
        m_graph.TearDownGraph();
        view.DeviceReady = true;
        config.DeviceName = name;

        const std::vector<std::string> audio = m_graph.ListAudioDevices();
        for (size_t i = 0; i < view.AudioDeviceNames.size(); ++i)
            view.AudioDeviceNames[i] = i < audio.size() ? audio[i] : std::string();
        c.settings.SetDefaultSettings(
            { name, view.WorkingFolder.string(), audio.empty() ? std::string() : audio[0] });
        m_pages.ShowCrossbarPage(true);
        m_pages.ShowTvTunerPage(true);
        c.settings.LoadDeviceConfig(name);
        m_pages.ShowVideoCapturePage(true);

        if (std::find(audio.begin(), audio.end(), config.AudioDevice) == audio.end()) {
            config.RecordAudio = 0;
            config.AudioDevice = audio.empty() ? std::string() : audio[0];
        }
        if (announce) {
            std::string text = "Loaded new device... \n\nVideo: " + name + "\nAudio: ";
            if (config.RecordAudio)
                text += config.AudioDevice + " + " + config.AudioInput;
            c.shell.ShowBalloon({ "Changing Video Devices", text + "\n", 32516, 0, 2000 });
            c.shell.Repaint(0);
        }
        m_remote.ApplyRemoteMode();

        view.SwitcherPresent = false;
        if (e.CameraCount > 1) {
            m_cameras.DetectSwitcher(false);
            if (view.SwitcherPresent) {
                m_cameras.SwitchCamera(-1);
            } else {
                e.CameraCount = 1;
                config.Block.CameraCount = 1;
                e.CycleCount = 1;
                SaveDeviceSettings(c);
            }
        }
        m_remote.ResetStillCounters();
        m_graph.TearDownGraph();
    }
    c.shell.RebuildCameraMenu();
    c.shell.RebuildCommandMenu();
    c.shell.SetPaneText(kPaneIdlePrompt, name);
}

} // namespace vorlund
