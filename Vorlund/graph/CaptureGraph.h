// The server's capture pipeline: BuildCaptureGraph makes it from the chosen device and the
// settings (record branch through the gate to the encoder and the file, grabber branch to the
// motion detector), TearDownGraph stops and dismantles it. UI thread only; the streaming
// threads reach the detector through GrabberSink alone.
#pragma once

#include "BusWatch.h"
#include "CodecState.h"
#include "DeviceAccess.h"
#include "Encoders.h"
#include "EndOfStream.h"
#include "GrabberSink.h"
#include "GraphParts.h"
#include "GraphPlan.h"
#include "RecordingFile.h"
#include "ServerContext.h"
#include "WmProfile.h"

#include <atomic>
#include <chrono>
#include <memory>
#include <vector>

namespace vorlund {

class CaptureDevices;
class CMotionGrabber;

// Results of a build, as the callers test them (only the sign counts).
inline constexpr int kGraphOk = 0; // S_OK
inline constexpr int kGraphFailed = int(0x80004005); // E_FAIL
// A build step's answer that a nested build (the codec fallback) already made the graph.
inline constexpr int kGraphRebuilt = 1;

class CaptureGraph : public ICaptureGraph, public IInputRouter, public ICodecAccess
{
public:
    CaptureGraph(ServerContext &context, CaptureDevices &devices, CMotionGrabber &grabber);
    ~CaptureGraph() override;
    CaptureGraph(const CaptureGraph &) = delete;
    CaptureGraph &operator=(const CaptureGraph &) = delete;

    // ICaptureGraph
    BuildResult BuildCaptureGraph(bool probe) override;
    void TearDownGraph() override;
    bool RunGraph() override;
    void StopGraph() override;
    bool IsBuilt() const override;
    void SetGateOpen(bool open) override;
    void SetStamp(bool on, bool atTop) override;
    void SetAudioReferenceTime(int64_t time) override;
    std::vector<GraphEvent> TakeGraphEvents() override;
    uint64_t FramesDelivered() const override;
    std::filesystem::path RecordFile() const override;
    std::vector<std::string> ListVideoDevices() override;
    std::vector<std::string> ListAudioDevices() override;

    IInputRouter *InputRouter() override { return this; }
    ICodecAccess *CodecAccess() override { return this; }
    IDeviceAccess *DeviceAccess() override { return &m_deviceAccess; }

    // IInputRouter: the card's decoder to another input (silent when the driver refuses).
    void RouteVideoInput(int input) override;

    // ICodecAccess: the installed encoders and the built one's settings.
    std::vector<std::string> ListVideoCompressors() override;
    bool HasVideoEncoder() const override;
    std::vector<CodecProperty> VideoCodecProperties() override;
    bool AcceptsVideoCodecValue(const std::string &name, const std::string &value) override;
    void KeepVideoCodecChanges(const std::string &codecName,
                               const std::vector<CodecProperty> &before,
                               const std::vector<CodecProperty> &after) override;

    // The whole build; 0 or a negative result (already reported unless probing).
    int Build();

    // Reads what the bus holds (the bus watch calls it; so may tests without an event loop).
    void DrainBus();

    const GraphParts &Parts() const { return m_parts; }
    GstElement *Pipeline() const { return m_parts.m_pGraph.get(); }
    const GrabberSink &Grabber() const { return m_grabberSink; }

    // The audio source's input lines (at most 15) into `names`; for the graph's own source the
    // stored line is chosen (its position into `index`) and the stored level set. Builds the
    // graph first when there is none. 0, or negative (reported) when there is no source.
    int SelectAudioInput(ElementRef &filter, std::vector<std::string> *names, int *index);
    // Binds the recording format's audio compressor into m_pAudioCodec (none when absent).
    int FindAudioCompressor();
    // The audio device dialog's: the lines of the device of that name; the stored choice
    // applied to the graph's source.
    std::optional<std::vector<std::string>> ListAudioInputs(std::string_view device);
    void ApplyAudioInput();

    // Requests and flags shared with the device pages and the run control.
    bool DeviceProbe = false;
    bool HasCrossbar = false;
    bool Mpeg2FallbackUsed = false;

    // The WMV9 encoder path: with no WMV9 encoder here, the fallback to MPEG-4 V3 (1: the graph
    // was rebuilt with it; -1: no usable encoder, the user was told which package to install).
    int ApplyCodecSettings();
    int FallBackVideoCodec(int *live, int *offline, int *maximum);
    const EncoderParams &Params() const { return m_encoderParams; }

    // What "Configure" set on the chosen compressor; each build applies it to an encoder of
    // that compressor name.
    CodecState VideoCodecState;

    // How long a stop waits for the end of stream to reach the file.
    std::chrono::milliseconds EosWait { 3000 };

    // Test hook: for `duration` from now the record branch's file sink fails every write as a
    // full disk does (an error from the sink, a failed flow upstream).
    void FailRecordWrites(std::chrono::milliseconds duration);
    uint64_t FramesRecorded() const override { return m_framesRecorded.load(); }
    // True once every finished recording is synced and let go; waits at most `bound`.
    bool WaitRecordingsSynced(std::chrono::milliseconds bound)
    {
        return m_recordSync.WaitSynced(bound);
    }

private:
    int BuildDeviceStage();
    int BuildDvFrontEnd();
    int BuildCapturePin(GstElement *&capturePin);
    int BuildRecordBranch(GstElement *capturePin);
    int BuildEncoderAndFile();
    int BuildWmvVideo(ElementRef &tail);
    int LoadProfileForRecording();
    FrameRate RecordedRate() const;
    int JoinAudioBranch();
    int BuildAudioFrontEnd();
    int JoinCaptureAudio();
    bool RecordsCaptureAudio() const;
    int ApplyInputLines(GstElement *filter, std::vector<std::string> *names, int *index);
    int BuildGrabberBranch();
    void StopPipeline();
    // The pipeline's running time now; none while it does not run.
    GstClockTime RunningTime() const;
    // The start of a frame to be captured shortly from now (its running time).
    GstClockTime NextFrameStart() const;
    // The end of stream into every source (and head that never got pads), off the UI thread.
    void EndStreams();
    void RemoveBuiltElements();
    // The recording file at teardown: removed without frames, else synced (named when a fault
    // left it unfinished).
    void FinishRecordingFile();
    void WatchRecordBranch(GstElement *gate, GstElement *fileSink);
    void AddEvent(GraphEvent event);
    GraphEvent ErrorEvent(const GError *error, GstObject *source) const;
    static uint32_t ErrorCode(const GError *error);
    static constexpr uint32_t kEndOfStreamCode = 0x80050000u;

    // Creates `factory` as `name` in the pipeline; null (nothing added) on failure.
    ElementRef Add(const char *factory, const char *name);
    void Box(std::string_view text) const;
    void ErrBox(std::string_view text) const;

    ServerContext &m_context;
    CaptureDevices &m_devices;
    CMotionGrabber &m_grabber;
    GrabberSink m_grabberSink;
    GraphParts m_parts;
    GraphDeviceAccess m_deviceAccess { *this };
    std::unique_ptr<BusWatch> m_busWatch;
    std::optional<RecordingFile> m_recordFile;
    RecordingSync m_recordSync;
    EndOfStreamSender m_endOfStream;
    std::atomic<uint64_t> m_framesRecorded { 0 }; // streaming thread writes, UI thread reads
    std::atomic<int64_t> m_failWritesUntil { 0 }; // steady-clock nanoseconds
    // The last frame that reached the record gate (streaming thread writes, UI thread reads).
    std::atomic<GstClockTime> m_lastFrameStart { GST_CLOCK_TIME_NONE };
    std::atomic<GstClockTime> m_framePeriod { 0 };
    bool m_faulted = false; // an error came during this run: no end of stream can finish it
    bool m_recordFinished = false; // the end of stream reached the file
    std::vector<GraphEvent> m_events;
    bool m_eventPosted = false;
    bool m_running = false;
    uint64_t m_framesAtRun = 0;
    EncoderParams m_encoderParams;
    std::optional<WmProfileInfo> m_profile; // the Windows Media recording's profile
};

} // namespace vorlund
