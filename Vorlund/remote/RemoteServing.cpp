#include "RemoteServing.h"

#include "DeviceSettings.h"

#include <algorithm>
#include <cstdio>

namespace vorlund {

namespace {

constexpr size_t kMaxCredential = 51;
constexpr size_t kMaxRelayHost = 27;

} // namespace

RemoteServing::RemoteServing(ServerContext &context, ICameraSwitch &cameras, IPtzControl &ptz,
                             ILinkFactory &links)
    : m_context(context), m_cameras(cameras), m_ptz(ptz), m_links(links)
{ }

RemoteServing::~RemoteServing() = default;

void RemoteServing::ApplyRemoteMode()
{
    const DeviceConfig &config = m_context.settings.Config;
    // Applying the settings switches a refused relay back on.
    m_relayOn = true;
    if (!config.Block.RemoteEnabled) {
        m_directStarted = false;
        m_direct.reset();
        m_relay.reset();
        return;
    }
    if (config.RemoteMode == 1) {
        m_relay.reset();
        if (!m_direct) {
            m_direct = m_links.MakeDirect();
            m_directStarted = false;
        }
    } else {
        m_directStarted = false;
        m_direct.reset();
        if (!m_relay)
            m_relay = m_links.MakeRelay(m_context.sink);
    }
}

LinkStart RemoteServing::MakeStart() const
{
    const DeviceConfig &config = m_context.settings.Config;
    LinkStart start;
    start.password = config.RemotePassword;
    start.cameraPriority = config.Block.CameraOnePriority != 0;
    start.port = config.Block.RemotePort;
    start.width = m_header.width;
    start.height = m_header.height;
    start.cameras = m_header.cameraCount;
    for (int c = 1; c <= kMaxCameras; ++c)
        start.ptzCameras[size_t(c - 1)] = config.PtzCamera[c] ? 1 : 0;
    return start;
}

void RemoteServing::StartListening(const RemoteHeader &header)
{
    m_header = header;
    const LinkStart start = MakeStart();
    if (m_listening && m_directStarted && start == m_started)
        return;
    m_listening = true;
    m_started = start;
    m_directStarted = m_direct && m_direct->StartListening(start);
}

void RemoteServing::StopListening()
{
    m_listening = false;
    m_directStarted = false;
    if (m_direct)
        m_direct->StopListening();
    if (m_relay)
        m_relay->StopConnection();
    // The next start looks the relay up again.
    m_relayHost.clear();
}

void RemoteServing::ResetStillCounters()
{
    const auto &counts = m_context.settings.Config.Block.SnapshotCount;
    for (Viewer &viewer : m_viewers)
        for (int c = 1; c <= kMaxCameras; ++c)
            viewer.numbers[c] = counts[c];
}

int RemoteServing::DirectViewerCount() const
{
    return m_direct ? m_direct->GotConnection() : 0;
}

IRemoteLink::RelayState RemoteServing::GetRelayState() const
{
    if (!m_relay)
        return RelayState::NoRelay;
    if (m_relay->LoginState() == 1)
        return RelayState::LoggingIn;
    if (m_relay->GotPeer() == 2)
        return RelayState::PeerLinked;
    return m_relay->GotDirector() ? RelayState::Online : RelayState::Offline;
}

std::optional<std::string> RemoteServing::TakeRelayError()
{
    if (!m_relay || !m_relay->ErrorFlag() || m_relay->Status() == 0)
        return std::nullopt;
    m_relay->StopConnection();
    m_relay->ClearErrorFlag();
    return m_relay->ErrorText();
}

void RemoteServing::KeepRelayAlive()
{
    if (!m_relay)
        return;
    if (m_relay->GotDirector() == 0)
        ConnectRelay();
    else
        m_relay->pingDirector();
}

void RemoteServing::ConnectRelay()
{
    DeviceConfig &config = m_context.settings.Config;
    if (!m_relayOn)
        return;
    if (config.RelayLogin.empty()) {
        // The credentials dialog never blocks the tick and never opens twice.
        if (m_askingCredentials)
            return;
        if (!AskCredentials) {
            m_relayOn = false;
            return;
        }
        m_askingCredentials = true;
        AskCredentials(config.RelayLogin, config.RelayPassword,
                       [this](bool ok, std::string login, std::string password) {
                           m_askingCredentials = false;
                           if (!ok) {
                               m_relayOn = false;
                               return;
                           }
                           DeviceConfig &c = m_context.settings.Config;
                           c.RelayLogin = login.substr(0, kMaxCredential);
                           c.RelayPassword = password.substr(0, kMaxCredential);
                           if (!c.RelayLogin.empty())
                               ConnectRelay();
                       });
        return;
    }
    if (m_relayHost.empty() && m_relay && m_relay->AddressReady()) {
        const std::string address = m_relay->Address();
        if (address.size() <= kMaxRelayHost)
            m_relayHost = address;
    }
    if (!m_relay)
        return;
    if (!m_relay->AddressReady()) {
        m_relay->GetHTTPData();
        return;
    }
    m_relay->StartConnection(MakeStart(), config.RelayLogin, config.RelayPassword, m_relayHost);
}

void RemoteServing::OnRelayResume()
{
    m_throttle = kThrottle;
    m_pending = 0;
}

void RemoteServing::InvalidCamera(const std::string &text)
{
    // A hostile or confused viewer must not stack boxes: logged, shown once at a time.
    m_context.log.AppendErrorLog(text);
    m_context.notifier.ShowMessage(text, kPlainCaption);
}

void RemoteServing::SendFrame(IViewerLink &link, int source, int label)
{
    EngineState &e = m_context.engine;
    // A frame already encoded for this viewer goes again as it is: a viewer asks faster than
    // the camera delivers.
    FrameTag tag { source, IsCamera(source) ? e.LiveFrameSerial[source].load() : 0 };
    if (IsCamera(source) && link.ResendImageOut(tag, label))
        return;
    // A new one is read where the detector left it: the slot stays ours until it is encoded.
    const size_t length = size_t(std::clamp<int32_t>(e.FrameLength, 0, int32_t(kFrameBufferSize)));
    const LiveFrameLoan frame = e.BorrowLiveFrame(source, length);
    tag.serial = frame.Serial();
    link.SendTaggedImageOut(frame.Data(), frame.Size(), label, tag);
}

void RemoteServing::SendLive(IViewerLink &link, int camera)
{
    SendFrame(link, camera, camera);
}

void RemoteServing::SendNoPicture(IViewerLink &link)
{
    // Camera 1's live frame labelled 0: no stored picture.
    SendFrame(link, 1, 0);
}

void RemoteServing::SendStored(IViewerLink &link, int viewer, int camera, char step, bool relay)
{
    const DeviceConfig &config = m_context.settings.Config;
    const int32_t limit = std::max<int32_t>(config.Block.SnapshotLimit, 1);
    const int32_t newest = config.Block.SnapshotCount[camera];
    Viewer &v = m_viewers[size_t(viewer)];
    if (v.state != 2) {
        for (int c = 1; c <= kMaxCameras; ++c)
            v.numbers[c] = config.Block.SnapshotCount[c];
        v.state = 2;
    }
    int32_t &n = v.numbers[camera];
    switch (step) {
    case '-':
        --n;
        break;
    case '+':
        ++n;
        break;
    case '=':
        n = newest;
        break;
    case '(':
        if (relay)
            n -= 10;
        break;
    case ')':
        if (relay)
            n += 10;
        break;
    default:
        break;
    }
    if (n > limit)
        n = 1;
    if (n < 1)
        n = limit;
    for (int probe = 1; probe <= 5; ++probe) {
        char name[32];
        std::snprintf(name, sizeof name, "p%03d.jpg", int(n));
        const std::filesystem::path path
            = m_context.view.VideoFolder / ("cam" + std::to_string(camera)) / name;
        std::error_code ec;
        if (std::filesystem::is_regular_file(path, ec)) {
            link.SendStillOut(path.string());
            return;
        }
        if (newest < 1)
            break;
        if (n > newest)
            n = step == '-' ? newest : 1;
        else
            n = std::max(n - 1, 0);
    }
    SendNoPicture(link);
}

bool RemoteServing::Control(int8_t value)
{
    EngineState &e = m_context.engine;
    if (value < 0) {
        if (value >= -4)
            SelectCamera(-value);
        return true;
    }
    const int selected = e.SelectedCamera;
    if (!IsCamera(selected) || !m_context.settings.Config.PtzCamera[selected])
        return false;
    if (m_ptzSavedEnable < 0) {
        m_ptzSavedEnable = e.MotionEnabled[selected];
        e.MotionEnabled[selected] = 0;
    }
    if (value == 0 && m_ptzSavedEnable >= 0) {
        e.MotionEnabled[selected] = uint8_t(m_ptzSavedEnable);
        e.SuppressCount = 15;
        m_ptzSavedEnable = -1;
    }
    m_ptz.SendPtzCommand(value);
    return true;
}

bool RemoteServing::Serve(IViewerLink &link, int camera, bool relay)
{
    EngineState &e = m_context.engine;
    uint8_t buffer[2] = { 0, 0 };
    const int8_t code = link.CheckRequestQueue(buffer, sizeof buffer);
    const int viewer = buffer[0];
    if (code >= 1 && code <= 32) {
        if (relay) {
            const bool armed = e.MotionEnabled[1] && (e.RecordOnMotion[1] || e.SnapOnMotion[1]);
            if (armed && camera == 0) {
                const int before = m_throttle--;
                if (before < 1) {
                    // Held back; the relay offers it again and WM_RELAY_RESUME frees it.
                    m_throttle = 0;
                    if (m_pending == 0)
                        m_pending = code;
                    return true;
                }
            } else if (armed) {
                m_throttle = kThrottle;
            }
            m_pending = 0;
        }
        const int send = camera != 0 ? camera : code;
        if (IsCamera(send) && (viewer == 0 || viewer == 1)) {
            SendLive(link, send);
        } else if (viewer == 0 || viewer == 1) {
            char text[64];
            if (relay)
                std::snprintf(text, sizeof text, "Invalid cam request. %d %d", send, int(code));
            else
                std::snprintf(text, sizeof text, "Invalid cam request. err1");
            InvalidCamera(text);
            SendNoPicture(link);
        } else {
            SendNoPicture(link);
        }
        e.LiveFramePending.Sent();
        if (viewer == 0 || viewer == 1)
            m_viewers[size_t(viewer)].state = 1;
        return true;
    }
    if (code >= 33) {
        if (relay) {
            m_throttle = kThrottle;
            m_pending = 0;
        }
        // Only viewers 0 and 1 and cameras 1..4 have records.
        if (code > 36 || (viewer != 0 && viewer != 1))
            SendNoPicture(link);
        else
            SendStored(link, viewer, code - 32, char(buffer[1]), relay);
        return true;
    }
    if (code == -1)
        return Control(int8_t(buffer[1]));
    return true;
}

void RemoteServing::ServeRemoteRequests(int camera)
{
    if (m_direct && m_direct->GotConnection()) {
        if (!Serve(*m_direct, camera, false))
            return;
    }
    if (m_relay && m_relay->GotConnection()) {
        int32_t x = 0, y = 0, zoom = 0;
        if (m_relay->CheckPTZQueue(x, y, zoom))
            m_ptz.StartPtzMove(x, y, zoom);
        Serve(*m_relay, camera, true);
    }
}

void RemoteServing::SelectCamera(int n)
{
    EngineState &e = m_context.engine;
    DeviceConfig &config = m_context.settings.Config;
    const int count = e.CameraCount;
    const bool ptzCamera = IsCamera(n) && config.PtzCamera[n];
    if (!IsCamera(n) || !((n <= count && count > 1) || ptzCamera))
        return;
    e.CycleCount = count;
    if (n == e.SelectedCamera) {
        e.SelectedCamera = 0;
        // Only a settle time that was saved comes back.
        if (const uint32_t saved = e.SavedSettleTime.exchange(0); saved != 0)
            e.SettleTime = saved;
    } else {
        // Frames of the old input are not scored as the new camera.
        e.SwitchBusy = 1;
        e.SwitchTime = m_context.clock.TickCount();
        m_cameras.SwitchCamera(n);
        e.SelectedCamera = n;
        e.CycleCount = 1;
        if (ptzCamera) {
            m_context.settings.Ptz.CurrentAddress = config.PtzAddress[n];
            if (m_direct && m_direct->GotConnection() == 0) {
                m_context.shell.SetPaneText(kPaneState, "Control");
                m_context.shell.SetPaneText(kPaneCamera, std::to_string(n));
            }
        }
        if (e.SettleTime > 90) {
            e.SavedSettleTime = e.SettleTime.load();
            e.SettleTime = 90;
        }
    }
    m_context.sound.PlaySound("clickerx.wav");
}

void RemoteServing::ReleaseSelectedCamera()
{
    EngineState &e = m_context.engine;
    const int selected = e.SelectedCamera;
    if (IsCamera(selected) && m_ptzSavedEnable >= 0) {
        e.MotionEnabled[selected] = uint8_t(m_ptzSavedEnable);
        m_ptzSavedEnable = -1;
    }
    if (IsCamera(selected))
        SelectCamera(selected);
}

} // namespace vorlund
