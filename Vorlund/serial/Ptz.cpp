#include "Ptz.h"

#include "DeviceSettings.h"

#include <Qt>

#include <algorithm>
#include <cstdlib>

namespace vorlund {

namespace {

constexpr uint8_t kSync = 0xFF;
constexpr uint8_t kStartSpeed = 50;
constexpr uint8_t kMaxPanSpeed = 63;
constexpr uint8_t kSpeedStep = 10;
constexpr uint8_t kPageSpeedStep = 5;
constexpr int64_t kFineZoomTotal = 1300;
constexpr int kClickSlop = 5;

bool Contains(const GridRect &r, int x, int y)
{
    return x >= r.left && x < r.right && y >= r.top && y < r.bottom;
}

} // namespace

int PtzKeyFromQt(int qtKey)
{
    if ((qtKey >= '0' && qtKey <= '9') || (qtKey >= 'A' && qtKey <= 'Z'))
        return qtKey;
    switch (qtKey) {
    case Qt::Key_PageUp:
        return PtzKey::PageUp;
    case Qt::Key_PageDown:
        return PtzKey::PageDown;
    case Qt::Key_Home:
        return PtzKey::Home;
    case Qt::Key_Left:
        return PtzKey::Left;
    case Qt::Key_Up:
        return PtzKey::Up;
    case Qt::Key_Right:
        return PtzKey::Right;
    case Qt::Key_Down:
        return PtzKey::Down;
    case Qt::Key_Select:
        return PtzKey::Select;
    case Qt::Key_Insert:
        return PtzKey::Insert;
    case Qt::Key_Delete:
        return PtzKey::Delete;
    default:
        return 0;
    }
}

PtzFrame BuildPtzFrame(uint8_t address, int code, PtzSpeeds speeds, PtzSpecial special)
{
    PtzFrame f {};
    f[0] = kSync;
    f[1] = address;
    if (code < 0) {
        f[3] = special.command1;
        f[5] = special.command2;
    } else {
        f[2] = code == kPtzFocusNear ? 0x01 : 0x00;
        f[3] = code == kPtzFocusNear ? 0x00 : uint8_t(code);
        f[4] = speeds.pan;
        f[5] = speeds.tilt;
    }
    f[6] = uint8_t(f[1] + f[2] + f[3] + f[4] + f[5]);
    return f;
}

void FollowUpSpeeds(int code, PtzSpeeds &speeds)
{
    // The special frame's low byte has every bit set, so it lands on the zoom-in rule.
    const uint8_t low = uint8_t(code);
    for (uint8_t *speed : { &speeds.pan, &speeds.tilt }) {
        if (low & kPtzZoomIn) {
            if (*speed > 15)
                *speed -= kSpeedStep;
        } else if (low & kPtzZoomOut) {
            if (*speed < 45)
                *speed += kSpeedStep;
        }
    }
}

PtzPlan PlanPtzMove(int x, int y, int zoom, int64_t zoomTotal)
{
    x = std::clamp(x, -kMaxPtzOffset, kMaxPtzOffset);
    y = std::clamp(y, -kMaxPtzOffset, kMaxPtzOffset);
    // A rectangle wider than the picture asks for no zoom, not for a negative one.
    zoom = std::clamp(zoom, 0, kMaxPtzOffset);
    const uint32_t factor = zoomTotal <= kFineZoomTotal ? 5 : 2;
    PtzPlan plan;
    plan.commands = { y > 0 ? kPtzDown : kPtzUp, x > 0 ? kPtzRight : kPtzLeft, kPtzZoomIn };
    plan.durations = { uint32_t(std::abs(y)) * factor, uint32_t(std::abs(x)) * factor,
                       std::max<uint32_t>(uint32_t(zoom) * 5, 1) };
    plan.zoomAdded = int64_t(zoom) * 5;
    return plan;
}

GridPoint DragCorner(GridPoint press, GridPoint current)
{
    const int dx = std::abs(current.x - press.x);
    const int dy = std::abs(current.y - press.y);
    if (dy < dx)
        return { current.x, press.y + 3 * dx / 4 };
    return { press.x + 4 * dy / 3, current.y };
}

PtzMove DragToMove(GridPoint press, GridPoint corner, const GridRect &tile)
{
    // Measured inside the camera's own tile, so the cameras of a quad view move alike.
    const int w = tile.right - tile.left;
    const int h = tile.bottom - tile.top;
    const int x1 = press.x - tile.left;
    const int y1 = press.y - tile.top;
    const int width = corner.x - press.x;
    const int height = corner.y - press.y;
    return { x1 + width / 2 - w / 2, y1 + height / 2 - h / 2, w - std::abs(width) };
}

Ptz::Ptz(ServerContext &context, ISerialLine &port, IDevicePages &pages, IRemoteLink &remote)
    : m_context(context), m_port(port), m_pages(pages), m_remote(remote)
{ }

bool Ptz::ControlOn() const
{
    return m_context.settings.Ptz.AnyCamera;
}

bool Ptz::SelectedIsPtz() const
{
    const int camera = m_context.engine.SelectedCamera;
    return IsCamera(camera) && m_context.settings.Ptz.CameraFlags[camera] != 0;
}

GridRect Ptz::Tile(int camera) const
{
    return IsCamera(camera) ? m_context.view.Grid.tiles[camera] : GridRect {};
}

void Ptz::Fail(const std::string &text, const std::string &detail, Origin origin)
{
    m_context.log.AppendErrorLog(detail.empty() ? text : text + " (" + detail + ")");
    // Only someone at the keyboard gets a box; a viewer's or a timer's command is logged.
    if (origin != Origin::Key || m_failureShown)
        return;
    m_failureShown = true;
    m_context.notifier.ShowMessage(text, kPlainCaption);
}

bool Ptz::WriteFrame(const PtzFrame &frame, Origin origin)
{
    const DeviceConfig &config = m_context.settings.Config;
    const std::string name = ComPortName(config.PtzComPort);
    std::string error;
    if (!m_port.Open(name, error)) {
        Fail("Unable to open PTZ comport: " + name, error, origin);
        return false;
    }
    if (!m_port.SetLine(config.PtzBaud)) {
        m_port.Close();
        Fail("Comm Port not ready!", name, origin);
        return false;
    }
    m_port.Purge();
    const bool written = m_port.WriteBytes(frame.data(), frame.size());
    m_port.Close();
    if (!written) {
        Fail("PTZ command not sent: " + name, {}, origin);
        return false;
    }
    m_failureShown = false;
    return true;
}

void Ptz::SuspendDetection(int code, bool sent)
{
    EngineState &e = m_context.engine;
    if (code > 0) {
        if (!sent)
            return;
        for (int c = 1; c <= kMaxCameras; ++c)
            e.MotionEnabled[c] = 0;
        // A new move cancels the restore a previous stop planned.
        e.PtzStopped = 0;
        return;
    }
    if (code < 0 && sent) {
        for (int c = 1; c <= kMaxCameras; ++c)
            e.MotionEnabled[c] = 0;
    }
    // Detection comes back after a stop even when the stop could not be sent.
    e.PtzStopTime = m_context.clock.TickCount();
    e.PtzStopped = 1;
}

bool Ptz::Send(int code, Origin origin)
{
    if (!ControlOn() || code < kPtzSpecial || code > 0xFF)
        return false;
    PtzSpeeds speeds = m_speeds;
    if (code == kPtzSpecial)
        speeds = { kStartSpeed, kStartSpeed };
    const bool sent = WriteFrame(
        BuildPtzFrame(m_context.settings.Ptz.CurrentAddress, code, speeds, m_special), origin);
    if (sent) {
        FollowUpSpeeds(code, speeds);
        m_speeds = speeds;
    }
    SuspendDetection(code, sent);
    return sent;
}

bool Ptz::SendSpecial(PtzSpecial special, Origin origin)
{
    m_special = special;
    return Send(kPtzSpecial, origin);
}

void Ptz::SendHomeCommand()
{
    SendSpecial({ m_homeCommand, 1 }, Origin::Other);
}

void Ptz::SendPtzCommand(int code)
{
    Send(code, Origin::Other);
}

void Ptz::Box(const char *text)
{
    m_context.notifier.ShowMessage(text, kPlainCaption);
}

void Ptz::Press(uint8_t bit, uint8_t pair)
{
    if (m_bits & pair)
        return;
    m_bits |= bit;
    Send(m_bits, Origin::Key);
}

void Ptz::Release(uint8_t bit)
{
    if (!(m_bits & bit))
        return;
    m_bits &= uint8_t(~bit);
    Send(m_bits, Origin::Key);
}

void Ptz::OnKeyDown(int key, bool ctrl)
{
    if (key >= 'a' && key <= 'z')
        key -= 'a' - 'A';
    const EngineState &e = m_context.engine;
    const ViewState &view = m_context.view;
    switch (key) {
    case PtzKey::Left:
        return Press(kPtzLeft, kPtzLeft | kPtzRight);
    case PtzKey::Right:
        return Press(kPtzRight, kPtzLeft | kPtzRight);
    case PtzKey::Up:
        return Press(kPtzUp, kPtzUp | kPtzDown);
    case PtzKey::Down:
        return Press(kPtzDown, kPtzUp | kPtzDown);
    case PtzKey::Insert:
        return Press(kPtzZoomIn, kPtzZoomIn | kPtzZoomOut);
    case PtzKey::Delete:
        return Press(kPtzZoomOut, kPtzZoomIn | kPtzZoomOut);
    case '0':
    case PtzKey::Select:
        m_bits |= kPtzFocusFar;
        Send(m_bits, Origin::Key);
        return;
    case '9':
        m_bits = kPtzFocusNear;
        Send(kPtzFocusNear, Origin::Key);
        return;
    case '1':
    case PtzKey::PageUp:
        if (ctrl) {
            // The confirmation only when the camera was told.
            if (SendSpecial(kStorePreset1, Origin::Key))
                Box(" Position 1 Set ");
        } else {
            m_zoomTotal = 0;
            SendSpecial(kGoToPreset1, Origin::Key);
        }
        m_homeCommand = kGoToPreset1.command1;
        return;
    case '5':
        if (ctrl && SendSpecial(kStartPattern1, Origin::Key))
            Box(" Start Pattern 1\nThen CTRL-6 to Stop ");
        return;
    case '6':
        if (ctrl && SendSpecial(kStopPattern, Origin::Key))
            Box(" Stopped Pattern 1\nNow CTRL-7 to Run ");
        return;
    case '7':
        if (ctrl) {
            SendSpecial(kRunPattern1, Origin::Key);
            m_homeCommand = kRunPattern1.command1;
        }
        return;
    case 'F':
        m_context.sink.PostMessage(WM_SHOW_FILTERS);
        return;
    case 'M':
        m_context.sink.PostMessage(WM_CAMERA_SETTINGS, Cmd::Camera1);
        return;
    case 'S':
        m_pages.ShowVideoCapturePage(false);
        return;
    case 'T':
        if (view.HasTvTuner)
            m_pages.ShowTvTunerPage(false);
        return;
    case 'X':
        if (m_pages.HasCrossbar())
            m_pages.ShowCrossbarPage(false);
        return;
    case 'Z':
        if (view.DeviceReady && !view.Idle && !e.ReviewMode && !e.TvMode && RunCommand)
            RunCommand(Cmd::TimedZones);
        return;
    default:
        return;
    }
}

void Ptz::OnKeyUp(int key)
{
    switch (key) {
    case PtzKey::Left:
        return Release(kPtzLeft);
    case PtzKey::Up:
        return Release(kPtzUp);
    case PtzKey::Right:
        return Release(kPtzRight);
    case PtzKey::Down:
        return Release(kPtzDown);
    case PtzKey::Insert:
        return Release(kPtzZoomIn);
    case PtzKey::Delete:
        return Release(kPtzZoomOut);
    case '0':
        return Release(kPtzFocusFar);
    case '9':
        return Release(kPtzFocusNear);
    case PtzKey::Home:
        // A stop leaves no key held, so the next press moves again.
        m_bits = 0;
        Send(0, Origin::Key);
        return;
    case PtzKey::PageUp:
        m_speeds.pan = uint8_t(std::min(m_speeds.pan + kPageSpeedStep, int(kMaxPanSpeed)));
        return;
    case PtzKey::PageDown:
        m_speeds.pan = uint8_t(std::max(m_speeds.pan - kPageSpeedStep, 1));
        return;
    default:
        return;
    }
}

void Ptz::StartPtzMove(int x, int y, int zoom)
{
    if (!SelectedIsPtz() || m_context.engine.ReviewMode)
        return;
    StartPlan(x, y, zoom);
}

void Ptz::StartPlan(int x, int y, int zoom)
{
    m_plan = PlanPtzMove(x, y, zoom, m_zoomTotal);
    m_zoomTotal += m_plan.zoomAdded;
    Send(m_plan.commands[0], Origin::Other);
    m_context.timers.SetTimer(PTZ_STEP_TIMER, m_plan.durations[0]);
    m_step = 1;
}

void Ptz::OnPtzStepTimer()
{
    m_context.timers.KillTimer(PTZ_STEP_TIMER);
    if (m_step > 2) {
        Send(0, Origin::Other);
        return;
    }
    Send(m_plan.commands[m_step], Origin::Other);
    m_context.timers.SetTimer(PTZ_STEP_TIMER, m_plan.durations[m_step]);
    ++m_step;
}

void Ptz::OnLButtonDown(int x, int y)
{
    m_press = m_current = { x, y };
}

void Ptz::OnMouseMove(int x, int y, bool leftButtonDown)
{
    if (leftButtonDown && SelectedIsPtz() && Contains(Tile(m_context.engine.SelectedCamera), x, y))
        m_current = { x, y };
}

void Ptz::OnLButtonUp(int x, int y)
{
    const EngineState &e = m_context.engine;
    const ViewState &view = m_context.view;
    const bool editing
        = e.ZoneEditing || e.DialogCamera || view.TimedZonesOpen || view.CamSettingsOpen;
    const bool click = std::abs(x - m_press.x) < kClickSlop && std::abs(y - m_press.y) < kClickSlop;
    if (!editing && !view.Idle && !e.ReviewMode && click) {
        for (int camera = 1; camera <= kMaxCameras; ++camera) {
            if (Contains(Tile(camera), x, y)) {
                m_remote.SelectCamera(camera);
                break;
            }
        }
    } else if (SelectedIsPtz() && !e.ReviewMode) {
        const PtzMove move
            = DragToMove(m_press, DragCorner(m_press, m_current), Tile(e.SelectedCamera));
        StartPlan(move.x, move.y, move.zoom);
    }
    m_press = m_current = { x, y };
}

} // namespace vorlund
