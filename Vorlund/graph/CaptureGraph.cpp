#include "CaptureGraph.h"

#include "GraphDebug.h"

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

void CaptureGraph::SetStamp(bool on, bool atTop)
{
    m_parts.m_pAviControl.SetStampEnabled(on);
    m_parts.m_pAviControl.SetStampAtTop(atTop);
}

std::filesystem::path CaptureGraph::RecordFile() const
{
    return m_recordFile ? m_recordFile->path : std::filesystem::path();
}

} // namespace vorlund
