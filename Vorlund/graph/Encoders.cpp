#include "Encoders.h"

#include "AudioChain.h"
#include "CodecState.h"
#include "Codecs.h"
#include "DeviceSettings.h"
#include "GraphMessages.h"
#include "GraphUtils.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace vorlund {

namespace {

bool IsFactory(GstElement *element, const char *name)
{
    GstElementFactory *factory = element ? gst_element_get_factory(element) : nullptr;
    return factory && std::strcmp(GST_OBJECT_NAME(factory), name) == 0;
}

bool IsLibavVideoEncoder(GstElement *element)
{
    return IsFactory(element, "avenc_msmpeg4") || IsFactory(element, "avenc_msmpeg4v2")
        || IsFactory(element, "avenc_wmv2");
}

GstPadProbeReturn ToRunningTime(GstPad *, GstPadProbeInfo *info, gpointer data)
{
    auto *segment = static_cast<GstSegment *>(data);
    if (info->type & GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM) {
        GstEvent *event = GST_PAD_PROBE_INFO_EVENT(info);
        if (GST_EVENT_TYPE(event) != GST_EVENT_SEGMENT)
            return GST_PAD_PROBE_OK;
        gst_event_copy_segment(event, segment);
        if (segment->format != GST_FORMAT_TIME)
            return GST_PAD_PROBE_OK;
        GstSegment zero;
        gst_segment_init(&zero, GST_FORMAT_TIME);
        GstEvent *replaced = gst_event_new_segment(&zero);
        gst_event_set_seqnum(replaced, gst_event_get_seqnum(event));
        gst_event_unref(event);
        GST_PAD_PROBE_INFO_DATA(info) = replaced;
        return GST_PAD_PROBE_OK;
    }
    if (segment->format != GST_FORMAT_TIME)
        return GST_PAD_PROBE_OK;
    GstBuffer *buffer = gst_buffer_make_writable(GST_PAD_PROBE_INFO_BUFFER(info));
    for (GstClockTime *t : { &GST_BUFFER_PTS(buffer), &GST_BUFFER_DTS(buffer) }) {
        if (GST_CLOCK_TIME_IS_VALID(*t))
            *t = gst_segment_to_running_time(segment, GST_FORMAT_TIME, *t);
    }
    GST_PAD_PROBE_INFO_DATA(info) = buffer;
    return GST_PAD_PROBE_OK;
}

} // namespace

EncoderParams MakeEncoderParams(const DeviceConfig &config, int32_t complexity)
{
    EncoderParams params;
    params.BitRate = config.Wmv9Bitrate;
    params.FrameRate = config.Wmv9FrameRate;
    params.Crisp = config.Wmv9CbrQuality;
    params.VbrQuality = config.Wmv9VbrQuality;
    params.Complexity = complexity;
    params.Vbr = config.Wmv9Vbr;
    return params;
}

int32_t ComputeDefaultBitrate(int32_t width, int32_t height, int64_t avgTimePerFrame,
                              double frameRate)
{
    const int32_t bitsPerFrame = int32_t(int64_t(width) * height * 2 / 5);
    double f = frameRate;
    if (f == 0)
        f = avgTimePerFrame > 0 ? 10'000'000.0 / double(avgTimePerFrame) : 29.97;
    const double rate = f * double(bitsPerFrame);
    return int32_t(std::clamp(rate, 0.0, double(INT32_MAX)));
}

void ConfigureVideoEncoder(GstElement *encoder, RecordingFormat, const EncoderParams &params,
                           int width, int height, FrameRate inputRate)
{
    const double fps = inputRate.num > 0 && inputRate.den > 0
        ? double(inputRate.num) / double(inputRate.den)
        : 0.0;
    if (IsFactory(encoder, "x264enc")) {
        gst_util_set_object_arg(G_OBJECT(encoder), "tune", "zerolatency");
        gst_util_set_object_arg(G_OBJECT(encoder), "speed-preset", "veryfast");
        g_object_set(encoder, "key-int-max", guint(std::clamp(std::lround(fps), 1L, 60L)), nullptr);
        return;
    }
    if (!IsLibavVideoEncoder(encoder))
        return;
    const int64_t avgTimePerFrame = fps > 0 ? int64_t(10'000'000.0 / fps) : 0;
    const int32_t bitrate = params.BitRate > 0
        ? params.BitRate
        : ComputeDefaultBitrate(width, height, avgTimePerFrame, params.FrameRate);
    const int gop
        = int(std::clamp(std::lround(params.KeyDistance * (fps > 0 ? fps : 25.0)), 1L, 600L));
    g_object_set(encoder, "bitrate", std::max(bitrate, 1000), "gop-size", gop, nullptr);
    if (params.Vbr) {
        const int quality = std::clamp(params.VbrQuality, 0, 100);
        // 100 gives the finest quantizer (2), 0 a coarse one (20).
        gst_util_set_object_arg(G_OBJECT(encoder), "pass", "quant");
        g_object_set(encoder, "quantizer", gfloat(2 + (100 - quality) * 18 / 100), nullptr);
    }
}

void StampRunningTime(GstPad *pad)
{
    auto *segment = gst_segment_new();
    gst_pad_add_probe(
        pad, GstPadProbeType(GST_PAD_PROBE_TYPE_BUFFER | GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM),
        ToRunningTime, segment, [](gpointer s) { gst_segment_free(static_cast<GstSegment *>(s)); });
}

// --- The WMV9 encoder's fallback -------------------------------------------------------

bool SwitchToMpeg4V3(const GraphBuild &build)
{
    // No WMV9 encoder exists here, so the probe always fails and the fallback runs.
    DeviceConfig &config = build.context.settings.Config;
    config.CodecName = std::string(kMpeg4V3CodecName);
    if (!BindCompressor(CodecKind::Video, config.CodecName, nullptr)) {
        build.context.log.AppendErrorLog(
            "Error using WMVideo9 Encoder DMO Codec, another video compression codec must be "
            "used, or install the Microsoft MPEG-4 Codecs.");
        // Never a modal question inside a rebuild: say what to install instead.
        build.context.notifier.ShowMessage(
            "Vorlund needs the MPEG-4 Video Compression codecs.\nInstall the Debian package "
            "gstreamer1.0-libav, then Close and Restart Vorlund.\n",
            "Video Compression");
        return false;
    }
    build.context.log.AppendErrorLog("Error using WMVideo9 Encoder DMO Codec, switching to "
                                     "Microsoft MPEG-4 Video Codec V3 filter.");
    build.context.shell.ShowBalloon({ "video compression",
                                      "\nusing Microsoft MPEG-4 Codec V3\n\nsee Error Log\n", 32516,
                                      0x140, 3000 });
    return true;
}

// --- The Windows Media path of the build ----------------------------------------------

FrameRate RecordedRate(const GraphBuild &build)
{
    const GraphParts &parts = build.parts;
    const CapsRef fixed = CapsOf(parts.m_pCaptureFormat.get());
    const GstStructure *s = fixed ? gst_caps_get_structure(fixed.get(), 0) : nullptr;
    if (parts.kind == SourceKind::Dv)
        return DvFrameRate(s, build.context.view.Startup.DVProgressiveMode == 0);
    FrameRate rate;
    if (!s || !gst_structure_get_fraction(s, "framerate", &rate.num, &rate.den))
        return {};
    return rate;
}

namespace {

int LoadProfileForRecording(const GraphBuild &build, std::optional<WmProfileInfo> &profile)
{
    const DeviceConfig &config = build.context.settings.Config;
    const LoadedProfile loaded = LoadWmProfile(config.WmProfilePath);
    profile = loaded.profile;
    if (profile && profile->Video())
        return kGraphOk;
    if (loaded.openError) {
        char text[300];
        std::snprintf(text, sizeof text, "Can't open Custom Profile\nError %d: %s",
                      loaded.openError, std::strerror(loaded.openError));
        build.context.notifier.ShowMessage(text, kPlainCaption);
    } else {
        build.Box("Failed to create profile");
    }
    build.Box("Failed to map profile ID!\n");
    build.Box("Could not Load WM Profile for AsfWriter");
    return kGraphFailed;
}

int BuildWmvVideo(const GraphBuild &build, VideoEncoderSetup &setup, ElementRef &tail)
{
    GraphParts &parts = build.parts;
    std::optional<WmProfileInfo> &profile = setup.profile;
    if (const int result = LoadProfileForRecording(build, profile); result != kGraphOk)
        return result;
    // The streams recorded must be the profile's: two with sound, one without. The
    // camcorder's sound is always recorded; a capture device's when the audio chain has it.
    const bool sound = parts.kind == SourceKind::Dv || RecordsCaptureAudio(build);
    if (sound && profile->streams.size() < 2) {
        build.ErrBox(
            "WM Profile streams do not match.\r\nYou have chosen to record Audio and Video (2 "
            "streams),\nbut the Profile you have selected only has 1 stream.\nPlease select a "
            "different Profile or edit this one.");
        return kGraphFailed;
    }
    if (!sound && profile->streams.size() > 1) {
        build.ErrBox(
            "WM Profile streams do not match.\r\nYou have chosen to record Video only (1 "
            "stream), but\nthe Profile you have selected requires 2 streams.\nPlease select a "
            "different Profile or edit this one, or enable\naudio recording from the Main Menu "
            "-> Command -> Audio Recording.\n");
        return kGraphFailed;
    }
    const WmStream &video = *profile->Video();
    PictureSize size = parts.grabberSize;
    if (video.width >= 16 && video.height >= 16 && video.width <= kMaxCaptureWidth
        && video.height <= kMaxCaptureHeight)
        size = { video.width & ~1, video.height & ~1 };
    ElementRef convert = build.Add("videoconvert", "WM Convert");
    ElementRef scale = build.Add("videoscale", "WM Scale");
    ElementRef format = build.Add("capsfilter", "WM Format");
    ElementRef codec = build.Add("avenc_wmv2", names::kVideoCodec);
    if (!convert || !scale || !format || !codec) {
        build.Box(MissingElementMessage(codec ? "videoconvert" : "avenc_wmv2"));
        return kGraphFailed;
    }
    g_object_set(format.get(), "caps", RawCaps("I420", size).get(), nullptr);
    EncoderParams params = setup.params;
    params.BitRate = video.bitrate;
    params.Vbr = 0; // the profile's bit rate rules
    ConfigureVideoEncoder(codec.get(), RecordingFormat::Wmv, params, size.width, size.height,
                          RecordedRate(build));
    if (!gst_element_link_many(tail.get(), convert.get(), scale.get(), format.get(), codec.get(),
                               nullptr)) {
        build.Box(kOutputStreamText);
        return kGraphFailed;
    }
    PadRef out(gst_element_get_static_pad(codec.get(), "src"), RefMode::HasRef);
    StampRunningTime(out.get());
    parts.m_pVideoCodec = codec;
    tail = codec;
    return kGraphOk;
}

} // namespace

int BuildVideoEncoder(const GraphBuild &build, VideoEncoderSetup &setup, ElementRef &tail)
{
    GraphParts &parts = build.parts;
    const DeviceConfig &config = build.context.settings.Config;
    if (parts.format == RecordingFormat::Wmv)
        return BuildWmvVideo(build, setup, tail);
    if (config.CodecName == "(None)")
        return kGraphOk;
    if (config.CodecName.find("DMO") != std::string::npos) {
        if (!IsWmv9CodecName(config.CodecName)) {
            build.ErrBox("Only Windows Media Video 9 codec is supported.\r\nPlease install "
                         "these codecs then select WMVideo9 Encoder DMO.");
            return kGraphFailed;
        }
        return kWmv9Wanted;
    }
    ElementRef codec = BindCompressor(CodecKind::Video, config.CodecName, names::kVideoCodec);
    ElementRef convert = build.Add("videoconvert", "Codec Convert");
    if (!codec || !convert || !gst_bin_add(build.Bin(), codec.get())) {
        build.Box(kNoCodecText);
        return kGraphFailed;
    }
    parts.m_pVideoCodec = codec;
    ConfigureVideoEncoder(codec.get(), parts.format, setup.params, parts.grabberSize.width,
                          parts.grabberSize.height, RecordedRate(build));
    if (setup.state)
        ApplyCodecState(codec.get(), *setup.state, config.CodecName);
    if (!gst_element_link_many(tail.get(), convert.get(), codec.get(), nullptr)) {
        build.Box(parts.kind == SourceKind::Dv ? "Could not render DV output stream2.\r\n"
                                               : kOutputStreamText);
        return kGraphFailed;
    }
    tail = codec;
    return kGraphOk;
}

} // namespace vorlund
