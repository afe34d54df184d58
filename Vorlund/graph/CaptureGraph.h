// The server's capture pipeline: BuildCaptureGraph makes it from the chosen device and the
// settings, TearDownGraph stops and dismantles it. This class builds the device stage and the
// capture pin and puts the parts together, each a topic of its own:
// - RecordBranch: the tee, the gate and the recording file;
// - Encoders.h: the video encoder between gate and file, and the WMV9 fallback;
// - AudioChain.h and DvBranch.h: the capture device's sound, the camcorder's front end and sound;
// - GrabberBranch.h: the branch to the motion detector;
// - PipelineRun: the run, the stop with its end of stream, and the bus's events.
// UI thread only; the streaming threads reach the detector through GrabberSink alone.
#pragma once

#include "CodecState.h"
#include "DeviceAccess.h"
#include "Encoders.h"
#include "GrabberSink.h"
#include "GraphBuild.h"
#include "GraphParts.h"
#include "PipelineRun.h"
#include "RecordBranch.h"
#include "ServerContext.h"

#include <chrono>
#include <vector>

namespace vorlund {

class CaptureDevices;
class CMotionGrabber;

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
    bool RenameRecordFile(const LocalDateTime &now) override;
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
    // The audio device dialog's: the lines of the device of that name; the stored choice
    // applied to the graph's source.
    std::optional<std::vector<std::string>> ListAudioInputs(std::string_view device);
    void ApplyAudioInput();

    // The device pages' probe: the build stops after the device stage.
    bool DeviceProbe = false;
    // The picture is an encoder board's program stream, decoded.
    bool Mpeg2FallbackUsed = false;

    // What "Configure" set on the chosen compressor; each build applies it to an encoder of
    // that compressor name.
    CodecState VideoCodecState;

    // How long a stop waits for the end of stream to reach the file.
    std::chrono::milliseconds EosWait { 3000 };

    // Test hook: for `duration` from now the record branch's file sink fails every write as a
    // full disk does (an error from the sink, a failed flow upstream).
    void FailRecordWrites(std::chrono::milliseconds duration);
    // Test hooks: the picture source (or the sound source) fails at its next buffer as a
    // camera unplugged mid-frame or a restarted sound server does: an error, and its stream
    // ends. False when the graph has no such source.
    bool FailPictureSource();
    bool FailSoundSource();
    uint64_t FramesRecorded() const override { return m_record.FramesRecorded(); }
    // True once every finished recording is synced and let go; waits at most `bound`.
    bool WaitRecordingsSynced(std::chrono::milliseconds bound)
    {
        return m_record.WaitSynced(bound);
    }

private:
    GraphBuild Builder() { return { m_context, m_parts }; }
    int BuildDeviceStage();
    int BuildCapturePin(GstElement *&capturePin);
    int BuildEncoderAndFile();
    // The WMV9 encoder path: with no WMV9 encoder here, the fallback to MPEG-4 V3 (1: the graph
    // was rebuilt with it; -1: no usable encoder, the user was told which package to install).
    int ApplyCodecSettings();
    int FallBackVideoCodec(int *live, int *offline, int *maximum);
    void RemoveBuiltElements();

    ServerContext &m_context;
    CaptureDevices &m_devices;
    CMotionGrabber &m_grabber;
    GrabberSink m_grabberSink;
    GraphParts m_parts;
    GraphDeviceAccess m_deviceAccess { *this };
    PipelineRun m_run { m_context };
    RecordBranch m_record;
    VideoEncoderSetup m_encoder;
    uint64_t m_framesAtRun = 0;
};

} // namespace vorlund
