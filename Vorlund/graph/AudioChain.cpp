// The audio chain: free helpers, and the capture graph's sound from a capture device (source →
// level → [encoder →] "VorlundAudio" → multiplexer; Windows Media's encoder after the gate),
// its input line and the audio compressor.
#include "AudioChain.h"

#include "CaptureDevices.h"
#include "Codecs.h"
#include "DeviceSettings.h"
#include "Encoders.h"
#include "GraphMessages.h"
#include "GraphUtils.h"
#include "PulsePorts.h"
#include "SettingsFile.h"
#include "WmProfile.h"

namespace vorlund {

namespace {

constexpr std::string_view kAddAudioDeviceText
    = "Could not add Audio device to graph.\r\nPlease choose a different Audio device or disable "
      "audio.\r\n";
constexpr const char *kAudioLevel = "Audio Level";

std::string FactoryOf(GstElement *element)
{
    GstElementFactory *factory = element ? gst_element_get_factory(element) : nullptr;
    return factory ? GST_OBJECT_NAME(factory) : "";
}

std::string SourceDevice(GstElement *source)
{
    gchar *device = nullptr;
    if (g_object_class_find_property(G_OBJECT_GET_CLASS(source), "device"))
        g_object_get(source, "device", &device, nullptr);
    return TakeGString(device);
}

} // namespace

double MixLevel(int32_t inputLevel)
{
    switch (inputLevel) {
    case 0:
        return 1.0;
    case 1:
        return 0.5;
    case 2:
        return 0.2;
    default:
        return 0.6;
    }
}

std::string_view AudioCompressorName(RecordingFormat format)
{
    switch (format) {
    case RecordingFormat::Avi:
        return "MPEG Layer-3";
    case RecordingFormat::Mp4:
        return "3ivx D4 Audio Encoder";
    case RecordingFormat::Wmv:
        break;
    }
    return {};
}

std::vector<AudioLine> AudioInputLines(GstElement *source)
{
    const std::string factory = FactoryOf(source);
    if (factory == "audiotestsrc")
        return { { std::string(kMicrophoneLine), {} }, { std::string(kLineInLine), {} } };
    if (factory == "pulsesrc") {
        if (const std::optional<std::vector<PulsePort>> ports
            = PulseSourcePorts(SourceDevice(source));
            ports && !ports->empty()) {
            std::vector<AudioLine> lines;
            for (const PulsePort &port : *ports)
                lines.push_back(
                    { port.description.empty() ? port.name : port.description, port.name });
            return lines;
        }
    }
    // No mixer behind the source: its one input.
    return { { std::string(kMicrophoneLine), {} } };
}

std::optional<size_t> FindInputLine(const std::vector<AudioLine> &lines, std::string_view wanted)
{
    for (size_t i = 0; i < lines.size() && i < kMaxAudioInputLines; ++i) {
        if (lines[i].name == wanted)
            return i;
    }
    return std::nullopt;
}

bool SelectInputLine(GstElement *source, const AudioLine &line)
{
    if (line.port.empty())
        return true;
    return SetPulseSourcePort(SourceDevice(source), line.port);
}

ElementRef AddWmAudioEncoder(GstBin *bin, const char *name, const WmProfileInfo *profile)
{
    CreatedFilter made = CreateFilter("avenc_wmav2", bin, name);
    if (made.status != CreateFilterStatus::Ok)
        return {};
    const WmStream *audio = profile ? profile->Audio() : nullptr;
    if (audio && audio->bitrate > 0)
        g_object_set(made.element.get(), "bitrate", audio->bitrate, nullptr);
    PadRef out(gst_element_get_static_pad(made.element.get(), "src"), RefMode::HasRef);
    StampRunningTime(out.get());
    return std::move(made.element);
}

// --- the capture graph's sound ----------------------------------------------------------

bool RecordsCaptureAudio(const GraphBuild &build)
{
    const GraphParts &parts = build.parts;
    return parts.kind != SourceKind::Dv && parts.m_pAudioCapture && parts.m_pAudioControl.IsValid()
        && build.context.settings.Config.RecordAudio != 0;
}

int ApplyInputLines(const GraphBuild &build, GstElement *filter, std::vector<std::string> *names,
                    int *index)
{
    GraphParts &parts = build.parts;
    const std::vector<AudioLine> lines = AudioInputLines(filter);
    if (names) {
        names->clear();
        for (size_t i = 0; i < lines.size() && i < kMaxAudioInputLines; ++i)
            names->push_back(lines[i].name);
    }
    // Another device's lines are only listed.
    if (!filter || filter != parts.m_pAudioCapture.get())
        return kGraphOk;
    const DeviceConfig &config = build.context.settings.Config;
    const std::optional<size_t> chosen = FindInputLine(lines, config.AudioInput);
    if (!chosen)
        return kGraphOk;
    if (index)
        *index = int(*chosen);
    if (parts.m_pAudioLevel)
        g_object_set(parts.m_pAudioLevel.get(), "volume", MixLevel(config.InputLevel), nullptr);
    return SelectInputLine(filter, lines[*chosen]) ? kGraphOk : kGraphFailed;
}

int FindAudioCompressor(GraphParts &parts)
{
    parts.m_pAudioCodec = {};
    const std::string_view wanted = AudioCompressorName(parts.format);
    if (!wanted.empty())
        parts.m_pAudioCodec = BindCompressor(CodecKind::Audio, wanted, names::kAudioCodec);
    // A compressor that is not installed is simply absent.
    return kGraphOk;
}

int BuildAudioFrontEnd(const GraphBuild &build, CaptureDevices &devices)
{
    GraphParts &parts = build.parts;
    if (parts.kind == SourceKind::Dv
        || !(build.context.view.AudioDevicePresent || parts.m_pAudioCapture))
        return kGraphOk;
    const DeviceConfig &config = build.context.settings.Config;
    if (!parts.m_pAudioCapture) {
        BoundDevice device = devices.FindAudioDevice(config.AudioDevice, nullptr);
        if (device.element) {
            gst_object_set_name(GST_OBJECT(device.element.get()), config.AudioDevice.c_str());
            parts.m_pAudioCapture = device.element;
        } else {
            build.ErrBox("Could not find Audio Input device.\r\n");
        }
    }
    if (!parts.m_pAudioCapture)
        return kGraphOk;
    if (config.RecordAudio) {
        CreatedFilter made
            = CreateFilter(IAudioFilterControl::kFactoryName, build.Bin(), names::kAudio);
        if (made.status == CreateFilterStatus::AddFailed) {
            build.Box("Could not add Vorlund_Audio filter to graph");
            return kGraphFailed;
        }
        if (made.status == CreateFilterStatus::Ok)
            parts.m_pAudioControl = IAudioFilterControl(made.element.get());
        else
            build.ErrBox("Could not create Vorlund_Audio filter.\r\nIs the VorlundAudio plugin "
                         "(libVorlundAudio.so) in the program's plugin folder?");
    }
    // A source whose sound is not recorded stays bound but out of the pipeline: left
    // unlinked, a live source would stop the whole graph with not-linked.
    const bool joined = config.RecordAudio && parts.m_pAudioControl.IsValid();
    GstElement *source = parts.m_pAudioCapture.get();
    GstObject *parent = gst_object_get_parent(GST_OBJECT(source));
    const bool inGraph = parent == GST_OBJECT(parts.m_pGraph.get());
    if (parent)
        gst_object_unref(parent);
    if (joined && !inGraph && !gst_bin_add(build.Bin(), source)) {
        build.Box(kAddAudioDeviceText);
        return kGraphFailed;
    }
    if (!joined && inGraph) {
        gst_element_set_state(source, GST_STATE_NULL);
        gst_bin_remove(build.Bin(), source);
    }
    if (joined)
        parts.m_pAudioLevel = build.Add("volume", kAudioLevel);
    if (ApplyInputLines(build, source, nullptr, nullptr) != kGraphOk
        || (joined && !parts.m_pAudioLevel))
        build.ErrBox("Could not set Audio Input levels.\r\n");
    return kGraphOk;
}

namespace {

// A sound source may push a buffer as soon as its span begins, before a gate change asked for
// inside that span is in place: held this long in a queue, every buffer reaches the gate after
// the change meant for it.
constexpr guint64 kSoundHeldBeforeGate = 100 * GST_MSECOND;

// Source, [level,] a holding queue and what follows it: the gate, or the encoder before it.
bool LinkFront(const GraphBuild &build, GstElement *level, GstElement *next)
{
    ElementRef hold = build.Add("queue", "Audio Hold");
    if (!hold)
        return false;
    g_object_set(hold.get(), "max-size-buffers", 0u, "max-size-bytes", 0u, "max-size-time",
                 guint64(2 * GST_SECOND), "min-threshold-time", kSoundHeldBeforeGate, nullptr);
    GstElement *source = build.parts.m_pAudioCapture.get();
    return level ? gst_element_link_many(source, level, hold.get(), next, nullptr)
                 : gst_element_link_many(source, hold.get(), next, nullptr);
}

// The AVI multiplexer writes a picture only once the sound is half a second past it, so the
// last half second of an event would wait in front of it through the quiet after. The file
// keeps no times (pictures count frames, sound counts bytes): moving the sound's times by that
// half second makes it interleave by capture time, and an event's end goes out when its gates
// shut. A larger lead leaves the sound waiting for a picture that never comes; 20 ms more lets
// the last picture out though the sound's last packet may end half a packet before it.
constexpr gint64 kAviSoundLead = GST_SECOND / 2 + 20 * GST_MSECOND;

void InterleaveByCaptureTime(GstElement *soundTail)
{
    PadRef out(gst_element_get_static_pad(soundTail, "src"), RefMode::HasRef);
    PadRef in(out ? gst_pad_get_peer(out.get()) : nullptr, RefMode::HasRef);
    if (in)
        gst_pad_set_offset(in.get(), kAviSoundLead);
}

// AVI plays constant-rate sound by its bytes, and its multiplexer writes the stream's length
// from the packets' durations at the byte rate. The encoder pads its frames to keep that rate
// over a run of them only: the packets of the open periods are no such run, and the length
// came out a byte or more off the data. So each packet lasts exactly as long as its bytes.
void TimeSoundByItsBytes(GstElement *soundTail, GstElement *codec)
{
    gint kbits = 0;
    if (g_object_class_find_property(G_OBJECT_GET_CLASS(codec), "bitrate"))
        g_object_get(codec, "bitrate", &kbits, nullptr);
    PadRef out(gst_element_get_static_pad(soundTail, "src"), RefMode::HasRef);
    if (kbits <= 0 || !out)
        return;
    struct Bytes
    {
        guint64 perSecond;
        guint64 total = 0;
    };
    gst_pad_add_probe(
        out.get(), GST_PAD_PROBE_TYPE_BUFFER,
        +[](GstPad *, GstPadProbeInfo *info, gpointer data) {
            auto *bytes = static_cast<Bytes *>(data);
            GstBuffer *buffer = gst_buffer_make_writable(GST_PAD_PROBE_INFO_BUFFER(info));
            GST_PAD_PROBE_INFO_DATA(info) = buffer;
            // Rounded up, so that the length the multiplexer works out is the bytes written.
            const GstClockTime from
                = gst_util_uint64_scale_ceil(bytes->total, GST_SECOND, bytes->perSecond);
            bytes->total += gst_buffer_get_size(buffer);
            GST_BUFFER_DURATION(buffer)
                = gst_util_uint64_scale_ceil(bytes->total, GST_SECOND, bytes->perSecond) - from;
            return GST_PAD_PROBE_OK;
        },
        new Bytes { guint64(kbits) * 1000 / 8 },
        [](gpointer data) { delete static_cast<Bytes *>(data); });
}

// Samples by which an encoder's packets carry sound from before their times: each stamps its
// first packet with its first input's time, though the packet begins with the encoder's
// delay (measured: a click at sample 0 decodes at 1105 from MP3, at 1024 from AAC).
guint EncoderDelaySamples(GstElement *codec)
{
    const std::string factory = FactoryOf(codec);
    if (factory == "lamemp3enc")
        return 1105;
    if (factory == "avenc_aac")
        return 1024;
    return 0;
}

} // namespace

int JoinCaptureAudio(const GraphBuild &build, const WmProfileInfo *profile)
{
    GraphParts &parts = build.parts;
    // Without recorded sound the profile's stream count was checked with the video.
    if (!RecordsCaptureAudio(build))
        return kGraphOk;
    GstElement *gate = parts.m_pAudioControl.Element();
    GstElement *level = parts.m_pAudioLevel.get();
    const bool wmv = parts.format == RecordingFormat::Wmv;
    // The live source never waits for the multiplexer: the queue holds a couple of seconds.
    ElementRef queue = build.Add("queue", "Audio Queue");
    ElementRef convert = build.Add("audioconvert", "Audio Convert");
    ElementRef resample = build.Add("audioresample", "Audio Resample");
    if (!queue || !convert || !resample) {
        build.Box(wmv ? "Could not connect audio output.\r\n" : kAudioCompressorText);
        return kGraphFailed;
    }
    g_object_set(queue.get(), "max-size-buffers", 0u, "max-size-bytes", 0u, "max-size-time",
                 guint64(2 * GST_SECOND), nullptr);
    if (wmv) {
        ElementRef codec = AddWmAudioEncoder(build.Bin(), names::kAudioCodec, profile);
        const bool front = LinkFront(build, level, gate);
        if (!codec || !front
            || !gst_element_link_many(gate, queue.get(), convert.get(), resample.get(), codec.get(),
                                      nullptr)
            || !Link(codec.get(), parts.m_pMux.get())) {
            build.Box("Could not connect audio output.\r\n");
            return kGraphFailed;
        }
        parts.m_pAudioCodec = codec;
        return kGraphOk;
    }
    FindAudioCompressor(parts);
    // AVI indexes MP3 as constant bit rate: a variable one would play too long.
    if (parts.m_pAudioCodec && parts.format == RecordingFormat::Avi) {
        gst_util_set_object_arg(G_OBJECT(parts.m_pAudioCodec.get()), "target", "bitrate");
        g_object_set(parts.m_pAudioCodec.get(), "cbr", TRUE, nullptr);
    }
    if (parts.m_pAudioCodec && !gst_bin_add(build.Bin(), parts.m_pAudioCodec.get())) {
        parts.m_pAudioCodec = {};
        build.Box("Could not add Audio(MP3/AAC) Codec.\r\n");
        return kGraphFailed;
    }
    // The compressor is fed all the time and the gate drops whole packets behind it: an
    // encoder holds its last part-filled frame until more sound comes, so fed only through
    // the gate it kept an event's end in memory through the quiet after it, and emptied at
    // each shut it would add silence to the sound's time. Without a compressor the sound
    // reaches the multiplexer as it is: PCM in AVI, and no connection at all for MP4, which
    // takes compressed sound only.
    GstElement *codec = parts.m_pAudioCodec.get();
    const bool front = LinkFront(build, level, codec ? convert.get() : gate);
    if (!front) {
        build.Box("Could not connect Audio Capture and vlAudio filters.\r\n");
        return kGraphFailed;
    }
    const bool linked = codec
        ? gst_element_link_many(convert.get(), resample.get(), codec, gate, queue.get(), nullptr)
            && Link(queue.get(), parts.m_pMux.get())
        : gst_element_link_many(gate, queue.get(), convert.get(), resample.get(), nullptr)
            && Link(resample.get(), parts.m_pMux.get());
    if (!linked) {
        build.Box(kAudioCompressorText);
        return kGraphFailed;
    }
    if (codec)
        g_object_set(gate, "encoder-delay", EncoderDelaySamples(codec), nullptr);
    if (parts.format == RecordingFormat::Avi) {
        InterleaveByCaptureTime(codec ? queue.get() : resample.get());
        if (codec)
            TimeSoundByItsBytes(queue.get(), codec);
    }
    return kGraphOk;
}

} // namespace vorlund
