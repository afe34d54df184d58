#include "CaptureGraph.h"

#include "CaptureDevices.h"
#include "CaptureFormat.h"
#include "Codecs.h"
#include "DeviceSettings.h"
#include "Encoders.h"
#include "GraphUtils.h"
#include "MotionGrabber.h"

#include <cstring>
#include <utility>

namespace vorlund {

namespace {

constexpr std::string_view kNoDeviceText
    = "No video capture device was detected on your system.\r\n\r\nVorlund requires a "
      "functional video capture device, such\r\nas a USB web camera, DV camcorder, etc.";
constexpr std::string_view kDeviceInUseText
    = "Could not put capture device in graph.\r\nDevice in use? ";
constexpr std::string_view kAviConnectText
    = "Could not connect to VorlundAVI filter.\r\nIs the capture device being used by another "
      "application?\r\nAlso, check the Video Format...the max. resolution supported\r\nis 720 x "
      "576.";
constexpr std::string_view kMpeg2AdviceText
    = "Could not connect to VorlundAVI filter.\r\nThe device you are using might be an MPEG-2 "
      "Encoder board.\r\nPlease install an MPEG-2 Decoder filter and run Vorlund again.\r\n"
      "The Debian package gstreamer1.0-libav brings one (avdec_mpeg2video).";
constexpr std::string_view kNoCodecText
    = "Could not find Video Codec. (Microsoft MPEG-4 v2 is the default)\r\nPlease choose a "
      "different Video Compression Codec or see\r\nthe README.txt file in Vorlund directory for "
      "information\r\non how to re-install the MPEG-4 codecs.";
constexpr std::string_view kOutputStreamText
    = "Could not create output stream.\r\nTry a different Video Compressor.\r\nAlso, check the "
      "Video Format...the max. resolution supported\r\nis 720 x 576.";
constexpr std::string_view kGrabberText
    = "Incompatible video format/preview settings.\nChange video Format and try again.";
constexpr const char *kDvAudioMessage = "vorlund-dv-audio";

// Where a splitter's (or decoder's) pads go once they appear on the streaming thread.
struct PadLinks
{
    ElementRef videoHead;
    ElementRef audioHead, audioTail, mux; // record branch sound, into the multiplexer
};

bool LinkToHead(GstPad *pad, GstElement *head)
{
    if (!head)
        return false;
    PadRef sink(gst_element_get_static_pad(head, "sink"), RefMode::HasRef);
    return sink && !gst_pad_is_linked(sink.get())
        && gst_pad_link(pad, sink.get()) == GST_PAD_LINK_OK;
}

void OnPadAdded(GstElement *element, GstPad *pad, gpointer data)
{
    auto *links = static_cast<PadLinks *>(data);
    CapsRef caps(gst_pad_query_caps(pad, nullptr), RefMode::HasRef);
    const GstStructure *s = caps && !gst_caps_is_empty(caps.get()) && !gst_caps_is_any(caps.get())
        ? gst_caps_get_structure(caps.get(), 0)
        : nullptr;
    const MajorType type = MajorTypeOf(s);
    if (type == MajorType::Video) {
        LinkToHead(pad, links->videoHead.get());
        return;
    }
    if (type != MajorType::Audio || !links->audioHead || !links->mux)
        return;
    GstPad *muxPad = gst_element_request_pad_simple(links->mux.get(), "audio_%u");
    if (!muxPad)
        return;
    PadRef muxRef(muxPad, RefMode::HasRef);
    PadRef tail(gst_element_get_static_pad(links->audioTail.get(), "src"), RefMode::HasRef);
    if (gst_pad_link(tail.get(), muxPad) != GST_PAD_LINK_OK) {
        gst_element_release_request_pad(links->mux.get(), muxPad);
        return;
    }
    if (LinkToHead(pad, links->audioHead.get()))
        gst_element_post_message(
            element,
            gst_message_new_application(GST_OBJECT(element),
                                        gst_structure_new_empty(kDvAudioMessage)));
}

void ConnectPadLinks(GstElement *element, PadLinks *links)
{
    g_signal_connect_data(
        element, "pad-added", G_CALLBACK(OnPadAdded), links,
        [](gpointer data, GClosure *) { delete static_cast<PadLinks *>(data); }, GConnectFlags(0));
}

CapsRef CapsOf(GstElement *capsfilter)
{
    GstCaps *caps = nullptr;
    if (capsfilter)
        g_object_get(capsfilter, "caps", &caps, nullptr);
    return CapsRef(caps, RefMode::HasRef);
}

// The caps the capture format's filter settles on: the stored format where the device has it,
// else what the device offers; one fixed set, nearest the stored size and rate.
CapsRef FixCaptureCaps(GstElement *capture, GstElement *capsfilter, const StoredFormat &stored)
{
    CapsRef wanted = CapsOf(capsfilter);
    PadRef pad(gst_element_get_static_pad(capture, "src"), RefMode::HasRef);
    CapsRef offered;
    if (pad)
        offered = CapsRef(gst_pad_query_caps(pad.get(), nullptr), RefMode::HasRef);
    CapsRef chosen;
    if (wanted && offered)
        chosen = CapsRef(gst_caps_intersect(wanted.get(), offered.get()), RefMode::HasRef);
    if ((!chosen || gst_caps_is_empty(chosen.get())) && offered && !gst_caps_is_any(offered.get()))
        chosen = offered; // larger than the limits: scaled down behind the source
    if (!chosen || gst_caps_is_empty(chosen.get()) || gst_caps_is_any(chosen.get()))
        return wanted;
    GstCaps *caps = gst_caps_truncate(gst_caps_copy(chosen.get()));
    GstStructure *s = gst_caps_get_structure(caps, 0);
    if (gst_structure_has_field(s, "width"))
        gst_structure_fixate_field_nearest_int(s, "width", stored.width);
    if (gst_structure_has_field(s, "height"))
        gst_structure_fixate_field_nearest_int(s, "height",
                                               stored.height < 0 ? -stored.height : stored.height);
    if (gst_structure_has_field(s, "framerate")) {
        const FrameRate rate
            = stored.frameDuration >= kMinFrameDuration && stored.frameDuration <= kMaxFrameDuration
            ? FrameRateForDuration(stored.frameDuration)
            : FrameRate { 30, 1 };
        gst_structure_fixate_field_nearest_fraction(s, "framerate", rate.num, rate.den);
    }
    CapsRef fixed(gst_caps_fixate(caps), RefMode::HasRef);
    g_object_set(capsfilter, "caps", fixed.get(), nullptr);
    return fixed;
}

CapsRef RawCaps(const char *format, PictureSize size, FrameRate rate = {})
{
    GstCaps *caps
        = gst_caps_new_simple("video/x-raw", "format", G_TYPE_STRING, format, "width", G_TYPE_INT,
                              size.width, "height", G_TYPE_INT, size.height, nullptr);
    if (rate.num > 0)
        gst_caps_set_simple(caps, "framerate", GST_TYPE_FRACTION, rate.num, rate.den, nullptr);
    return CapsRef(caps, RefMode::HasRef);
}

bool Link(GstElement *a, GstElement *b)
{
    return a && b && gst_element_link(a, b);
}

// A DV stream's frame rate, halved when alternate frames are dropped.
FrameRate DvRate(const GstStructure *caps, bool half)
{
    const char *format = caps ? gst_structure_get_string(caps, "format") : nullptr;
    const bool ntsc = format && std::string_view(format) == "NTSC";
    FrameRate rate = ntsc ? FrameRate { 30000, 1001 } : FrameRate { 25, 1 };
    if (half)
        rate.den *= 2;
    return rate;
}

} // namespace

CaptureGraph::CaptureGraph(ServerContext &context, CaptureDevices &devices, CMotionGrabber &grabber)
    : m_context(context), m_devices(devices), m_grabber(grabber), m_grabberSink(grabber)
{ }

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

int CaptureGraph::BuildCaptureGraph()
{
    MainBranchBuilt = false;
    TearDownGraph();
    if (!(m_context.engine.KeepDeviceFilter.load() && m_parts.m_pGraph)) {
        if (const int result = BuildDeviceStage(); result != kGraphOk)
            return result;
    }
    if (CrossbarPageRequest || CapturePageRequest || TunerPageRequest || DeviceProbe)
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

    if (m_parts.kind == SourceKind::Dv) {
        if (const int result = BuildDvFrontEnd(); result != kGraphOk)
            return result;
    }
    // The audio front end of a capture device is added here by the audio chain.

    GstElement *capturePin = nullptr;
    if (const int result = BuildCapturePin(capturePin); result != kGraphOk)
        return result;
    if (const int result = BuildRecordBranch(capturePin); result != kGraphOk)
        return result;
    if (const int result = BuildEncoderAndFile(); result != kGraphOk)
        return result;
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

int CaptureGraph::BuildDvFrontEnd()
{
    const ProfileSettings &profile = m_context.view.Startup;
    const CapsRef fixed = CapsOf(m_parts.m_pCaptureFormat.get());
    const GstStructure *s = gst_caps_get_structure(fixed.get(), 0);

    m_parts.m_pDvDecoder = Add("dvdec", names::kDvDecoder);
    if (!m_parts.m_pDvDecoder) {
        Box("Could not create DV filter.");
        return kGraphFailed;
    }
    m_parts.m_pDvSplitter = Add("dvdemux", names::kDvSplitter);
    if (!m_parts.m_pDvSplitter) {
        Box("Could not create DV splitter.");
        return kGraphFailed;
    }
    ElementRef avi2 = Add(IAviFilterControl::kFactoryName, names::kAvi2);
    if (!avi2) {
        Box("Could not create VorlundAVI2 filter.\r\nIs VorlundAVI.ax registered?");
        return kGraphFailed;
    }
    IAviFilterControl control(avi2.get());
    control.SetPassThrough(1);
    control.SetRequireVideoInfo(1);
    control.SetStampEnabled(m_context.settings.Config.VideoTimestamp);
    control.SetStampAtTop(profile.TimeStampCorner);

    // Splitter video → queue → decoder → deinterlace → [half size] → [alternate frames
    // dropped] → VorlundAVI-2. The encoders take whole frames only.
    ElementRef queue = Add("queue", "DV Video Queue");
    ElementRef deinterlace = Add("deinterlace", "DV Deinterlace");
    ElementRef scale = Add("videoscale", "DV Scale");
    ElementRef rate = Add("videorate", "DV Rate");
    ElementRef format = Add("capsfilter", "DV Format");
    if (!queue || !deinterlace || !scale || !rate || !format) {
        Box("Could not add DV filter to graph");
        return kGraphFailed;
    }
    const bool progressive = profile.DVProgressiveMode != 0;
    g_object_set(format.get(), "caps",
                 RawCaps("YUY2", DvPictureSize(s, profile.DVVideoFullSize != 0),
                         progressive ? FrameRate {} : DvRate(s, true))
                     .get(),
                 nullptr);
    if (!gst_element_link_many(queue.get(), m_parts.m_pDvDecoder.get(), deinterlace.get(),
                               scale.get(), rate.get(), format.get(), avi2.get(), nullptr)) {
        Box("Could not render DV/VL2 output stream.\r\n");
        return kGraphFailed;
    }
    m_parts.dvVideoHead = queue;
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
    MainBranchBuilt = true;
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
        const long retime = tvRecording ? 0 : (config.UseWmProfile != 1 ? 1 : 0);
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
    const DeviceConfig &config = m_context.settings.Config;
    m_parts.format = ChooseRecordingFormat(config.UseWmProfile, config.CodecName);
    const bool dv = m_parts.kind == SourceKind::Dv;
    ElementRef tail = dv ? FindElementByName(GST_BIN(Pipeline()), names::kAvi2)
                         : ElementRef(m_parts.m_pAviControl.Element(), RefMode::NeedsRef);
    if (m_parts.format == RecordingFormat::Wmv) {
        Box("Could not create/hookup mux and writer");
        return kGraphFailed;
    }
    if (config.CodecName != "(None)") {
        ElementRef codec = BindCompressor(CodecKind::Video, config.CodecName, names::kVideoCodec);
        ElementRef convert = Add("videoconvert", "Codec Convert");
        if (!codec || !convert || !gst_bin_add(GST_BIN(Pipeline()), codec.get())) {
            Box(kNoCodecText);
            return kGraphFailed;
        }
        m_parts.m_pVideoCodec = codec;
        ConfigureVideoEncoder(codec.get(), m_parts.format);
        if (!gst_element_link_many(tail.get(), convert.get(), codec.get(), nullptr)) {
            Box(dv ? "Could not render DV output stream2.\r\n" : kOutputStreamText);
            return kGraphFailed;
        }
        tail = codec;
    }

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

    const bool mp4 = m_parts.format == RecordingFormat::Mp4;
    m_parts.m_pMux = Add(mp4 ? "mp4mux" : "avimux", names::kMux);
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
    return kGraphOk;
}

int CaptureGraph::JoinAudioBranch()
{
    if (m_parts.kind != SourceKind::Dv) {
        // A capture device's sound (audio source → VorlundAudio → [encoder] → multiplexer)
        // joins here; the audio chain adds it.
        return kGraphOk;
    }
    // The camcorder's own sound, taken from the record branch's splitter once it appears.
    ElementRef queue = Add("queue", "DV Audio Queue");
    ElementRef convert = Add("audioconvert", "DV Audio Convert");
    if (!queue || !convert || !Link(queue.get(), convert.get())) {
        Box("Could not connect DV audio.\r\nTry a different Video Codec.\r\n\r\n");
        return kGraphFailed;
    }
    ElementRef tail = convert;
    if (m_parts.format == RecordingFormat::Mp4) {
        if (ElementRef codec
            = BindCompressor(CodecKind::Audio, "3ivx D4 Audio Encoder", names::kAudioCodec)) {
            if (!gst_bin_add(GST_BIN(Pipeline()), codec.get())
                || !Link(convert.get(), codec.get())) {
                Box("Could not add Audio(MP3/AAC) Codec.\r\n");
                return kGraphFailed;
            }
            m_parts.m_pAudioCodec = codec;
            tail = codec;
        }
    }
    m_parts.dvAudioHead = queue;
    m_parts.dvAudioTail = tail;
    ConnectPadLinks(m_parts.m_pDvSplitter.get(),
                    new PadLinks { m_parts.dvVideoHead, queue, tail, m_parts.m_pMux });
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
        const FrameRate half = DvRate(gst_caps_get_structure(fixed.get(), 0), true);
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

bool CaptureGraph::RunGraph()
{
    if (!IsBuilt())
        return false;
    if (gst_element_set_state(Pipeline(), GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE)
        return false;
    m_running = true;
    return true;
}

bool CaptureGraph::IsBuilt() const
{
    return m_parts.m_pGraph && m_parts.m_pGrabber;
}

void CaptureGraph::SetGateOpen(bool open)
{
    m_parts.m_pAviControl.SetGateOpen(open);
    m_parts.m_pAudioControl.SetGateOpen(open);
    m_context.engine.GateOpen = open ? 1 : 0;
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

void CaptureGraph::StopPipeline()
{
    GstElement *pipeline = Pipeline();
    if (!pipeline)
        return;
    if (m_running) {
        if (m_busWatch)
            m_busWatch->SetEnabled(false);
        gst_element_send_event(pipeline, gst_event_new_eos());
        // A splitter or decoder that never saw a frame has no pads to pass the end on.
        for (GstElement *head : { m_parts.dvVideoHead.get(), m_parts.decodedHead.get() }) {
            PadRef sink(head ? gst_element_get_static_pad(head, "sink") : nullptr, RefMode::HasRef);
            if (sink && !gst_pad_is_linked(sink.get()))
                gst_pad_send_event(sink.get(), gst_event_new_eos());
        }
        BusRef bus(gst_element_get_bus(pipeline), RefMode::HasRef);
        MessageRef done(
            gst_bus_timed_pop_filtered(bus.get(), GstClockTime(EosWait.count()) * GST_MSECOND,
                                       GstMessageType(GST_MESSAGE_EOS | GST_MESSAGE_ERROR)),
            RefMode::HasRef);
    }
    gst_element_set_state(pipeline, GST_STATE_NULL);
    m_running = false;
    // What the old run reported is no news for the next one.
    BusRef bus(gst_element_get_bus(pipeline), RefMode::HasRef);
    gst_bus_set_flushing(bus.get(), TRUE);
    gst_bus_set_flushing(bus.get(), FALSE);
    if (m_busWatch)
        m_busWatch->SetEnabled(true);
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
    if (m_recordFile) {
        // A build that recorded nothing leaves no empty file behind.
        std::error_code ec;
        if (std::filesystem::file_size(m_recordFile->path, ec) == 0 && !ec)
            std::filesystem::remove(m_recordFile->path, ec);
        m_recordFile.reset();
    }
}

void CaptureGraph::AddEvent(GraphEvent event)
{
    m_events.push_back(std::move(event));
    if (!m_eventPosted) {
        m_eventPosted = true;
        m_context.sink.PostMessage(WM_GRAPH_EVENT, 0);
    }
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
            GError *error = nullptr;
            gst_message_parse_error(raw, &error, nullptr);
            AddEvent({ GraphEvent::Kind::Error, error ? error->message : "" });
            g_clear_error(&error);
            break;
        }
        case GST_MESSAGE_EOS:
            AddEvent({ GraphEvent::Kind::EndOfStream, {} });
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
