#include "ViewCore.h"

#include "CaptureDevices.h"
#include "CaptureGraph.h"
#include "ConfigApply.h"
#include "ConfigValues.h"
#include "Crossbar.h"
#include "DevicePages.h"
#include "MotionGrabber.h"
#include "ViewCommands.h"

#include <QImage>

#include <algorithm>
#include <system_error>

namespace vorlund {

namespace {

constexpr const char *kNoDevicesText
    = "There are no video capture devices found on your system, or\nthese devices are in use "
      "and no other devices are available.\nVorlund requires a video capture device(s), such as "
      "a USB\ncamera, video capture board, TV card, DV camcorder, etc.";

std::filesystem::path LogPath(const std::filesystem::path &folder)
{
    return folder.empty() ? std::filesystem::path() : folder / "vorlund.log";
}

} // namespace

ViewCore::ViewCore(Profile &profile, INotifier &notifier, IViewShell &shell, IViewDialogs &dialogs,
                   const Options &options)
    : m_profile(profile), m_notifier(notifier), m_shell(shell), m_dialogs(dialogs),
      m_options(options), m_sound(options.makeSound && !options.workingFolder.empty()
                                      ? options.makeSound(options.workingFolder)
                                      : nullptr),
      m_log(LogPath(options.workingFolder), SystemClock::Instance()),
      m_settings(options.workingFolder, m_engine, notifier,
                 [this](std::string_view line) { m_log.AppendErrorLog(line); }),
      m_timers(options.makeTimers
                   ? options.makeTimers([this](int id) { OnTimer(id); })
                   : std::make_unique<QtTimers>(this, [this](int id) { OnTimer(id); })),
      m_context { m_engine,
                  m_view,
                  m_settings,
                  profile,
                  options.clock ? *options.clock : SystemClock::Instance(),
                  notifier,
                  m_log,
                  m_sink,
                  *m_timers,
                  shell,
                  m_sound ? *m_sound : static_cast<ISound &>(m_silent) },
      m_ownedGraph(options.makeGraph ? options.makeGraph(m_context) : nullptr),
      m_graph(m_ownedGraph ? *m_ownedGraph : static_cast<ICaptureGraph &>(m_null)),
      m_switcherPort(profile),
      m_switcher(m_context, m_switcherPort,
                 m_graph.InputRouter() ? *m_graph.InputRouter()
                                       : static_cast<IInputRouter &>(m_null)),
      m_links(options.makeLinks ? options.makeLinks() : std::make_unique<NoLinks>()),
      m_noDevice(std::make_unique<NoDeviceAccess>()),
      m_pages(std::make_unique<DevicePages>(
          m_context, m_graph, m_graph.DeviceAccess() ? *m_graph.DeviceAccess() : *m_noDevice,
          dialogs.DevicePages())),
      m_ptzPort(profile), m_ptz(m_context, m_ptzPort, *m_pages, m_remote),
      m_remote(m_context, m_switcher, m_ptz, *m_links),
      m_run(m_context, m_graph, m_switcher, *m_pages, m_remote), m_mailer(m_context),
      m_disk(m_context, m_graph, m_run, m_mailer), m_recycler(m_context),
      m_status(m_context, m_remote, m_ptz, m_disk),
      m_tick(m_context, m_graph, *m_pages, m_switcher, m_run, m_remote, m_mailer, m_recycler,
             m_disk),
      m_snapshots(m_context, m_mailer), m_review(m_context),
      m_camSettings(dialogs.MakeCameraSettings(m_context, m_tick)), m_zones(m_context)
{
    m_engine.ViewWindow = &m_sink;
    PrepareFolders();
    // The engine starts from the values a new view has; the defaults then keep what has none.
    CopyIntoEngineState(m_settings.Config, m_engine);
    m_settings.SetDefaultSettings({ {}, m_view.WorkingFolder.string(), {} });
    m_mailer.SendAlertMail(-1);
    m_ptz.RunCommand = [this](int id) { OnCommand(id); };
    m_zones.ShowReviewImages = [this](int camera) { m_review.ShowReviewImages(camera); };
    m_pages->PropertyPageClosed = [this] { m_run.OnDialogClosed(); };
    m_pages->LeaveReviewMode = [this] {
        if (m_engine.ReviewMode)
            m_review.ToggleReviewMode();
    };
    m_review.AskReviewKind = [this](bool &motion) { return m_dialogs.AskReviewKind(motion); };
    m_run.OnPrime = [this] {
        m_ptz.ResetKeys();
        m_tick.ResetForStart();
        m_status.ResetForStart();
        m_view.DiskWarnedLevel = 0;
    };
}

ViewCore::~ViewCore()
{
    m_zonesWindow.reset();
    m_timers->KillAll();
    m_engine.ViewWindow = nullptr;
}

void ViewCore::PrepareFolders()
{
    const std::filesystem::path &folder = m_options.workingFolder;
    // Never the file-system root: nothing is written there.
    if (folder.empty() || folder == folder.root_path()) {
        m_notifier.ShowMessage("Current working directory is invalid!", kPlainCaption);
        return;
    }
    m_view.WorkingFolder = folder;
    m_view.VideoFolder = folder / "CaptureData";
    std::error_code ec;
    if (!std::filesystem::is_directory(m_view.VideoFolder, ec)
        && !std::filesystem::create_directories(m_view.VideoFolder, ec))
        m_log.AppendErrorLog("error creating CaptureData directory.");
    m_settings.Config.VideoFolder = m_view.VideoFolder.string();
}

void ViewCore::OnInitialUpdate()
{
    m_view.Startup = ReadStartupProfile(m_profile);
    const std::vector<std::string> video = m_graph.ListVideoDevices();
    const std::vector<std::string> audio = m_graph.ListAudioDevices();
    for (size_t i = 0; i < 4; ++i) {
        m_view.VideoDeviceNames[i] = i < video.size() ? video[i] : std::string();
        m_view.AudioDeviceNames[i] = i < audio.size() ? audio[i] : std::string();
    }
    m_view.AudioDevicePresent = !audio.empty();
    m_view.DeviceCommandId
        = ChooseStartupDevice(m_view.Startup.LastDevice, m_options.commandLineDevice,
                              m_view.Startup.LastDeviceDesc, m_view.VideoDeviceNames);

    const bool opened = m_run.OpenNextVideoDevice() == BuildResult::Ok;
    if (opened)
        ChangeVideoDevice(false);
    if ((m_view.VideoDeviceNames[0].empty() && m_view.VideoDeviceNames[1].empty()) || !opened) {
        m_view.VideoDeviceNames[0].clear();
        m_view.VideoDeviceNames[1].clear();
        m_view.DeviceReady = false;
        m_notifier.ShowMessage(kNoDevicesText, "Vorlund - no devices");
    } else if (m_view.Startup.AutoStartDetect) {
        m_run.RestartCapture();
    }
    ShowIntroPicture();
}

void ViewCore::ShowIntroPicture()
{
    if (m_view.WorkingFolder.empty())
        return;
    QImage picture(QString::fromStdString((m_view.WorkingFolder / "vl_intro1.bmp").string()));
    if (picture.isNull())
        return;
    // Any size or format: converted, and clipped to what the buffers hold.
    picture = picture.convertToFormat(QImage::Format_BGR888);
    const int width = std::min(picture.width(), kMaxFrameWidth);
    const int height = std::min(picture.height(), kMaxFrameHeight);
    std::vector<uint8_t> frame(size_t(width) * height * 3);
    for (int row = 0; row < height; ++row) {
        // Bottom-up rows, as the frames are kept.
        const uint8_t *line = picture.constScanLine(height - 1 - row);
        std::copy_n(line, size_t(width) * 3, frame.begin() + ptrdiff_t(row) * width * 3);
    }
    m_engine.WriteLiveFrame(1, frame.data(), frame.size());
    m_view.DisplayWidth = width;
    m_view.DisplayHeight = height;
    m_view.IntroShown = true;
    m_shell.UpdateLayout(width, height);
    m_shell.Repaint(0);
}

void ViewCore::customEvent(QEvent *event)
{
    if (event->type() != ViewMessageEvent::kType)
        return;
    auto *message = static_cast<ViewMessageEvent *>(event);
    m_sink.Delivered(message->message());
    WindowProc(message->message(), message->wParam());
}

void ViewCore::WindowProc(uint32_t message, uintptr_t wParam)
{
    if (m_dispatchDepth > 0) {
        // A nested event loop: handle it after the outer handler returns.
        m_sink.PostMessage(message, wParam);
        return;
    }
    ++m_dispatchDepth;
    switch (message) {
    case WM_FRAME_GRABBED:
        m_snapshots.SaveSnapshot();
        break;
    case WM_REQUEST_SNAPSHOT:
        m_snapshots.RequestSnapshot();
        break;
    case WM_PLAY_SNAP:
        m_snapshots.PlaySnapSound();
        break;
    case WM_CAMERA_SETTINGS:
        m_camSettings->OnCameraSettings(int(wParam));
        break;
    case WM_LIVE_SETTING:
        m_camSettings->ApplyLiveSetting(wParam);
        break;
    case WM_SETTINGS_CLOSED:
        m_camSettings->OnSettingsDialogClosed(wParam);
        break;
    case WM_GRAPH_EVENT:
        m_run.OnGraphEvent();
        break;
    case WM_RESTART_CAPTURE:
        m_run.RestartCapture();
        break;
    case WM_SHOW_FILTERS:
        ShowFiltersBalloon();
        break;
    case WM_RECYCLE_DONE:
        m_recycler.OnRecycleDone(wParam);
        break;
    case WM_RELAY_RECONNECT:
        m_remote.ConnectRelay();
        break;
    case WM_RELAY_RESUME:
        m_remote.OnRelayResume();
        break;
    case WM_MAIL_DONE:
        m_mailer.OnMailDone();
        break;
    case WM_SVC_CLOSE:
        OnServiceClose();
        break;
    default:
        // Other messages are not the view's.
        break;
    }
    --m_dispatchDepth;
}

void ViewCore::OnTimer(int id)
{
    // A timer inside a nested event loop is dropped; the next one comes 15 ms later.
    if (m_dispatchDepth > 0 && (id == MAIN_TICK_TIMER || id == STATUS_TIMER))
        return;
    ++m_dispatchDepth;
    switch (id) {
    case MAIN_TICK_TIMER:
        m_tick.OnMainTick();
        break;
    case STATUS_TIMER:
        m_status.OnStatusTimer();
        if (StatusTicked)
            StatusTicked();
        break;
    case TIMELAPSE_TIMER:
        m_tick.OnTimeLapseTimer();
        m_snapshots.OnTimeLapseTimer(1);
        break;
    case PTZ_STEP_TIMER:
        m_ptz.OnPtzStepTimer();
        break;
    case RESTART_TIMER:
        m_run.OnRestartTimer();
        break;
    case FIRST_FRAME_TIMER:
        m_run.OnFirstFrameTimer();
        break;
    default:
        break;
    }
    --m_dispatchDepth;
}

void ViewCore::ShowFiltersBalloon()
{
    const DeviceConfig &config = m_settings.Config;
    std::string text = "\nVideo: "
        + (config.UseWmProfile == 0 ? config.CodecName : config.WmProfilePath) + "\nAudio: "
        + (config.RecordAudio ? config.AudioDevice + " + " + config.AudioInput
                              : std::string("<not enabled>"))
        + "\n";
    if (m_graph.IsBuilt())
        text += m_view.FrameRateText;
    m_shell.ShowBalloon({ "Video and Audio Filters in Use", text, 32516, 0x0540, 5000 });
}

void ViewCore::OpenTimedZones()
{
    if (!m_zonesWindow)
        m_zonesWindow = m_dialogs.MakeTimedZones(m_zones);
    m_zonesWindow->Show();
}

void ViewCore::ChangeVideoDevice(bool announce)
{
    m_run.ChangeVideoDevice(announce);
    // Camera 4's pan/tilt/zoom address has no place in the device file.
    ReadPtzAddress4(m_profile, m_settings.Config);
}

void ViewCore::RunConfigurationCommand()
{
    ConfigEnvironment environment { m_graph, m_remote, {}, {}, {} };
    environment.SendTestMail
        = [this](const TestMailValues &values) { m_mailer.SendTestMail(values); };
    environment.RunCredentials = RunCredentials;
    m_dialogs.RunConfiguration(m_context, environment);
    m_run.OnDialogClosed();
}

void ViewCore::PickDevice(int id)
{
    m_view.PreviousDeviceCommandId = m_view.DeviceCommandId;
    m_view.DeviceCommandId = id;
    if (m_run.OpenNextVideoDevice() == BuildResult::Ok)
        ChangeVideoDevice(true);
}

void ViewCore::OnCommand(int id)
{
    if (!IsCommandEnabled(id))
        return;
    switch (id) {
    case Cmd::Start:
        m_run.OnStartCommand();
        break;
    case Cmd::Stop:
        m_run.OnStopCommand();
        break;
    case Cmd::ShowFilters:
        m_sink.PostMessage(WM_SHOW_FILTERS);
        break;
    case Cmd::VideoFormat:
        m_pages->ShowVideoFormatPage();
        break;
    case Cmd::VideoCrossbar:
        m_pages->ShowCrossbarPage(false);
        break;
    case Cmd::VideoSettings:
        m_pages->ShowVideoCapturePage(false);
        break;
    case Cmd::TvTuner:
        m_pages->ShowTvTunerPage(false);
        break;
    case Cmd::AudioRecording:
        m_pages->ChooseAudioInput();
        break;
    case Cmd::Review:
        m_review.ToggleReviewMode();
        break;
    case Cmd::Configuration:
        RunConfigurationCommand();
        break;
    case Cmd::TimedZones:
        OpenTimedZones();
        break;
    case Cmd::VideoCompression:
        m_dialogs.ChooseVideoCodec(m_context, m_graph);
        m_run.OnDialogClosed();
        break;
    case Cmd::PlayVideo:
        m_dialogs.PlayVideo(m_view.VideoFolder, m_graph.RecordFile(), m_notifier);
        break;
    case Cmd::AlwaysOnTop:
        m_view.Startup.WindowOnTop = !m_view.Startup.WindowOnTop;
        m_shell.UpdateLayout(0, 0);
        break;
    default:
        if (id >= Cmd::Device1 && id <= Cmd::Device4)
            PickDevice(id);
        else if (id >= Cmd::Camera1 && id <= Cmd::Camera4)
            m_sink.PostMessage(WM_CAMERA_SETTINGS, uintptr_t(id));
        break;
    }
}

CommandState ViewCore::CurrentCommandState() const
{
    CommandState state;
    state.idle = m_view.Idle;
    state.device = !m_view.VideoDeviceNames[0].empty() || !m_view.VideoDeviceNames[1].empty();
    state.ready = m_view.DeviceReady;
    state.tvMode = m_engine.TvMode != 0;
    state.reviewMode = m_engine.ReviewMode != 0;
    state.audioDevice = m_view.AudioDevicePresent;
    state.camSettingsOpen = m_view.CamSettingsOpen;
    state.timedZonesOpen = m_view.TimedZonesOpen;
    state.cameraCount = m_engine.CameraCount;
    for (size_t i = 0; i < state.deviceSlots.size(); ++i)
        state.deviceSlots[i] = !m_view.VideoDeviceNames[i].empty();
    state.deviceCommandId = m_view.DeviceCommandId;
    state.windowOnTop = m_view.Startup.WindowOnTop != 0;
    return state;
}

bool ViewCore::HasCrossbar() const
{
    return m_pages->HasCrossbar();
}

bool ViewCore::HasTvTuner() const
{
    return m_pages->HasTvTuner();
}

bool ViewCore::HasVideoSettingsPage() const
{
    return m_pages->HasVideoSettingsPage();
}

bool ViewCore::IsCommandEnabled(int id) const
{
    return !ViewCommandDisabled(id, CurrentCommandState());
}

void ViewCore::OnLButtonDown(int x, int y)
{
    m_ptz.OnLButtonDown(x, y);
    m_zones.OnLButtonDown(x, y);
}

bool ViewCore::IsCommandChecked(int id) const
{
    return ViewCommandChecked(id, CurrentCommandState());
}

namespace {

// What the production graph works with: the system's devices and the motion detector.
struct GraphDevices
{
    explicit GraphDevices(EngineState &engine) : grabber(engine) { }
    SystemDeviceEnumerator enumerator;
    CaptureDevices devices { enumerator };
    CMotionGrabber grabber;
};

class ServerCaptureGraph : private GraphDevices, public CaptureGraph
{
public:
    explicit ServerCaptureGraph(ServerContext &context)
        : GraphDevices(context.engine), CaptureGraph(context, devices, grabber)
    { }
};

} // namespace

std::unique_ptr<ICaptureGraph> MakeCaptureGraph(ServerContext &context)
{
    return std::make_unique<ServerCaptureGraph>(context);
}

void ViewCore::OnClose()
{
    m_view.ShuttingDown = true;
    m_timers->KillAll();
    m_run.OnStopCommand();
    m_engine.KeepDeviceFilter = 0;
    m_graph.TearDownGraph();
}

void ViewCore::OnDestroy()
{
    m_engine.KeepDeviceFilter = 0;
    m_graph.TearDownGraph();
    SaveDeviceSettings(m_context);
    m_recycler.Stop();
    m_engine.ViewWindow = nullptr;
}

void ViewCore::OnServiceClose()
{
    SaveDeviceSettings(m_context);
    m_run.OnStopCommand();
    m_engine.KeepDeviceFilter = 0;
    m_graph.TearDownGraph();
    m_shell.SetPaneText(kPaneState, "SvcClose");
}

} // namespace vorlund
