#pragma once

// The interfaces through which the server's topics reach each other and the outside world.
// Production implements them over Qt and GStreamer; tests replace them with recording fakes.
// Every call is made on the UI thread.

#include "CodecProperties.h"
#include "CommandIds.h"

#include <cstdint>
#include <filesystem>
#include <optional>
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
    virtual void KillAll() = 0;
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
    // Whether a repaint would be seen: not while the window is minimised or not exposed (the
    // window system repaints it all when it shows again).
    virtual bool IsShown() const { return true; }
    virtual void RebuildCameraMenu() = 0;
    virtual void RebuildCommandMenu() = 0;
    virtual void RebuildDeviceMenu() = 0;
    // The modeless notice box of the view; a second Show replaces the text of an open one.
    virtual void ShowNotice(std::string_view text) = 0;
    virtual void CloseNotice() = 0;
};

// Sounds from the working folder, played asynchronously; a missing file is silent.
class ISound
{
public:
    virtual ~ISound() = default;
    virtual void PlaySound(std::string_view fileName) = 0;
};

// What a graph build came to: built; failed in a way that another device might not (the probe
// moves on); no device in that slot; any other failure (reported by the builder).
enum class BuildResult { Ok, Failed, NoDevice, Error };

// A notification from the running pipeline, drained on WM_GRAPH_EVENT.
struct GraphEvent
{
    enum class Kind { DeviceLost, Abort } kind = Kind::Abort;
    uint32_t code = 0;
    std::string text; // what the pipeline said, for the log
};

class IInputRouter;
class ICodecAccess;
class IDeviceAccess; // the device pages' way to the open device (DevicePages.h)

// Shown by the graph's build and logged by run control when a device cannot be started.
inline constexpr char kDeviceInUseText[]
    = "Could not put capture device in graph.\r\nDevice in use? ";

// The capture pipeline as the topics drive it.
struct LocalDateTime;

class ICaptureGraph
{
public:
    virtual ~ICaptureGraph() = default;
    // A graph with its recording gate exists (built and not torn down).
    virtual bool IsBuilt() const = 0;
    // Builds the whole graph for the current device. A probe reports failures by its result
    // only, without boxes.
    virtual BuildResult BuildCaptureGraph(bool probe) = 0;
    // Tears down what the build added (the device stage too unless KeepDeviceFilter is set).
    // Safe to call twice.
    virtual void TearDownGraph() = 0;
    // To PLAYING; false when the pipeline refuses.
    virtual bool RunGraph() = 0;
    // Gates shut, end of stream, a bounded wait, then stopped.
    virtual void StopGraph() = 0;
    // Opens or shuts the recording gates of the video and (when present) the audio branch
    // together.
    virtual void SetGateOpen(bool open) = 0;
    virtual void SetStamp(bool enabled, bool atTop) = 0;
    // Restarts the audio branch's timing after a run begins.
    virtual void SetAudioReferenceTime(int64_t time) = 0;
    virtual std::vector<GraphEvent> TakeGraphEvents() = 0;
    // Frames the grabber branch delivered since the graph was built.
    virtual uint64_t FramesDelivered() const = 0;
    // Frames the record gate passed into the current recording file.
    virtual uint64_t FramesRecorded() const = 0;
    // The file being recorded now; empty while none is.
    virtual std::filesystem::path RecordFile() const = 0;
    // Names the current recording file for `now` (a file still without frames that a schedule
    // takes over); false when it cannot be.
    virtual bool RenameRecordFile(const LocalDateTime & /*now*/) { return false; }
    // Names of the video and audio capture devices, at most four each, the test sources last.
    virtual std::vector<std::string> ListVideoDevices() = 0;
    virtual std::vector<std::string> ListAudioDevices() = 0;
    // What the graph offers beyond this; none where it has no such part (a test's graph).
    virtual IInputRouter *InputRouter() { return nullptr; }
    virtual ICodecAccess *CodecAccess() { return nullptr; }
    virtual IDeviceAccess *DeviceAccess() { return nullptr; }
};

// The video compressors and the built encoder's settings, for the codec chooser.
class ICodecAccess
{
public:
    virtual ~ICodecAccess() = default;
    // The installed video compressors' names.
    virtual std::vector<std::string> ListVideoCompressors() = 0;
    // Whether the built graph holds a video encoder whose settings can be shown.
    virtual bool HasVideoEncoder() const = 0;
    // That encoder's writable settings with their current values.
    virtual std::vector<CodecProperty> VideoCodecProperties() = 0;
    // Whether the encoder takes `value` for its setting `name` as it stands.
    virtual bool AcceptsVideoCodecValue(const std::string &name, const std::string &value) = 0;
    // The editor closed with OK: the changed settings are kept for `codecName` (every build
    // applies them again) and set on the encoder now.
    virtual void KeepVideoCodecChanges(const std::string &codecName,
                                       const std::vector<CodecProperty> &before,
                                       const std::vector<CodecProperty> &after)
        = 0;
};

// The device's own pages, run with the device-only flag (no window) where the tick needs them.
class IDevicePages
{
public:
    virtual ~IDevicePages() = default;
    virtual void ShowTvTunerPage(bool deviceOnly) = 0;
    // The stored routing, standard and controls applied to the device without a window.
    virtual void ShowCrossbarPage(bool deviceOnly) = 0;
    virtual void ShowVideoCapturePage(bool deviceOnly) = 0;
    // Command 137: format, size and rate, with the graph rebuilt around the choice.
    virtual void ShowVideoFormatPage() = 0;
    // Command 125: the audio device, its input line and level, and whether sound is recorded.
    virtual void ChooseAudioInput() = 0;
    virtual bool HasCrossbar() const = 0;
};

// Routes the capture card's video decoder to one of its inputs (0-based). Failures are silent:
// some drivers refuse while streaming.
class IInputRouter
{
public:
    virtual ~IInputRouter() = default;
    virtual void RouteVideoInput(int input) = 0;
};

// One serial port, opened for one exchange and closed again.
class ISerialLine
{
public:
    virtual ~ISerialLine() = default;
    // Opens a port by its settings name ("Com1"); on failure `errorText` says why.
    virtual bool Open(std::string_view portName, std::string &errorText) = 0;
    // `baud`, 8 data bits, no parity, one stop bit.
    virtual bool SetLine(int baud) = 0;
    // Drops unsent output and stale input, so a late reply cannot pass for the next one.
    virtual void Purge() = 0;
    // One byte per write, then flushed.
    virtual bool WriteBytes(const uint8_t *bytes, size_t count) = 0;
    // Reads `count` bytes: 0 when all arrived, -1 when the time limit passed first.
    virtual int ReadSerialBytes(uint8_t *buffer, int count) = 0;
    virtual void Close() = 0;
};

class ICameraSwitch
{
public:
    virtual ~ICameraSwitch() = default;
    // 0 = the next camera of the cycle; 1..4 = that camera; -1 initialises the switcher.
    virtual void SwitchCamera(int camera) = 0;
    // Probes for the serial switcher; quiet probes only log.
    virtual void DetectSwitcher(bool quiet) = 0;
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

// The header the link libraries describe live frames with: the frame size, and the camera
// count where a bitmap header has its bit count.
struct RemoteHeader
{
    int32_t width = 0;
    int32_t height = 0;
    int32_t cameraCount = 1;
};

// The server's side of the remote viewers and the relay.
class IRemoteLink
{
public:
    virtual ~IRemoteLink() = default;
    // Creates or destroys the listener and the relay client as the settings ask.
    virtual void ApplyRemoteMode() = 0;
    virtual void StartListening(const RemoteHeader &header) = 0;
    virtual void StopListening() = 0;
    // The stored-picture positions of the viewers restart at the cameras' snapshot numbers.
    virtual void ResetStillCounters() = 0;
    // Answers pending viewer requests; camera 0 = the settle time after a switch.
    virtual void ServeRemoteRequests(int camera) = 0;
    // The slow pass's relay keep-alive: reconnect a lost relay, else ping it.
    virtual void KeepRelayAlive() = 0;
    // Starts (or restarts) the relay connection.
    virtual void ConnectRelay() = 0;
    // Viewers connected over the direct link now; 0 when there is no listener.
    virtual int DirectViewerCount() const = 0;
    enum class RelayState {
        NoRelay, // no relay object (Manual mode or remote viewing off)
        Offline, // the relay service is not reached
        LoggingIn,
        Online, // the relay service is reached, no viewer linked
        PeerLinked, // a viewer is linked through the relay
    };
    virtual RelayState GetRelayState() const = 0;
    // A relay error waiting to be shown: stops the relay connection, clears the error and
    // returns its text; nullopt when there is none.
    virtual std::optional<std::string> TakeRelayError() = 0;
    // Restores the selected camera's motion enable saved for a remote move and releases the
    // selection (SelectCamera of the selected camera).
    virtual void ReleaseSelectedCamera() = 0;
    // Holds the server on camera 1..4 for a viewer or the local user; the selected camera
    // again releases it.
    virtual void SelectCamera(int camera) = 0;
};

// Pan/tilt/zoom commands the other topics send.
class IPtzControl
{
public:
    virtual ~IPtzControl() = default;
    // The home action (preset 1 or pattern 1) sent when the last viewer leaves.
    virtual void SendHomeCommand() = 0;
    // A viewer's command: the movement bits, 0 = stop. Failures are logged, never shown.
    virtual void SendPtzCommand(int code) = 0;
    // Click-to-move of the selected camera: centre offset x, y in pixels and a zoom amount.
    virtual void StartPtzMove(int x, int y, int zoom) = 0;
};

// The values typed into the e-mail settings dialog, sent with once by its Test button.
struct TestMailValues
{
    std::string MailFrom;
    std::string SmtpServer;
    std::string MailTo;
};

class IMailer
{
public:
    virtual ~IMailer() = default;
    // -1 readies the mailer once at start; 0 sends the queued mail, if any.
    virtual void SendAlertMail(int code) = 0;
    // Queues the motion alert of `camera` with its snapshot; replaces a mail not sent yet.
    virtual void QueueAlert(int camera, const std::filesystem::path &picture) = 0;
    // Queues the low-disk warning with the free percentage; replaces a mail not sent yet.
    virtual void QueueLowDiskMail(int freePercent) = 0;
    // Sends a test mail with these values at once; the stored settings stay as they are.
    virtual void SendTestMail(const TestMailValues &values) = 0;
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
    // Measures the free space and the current recording's size (the main tick's slow pass).
    virtual void UpdateDiskSpace() = 0;
    // Acts on the last measurement once per run: the low-disk mail, then stopping capture
    // (the status tick).
    virtual void GuardDiskSpace() = 0;
    // Bytes in the current recording file as of the last UpdateDiskSpace (0 when none).
    virtual uint64_t RecordFileBytes() const = 0;
};

// Null objects: stand-ins that do nothing and claim nothing, where a view is given no real topic.
struct NullTopics final : ICaptureGraph,
                          IInputRouter,
                          IDevicePages,
                          ICameraSwitch,
                          IRunControl,
                          IRemoteLink,
                          IPtzControl,
                          IMailer,
                          IRecycler,
                          IDiskGuard
{
    bool IsBuilt() const override { return false; }
    BuildResult BuildCaptureGraph(bool) override { return BuildResult::Error; }
    void TearDownGraph() override { }
    bool RunGraph() override { return false; }
    void StopGraph() override { }
    void SetGateOpen(bool) override { }
    void SetStamp(bool, bool) override { }
    void SetAudioReferenceTime(int64_t) override { }
    std::vector<GraphEvent> TakeGraphEvents() override { return {}; }
    uint64_t FramesDelivered() const override { return 0; }
    uint64_t FramesRecorded() const override { return 0; }
    std::filesystem::path RecordFile() const override { return {}; }
    std::vector<std::string> ListVideoDevices() override { return {}; }
    std::vector<std::string> ListAudioDevices() override { return {}; }
    void RouteVideoInput(int) override { }
    void ShowTvTunerPage(bool) override { }
    void ShowCrossbarPage(bool) override { }
    void ShowVideoCapturePage(bool) override { }
    void ShowVideoFormatPage() override { }
    void ChooseAudioInput() override { }
    bool HasCrossbar() const override { return false; }
    void SwitchCamera(int) override { }
    void DetectSwitcher(bool) override { }
    void StartCapture() override { }
    void StopCapture() override { }
    void RestartCapture() override { }
    void ApplyRemoteMode() override { }
    void StartListening(const RemoteHeader &) override { }
    void StopListening() override { }
    void ResetStillCounters() override { }
    void ServeRemoteRequests(int) override { }
    void KeepRelayAlive() override { }
    void ConnectRelay() override { }
    int DirectViewerCount() const override { return 0; }
    RelayState GetRelayState() const override { return RelayState::NoRelay; }
    std::optional<std::string> TakeRelayError() override { return std::nullopt; }
    void ReleaseSelectedCamera() override { }
    void SelectCamera(int) override { }
    void SendHomeCommand() override { }
    void SendPtzCommand(int) override { }
    void StartPtzMove(int, int, int) override { }
    void SendAlertMail(int) override { }
    void QueueAlert(int, const std::filesystem::path &) override { }
    void QueueLowDiskMail(int) override { }
    void SendTestMail(const TestMailValues &) override { }
    void Start(const std::filesystem::path &, int64_t, const std::filesystem::path &) override { }
    void UpdateDiskSpace() override { }
    void GuardDiskSpace() override { }
    uint64_t RecordFileBytes() const override { return 0; }
};

} // namespace vorlund
