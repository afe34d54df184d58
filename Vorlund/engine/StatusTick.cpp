#include "StatusTick.h"

#include "DeviceSettings.h"

#include <algorithm>
#include <cstdio>

namespace vorlund {

namespace {

constexpr int kIconError = 32513;
constexpr int kIconWarning = 32515;
constexpr uint32_t kRelayRetryTicks = 400;
constexpr int kNoSignalTicks = 59;
constexpr std::string_view kNoCodec = "(None)";
constexpr std::string_view kCodecNotice
    = "Be advised your video compression(Codec) setting is '(None)'. "
      "When this setting is used, even a few minutes of live video "
      "can fill a computer's hard-drive. "
      "Please choose a compression filter from the Video Codecs menu. "
      "You can test different filters, and note that some will produce "
      "better results than others. For example, MPEG-4 offers the best "
      "quality and uses very little disk space. ";

bool DirectorReached(IRemoteLink::RelayState relay)
{
    return relay == IRemoteLink::RelayState::Online || relay == IRemoteLink::RelayState::PeerLinked;
}

} // namespace

StatusTick::StatusTick(ServerContext &context, IRemoteLink &remote, IPtzControl &ptz,
                       IDiskGuard &disk)
    : m_context(context), m_remote(remote), m_ptz(ptz), m_disk(disk)
{ }

void StatusTick::ResetForStart()
{
    m_noSignalCount = 0;
}

void StatusTick::SetPane(int pane, std::string text)
{
    m_context.shell.SetPaneText(pane, text);
    (pane == kPaneState ? m_stateText : m_cameraText) = std::move(text);
}

void StatusTick::OnStatusTimer()
{
    StatePane();
    RelayReconnect();
    ViewState &view = m_context.view;
    if (view.ToolbarChanged || view.StatusBarChanged) {
        m_context.shell.UpdateLayout(0, 0);
        view.ToolbarChanged = false;
        view.StatusBarChanged = false;
    }
    CodecWarning();
    m_disk.GuardDiskSpace();
    FreshVideo();
}

void StatusTick::StatePane()
{
    const EngineState &e = m_context.engine;
    if (e.DialogCamera) {
        SetPane(kPaneState, "Adjust");
        return;
    }
    if (e.CalibrationMode) {
        SetPane(kPaneState, "cal");
        return;
    }
    if (const int viewers = m_remote.DirectViewerCount(); viewers > 0) {
        if (viewers > m_lastViewerCount)
            m_context.sound.PlaySound("connect.wav");
        m_lastViewerCount = viewers;
        if (!e.ReviewMode)
            SetPane(kPaneState, std::to_string(viewers) + "-Remote");
        return;
    }
    const IRemoteLink::RelayState relay = m_remote.GetRelayState();
    ViewersLeft(relay);
    if (e.ReviewMode)
        return;
    LinkOrRecordingState(relay);
    const int32_t slow = e.SlowCounter;
    if (slow > 900 && slow < 1000)
        m_context.view.RestartMark = false;
}

void StatusTick::ViewersLeft(IRemoteLink::RelayState relay)
{
    // Departure is read from the links' own counts, once per departure, for either link.
    const bool left = m_lastViewerCount > 0
        || (m_relayPeerLinked && relay != IRemoteLink::RelayState::PeerLinked);
    m_lastViewerCount = 0;
    m_relayPeerLinked = relay == IRemoteLink::RelayState::PeerLinked;
    if (!left)
        return;
    EngineState &e = m_context.engine;
    if (m_context.settings.Ptz.AnyCamera) {
        m_ptz.SendHomeCommand();
        e.SuppressCount = 20;
    }
    if (e.SelectedCamera != 0)
        m_remote.ReleaseSelectedCamera();
    m_context.sound.PlaySound("disconnect.wav");
}

void StatusTick::LinkOrRecordingState(IRemoteLink::RelayState relay)
{
    const EngineState &e = m_context.engine;
    const DeviceConfig &config = m_context.settings.Config;
    const ViewState &view = m_context.view;
    using Relay = IRemoteLink::RelayState;

    if (DirectorReached(relay)) {
        SetPane(kPaneState, relay == Relay::PeerLinked ? "Remote" : "Online");
        return;
    }
    if (relay == Relay::LoggingIn) {
        SetPane(kPaneState, "Login");
        return;
    }
    if (relay != Relay::NoRelay) {
        if (std::optional<std::string> error = m_remote.TakeRelayError()) {
            BalloonRequest balloon;
            balloon.title = "Network Error";
            balloon.text = std::move(*error);
            balloon.icon = kIconError;
            balloon.milliseconds = 10000;
            m_context.shell.ShowBalloon(balloon);
            return;
        }
    }
    if (config.ContinuousRecord) {
        SetPane(kPaneState, "ConRec");
        SetPane(kPaneCamera, e.GateOpen ? "R" : "-");
        return;
    }
    if (e.TvMode && (config.TvRecord || view.TvTimerSet)) {
        SetPane(kPaneState, "TVRec");
        if (e.GateOpen) {
            if (m_cameraText != "R") {
                BalloonRequest balloon;
                balloon.title = "Reminder";
                balloon.text = "TV is now Recording.\n\n";
                balloon.milliseconds = 4500;
                m_context.shell.ShowBalloon(balloon);
            }
            SetPane(kPaneCamera, "R");
        } else {
            SetPane(kPaneCamera, view.TvTimerSet ? "r" : "-");
        }
        return;
    }
    if (m_stateText == "Online")
        m_relayLost = true;
    SetPane(kPaneState, e.TvMode ? "TV" : "Detect");
    if (m_cameraText == "R" || m_cameraText == "r")
        SetPane(kPaneCamera, "-");
}

void StatusTick::RelayReconnect()
{
    if (!m_relayLost)
        return;
    if (m_relayLostTicks++ <= kRelayRetryTicks)
        return;
    m_relayLostTicks = 0;
    m_relayLost = false;
    const IRemoteLink::RelayState relay = m_remote.GetRelayState();
    if (relay != IRemoteLink::RelayState::NoRelay && !DirectorReached(relay)
        && m_context.engine.SlowCounter < 10000)
        m_remote.ConnectRelay();
}

void StatusTick::CodecWarning()
{
    const EngineState &e = m_context.engine;
    const int32_t slow = e.SlowCounter;
    if (m_context.settings.Config.CodecName == kNoCodec && e.SuppressCount != 0 && !m_noticeOpen
        && slow > 50 && slow < 200 && e.MotionEnabled[1] && e.RecordOnMotion[1]) {
        m_context.shell.ShowNotice(kCodecNotice);
        m_noticeOpen = true;
    }
    if (m_noticeOpen && slow > 3000) {
        m_context.shell.CloseNotice();
        m_noticeOpen = false;
    }
}

void StatusTick::FreshVideo()
{
    EngineState &e = m_context.engine;
    const int cameras = std::min<int>(e.CameraCount, kMaxCameras);
    // A window no one can see is not repainted: converting the tile would be wasted. The
    // fresh mark is taken here instead of by the painting, so a lost signal is still noticed.
    const bool shown = m_context.shell.IsShown();
    bool fresh = false;
    for (int c = 1; c <= cameras; ++c) {
        if (e.FreshFrame[c]) {
            if (shown)
                m_context.shell.Repaint(c);
            else
                e.FreshFrame[c] = 0;
            fresh = true;
        }
    }
    if (fresh) {
        m_noSignalCount = 0;
        m_noSignalShown = false;
        return;
    }
    if (m_context.view.Idle || e.ReviewMode || m_noSignalShown)
        return;
    if (++m_noSignalCount <= kNoSignalTicks)
        return;
    m_noSignalShown = true;
    const LocalDateTime now = m_context.clock.Now();
    char stamp[40];
    std::snprintf(stamp, sizeof stamp, "%02d-%02d-%04d %02d:%02d:%02d", now.month, now.day,
                  now.year, now.hour, now.minute, now.second);
    BalloonRequest balloon;
    balloon.title = "No Video Signal";
    balloon.text = std::string("Check camera, cables, and power... \n\n") + stamp;
    balloon.icon = kIconWarning;
    balloon.milliseconds = 5000;
    m_context.shell.ShowBalloon(balloon);
}

} // namespace vorlund
