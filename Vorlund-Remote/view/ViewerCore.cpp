#include "ViewerCore.h"
#include "ViewCommands.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace vorlund::viewer {

namespace {

constexpr char kMotionDet[] = "Motion Det";
constexpr char kLiveView[] = "Live view";

std::string Format(const char *format, double value)
{
    char text[32];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

} // namespace

std::string HostErrorText(intptr_t code)
{
    if (code == 1)
        return "Invalid logon credentials or host not logged on.\n\n"
               "Make sure Automatic mode is selected and Allow remote viewing\n"
               "is checked in Vorlund host. To do this select Configuration from\n"
               "the Vorlund main menu.\n";
    if (code == 2)
        return "Connection in use.\nPlease try again later.";
    return "Unknown error.";
}

ViewerCore::ViewerCore(IViewHost &host, INotifier &notifier, ILinkSink &sink, const IClock &clock,
                       ViewerSettings settings)
    : m_host(host), m_notifier(notifier), m_clock(clock), m_settings(std::move(settings)),
      m_frame(kCameraBitmapBytes), m_scratch(kCameraBitmapBytes)
{
    for (auto &bitmap : m_bitmaps)
        bitmap.assign(kCameraBitmapBytes, 0);
    m_connection = std::make_unique<CHostConnection>(sink, notifier, m_frame, m_settings.link);
    // Stored sizes are reachable ones; bound them all the same, the bitmaps depend on it.
    m_settings.imageWidth = std::clamp(m_settings.imageWidth, 1, kMaxImageWidth);
    m_settings.imageHeight = std::clamp(m_settings.imageHeight, 1, kMaxImageHeight);
    m_pendingSizeCode = m_settings.imageWidth / 10;
    m_currentQuality = m_savedQuality = m_settings.quality;
}

ViewerCore::~ViewerCore() = default;

void ViewerCore::SetStatus(const std::string &text)
{
    m_statusText = text;
    m_host.SetStatusText(text);
}

void ViewerCore::SetRate(const std::string &text)
{
    m_rateText = text;
    m_host.SetRateText(text);
}

void ViewerCore::OnLinkMessage(const LinkMessage &m)
{
    if (!m_connection->IsCurrentLink(m.link))
        return;
    switch (m.message) {
    case WM_FRAME_READY:
        OnFrameReady(m.wParam, m.lParam);
        break;
    case WM_HOST_READY:
        OnHostReady(m.host, false);
        break;
    case WM_LINK_CLOSED:
        if (m_lookupInProgress && !m_connection->LookedUpAddress().empty()) {
            m_connection->CloseLink();
            m_lookupDone = true;
        } else {
            OnHostDisconnect();
        }
        break;
    case WM_NEED_PASSWORD:
        OnNeedPassword(m.host);
        break;
    case WM_LINK_UP:
        m_linkUp = true;
        break;
    case WM_HOST_ERROR:
        ShowHostError(m.lParam);
        break;
    default:
        break;
    }
}

void ViewerCore::OnViewTick()
{
    if (m_lookupInProgress) {
        if (!m_lookupDone)
            return;
        m_lookupInProgress = m_lookupDone = false;
        OnStartConnect();
    }
    if (m_host.IsMinimised()) {
        if (m_minimisedCounter <= 400) {
            ++m_minimisedCounter;
            return;
        }
        m_minimisedCounter = 0;
    }
    m_host.SetQualityText(Format("Q%.0f", m_currentQuality));
    if (m_toolbarToggled) {
        const auto [w, h] = Extent();
        m_host.FitFrameToImages(w, h);
        m_toolbarToggled = false;
    }
    SendQueuedPtz();
    if (m_idleCounter++ > 350) {
        m_idleCounter = 50;
        m_connection->SendKeepAlive();
    }

    if (!m_slideShow && !m_reviewMode) {
        const uint32_t now = m_clock.TickCount();
        if (now - m_lastRateDisplay < 1000) {
            m_rateSum += m_lastFrameRate;
            ++m_rateTicks;
        } else {
            m_lastRateDisplay = now;
            // A second without a counted tick shows no rate.
            const double rate = m_rateTicks > 0 ? m_rateSum / m_rateTicks : 0.0;
            SetRate(Format(rate > 9.9 ? "%.0f" : "%.1f", rate));
            m_rateSum = 0.0;
            m_rateTicks = 0;
            m_lastFrameRate = 0.0;
        }
        if (m_idleCounter > 45 && !m_requestDue && m_ptzCamera == 0 && m_rateSum == 0.0) {
            SetStatus(kMotionDet);
        } else if (m_requestDue && m_ptzCamera == 0) {
            if (m_statusText == kMotionDet && m_settings.beep)
                m_host.Beep();
            SetStatus(kLiveView);
        }
    }

    if (!m_requestDue)
        return;
    m_idleCounter = 0;
    const int camera = ChooseCamera();
    m_currentCamera = camera;
    if (m_reviewRequested) {
        SwitchToReview();
    } else if (m_slideShow) {
        bool &started = m_slideStarted[size_t(camera - 1)];
        m_connection->RequestStoredFrame(uint8_t(camera), started ? kStepBack : kStepNewest);
        started = true;
        m_requestDue = false;
    } else {
        // A request still waiting in the send buffer: this one waits for the next tick.
        if (m_connection->PendingSendLength() > 0)
            return;
        m_connection->RequestLiveFrame(
            uint8_t(camera),
            uint8_t(m_pendingSizeCode != 0 ? m_pendingSizeCode : m_currentQuality));
        m_pendingSizeCode = 0;
        m_requestDue = false;
    }
}

int ViewerCore::ChooseCamera()
{
    if (m_cameraCount < 2)
        return 1;
    if (m_ptzCamera != 0)
        return m_ptzCamera;
    if (m_schemeA) {
        if (m_currentCamera == 1) {
            m_walkPosition = m_walkPosition >= 4 ? 2 : m_walkPosition + 1;
        } else {
            if (CameraOn(1))
                return 1;
            m_walkPosition = 2;
        }
        // One round over cameras 2-4 at most; with none of them on, camera 1.
        for (int tries = 0; tries < 3; ++tries) {
            if (CameraOn(m_walkPosition))
                return m_walkPosition;
            m_walkPosition = m_walkPosition >= 4 ? 2 : m_walkPosition + 1;
        }
        return 1;
    }
    int c = std::clamp(m_currentCamera, 1, 4);
    for (int tries = 0; tries < 4; ++tries) {
        if (c == 1 && CameraOn(2))
            return 2;
        if (c == 2 && CameraOn(3) && m_cameraCount > 2)
            return 3;
        if (c == 3 && CameraOn(4) && m_cameraCount > 3)
            return 4;
        if (c == 4 && CameraOn(1))
            return 1;
        c = c % 4 + 1;
    }
    return 1; // no camera on within the count
}

void ViewerCore::SwitchToReview()
{
    m_host.StopTick();
    m_reviewMode = true;
    m_reviewRequested = false;
    m_slideShow = false;
    m_host.SetSlideShowCommandText("&SlideShow");
    m_host.RepaintAll();
    SetStatus("Reviewing");
    SetRate("<");
    m_pendingSizeCode = m_settings.imageWidth / 10;
    if (m_cameraCount < 2) {
        m_reviewCamera = 1;
        m_currentCamera = 1;
        if (!m_reviewStarted[0]) {
            m_connection->RequestStoredFrame(1, kStepNewest);
            m_reviewStarted[0] = true;
            m_requestDue = false;
        }
    } else {
        m_currentCamera = m_reviewCamera;
    }
}

void ViewerCore::OnFrameReady(uintptr_t cameraByte, intptr_t length)
{
    const size_t bytes = length > 0 ? std::min(size_t(length), m_frame.size()) : 0;
    const BitmapView target { nullptr, m_settings.imageWidth, m_settings.imageHeight,
                              BitmapStride(m_settings.imageWidth) };
    // A camera byte outside 0-4 names no camera: the frame belongs to the one asked for.
    const int camera = cameraByte <= 4 ? int(cameraByte) : 0;
    if (camera != 0)
        m_currentCamera = camera;
    if (m_currentCamera >= 1 && m_currentCamera <= 4 && CameraOn(m_currentCamera)) {
        BitmapView out = target;
        out.data = m_bitmaps[size_t(m_currentCamera - 1)].data();
        if (!m_decoder.Decode({ m_frame.data(), bytes }, out)) {
            m_requestDue = true;
            return;
        }
        m_host.RepaintQuadrant(m_currentCamera);
    }
    const uint32_t now = m_clock.TickCount();
    const uint32_t elapsed = std::max<uint32_t>(now - m_lastFrameTime, 1);
    m_lastFrameRate = 1000.0 / elapsed;
    m_lastFrameTime = now;
    m_requestDue = true;
}

void ViewerCore::ApplyImageSize(int width, int height, int count)
{
    // The server's values, bounded: the bitmaps hold 640 x 480 and there are four cameras.
    const int oldWidth = m_settings.imageWidth, oldHeight = m_settings.imageHeight;
    m_settings.imageWidth = std::clamp(width, 1, kMaxImageWidth);
    m_settings.imageHeight = std::clamp(height, 1, kMaxImageHeight);
    if (m_settings.imageWidth != oldWidth || m_settings.imageHeight != oldHeight)
        RescaleBitmaps(oldWidth, oldHeight);
    m_cameraCount = std::clamp(count, 1, 4);
    // One camera leaves the others' flags as they are, for the next server with more.
    if (m_cameraCount == 1)
        m_settings.cameraOn[0] = true;
    else
        for (int c = m_cameraCount + 1; c <= 4; ++c)
            m_settings.cameraOn[size_t(c - 1)] = false;
    // Stored flags can leave no camera on within a smaller count.
    bool any = false;
    for (int c = 1; c <= m_cameraCount; ++c)
        any = any || CameraOn(c);
    if (!any)
        m_settings.cameraOn[0] = true;
}

// Every bitmap is laid out for the old size; a camera not asked for again (another one
// selected) would otherwise show sheared rows.
void ViewerCore::RescaleBitmaps(int oldWidth, int oldHeight)
{
    const BitmapView out { m_scratch.data(), m_settings.imageWidth, m_settings.imageHeight,
                           BitmapStride(m_settings.imageWidth) };
    const size_t bytes = size_t(out.stride) * size_t(out.height);
    for (auto &bitmap : m_bitmaps) {
        ResampleBgr(bitmap.data(), oldWidth, oldHeight, BitmapStride(oldWidth), out);
        std::memcpy(bitmap.data(), m_scratch.data(), bytes);
    }
}

void ViewerCore::OnHostReady(const HostInfo &info, bool keepPtzFlags)
{
    ApplyImageSize(info.width, info.height, info.cameraCount);
    if (!keepPtzFlags) {
        m_videoStandard = info.videoStandard;
        m_ptzFlags = info.ptzFlags;
        m_schemeA = info.rotationScheme;
    }
    const auto [w, h] = Extent();
    m_host.FitFrameToImages(w, h);
    m_requestDue = true;
}

void ViewerCore::OnNeedPassword(const HostInfo &info)
{
    ApplyImageSize(info.width, info.height, info.cameraCount);
    const auto password = m_host.AskPassword();
    if (password)
        m_connection->SendPassword(*password);
    else
        OnHostDisconnect();
}

void ViewerCore::ShowHostError(intptr_t code)
{
    m_notifier.ShowMessage(HostErrorText(code & 0xFF), kViewerCaption);
}

std::pair<int, int> ViewerCore::Extent() const
{
    return { m_settings.imageWidth * (m_cameraCount > 1 ? 2 : 1),
             m_settings.imageHeight * (m_cameraCount > 2 ? 2 : 1) };
}

ViewerCore::Rect ViewerCore::Quadrant(int camera) const
{
    const int w = m_settings.imageWidth, h = m_settings.imageHeight;
    const int col = (camera == 2 || camera == 4) ? 1 : 0;
    const int row = camera >= 3 ? 1 : 0;
    return { col * w, row * h, (col + 1) * w, (row + 1) * h };
}

int ViewerCore::CameraAt(int x, int y) const
{
    for (int c = 1; c <= m_cameraCount; ++c) {
        const Rect r = Quadrant(c);
        if (x >= r.left && x < r.right && y >= r.top && y < r.bottom)
            return c;
    }
    return 0;
}

BitmapView ViewerCore::CameraBitmap(int camera) const
{
    if (camera < 1 || camera > 4)
        return {};
    return { const_cast<uint8_t *>(m_bitmaps[size_t(camera - 1)].data()), m_settings.imageWidth,
             m_settings.imageHeight, BitmapStride(m_settings.imageWidth) };
}

void ViewerCore::ClearBitmap(int camera)
{
    auto &bitmap = m_bitmaps[size_t(camera - 1)];
    std::fill(bitmap.begin(), bitmap.end(), 0);
}

void ViewerCore::ClearStartedFlags()
{
    m_slideStarted = {};
    m_reviewStarted = {};
}

void ViewerCore::OnHostConnect()
{
    SetStatus("Connecting...");
    if (m_settings.mode != 0) {
        m_host.SetModeText("Manual");
    } else {
        m_host.SetModeText("Auto");
        const auto id = m_host.AskLoginId(m_settings.loginId.toStdString());
        if (!id) {
            SetStatus("No Connection");
            SetRate("-");
            return;
        }
        m_settings.loginId = QString::fromStdString(*id);
        // A lookup of its own: an earlier one's result does not count.
        m_lookupDone = false;
        if (id->size() > 1)
            m_lookupInProgress = true;
    }
    m_host.PostStartConnect();
    m_host.StartTick(kLiveTickMs);
    ClearStartedFlags();
    m_ptzCamera = 0;
    m_ptzBits = 0;
    m_ptzSent = false;
    m_ptzQueue.Clear();
}

void ViewerCore::OnStartConnect()
{
    m_host.RepaintAll();
    const bool manual = m_settings.mode != 0;
    m_host.SetModeText(manual ? "Manual" : "Auto");
    // Nothing is asked before the server's hello has been taken.
    m_requestDue = false;
    m_connection->SetSettings(m_settings.link);
    if (m_lookupInProgress) {
        m_connection->LookupHost(m_settings.loginId.toStdString());
    } else {
        const int sizeCode
            = m_pendingSizeCode != 0 ? m_pendingSizeCode : m_settings.imageWidth / 10;
        if (manual)
            m_connection->ConnectHost(m_settings.hosts[0].toStdString(), uint16_t(m_settings.port),
                                      uint8_t(m_settings.quality), uint8_t(sizeCode), {});
        else
            m_connection->ConnectHost(m_connection->LookedUpAddress(), m_settings.link.relayPort,
                                      uint8_t(m_settings.quality), uint8_t(sizeCode),
                                      m_settings.loginId.toStdString());
        SetStatus(kLiveView);
    }
    m_reviewMode = false;
}

void ViewerCore::OnHostDisconnect()
{
    SetStatus("No Connection");
    SetRate("-");
    m_host.StopTick();
    m_connection->CloseLink();
    m_lookupInProgress = false;
    m_slideShow = false;
    m_linkUp = false;
    m_reviewMode = true;
    m_pendingSizeCode = m_settings.imageWidth / 10;
    for (int c = 1; c <= 4; ++c)
        if (c == 1 || m_cameraCount >= c)
            ClearBitmap(c);
    m_host.RepaintAll();
}

void ViewerCore::OnGoLive()
{
    m_host.StartTick(kLiveTickMs);
    ClearStartedFlags();
    m_reviewMode = false;
    SetStatus(kLiveView);
    m_requestDue = true;
}

void ViewerCore::OnReview()
{
    m_reviewRequested = true;
    if (m_idleCounter > 20) {
        m_connection->RequestStoredFrame(uint8_t(m_reviewCamera), kStepNewest);
        if (m_cameraCount > 1)
            m_currentCamera = m_reviewCamera;
    }
}

void ViewerCore::OnSlideShow()
{
    if (m_slideShow) {
        m_reviewRequested = true;
        return;
    }
    m_slideShow = true;
    m_reviewStarted = { true, true, true, true };
    m_host.StartTick(kSlideShowTickMs);
    SetStatus("Slide Show");
    m_host.SetSlideShowCommandText("Stop SlideShow");
}

void ViewerCore::ToggleCamera(int camera)
{
    if (camera < 1 || camera > 4)
        return;
    auto &on = m_settings.cameraOn[size_t(camera - 1)];
    if (!on) {
        on = true;
        return;
    }
    // The last camera that is on stays on.
    int others = 0;
    for (int c = 1; c <= 4; ++c)
        others += c != camera && CameraOn(c);
    if (others == 0)
        return;
    on = false;
    ClearBitmap(camera);
    m_host.RepaintQuadrant(camera);
}

void ViewerCore::ToggleAlwaysOnTop()
{
    m_settings.windowOnTop = !m_settings.windowOnTop;
    m_host.FitFrameToImages(0, 0);
}

void ViewerCore::OnBarToggled()
{
    m_toolbarToggled = true;
}

void ViewerCore::OnConfigured()
{
    m_currentQuality = m_savedQuality = m_settings.quality;
    m_connection->SetSettings(m_settings.link);
}

bool ViewerCore::IsCommandEnabled(int id) const
{
    switch (id) {
    case ID_HOST_CONNECT:
    case ID_CONFIGURE:
        return !m_linkUp;
    case ID_HOST_DISCONNECT:
        return m_linkUp;
    case ID_CAM1:
    case ID_CAM1 + 1:
        return m_linkUp && m_cameraCount > 1;
    case ID_CAM1 + 2:
        return m_linkUp && m_cameraCount > 2;
    case ID_CAM1 + 3:
        return m_linkUp && m_cameraCount > 3;
    case ID_GO_LIVE:
        return m_reviewMode && m_linkUp && !m_slideShow;
    case ID_REVIEW:
        return !m_reviewMode && m_linkUp;
    case ID_SLIDESHOW:
        return m_reviewMode && m_linkUp;
    case ID_ALWAYS_ON_TOP:
        return true;
    default:
        return false;
    }
}

bool ViewerCore::IsCommandChecked(int id) const
{
    if (id >= ID_CAM1 && id < ID_CAM1 + 4)
        return CameraOn(id - ID_CAM1 + 1);
    if (id == ID_ALWAYS_ON_TOP)
        return m_settings.windowOnTop;
    return false;
}

void ViewerCore::PtzPress(uint8_t bit, uint8_t group)
{
    if (m_ptzBits & group)
        return;
    if (m_ptzFlags[size_t(m_ptzCamera - 1)] == 0)
        return;
    m_ptzQueue.Append(uint8_t(m_ptzBits | bit));
    m_ptzBits |= bit;
    m_currentQuality = 5;
}

void ViewerCore::PtzRelease(uint8_t bit, bool atOnce)
{
    if (!(m_ptzBits & bit))
        return;
    m_ptzBits &= uint8_t(~bit);
    if (atOnce)
        m_connection->SendPtzByte(m_ptzBits);
    else
        m_ptzQueue.Append(m_ptzBits);
    if (m_ptzBits == 0)
        m_currentQuality = m_savedQuality;
}

void ViewerCore::OnKeyDown(ViewKey key)
{
    if (m_ptzCamera == 0)
        return;
    switch (key) {
    case ViewKey::Left:
        PtzPress(kPtzLeft, kPtzLeft | kPtzRight);
        break;
    case ViewKey::Right:
        PtzPress(kPtzRight, kPtzLeft | kPtzRight);
        break;
    case ViewKey::Up:
        PtzPress(kPtzUp, kPtzUp | kPtzDown);
        break;
    case ViewKey::Down:
        PtzPress(kPtzDown, kPtzUp | kPtzDown);
        break;
    case ViewKey::Insert:
        PtzPress(kPtzZoomIn, kPtzZoomIn | kPtzZoomOut);
        break;
    case ViewKey::Delete:
        PtzPress(kPtzZoomOut, kPtzZoomIn | kPtzZoomOut);
        break;
    default:
        break;
    }
}

void ViewerCore::OnKeyUp(ViewKey key, bool shift)
{
    const bool canStep = m_reviewMode && m_reviewCamera != 0 && m_requestDue;
    switch (key) {
    case ViewKey::End:
        if (m_reviewMode)
            OnSlideShow();
        break;
    case ViewKey::Home:
        if (canStep) {
            m_connection->RequestStoredFrame(uint8_t(m_reviewCamera), kStepNewest);
            m_requestDue = false;
        }
        break;
    case ViewKey::Backspace:
        if (canStep) {
            m_connection->RequestStoredFrame(uint8_t(m_reviewCamera),
                                             shift ? kStepBackTen : kStepBack);
            m_requestDue = false;
            SetRate("<");
        }
        break;
    case ViewKey::Space:
        if (canStep) {
            m_connection->RequestStoredFrame(uint8_t(m_reviewCamera),
                                             shift ? kStepForwardTen : kStepForward);
            m_requestDue = false;
            SetRate(">");
        }
        break;
    case ViewKey::Left:
    case ViewKey::Right:
    case ViewKey::Up:
    case ViewKey::Down:
    case ViewKey::Insert:
    case ViewKey::Delete: {
        if (m_reviewMode || m_ptzCamera == 0)
            break;
        const uint8_t bit = key == ViewKey::Left ? kPtzLeft
            : key == ViewKey::Right              ? kPtzRight
            : key == ViewKey::Up                 ? kPtzUp
            : key == ViewKey::Down               ? kPtzDown
            : key == ViewKey::Insert             ? kPtzZoomIn
                                                 : kPtzZoomOut;
        PtzRelease(bit, key == ViewKey::Insert || key == ViewKey::Delete);
        break;
    }
    default:
        break;
    }
}

void ViewerCore::SizeKey(int widthStep, int heightStep)
{
    HostInfo info;
    info.width = m_settings.imageWidth + widthStep;
    info.height = m_settings.imageHeight + heightStep;
    info.cameraCount = int16_t(m_cameraCount);
    m_pendingSizeCode = info.width / 10;
    OnHostReady(info, true);
    if (m_reviewMode) {
        m_connection->RequestStoredFrame(uint8_t(m_reviewCamera),
                                         m_rateText.find('<') != std::string::npos ? kStepBack
                                                                                   : kStepForward);
    }
}

void ViewerCore::OnChar(char c)
{
    if (m_slideShow)
        return;
    const bool sizeAllowed = m_videoStandard != 'N' && m_videoStandard != 'P';
    switch (c) {
    case 'a':
    case 'A':
        m_currentQuality -= 5;
        if (m_currentQuality == 40)
            m_currentQuality = 35;
        if (m_currentQuality < 10)
            m_currentQuality = 5;
        m_savedQuality = m_currentQuality;
        break;
    case 'q':
    case 'Q':
        m_currentQuality += 5;
        if (m_currentQuality == 40)
            m_currentQuality = 45;
        if (m_currentQuality > 90)
            m_currentQuality = 90;
        m_savedQuality = m_currentQuality;
        break;
    case 's':
    case 'S':
        if (sizeAllowed && m_settings.imageWidth >= 240)
            SizeKey(-80, -60);
        break;
    case 'w':
    case 'W':
        if (sizeAllowed && m_settings.imageWidth <= (m_settings.mode == 0 ? 480 : 560))
            SizeKey(80, 60);
        break;
    default:
        break;
    }
}

void ViewerCore::OnLButtonDown(int x, int y)
{
    if (m_slideShow)
        return;
    const int n = CameraAt(x, y);
    if (n == 0)
        return;
    if (m_reviewMode) {
        m_reviewCamera = n;
        m_currentCamera = n;
    } else if (n == m_ptzCamera) {
        m_ptzCamera = 0;
        SetStatus(kLiveView);
    } else {
        m_ptzCamera = n;
        SetStatus(n == 1 && m_ptzFlags[0] == 0 ? "Cam 1" : "PTZ On");
    }
    m_connection->SendPtzByte(uint8_t(256 - n));
}

void ViewerCore::OnLButtonUp()
{
    if (m_slideShow)
        return;
    if (m_reviewMode && m_reviewCamera != 0 && m_requestDue
        && !m_reviewStarted[size_t(m_reviewCamera - 1)]) {
        m_connection->RequestStoredFrame(uint8_t(m_reviewCamera), kStepNewest);
        m_reviewStarted[size_t(m_reviewCamera - 1)] = true;
        m_requestDue = false;
    }
    m_host.PlayClick();
}

void ViewerCore::SendQueuedPtz()
{
    if (!m_connection->HasSocket() || m_connection->PendingSendLength() > 0)
        return;
    if (const auto bits = m_ptzQueue.Take()) {
        m_connection->SendPtzByte(*bits);
        m_ptzSent = true;
    } else if (m_ptzBits == 0 && m_ptzSent) {
        m_connection->SendPtzByte(0);
        m_ptzSent = false;
    }
}

} // namespace vorlund::viewer
