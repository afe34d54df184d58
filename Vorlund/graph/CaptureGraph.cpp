#include "CaptureGraph.h"

#include "GraphDebug.h"

#include "AudioChain.h"
#include "CaptureDevices.h"
#include "CaptureFormat.h"
#include "Codecs.h"
#include "Crossbar.h"
#include "DeviceSettings.h"
#include "DvBranch.h"
#include "Encoders.h"
#include "GrabberBranch.h"
#include "GraphMessages.h"
#include "GraphUtils.h"
#include "MotionGrabber.h"
#include "SettingsFile.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <utility>

GST_DEBUG_CATEGORY(vorlund_graph_debug);

namespace vorlund {

CaptureGraph::CaptureGraph(ServerContext &context, CaptureDevices &devices, CMotionGrabber &grabber)
    : m_context(context), m_devices(devices), m_grabber(grabber), m_grabberSink(grabber)
{
    // Quiet unless asked for: GST_DEBUG=vorlund*:5.
    static const bool registered = [] {
        GST_DEBUG_CATEGORY_INIT(vorlund_graph_debug, "vorlundgraph", 0,
                                "the server's capture graph: builds, fallbacks, stops");
        return true;
    }();
    (void)registered;
}

CaptureGraph::~CaptureGraph()
{
    m_context.engine.KeepDeviceFilter = 0;
    TearDownGraph();
}

int CaptureGraph::Build()
{
    TearDownGraph();
    if (!(m_context.engine.KeepDeviceFilter.load() && m_parts.m_pGraph)) {
        if (const int result = BuildDeviceStage(); result != kGraphOk)
            return result;
    }
    // A probe stops after the device stage (and its tee).
    if (DeviceProbe)
        return kGraphOk;

    const CapsRef fixed = CapsOf(m_parts.m_pCaptureFormat.get());
    const GstStructure *s
        = fixed && !gst_caps_is_empty(fixed.get()) && !gst_caps_is_any(fixed.get())
        ? gst_caps_get_structure(fixed.get(), 0)
        : nullptr;
    if (!s) {
        m_context.log.AppendErrorLog("Graph error (no pCap?): ln4775.");
        return kGraphFailed;
    }
    m_parts.kind = SourceKindOf(s);
    const std::string &deviceName = m_context.settings.Config.DeviceName;
    m_context.shell.SetPaneText(kPaneDevice,
                                m_parts.kind == SourceKind::Dv ? "DV Cam - Audio OFF" : deviceName);

    const GraphBuild build = Builder();
    if (const int result = m_parts.kind == SourceKind::Dv ? BuildDvFrontEnd(build)
                                                          : BuildAudioFrontEnd(build, m_devices);
        result != kGraphOk)
        return result;

    GstElement *capturePin = nullptr;
    if (const int result = BuildCapturePin(capturePin); result != kGraphOk)
        return result;
    if (const int result = m_record.BuildGate(build, capturePin, Mpeg2FallbackUsed);
        result != kGraphOk)
        return result;
    if (const int result = BuildEncoderAndFile(); result != kGraphOk)
        return result == kGraphRebuilt ? kGraphOk : result;
    const WmProfileInfo *profile = m_encoder.profile ? &*m_encoder.profile : nullptr;
    if (const int result = m_parts.kind == SourceKind::Dv ? JoinDvAudio(build, profile)
                                                          : JoinCaptureAudio(build, profile);
        result != kGraphOk)
        return result;
    return BuildGrabberBranch(build, m_grabberSink, m_grabber);
}

int CaptureGraph::BuildDeviceStage()
{
    const GraphBuild build = Builder();
    const DeviceConfig &config = m_context.settings.Config;
    ElementRef pipeline(gst_pipeline_new(names::kPipeline), RefMode::HasRef);
    if (!pipeline) {
        build.Box("Could not create FilterGraph");
        return kGraphFailed;
    }
    m_parts.m_pGraph = pipeline;
    m_run.Watch(pipeline.get(), [this] { DrainBus(); });

    const std::string &name = config.DeviceName;
    BoundDevice device = m_devices.FindVideoDevice(name, name.empty() ? nullptr : name.c_str());
    if (!device.element) {
        build.ErrBox(kNoDeviceText);
        return kGraphFailed;
    }
    if (!gst_bin_add(GST_BIN(pipeline.get()), device.element.get())) {
        if (!DeviceProbe)
            build.ErrBox(kDeviceInUseText);
        return kGraphFailed;
    }
    m_parts.m_pCapture = device.element;
    m_parts.m_pCaptureFormat = build.Add("capsfilter", names::kCaptureFormat);
    if (!Link(m_parts.m_pCapture.get(), m_parts.m_pCaptureFormat.get())) {
        if (!DeviceProbe)
            build.ErrBox(kDeviceInUseText);
        return kGraphFailed;
    }
    const StoredFormat stored { config.CaptureSubtype, config.Block.CaptureWidth,
                                config.Block.CaptureHeight, config.FrameDuration };
    SetFormat(m_parts.m_pCapture.get(), m_parts.m_pCaptureFormat.get(), stored, &m_context.log);
    FixCaptureCaps(m_parts.m_pCapture.get(), m_parts.m_pCaptureFormat.get(), stored);

    if (DeviceProbe) {
        m_parts.m_pTee = build.Add("tee", names::kTee);
        if (!m_parts.m_pTee) {
            build.Box("Could not create Tfilter.\nIs GStreamer's core (libgstreamer1.0-0) "
                      "installed?");
            return kGraphFailed;
        }
        if (!Link(m_parts.m_pCaptureFormat.get(), m_parts.m_pTee.get()))
            return kGraphFailed;
    }
    return kGraphOk;
}

int CaptureGraph::BuildCapturePin(GstElement *&capturePin)
{
    const GraphBuild build = Builder();
    Mpeg2FallbackUsed = false;
    capturePin = m_parts.m_pCaptureFormat.get();
    const CapsRef fixed = CapsOf(capturePin);
    const GstStructure *s = gst_caps_get_structure(fixed.get(), 0);
    int width = 0, height = 0;
    gst_structure_get_int(s, "width", &width);
    gst_structure_get_int(s, "height", &height);
    const bool fits = width <= kMaxCaptureWidth && height <= kMaxCaptureHeight;
    if (m_parts.kind == SourceKind::Dv || (m_parts.kind != SourceKind::Other && fits)) {
        m_parts.grabberSize = m_parts.kind == SourceKind::Dv
            ? DvPictureSize(s, m_context.view.Startup.DVVideoFullSize != 0)
            : PictureSize { width, height };
        return kGraphOk;
    }
    // Anything else is decoded, converted to BGR and cut to the size the gate takes.
    m_parts.kind = SourceKind::Other;
    const DeviceConfig &config = m_context.settings.Config;
    m_parts.grabberSize
        = DecodedPictureSize(s, config.Block.CaptureWidth, config.Block.CaptureHeight);
    const bool raw = gst_structure_has_name(s, "video/x-raw");
    const bool stream = IsStreamSource(s);
    ElementRef decoder = raw ? ElementRef() : build.Add("decodebin", "Decoder");
    ElementRef convert = build.Add("videoconvert", "Convert");
    ElementRef scale = build.Add("videoscale", "Scale");
    ElementRef format = build.Add("capsfilter", "Decoded Format");
    if ((!raw && !decoder) || !convert || !scale || !format) {
        m_context.log.AppendErrorLog(MissingElementMessage(raw ? "videoconvert" : "decodebin"));
        return kGraphFailed;
    }
    g_object_set(format.get(), "caps", RawCaps("BGR", m_parts.grabberSize).get(), nullptr);
    bool linked = gst_element_link_many(convert.get(), scale.get(), format.get(), nullptr);
    if (decoder) {
        linked = linked && Link(capturePin, decoder.get());
        ConnectPadLinks(decoder.get(), new PadLinks { convert, {}, {}, {} });
        m_parts.decodedHead = convert;
    } else {
        linked = linked && Link(capturePin, convert.get());
    }
    capturePin = format.get();
    if (!stream) {
        if (!linked) {
            m_context.log.AppendErrorLog("Graph error (no pCap?): ln4775.");
            return kGraphFailed;
        }
        return kGraphOk;
    }
    // An encoder board's program stream: its decoded picture passes "VorlundAVI3", open.
    ElementRef avi3 = build.Add(IAviFilterControl::kFactoryName, names::kAvi3);
    if (!avi3) {
        build.Box("Could not create VorlundAVI3 filter.\r\nIs the VorlundAVI plugin "
                  "(libVorlundAVI.so) in the program's plugin folder?");
        return kGraphFailed;
    }
    IAviFilterControl control(avi3.get());
    control.SetPassThrough(1);
    control.SetStampEnabled(0);
    control.SetGateOpen(1);
    if (!linked || !Link(capturePin, avi3.get())) {
        build.Box("Could not Render to VorlundAVI3 filter.\r\nIs device in use?\r\n");
        return kGraphFailed;
    }
    Mpeg2FallbackUsed = true;
    capturePin = avi3.get();
    return kGraphOk;
}

int CaptureGraph::BuildEncoderAndFile()
{
    DeviceConfig &config = m_context.settings.Config;
    m_parts.format = ChooseRecordingFormat(config.UseWmProfile, config.CodecName);
    m_encoder.params = MakeEncoderParams(config, 0);
    m_encoder.state = &VideoCodecState;
    const GraphBuild build = Builder();
    ElementRef tail;
    if (!m_record.EncoderInput(build, RecordsCaptureAudio(build), tail))
        return kGraphFailed;
    const int result = BuildVideoEncoder(build, m_encoder, tail);
    if (result == kWmv9Wanted) {
        const int outcome = ApplyCodecSettings();
        if (outcome == 1) {
            GST_INFO("the WMV9 encoder fell back to MPEG-4 V3");
            return kGraphRebuilt;
        }
        if (outcome != -1)
            build.Box("Failed to create WMVideo9 Encoder filter!");
        return outcome < 0 ? outcome : kGraphFailed;
    }
    if (result != kGraphOk)
        return result;
    m_run.NewFile();
    return m_record.BuildFile(build, tail.get());
}

int CaptureGraph::ApplyCodecSettings()
{
    int live = 0, offline = 0, maximum = 0;
    const int result = FallBackVideoCodec(&live, &offline, &maximum);
    m_encoder.params = MakeEncoderParams(m_context.settings.Config, live);
    return result;
}

int CaptureGraph::FallBackVideoCodec(int *live, int *offline, int *maximum)
{
    *live = *offline = *maximum = 0;
    if (!SwitchToMpeg4V3(Builder()))
        return -1;
    m_context.engine.KeepDeviceFilter = 1;
    const int result = Build();
    if (result >= 0)
        return 1;
    m_context.engine.KeepDeviceFilter = 0;
    m_context.view.DeviceReady = false;
    TearDownGraph();
    return result;
}

void CaptureGraph::RemoveBuiltElements()
{
    if (!m_context.engine.KeepDeviceFilter.load()) {
        m_run.Unwatch();
        m_parts = GraphParts {};
        return;
    }
    // Keep the device stage; everything else goes, linked or not.
    GstBin *bin = GST_BIN(Pipeline());
    std::vector<ElementRef> doomed;
    GST_OBJECT_LOCK(bin);
    for (GList *l = bin->children; l; l = l->next) {
        GstElement *child = GST_ELEMENT(l->data);
        if (child != m_parts.m_pCapture.get() && child != m_parts.m_pCaptureFormat.get()
            && child != m_parts.m_pAudioCapture.get())
            doomed.emplace_back(child, RefMode::NeedsRef);
    }
    GST_OBJECT_UNLOCK(bin);
    for (const ElementRef &element : doomed) {
        gst_element_set_state(element.get(), GST_STATE_NULL);
        gst_bin_remove(bin, element.get());
    }
    GraphParts kept;
    kept.m_pGraph = std::move(m_parts.m_pGraph);
    kept.m_pCapture = std::move(m_parts.m_pCapture);
    kept.m_pCaptureFormat = std::move(m_parts.m_pCaptureFormat);
    kept.m_pAudioCapture = std::move(m_parts.m_pAudioCapture);
    m_parts = std::move(kept);
}

void CaptureGraph::TearDownGraph()
{
    if (!m_parts.m_pGraph)
        return;
    if (m_parts.m_pAviControl.IsValid() || m_parts.m_pAudioControl.IsValid())
        SetGateOpen(false);
    StopGraph();
    RemoveBuiltElements();
    m_record.Finish(m_context.log, m_run.FileWriteFailed());
}

void CaptureGraph::SetGateOpen(bool open)
{
    m_record.SetGateOpen(m_parts, open, m_run.RunningTime(Pipeline()));
    m_context.engine.GateOpen = open ? 1 : 0;
}

void CaptureGraph::FailRecordWrites(std::chrono::milliseconds duration)
{
    m_record.FailWrites(duration);
}

bool CaptureGraph::FailPictureSource()
{
    return FailSourceOnce(m_parts.m_pCapture.get());
}

bool CaptureGraph::FailSoundSource()
{
    return FailSourceOnce(m_parts.m_pAudioCapture.get());
}

void CaptureGraph::DrainBus()
{
    m_run.DrainBus(m_parts);
}

std::vector<GraphEvent> CaptureGraph::TakeGraphEvents()
{
    return m_run.TakeEvents();
}

int CaptureGraph::SelectAudioInput(ElementRef &filter, std::vector<std::string> *names, int *index)
{
    if (!m_context.engine.ViewWindow.load())
        m_context.engine.ViewWindow = &m_context.sink;
    m_context.view.DeviceReady = true;
    if (!m_parts.m_pGraph && Build() < 0) {
        m_context.engine.KeepDeviceFilter = 0;
        return kGraphFailed;
    }
    if (!filter) {
        ShowErrorBox(m_context.notifier,
                     m_context.settings.Config.DeviceName.find("DV Camera") != std::string::npos
                         ? "Error73: You are using the Audio built\ninto the DV Camcorder."
                         : "Error74: No Audio Device set.\nMake sure the Audio card is configured "
                           "correctly.");
        return kGraphFailed;
    }
    return ApplyInputLines(Builder(), filter.get(), names, index);
}

std::optional<std::vector<std::string>> CaptureGraph::ListAudioInputs(std::string_view device)
{
    const std::string &stored = m_context.settings.Config.AudioDevice;
    std::vector<std::string> names;
    if (device == stored || StoredText(device, kAudioDeviceWidth) == stored) {
        if (SelectAudioInput(m_parts.m_pAudioCapture, &names, nullptr) != kGraphOk)
            return std::nullopt;
        return names;
    }
    // Another device is bound for the listing alone, never added to the graph.
    BoundDevice other = m_devices.FindAudioDevice(device, nullptr);
    if (!other.element || SelectAudioInput(other.element, &names, nullptr) != kGraphOk)
        return std::nullopt;
    return names;
}

void CaptureGraph::ApplyAudioInput()
{
    SelectAudioInput(m_parts.m_pAudioCapture, nullptr, nullptr);
}

BuildResult CaptureGraph::BuildCaptureGraph(bool probe)
{
    DeviceProbe = probe;
    const int result = Build();
    DeviceProbe = false;
    GST_INFO("%s of \"%s\": %s%s%s", probe ? "probe" : "build",
             m_context.settings.Config.DeviceName.c_str(), result >= 0 ? "built" : "failed",
             m_record.Path().empty() ? "" : ", recording to ", m_record.Path().c_str());
    // A failed build may work on another device: the probe moves on.
    return result >= 0 ? BuildResult::Ok : BuildResult::Failed;
}

bool CaptureGraph::RunGraph()
{
    if (!IsBuilt())
        return false;
    m_framesAtRun = m_grabberSink.FramesDelivered();
    return m_run.Start(Pipeline());
}

void CaptureGraph::StopGraph()
{
    m_run.Stop(m_parts, EosWait, [this] { return m_record.EndReachedFile(); });
}

uint64_t CaptureGraph::FramesDelivered() const
{
    return m_grabberSink.FramesDelivered() - m_framesAtRun;
}

void CaptureGraph::SetAudioReferenceTime(int64_t time)
{
    if (m_parts.m_pAudioControl.IsValid())
        m_parts.m_pAudioControl.SetReferenceTime(time);
}

std::vector<std::string> CaptureGraph::ListVideoDevices()
{
    m_devices.ListVideoDevices();
    return m_devices.VideoDeviceNames;
}

std::vector<std::string> CaptureGraph::ListAudioDevices()
{
    m_devices.ListAudioDevices();
    return m_devices.AudioDeviceNames;
}

void CaptureGraph::RouteVideoInput(int input)
{
    if (input < 0)
        return;
    if (const std::optional<int> fd = SourceDeviceFd(m_parts.m_pCapture.get())) {
        V4l2VideoInputs inputs(*fd);
        inputs.SetInput(uint32_t(input));
    }
}

bool CaptureGraph::IsBuilt() const
{
    return m_parts.m_pGraph && m_parts.m_pGrabber;
}

void CaptureGraph::SetStamp(bool on, bool atTop)
{
    m_parts.m_pAviControl.SetStampEnabled(on);
    m_parts.m_pAviControl.SetStampAtTop(atTop);
}

std::filesystem::path CaptureGraph::RecordFile() const
{
    return m_record.Path();
}

bool CaptureGraph::RenameRecordFile(const LocalDateTime &now)
{
    return m_record.Rename(now, m_parts.format);
}

} // namespace vorlund
