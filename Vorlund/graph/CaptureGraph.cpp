#include "CaptureGraph.h"

#include "CaptureDevices.h"
#include "CaptureFormat.h"
#include "Codecs.h"
#include "Crossbar.h"
#include "DeviceSettings.h"
#include "Encoders.h"
#include "GraphMessages.h"
#include "GraphUtils.h"
#include "MotionGrabber.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <utility>

GST_DEBUG_CATEGORY_STATIC(graph_debug);
#define GST_CAT_DEFAULT graph_debug

namespace vorlund {

namespace {

// How long a build waits for the last recording's sync before it makes the next file.
constexpr std::chrono::milliseconds kSyncBeforeNextFile { 2000 };
// How far ahead of now the gates switch: longer than any capture buffer lasts.
constexpr GstClockTime kGateLead = 50 * GST_MSECOND;
// How long a stopped pipeline's end-of-stream sends may take to return.
constexpr std::chrono::milliseconds kEosSendWait { 2000 };

} // namespace

CaptureGraph::CaptureGraph(ServerContext &context, CaptureDevices &devices, CMotionGrabber &grabber)
    : m_context(context), m_devices(devices), m_grabber(grabber), m_grabberSink(grabber)
{
    // Quiet unless asked for: GST_DEBUG=vorlund*:5.
    static const bool registered = [] {
        GST_DEBUG_CATEGORY_INIT(graph_debug, "vorlundgraph", 0,
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

void CaptureGraph::Box(std::string_view text) const
{
    m_context.notifier.ShowMessage(text, "Error!");
}

void CaptureGraph::ErrBox(std::string_view text) const
{
    ShowErrorBox(m_context.notifier, text);
}

ElementRef CaptureGraph::Add(const char *factory, const char *name)
{
    if (name) {
        CreatedFilter made = CreateFilter(factory, GST_BIN(Pipeline()), name);
        return made.status == CreateFilterStatus::Ok ? std::move(made.element) : ElementRef();
    }
    // Helpers without a name of their own get a unique one from GStreamer.
    ElementRef element(gst_element_factory_make(factory, nullptr), RefMode::HasRef);
    if (!element || !gst_bin_add(GST_BIN(Pipeline()), element.get()))
        return {};
    return element;
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

    if (const int result
        = m_parts.kind == SourceKind::Dv ? BuildDvFrontEnd() : BuildAudioFrontEnd();
        result != kGraphOk)
        return result;

    GstElement *capturePin = nullptr;
    if (const int result = BuildCapturePin(capturePin); result != kGraphOk)
        return result;
    if (const int result = BuildRecordBranch(capturePin); result != kGraphOk)
        return result;
    if (const int result = BuildEncoderAndFile(); result != kGraphOk)
        return result == kGraphRebuilt ? kGraphOk : result;
    if (const int result = JoinAudioBranch(); result != kGraphOk)
        return result;
    return BuildGrabberBranch();
}

int CaptureGraph::BuildDeviceStage()
{
    const DeviceConfig &config = m_context.settings.Config;
    ElementRef pipeline(gst_pipeline_new(names::kPipeline), RefMode::HasRef);
    if (!pipeline) {
        Box("Could not create FilterGraph");
        return kGraphFailed;
    }
    m_parts.m_pGraph = pipeline;
    BusRef bus(gst_pipeline_get_bus(GST_PIPELINE(pipeline.get())), RefMode::HasRef);
    m_busWatch = std::make_unique<BusWatch>(bus.get(), [this] { DrainBus(); });

    const std::string &name = config.DeviceName;
    BoundDevice device = m_devices.FindVideoDevice(name, name.empty() ? nullptr : name.c_str());
    if (!device.element) {
        ErrBox(kNoDeviceText);
        return kGraphFailed;
    }
    if (!gst_bin_add(GST_BIN(pipeline.get()), device.element.get())) {
        if (!DeviceProbe)
            ErrBox(kDeviceInUseText);
        return kGraphFailed;
    }
    m_parts.m_pCapture = device.element;
    m_parts.m_pCaptureFormat = Add("capsfilter", names::kCaptureFormat);
    if (!Link(m_parts.m_pCapture.get(), m_parts.m_pCaptureFormat.get())) {
        if (!DeviceProbe)
            ErrBox(kDeviceInUseText);
        return kGraphFailed;
    }
    const StoredFormat stored { config.CaptureSubtype, config.Block.CaptureWidth,
                                config.Block.CaptureHeight, config.FrameDuration };
    SetFormat(m_parts.m_pCapture.get(), m_parts.m_pCaptureFormat.get(), stored, &m_context.log);
    FixCaptureCaps(m_parts.m_pCapture.get(), m_parts.m_pCaptureFormat.get(), stored);

    if (DeviceProbe) {
        m_parts.m_pTee = Add("tee", names::kTee);
        if (!m_parts.m_pTee) {
            Box("Could not create Tfilter.\nIs DirectX 8 installed?");
            return kGraphFailed;
        }
        if (!Link(m_parts.m_pCaptureFormat.get(), m_parts.m_pTee.get()))
            return kGraphFailed;
    }
    return kGraphOk;
}

int CaptureGraph::BuildCapturePin(GstElement *&capturePin)
{
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
    ElementRef decoder = raw ? ElementRef() : Add("decodebin", "Decoder");
    ElementRef convert = Add("videoconvert", "Convert");
    ElementRef scale = Add("videoscale", "Scale");
    ElementRef format = Add("capsfilter", "Decoded Format");
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
    ElementRef avi3 = Add(IAviFilterControl::kFactoryName, names::kAvi3);
    if (!avi3) {
        Box("Could not create VorlundAVI3 filter.\r\nIs VorlundAVI.ax registered?");
        return kGraphFailed;
    }
    IAviFilterControl control(avi3.get());
    control.SetPassThrough(1);
    control.SetStampEnabled(0);
    control.SetGateOpen(1);
    if (!linked || !Link(capturePin, avi3.get())) {
        Box("Could not Render to VorlundAVI3 filter.\r\nIs device in use?\r\n");
        return kGraphFailed;
    }
    Mpeg2FallbackUsed = true;
    capturePin = avi3.get();
    return kGraphOk;
}

int CaptureGraph::BuildRecordBranch(GstElement *capturePin)
{
    const bool fallback = Mpeg2FallbackUsed;
    Mpeg2FallbackUsed = false;
    m_parts.m_pTee = Add("tee", names::kTee);
    if (!m_parts.m_pTee) {
        Box("Could not create Tee filter.");
        return kGraphFailed;
    }
    if (!Link(capturePin, m_parts.m_pTee.get())) {
        Box("Could not connect device filters.\r\nIs the capture device being used by another "
            "application?");
        return kGraphFailed;
    }
    ElementRef avi = Add(IAviFilterControl::kFactoryName, names::kAvi);
    if (!avi) {
        Box("Could not create VorlundAVI filter.\r\nIs VorlundAVI.ax registered?");
        return kGraphFailed;
    }
    m_parts.m_pAviControl = IAviFilterControl(avi.get());
    const DeviceConfig &config = m_context.settings.Config;
    const bool tvRecording = m_context.engine.TvMode.load() == 1 && config.TvRecord;
    if (tvRecording)
        m_parts.m_pAviControl.SetPassThrough(1);
    if (m_parts.kind == SourceKind::Dv)
        m_parts.m_pAviControl.SetAcceptInterleaved(1);
    if (m_parts.m_pAudioControl.IsValid()) {
        // Windows Media sound is re-timed too: the video gate closes the gaps of every format,
        // and sound that kept its capture times would drift behind the picture.
        const long retime = tvRecording ? 0 : 1;
        m_parts.m_pAudioControl.SetRetiming(retime, &m_parts.m_pAviControl);
        m_parts.m_pAviControl.SetHoldMode(1);
    }

    // The recording branch never drops a frame: its queue holds a couple of seconds.
    ElementRef queue = Add("queue", "Record Queue");
    if (queue)
        g_object_set(queue.get(), "max-size-buffers", 0u, "max-size-bytes", 0u, "max-size-time",
                     guint64(2 * GST_SECOND), nullptr);
    const CapsRef teeCaps = CapsOf(capturePin);
    PadRef aviSink(gst_element_get_static_pad(avi.get(), "sink"), RefMode::HasRef);
    CapsRef accepted(gst_pad_query_caps(aviSink.get(), nullptr), RefMode::HasRef);
    const bool fits = teeCaps && gst_caps_can_intersect(teeCaps.get(), accepted.get());
    if (!queue || !fits || !Link(m_parts.m_pTee.get(), queue.get())
        || !Link(queue.get(), avi.get())) {
        ErrBox(fallback ? kMpeg2AdviceText : kAviConnectText);
        return kGraphFailed;
    }
    Mpeg2FallbackUsed = fallback;
    if (m_parts.kind == SourceKind::Dv && !Link(avi.get(), m_parts.m_pDvSplitter.get())) {
        Box("Could not connect DV splitter. (Stage1)\r\n");
        return kGraphFailed;
    }
    return kGraphOk;
}

int CaptureGraph::BuildEncoderAndFile()
{
    DeviceConfig &config = m_context.settings.Config;
    m_parts.format = ChooseRecordingFormat(config.UseWmProfile, config.CodecName);
    const bool dv = m_parts.kind == SourceKind::Dv;
    ElementRef tail = dv ? FindElementByName(GST_BIN(Pipeline()), names::kAvi2)
                         : ElementRef(m_parts.m_pAviControl.Element(), RefMode::NeedsRef);
    m_encoderParams = MakeEncoderParams(config, 0);
    if (RecordsCaptureAudio()) {
        // A multiplexer waiting for the sound must not hold up the gate: it would judge
        // stale frames and pass other moments than the sound gate.
        ElementRef queue = Add("queue", "Gate Queue");
        if (!queue || !Link(tail.get(), queue.get())) {
            Box(kOutputStreamText);
            return kGraphFailed;
        }
        g_object_set(queue.get(), "max-size-buffers", 0u, "max-size-bytes", 0u, "max-size-time",
                     guint64(2 * GST_SECOND), nullptr);
        tail = queue;
    }
    if (m_parts.format == RecordingFormat::Wmv) {
        if (const int result = BuildWmvVideo(tail); result != kGraphOk)
            return result;
    } else if (config.CodecName != "(None)") {
        if (config.CodecName.find("DMO") != std::string::npos) {
            if (!IsWmv9CodecName(config.CodecName)) {
                ErrBox("Only Windows Media Video 9 codec is supported.\r\nPlease install these "
                       "codecs then select WMVideo9 Encoder DMO.");
                return kGraphFailed;
            }
            const int outcome = ApplyCodecSettings();
            if (outcome == 1) {
                GST_INFO("the WMV9 encoder fell back to MPEG-4 V3");
                return kGraphRebuilt;
            }
            if (outcome != -1)
                Box("Failed to create WMVideo9 Encoder filter!");
            return outcome < 0 ? outcome : kGraphFailed;
        }
        ElementRef codec = BindCompressor(CodecKind::Video, config.CodecName, names::kVideoCodec);
        ElementRef convert = Add("videoconvert", "Codec Convert");
        if (!codec || !convert || !gst_bin_add(GST_BIN(Pipeline()), codec.get())) {
            Box(kNoCodecText);
            return kGraphFailed;
        }
        m_parts.m_pVideoCodec = codec;
        ConfigureVideoEncoder(codec.get(), m_parts.format, m_encoderParams,
                              m_parts.grabberSize.width, m_parts.grabberSize.height,
                              RecordedRate());
        ApplyCodecState(codec.get(), VideoCodecState, config.CodecName);
        if (!gst_element_link_many(tail.get(), convert.get(), codec.get(), nullptr)) {
            Box(dv ? "Could not render DV output stream2.\r\n" : kOutputStreamText);
            return kGraphFailed;
        }
        tail = codec;
    }

    // The last recording is on disk before the next one begins.
    m_recordSync.WaitSynced(kSyncBeforeNextFile);
    std::string error;
    std::optional<RecordingFile> file
        = CreateRecordingFile(m_context.settings.Config.VideoFolder.empty()
                                  ? m_context.view.VideoFolder
                                  : std::filesystem::path(m_context.settings.Config.VideoFolder),
                              m_context.clock.Now(), m_parts.format, &error);
    if (!file) {
        m_context.log.AppendErrorLog("Could not create the recording file: " + error);
        Box("Could not create/hookup mux and writer");
        return kGraphFailed;
    }
    m_recordFile = std::move(file);
    m_framesRecorded = 0;
    m_recordFinished = false;

    const bool mp4 = m_parts.format == RecordingFormat::Mp4;
    const bool wmv = m_parts.format == RecordingFormat::Wmv;
    m_parts.m_pMux = Add(mp4 ? "mp4mux" : wmv ? "asfmux" : "avimux", names::kMux);
    m_parts.m_pFileSink = Add("filesink", names::kFileSink);
    if (!m_parts.m_pMux || !m_parts.m_pFileSink
        || !Link(m_parts.m_pMux.get(), m_parts.m_pFileSink.get())) {
        Box(mp4 ? "Could not find/create 3ivx Media Muxer"
                : "Could not create/hookup mux and writer");
        return kGraphFailed;
    }
    // Fragments of about a second: a killed recording keeps all but its last fragment.
    if (mp4)
        g_object_set(m_parts.m_pMux.get(), "fragment-duration", 1000u, nullptr);
    // Each buffer goes straight to the file (no 64 KB stdio buffer to lose).
    g_object_set(m_parts.m_pFileSink.get(), "location", m_recordFile->path.c_str(), "sync", FALSE,
                 "async", FALSE, nullptr);
    gst_util_set_object_arg(G_OBJECT(m_parts.m_pFileSink.get()), "buffer-mode", "unbuffered");
    if (!Link(tail.get(), m_parts.m_pMux.get())) {
        Box(dv ? "Could not render DV output stream2.\r\n" : kOutputStreamText);
        return kGraphFailed;
    }
    WatchRecordBranch(m_parts.m_pAviControl.Element(), m_parts.m_pFileSink.get());
    return kGraphOk;
}

namespace {

int64_t SteadyNanoseconds()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

} // namespace

void CaptureGraph::WatchRecordBranch(GstElement *gate, GstElement *fileSink)
{
    m_lastFrameStart = GST_CLOCK_TIME_NONE;
    m_framePeriod = 0;
    PadRef arriving(gst_element_get_static_pad(gate, "sink"), RefMode::HasRef);
    gst_pad_add_probe(
        arriving.get(), GST_PAD_PROBE_TYPE_BUFFER,
        +[](GstPad *, GstPadProbeInfo *info, gpointer self) {
            auto *graph = static_cast<CaptureGraph *>(self);
            GstBuffer *buffer = GST_PAD_PROBE_INFO_BUFFER(info);
            const GstClockTime pts = GST_BUFFER_PTS(buffer);
            const GstClockTime last = graph->m_lastFrameStart.load();
            if (GST_BUFFER_DURATION_IS_VALID(buffer))
                graph->m_framePeriod = GST_BUFFER_DURATION(buffer);
            else if (GST_CLOCK_TIME_IS_VALID(pts) && GST_CLOCK_TIME_IS_VALID(last) && pts > last)
                graph->m_framePeriod = pts - last;
            graph->m_lastFrameStart = pts;
            return GST_PAD_PROBE_OK;
        },
        this, nullptr);
    PadRef passed(gst_element_get_static_pad(gate, "src"), RefMode::HasRef);
    gst_pad_add_probe(
        passed.get(), GstPadProbeType(GST_PAD_PROBE_TYPE_BUFFER | GST_PAD_PROBE_TYPE_BUFFER_LIST),
        +[](GstPad *, GstPadProbeInfo *info, gpointer self) {
            const uint64_t n = GST_PAD_PROBE_INFO_TYPE(info) & GST_PAD_PROBE_TYPE_BUFFER_LIST
                ? gst_buffer_list_length(GST_PAD_PROBE_INFO_BUFFER_LIST(info))
                : 1;
            static_cast<CaptureGraph *>(self)->m_framesRecorded += n;
            return GST_PAD_PROBE_OK;
        },
        this, nullptr);
    PadRef written(gst_element_get_static_pad(fileSink, "sink"), RefMode::HasRef);
    gst_pad_add_probe(
        written.get(), GstPadProbeType(GST_PAD_PROBE_TYPE_BUFFER | GST_PAD_PROBE_TYPE_BUFFER_LIST),
        +[](GstPad *pad, GstPadProbeInfo *info, gpointer self) {
            if (SteadyNanoseconds() >= static_cast<CaptureGraph *>(self)->m_failWritesUntil.load())
                return GST_PAD_PROBE_OK;
            // What the file sink does when a write fails for want of space.
            GstElement *sink = GST_ELEMENT(gst_pad_get_parent(pad));
            GST_ELEMENT_ERROR(sink, RESOURCE, NO_SPACE_LEFT, ("No space left on the resource."),
                              ("injected write fault"));
            gst_object_unref(sink);
            gst_mini_object_unref(GST_MINI_OBJECT(GST_PAD_PROBE_INFO_DATA(info)));
            GST_PAD_PROBE_INFO_FLOW_RETURN(info) = GST_FLOW_ERROR;
            return GST_PAD_PROBE_HANDLED;
        },
        this, nullptr);
}

void CaptureGraph::FailRecordWrites(std::chrono::milliseconds duration)
{
    m_failWritesUntil = SteadyNanoseconds()
        + std::chrono::duration_cast<std::chrono::nanoseconds>(duration).count();
}

int CaptureGraph::BuildGrabberBranch()
{
    ElementRef queue = Add("queue", "Grabber Queue");
    if (!queue || !Link(m_parts.m_pTee.get(), queue.get())) {
        ErrBox(kGrabberText);
        return kGraphFailed;
    }
    // The detector wants the newest frame, never a backlog.
    gst_util_set_object_arg(G_OBJECT(queue.get()), "leaky", "downstream");
    g_object_set(queue.get(), "max-size-buffers", 2u, "max-size-bytes", 0u, "max-size-time",
                 guint64(0), nullptr);
    ElementRef tail = queue;
    std::vector<ElementRef> chain;
    if (m_parts.kind == SourceKind::Yuy2) {
        ElementRef colorSpace = Add(IColorSpaceFilterControl::kFactoryName, names::kColorSpace);
        if (colorSpace) {
            m_parts.m_pColorSpace = IColorSpaceFilterControl(colorSpace.get());
            chain.push_back(colorSpace);
        } else {
            m_context.log.AppendErrorLog("VorlundColorSpace filter not found");
        }
    } else if (m_parts.kind == SourceKind::Dv) {
        ElementRef decoder = Add("dvdec", names::kDvDecoder2);
        if (!decoder) {
            Box("Could not create DV Decoder2.");
            return kGraphFailed;
        }
        ElementRef splitter = Add("dvdemux", names::kDvSplitter2);
        if (!splitter) {
            Box("Could not create DV Splitter2.");
            return kGraphFailed;
        }
        if (!Link(queue.get(), splitter.get())) {
            Box("Could not connect DV splitter2. (Stage3)\r\n");
            return kGraphFailed;
        }
        ElementRef head = Add("queue", "DV Grabber Queue");
        ElementRef rate = Add("videorate", "DV Grabber Rate");
        ElementRef format = Add("capsfilter", "DV Grabber Rate Format");
        if (!head || !rate || !format) {
            ErrBox(kGrabberText);
            return kGraphFailed;
        }
        const CapsRef fixed = CapsOf(m_parts.m_pCaptureFormat.get());
        CapsRef caps(gst_caps_new_empty_simple("video/x-raw"), RefMode::HasRef);
        const FrameRate half = DvFrameRate(gst_caps_get_structure(fixed.get(), 0), true);
        gst_caps_set_simple(caps.get(), "framerate", GST_TYPE_FRACTION, half.num, half.den,
                            nullptr);
        g_object_set(format.get(), "caps", caps.get(), nullptr);
        ConnectPadLinks(splitter.get(), new PadLinks { head, {}, {}, {} });
        m_parts.dvGrabberHead = head;
        tail = head;
        chain.insert(chain.end(), { decoder, rate, format });
    }
    for (const char *factory : { "videoscale", "videoconvert" }) {
        ElementRef element = Add(factory, nullptr);
        if (!element) {
            ErrBox(kGrabberText);
            return kGraphFailed;
        }
        chain.push_back(element);
    }
    ElementRef format = Add("capsfilter", "Grabber Format");
    ElementRef sink = m_grabberSink.CreateAppSink(names::kGrabber);
    if (!format || !sink || !gst_bin_add(GST_BIN(Pipeline()), sink.get())) {
        ErrBox(kGrabberText);
        return kGraphFailed;
    }
    g_object_set(format.get(), "caps", RawCaps("BGR", m_parts.grabberSize).get(), nullptr);
    chain.push_back(format);
    chain.push_back(sink);
    for (const ElementRef &next : chain) {
        if (!Link(tail.get(), next.get())) {
            ErrBox(kGrabberText);
            return kGraphFailed;
        }
        tail = next;
    }
    m_parts.m_pGrabber = sink;
    m_grabber.SetFormat(m_parts.grabberSize.width, m_parts.grabberSize.height, 0);
    return kGraphOk;
}

BuildResult CaptureGraph::BuildCaptureGraph(bool probe)
{
    DeviceProbe = probe;
    const int result = Build();
    DeviceProbe = false;
    GST_INFO("%s of \"%s\": %s%s%s", probe ? "probe" : "build",
             m_context.settings.Config.DeviceName.c_str(), result >= 0 ? "built" : "failed",
             m_recordFile ? ", recording to " : "", m_recordFile ? m_recordFile->path.c_str() : "");
    // A failed build may work on another device: the probe moves on.
    return result >= 0 ? BuildResult::Ok : BuildResult::Failed;
}

bool CaptureGraph::RunGraph()
{
    if (!IsBuilt())
        return false;
    m_framesAtRun = m_grabberSink.FramesDelivered();
    m_faulted = false;
    if (gst_element_set_state(Pipeline(), GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE)
        return false;
    m_running = true;
    return true;
}

void CaptureGraph::StopGraph()
{
    StopPipeline();
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

void CaptureGraph::SetGateOpen(bool open)
{
    // Both gates switch at one moment of capture time, however long their streams wait in
    // queues before they reach them: the start of a frame, so the picture passes whole frames
    // and the sound, cut by the middle of its buffers, as much time as they.
    const GstClockTime now = NextFrameStart();
    m_parts.m_pAviControl.SetGateTime(now);
    m_parts.m_pAudioControl.SetGateTime(now);
    m_parts.m_pAviControl.SetGateOpen(open);
    m_parts.m_pAudioControl.SetGateOpen(open);
    m_context.engine.GateOpen = open ? 1 : 0;
}

void CaptureGraph::SetStamp(bool on, bool atTop)
{
    m_parts.m_pAviControl.SetStampEnabled(on);
    m_parts.m_pAviControl.SetStampAtTop(atTop);
}

GstClockTime CaptureGraph::RunningTime() const
{
    GstElement *pipeline = Pipeline();
    if (!m_running || !pipeline)
        return GST_CLOCK_TIME_NONE;
    ClockRef clock(gst_element_get_clock(pipeline), RefMode::HasRef);
    if (!clock)
        return GST_CLOCK_TIME_NONE;
    const GstClockTime now = gst_clock_get_time(clock.get());
    const GstClockTime base = gst_element_get_base_time(pipeline);
    return now >= base ? now - base : GST_CLOCK_TIME_NONE;
}

GstClockTime CaptureGraph::NextFrameStart() const
{
    // Live sources push a buffer when its span begins: a switch inside a buffer already on its
    // way would come too late for it, so the switch lies ahead of every buffer begun by now.
    GstClockTime now = RunningTime();
    if (GST_CLOCK_TIME_IS_VALID(now))
        now += kGateLead;
    const GstClockTime last = m_lastFrameStart.load();
    const GstClockTime period = m_framePeriod.load();
    if (!GST_CLOCK_TIME_IS_VALID(now) || !GST_CLOCK_TIME_IS_VALID(last) || period == 0
        || period > GST_SECOND)
        return now;
    if (now <= last)
        return last;
    return last + (now - last + period - 1) / period * period;
}

std::filesystem::path CaptureGraph::RecordFile() const
{
    return m_recordFile ? m_recordFile->path : std::filesystem::path();
}

void CaptureGraph::StopPipeline()
{
    GstElement *pipeline = Pipeline();
    if (!pipeline)
        return;
    // After an error the stream is dead somewhere: an end of stream would never come through,
    // and the file stays as the fault left it.
    if (m_running && !m_faulted) {
        if (m_busWatch)
            m_busWatch->SetEnabled(false);
        EndStreams();
        BusRef bus(gst_element_get_bus(pipeline), RefMode::HasRef);
        MessageRef done(
            gst_bus_timed_pop_filtered(bus.get(), GstClockTime(EosWait.count()) * GST_MSECOND,
                                       GstMessageType(GST_MESSAGE_EOS | GST_MESSAGE_ERROR)),
            RefMode::HasRef);
        m_recordFinished = done && GST_MESSAGE_TYPE(done.get()) == GST_MESSAGE_EOS;
        GST_INFO("stop: %s",
                 m_recordFinished ? "the end of stream reached the file"
                     : done       ? "an error came before the end of stream"
                                  : "no end of stream in time");
    } else if (m_running) {
        GST_INFO("stop after an error: no end of stream can come through");
    }
    gst_element_set_state(pipeline, GST_STATE_NULL);
    // Stopped streaming threads let go of their locks: a send still waiting ends now. One that
    // does not must never reach the kept device in the next run.
    if (!m_endOfStream.WaitSent(kEosSendWait))
        m_context.engine.KeepDeviceFilter = 0;
    m_running = false;
    // What the old run reported is no news for the next one.
    BusRef bus(gst_element_get_bus(pipeline), RefMode::HasRef);
    gst_bus_set_flushing(bus.get(), TRUE);
    gst_bus_set_flushing(bus.get(), FALSE);
    if (m_busWatch)
        m_busWatch->SetEnabled(true);
}

void CaptureGraph::EndStreams()
{
    std::vector<ElementRef> sources;
    GstIterator *it = gst_bin_iterate_sources(GST_BIN(Pipeline()));
    GValue item = G_VALUE_INIT;
    while (gst_iterator_next(it, &item) == GST_ITERATOR_OK) {
        sources.emplace_back(GST_ELEMENT(g_value_get_object(&item)), RefMode::NeedsRef);
        g_value_reset(&item);
    }
    g_value_unset(&item);
    gst_iterator_free(it);
    // The picture first: while its gate is shut the multiplexer may hold the sound branch, and
    // only the picture's end of stream lets it go.
    std::stable_partition(sources.begin(), sources.end(), [this](const ElementRef &source) {
        return source.get() == m_parts.m_pCapture.get();
    });
    for (const ElementRef &source : sources)
        m_endOfStream.Send(source.get(), nullptr);
    // A splitter or decoder that never saw a frame has no pads to pass the end on.
    for (GstElement *head : { m_parts.dvVideoHead.get(), m_parts.decodedHead.get() }) {
        PadRef sink(head ? gst_element_get_static_pad(head, "sink") : nullptr, RefMode::HasRef);
        if (sink && !gst_pad_is_linked(sink.get()))
            m_endOfStream.Send(head, sink.get());
    }
}

void CaptureGraph::RemoveBuiltElements()
{
    if (!m_context.engine.KeepDeviceFilter.load()) {
        m_busWatch.reset();
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
    StopPipeline();
    RemoveBuiltElements();
    FinishRecordingFile();
}

void CaptureGraph::FinishRecordingFile()
{
    if (!m_recordFile)
        return;
    RecordingFile file = std::move(*m_recordFile);
    m_recordFile.reset();
    if (m_framesRecorded.load() == 0) {
        GST_INFO("%s had no frame: removed", file.path.c_str());
        std::error_code ec;
        std::filesystem::remove(file.path, ec);
        return;
    }
    GST_INFO("%s: %" G_GUINT64_FORMAT " frames, %s", file.path.c_str(), m_framesRecorded.load(),
             m_recordFinished ? "finished" : "left unfinished");
    if (!m_recordFinished)
        m_context.log.AppendErrorLog(UnfinishedRecordingText(file.path));
    m_recordSync.Finish(std::move(file));
}

void CaptureGraph::AddEvent(GraphEvent event)
{
    m_events.push_back(std::move(event));
    if (!m_eventPosted) {
        m_eventPosted = true;
        m_context.sink.PostMessage(WM_GRAPH_EVENT, 0);
    }
}

GraphEvent CaptureGraph::ErrorEvent(const GError *error, GstObject *source) const
{
    GraphEvent event;
    event.code = ErrorCode(error);
    event.text = error && error->message ? error->message : "";
    // The capture source failing on a device node that is gone: the device was removed.
    GstElement *capture = m_parts.m_pCapture.get();
    if (capture && source == GST_OBJECT(capture) && error && error->domain == GST_RESOURCE_ERROR
        && g_object_class_find_property(G_OBJECT_GET_CLASS(capture), "device")) {
        gchar *device = nullptr;
        g_object_get(capture, "device", &device, nullptr);
        std::error_code ec;
        if (device && *device && !std::filesystem::exists(device, ec))
            event.kind = GraphEvent::Kind::DeviceLost;
        g_free(device);
    }
    return event;
}

uint32_t CaptureGraph::ErrorCode(const GError *error)
{
    // 0x8xDDCCCC: D = the error's domain (1 core, 2 library, 3 resource, 4 stream), C its code.
    if (!error)
        return 0x80000000u;
    uint32_t domain = 0;
    if (error->domain == GST_CORE_ERROR)
        domain = 1;
    else if (error->domain == GST_LIBRARY_ERROR)
        domain = 2;
    else if (error->domain == GST_RESOURCE_ERROR)
        domain = 3;
    else if (error->domain == GST_STREAM_ERROR)
        domain = 4;
    return 0x80000000u | (domain << 16) | (uint32_t(error->code) & 0xFFFFu);
}

void CaptureGraph::DrainBus()
{
    GstElement *pipeline = Pipeline();
    if (!pipeline)
        return;
    BusRef bus(gst_element_get_bus(pipeline), RefMode::HasRef);
    while (GstMessage *raw = gst_bus_pop(bus.get())) {
        MessageRef message(raw, RefMode::HasRef);
        switch (GST_MESSAGE_TYPE(raw)) {
        case GST_MESSAGE_ERROR: {
            m_faulted = true;
            GError *error = nullptr;
            gst_message_parse_error(raw, &error, nullptr);
            AddEvent(ErrorEvent(error, GST_MESSAGE_SRC(raw)));
            g_clear_error(&error);
            break;
        }
        case GST_MESSAGE_EOS:
            // An end of stream nobody asked for: the source stopped.
            AddEvent({ GraphEvent::Kind::Abort, kEndOfStreamCode, "end of stream" });
            break;
        case GST_MESSAGE_APPLICATION:
            if (gst_structure_has_name(gst_message_get_structure(raw), kDvAudioMessage))
                m_context.shell.SetPaneText(kPaneDevice, "DV Cam - Audio ON");
            break;
        default:
            break;
        }
    }
}

std::vector<GraphEvent> CaptureGraph::TakeGraphEvents()
{
    m_eventPosted = false;
    return std::exchange(m_events, {});
}

} // namespace vorlund
