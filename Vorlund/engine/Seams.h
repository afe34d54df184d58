#pragma once

// The interfaces through which the server's topics reach each other and the outside world.
// Production implements them over Qt and GStreamer; tests replace them with recording fakes.
// Every call is made on the UI thread.

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace vorlund {

// Timers of the view by id. Setting a running id restarts it with the new interval.
class ITimers
{
public:
    virtual ~ITimers() = default;
    virtual void SetTimer(int id, uint32_t milliseconds) = 0;
    virtual void KillTimer(int id) = 0;
    virtual bool IsTimerRunning(int id) const = 0;
};

// A notice balloon of the view (the help balloon of the dialogs is separate).
struct BalloonRequest
{
    std::string title;
    std::string text;
    int icon = 32516; // information
    uint32_t options = 0x0400; // close button
    int milliseconds = 5000;
};

// Status bar panes of the main frame.
inline constexpr int kPaneState = 101;
inline constexpr int kPaneCamera = 102;
inline constexpr int kPaneZone = 103;
// The frame's first pane: the capture device ("DV Cam - Audio OFF" for a camcorder).
inline constexpr int kPaneDevice = 0;

// What the topics need of the window: balloons, panes, layout, repaint and menus.
class IViewShell
{
public:
    virtual ~IViewShell() = default;
    virtual void ShowBalloon(const BalloonRequest &balloon) = 0;
    virtual void SetPaneText(int pane, std::string_view text) = 0;
    // Width and height of the image area; 0, 0 takes them from the frame size and camera count.
    virtual void UpdateLayout(int width, int height) = 0;
    // Camera 1..4, or 0 for the whole view.
    virtual void Repaint(int camera) = 0;
    virtual void RebuildCameraMenu() = 0;
    virtual void RebuildCommandMenu() = 0;
    virtual void RebuildDeviceMenu() = 0;
};

// Sounds from the working folder, played asynchronously; a missing file is silent.
class ISound
{
public:
    virtual ~ISound() = default;
    virtual void PlaySound(std::string_view fileName) = 0;
};

// Something the capture pipeline reported while it ran (an error, a lost device, an end of
// stream nobody asked for).
struct GraphEvent
{
    enum class Kind { Error, EndOfStream };
    Kind kind = Kind::Error;
    std::string text;
};

// The capture pipeline as the topics drive it.
class ICaptureGraph
{
public:
    virtual ~ICaptureGraph() = default;
    virtual bool IsBuilt() const = 0;
    // Opens or shuts the recording gates of the video and (when present) the audio branch
    // together.
    virtual void SetGateOpen(bool open) = 0;
    // The file being recorded now; empty while none is.
    virtual std::filesystem::path RecordFile() const = 0;
    // Tears the old graph down and builds one for the current device and settings. 0 when the
    // graph is complete or a device-only request stopped it early; negative on a failure,
    // which has already been reported.
    virtual int BuildCaptureGraph() = 0;
    // Gates shut, end of stream with a bounded wait, then everything the build added goes.
    // Safe to call when nothing is built.
    virtual void TearDownGraph() = 0;
    // Sets the built graph running; false when it cannot start.
    virtual bool RunGraph() = 0;
    // The recording's date/time stamp: on or off, at the top or the bottom of the picture.
    virtual void SetStamp(bool on, bool atTop) = 0;
    // The events gathered since the last call; WM_GRAPH_EVENT announced them once.
    virtual std::vector<GraphEvent> TakeGraphEvents() = 0;
};

// The device's own pages, run with the device-only flag (no window) where the tick needs them.
class IDevicePages
{
public:
    virtual ~IDevicePages() = default;
    virtual void ShowTvTunerPage(bool deviceOnly) = 0;
};

class ICameraSwitch
{
public:
    virtual ~ICameraSwitch() = default;
    // 0 = the next camera of the cycle; 1..4 = that camera.
    virtual void SwitchCamera(int camera) = 0;
};

class IRunControl
{
public:
    virtual ~IRunControl() = default;
    virtual void StartCapture() = 0;
    virtual void StopCapture() = 0;
    // Stop now, start again 3000 ms later (a new recording file).
    virtual void RestartCapture() = 0;
};

// The server's side of the remote viewers and the relay.
class IRemoteLink
{
public:
    virtual ~IRemoteLink() = default;
    // Answers pending viewer requests; camera 0 = the settle time after a switch.
    virtual void ServeRemoteRequests(int camera) = 0;
    // The slow pass's relay keep-alive: reconnect a lost relay, else ping it.
    virtual void KeepRelayAlive() = 0;
};

class IMailer
{
public:
    virtual ~IMailer() = default;
    // 0 sends the queued alert, if any.
    virtual void SendAlertMail(int code) = 0;
};

class IRecycler
{
public:
    virtual ~IRecycler() = default;
    // Deletes the oldest recordings in `folder` until it holds less than `limitMBytes`; never
    // `currentRecording`. Returns at once; the worker reports WM_RECYCLE_DONE.
    virtual void Start(const std::filesystem::path &folder, int64_t limitMBytes,
                       const std::filesystem::path &currentRecording)
        = 0;
};

class IDiskGuard
{
public:
    virtual ~IDiskGuard() = default;
    // Measures the free space and the current recording's size; may stop capture when the
    // disk is nearly full.
    virtual void UpdateDiskSpace() = 0;
    // Bytes in the current recording file as of the last UpdateDiskSpace (0 when none).
    virtual uint64_t RecordFileBytes() const = 0;
};

// Null objects for topics that are not wired yet: they do nothing and claim nothing.
struct NullTopics final : ICaptureGraph,
                          IDevicePages,
                          ICameraSwitch,
                          IRunControl,
                          IRemoteLink,
                          IMailer,
                          IRecycler,
                          IDiskGuard
{
    bool IsBuilt() const override { return false; }
    void SetGateOpen(bool) override { }
    std::filesystem::path RecordFile() const override { return {}; }
    int BuildCaptureGraph() override { return -1; }
    void TearDownGraph() override { }
    bool RunGraph() override { return false; }
    void SetStamp(bool, bool) override { }
    std::vector<GraphEvent> TakeGraphEvents() override { return {}; }
    void ShowTvTunerPage(bool) override { }
    void SwitchCamera(int) override { }
    void StartCapture() override { }
    void StopCapture() override { }
    void RestartCapture() override { }
    void ServeRemoteRequests(int) override { }
    void KeepRelayAlive() override { }
    void SendAlertMail(int) override { }
    void Start(const std::filesystem::path &, int64_t, const std::filesystem::path &) override { }
    void UpdateDiskSpace() override { }
    uint64_t RecordFileBytes() const override { return 0; }
};

} // namespace vorlund
