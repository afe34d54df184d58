#pragma once

#include "Clock.h"
#include "FrameDecoder.h"
#include "HostConnection.h"
#include "LinkMessages.h"
#include "Notifier.h"
#include "PtzQueue.h"
#include "Requests.h"
#include "ViewerSettings.h"

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace vorlund::viewer {

inline constexpr int VIEW_TICK_TIMER = 101;
inline constexpr int kLiveTickMs = 50;
inline constexpr int kSlideShowTickMs = 1000;
inline constexpr size_t kCameraBitmapBytes = 640 * 480 * 3;
inline constexpr int kMaxImageWidth = 640;
inline constexpr int kMaxImageHeight = 480;

// PTZ key bits.
inline constexpr uint8_t kPtzRight = 0x02;
inline constexpr uint8_t kPtzLeft = 0x04;
inline constexpr uint8_t kPtzUp = 0x08;
inline constexpr uint8_t kPtzDown = 0x10;
inline constexpr uint8_t kPtzZoomIn = 0x20;
inline constexpr uint8_t kPtzZoomOut = 0x40;

enum class ViewKey { Left, Right, Up, Down, Insert, Delete, Home, End, Backspace, Space, Other };

// What the view's logic needs of its window and frame. Runs on the user-interface thread.
class IViewHost
{
public:
    virtual ~IViewHost() = default;
    virtual void SetStatusText(const std::string &text) = 0; // pane 101
    virtual void SetRateText(const std::string &text) = 0; // pane 102
    virtual void SetQualityText(const std::string &text) = 0; // pane 106
    virtual void SetModeText(const std::string &text) = 0; // the message pane
    virtual void SetSlideShowCommandText(const std::string &text) = 0; // menu item 141
    virtual void StartTick(int ms) = 0; // timer 101, restarted
    virtual void StopTick() = 0;
    virtual bool IsMinimised() const = 0;
    // The window sized so that its picture area is width x height; also applies always on top.
    virtual void FitFrameToImages(int width, int height) = 0;
    virtual void RepaintQuadrant(int camera) = 0;
    virtual void RepaintAll() = 0;
    // The login dialog filled with `stored`; nullopt on Cancel.
    virtual std::optional<std::string> AskLoginId(const std::string &stored) = 0;
    virtual std::optional<std::string> AskPassword() = 0;
    // Queues WM_START_CONNECT, which comes back as OnStartConnect.
    virtual void PostStartConnect() = 0;
    virtual void Beep() = 0;
    virtual void PlayClick() = 0;
};

// CVorlundRemoteView's state and decisions: the link's life, the tick with its request choice,
// live view, review and slide show, keys and mouse, pan/tilt/zoom, and the camera bitmaps the
// widget paints. All on the user-interface thread; the link reaches it only through
// OnLinkMessage.
class ViewerCore
{
public:
    ViewerCore(IViewHost &host, INotifier &notifier, ILinkSink &sink, const IClock &clock,
               ViewerSettings settings);
    ~ViewerCore();

    // The link's messages (messages of an older link are ignored).
    void OnLinkMessage(const LinkMessage &message);
    void OnViewTick();

    // Commands.
    void OnHostConnect(); // 130
    void OnStartConnect(); // WM_START_CONNECT
    void OnHostDisconnect(); // 132 and failed links
    void OnGoLive(); // 139
    void OnReview(); // 140
    void OnSlideShow(); // 141 and End in review mode
    void ToggleCamera(int camera); // 135-138
    void ToggleAlwaysOnTop(); // 145
    void OnBarToggled(); // 59392, 59393: the next tick refits the frame
    void OnConfigured(); // after Configuration OK changed the settings
    bool IsCommandEnabled(int id) const;
    bool IsCommandChecked(int id) const;

    // Input.
    void OnKeyDown(ViewKey key);
    void OnKeyUp(ViewKey key, bool shift);
    void OnChar(char c);
    void OnLButtonDown(int x, int y);
    void OnLButtonUp();

    // Frame arrival and host ready, as the link's messages drive them.
    void OnFrameReady(uintptr_t cameraByte, intptr_t length);
    void OnHostReady(const HostInfo &info, bool keepPtzFlags);
    void OnNeedPassword(const HostInfo &info);
    void ShowHostError(intptr_t code);

    // The next camera to ask for; moves scheme A's walk position.
    int ChooseCamera();

    // What the widget paints: camera n's bitmap (1-4) in its quadrant, for n up to the count.
    BitmapView CameraBitmap(int camera) const;
    struct Rect
    {
        int left, top, right, bottom;
    };
    Rect Quadrant(int camera) const;
    int CameraAt(int x, int y) const; // 0 = none
    // The picture area: the width doubled with more than one camera, the height with more
    // than two.
    std::pair<int, int> Extent() const;

    ViewerSettings &Settings() { return m_settings; }
    const ViewerSettings &Settings() const { return m_settings; }
    CHostConnection &Connection() { return *m_connection; }

    // State the shell and the tests read.
    int CameraCount() const { return m_cameraCount; }
    int CurrentCamera() const { return m_currentCamera; }
    int CurrentQuality() const { return m_currentQuality; }
    int SavedQuality() const { return m_savedQuality; }
    int PendingSizeCode() const { return m_pendingSizeCode; }
    bool RequestDue() const { return m_requestDue; }
    bool ReviewMode() const { return m_reviewMode; }
    bool SlideShow() const { return m_slideShow; }
    bool LinkUp() const { return m_linkUp; }
    bool LookupInProgress() const { return m_lookupInProgress; }
    int PtzCamera() const { return m_ptzCamera; }
    uint8_t PtzBits() const { return m_ptzBits; }
    int ReviewCamera() const { return m_reviewCamera; }
    const std::string &StatusText() const { return m_statusText; }
    const std::string &RateText() const { return m_rateText; }

private:
    void SetStatus(const std::string &text);
    void SetRate(const std::string &text);
    void SwitchToReview();
    void ApplyImageSize(int width, int height, int count);
    void RescaleBitmaps(int oldWidth, int oldHeight);
    void SizeKey(int widthStep, int heightStep);
    void PtzPress(uint8_t bit, uint8_t group);
    void PtzRelease(uint8_t bit, bool atOnce);
    void SendQueuedPtz();
    void ClearBitmap(int camera);
    void ClearStartedFlags();
    bool CameraOn(int camera) const { return m_settings.cameraOn[size_t(camera - 1)]; }

    IViewHost &m_host;
    INotifier &m_notifier;
    const IClock &m_clock;
    ViewerSettings m_settings; // hosts, port, mode, login id, quality, cameras, image size
    std::array<std::vector<uint8_t>, 4> m_bitmaps;
    std::vector<uint8_t> m_frame;
    std::vector<uint8_t> m_scratch; // a bitmap being rescaled
    std::unique_ptr<CHostConnection> m_connection;
    FrameDecoder m_decoder;

    bool m_lookupDone = false;
    int m_pendingSizeCode = 0;
    bool m_toolbarToggled = false;
    int m_currentCamera = 1;
    int m_walkPosition = 2;
    int m_currentQuality = 0;
    int m_savedQuality = 0;
    bool m_requestDue = false;
    int m_cameraCount = 1;
    int m_ptzCamera = 0;
    bool m_reviewMode = true;
    bool m_reviewRequested = false;
    bool m_linkUp = false;
    bool m_lookupInProgress = false;
    bool m_schemeA = false;
    std::array<uint8_t, 4> m_ptzFlags {};
    int m_minimisedCounter = 0;
    int m_idleCounter = 0;
    int m_rateTicks = 0;
    uint32_t m_lastFrameTime = 0;
    uint32_t m_lastRateDisplay = 0;
    double m_lastFrameRate = 0.0;
    double m_rateSum = 0.0;
    char m_videoStandard = 0;
    std::string m_statusText;
    std::string m_rateText;

    // The original keeps these program-wide; this view is the only user.
    bool m_slideShow = false;
    uint8_t m_ptzBits = 0;
    PtzQueue m_ptzQueue;
    bool m_ptzSent = false;
    std::array<bool, 4> m_slideStarted {};
    std::array<bool, 4> m_reviewStarted {};
    int m_reviewCamera = 1;
};

// The texts of a host error.
std::string HostErrorText(intptr_t code);

} // namespace vorlund::viewer
