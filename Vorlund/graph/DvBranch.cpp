#include "DvBranch.h"

#include "AudioChain.h"

#include "Codecs.h"
#include "DeviceSettings.h"
#include "GraphMessages.h"
#include "GraphUtils.h"

namespace vorlund {

int BuildDvFrontEnd(const GraphBuild &build)
{
    GraphParts &parts = build.parts;
    const ProfileSettings &profile = build.context.view.Startup;
    const CapsRef fixed = CapsOf(parts.m_pCaptureFormat.get());
    const GstStructure *s = gst_caps_get_structure(fixed.get(), 0);

    parts.m_pDvDecoder = build.Add("dvdec", names::kDvDecoder);
    if (!parts.m_pDvDecoder) {
        build.Box("Could not create DV filter.");
        return kGraphFailed;
    }
    parts.m_pDvSplitter = build.Add("dvdemux", names::kDvSplitter);
    if (!parts.m_pDvSplitter) {
        build.Box("Could not create DV splitter.");
        return kGraphFailed;
    }
    ElementRef avi2 = build.Add(IAviFilterControl::kFactoryName, names::kAvi2);
    if (!avi2) {
        build.Box("Could not create VorlundAVI2 filter.\r\nIs the VorlundAVI plugin "
                  "(libVorlundAVI.so) in the program's plugin folder?");
        return kGraphFailed;
    }
    IAviFilterControl control(avi2.get());
    control.SetPassThrough(1);
    control.SetRequireVideoInfo(1);
    control.SetStampEnabled(build.context.settings.Config.VideoTimestamp);
    control.SetStampAtTop(profile.TimeStampCorner);

    // Splitter video → queue → decoder → deinterlace → [half size] → [alternate frames
    // dropped] → VorlundAVI-2. The encoders take whole frames only.
    ElementRef queue = build.Add("queue", "DV Video Queue");
    ElementRef deinterlace = build.Add("deinterlace", "DV Deinterlace");
    ElementRef scale = build.Add("videoscale", "DV Scale");
    ElementRef rate = build.Add("videorate", "DV Rate");
    ElementRef format = build.Add("capsfilter", "DV Format");
    if (!queue || !deinterlace || !scale || !rate || !format) {
        build.Box("Could not add DV filter to graph");
        return kGraphFailed;
    }
    // The first period keeps the camcorder's times: no frozen pictures before its first frame,
    // which the sound beside them does not have.
    g_object_set(rate.get(), "skip-to-first", TRUE, nullptr);
    const bool progressive = profile.DVProgressiveMode != 0;
    g_object_set(format.get(), "caps",
                 RawCaps("YUY2", DvPictureSize(s, profile.DVVideoFullSize != 0),
                         progressive ? FrameRate {} : DvFrameRate(s, true))
                     .get(),
                 nullptr);
    if (!gst_element_link_many(queue.get(), parts.m_pDvDecoder.get(), deinterlace.get(),
                               scale.get(), rate.get(), format.get(), avi2.get(), nullptr)) {
        build.Box("Could not render DV/VL2 output stream.\r\n");
        return kGraphFailed;
    }
    parts.dvVideoHead = queue;
    return kGraphOk;
}

int JoinDvAudio(const GraphBuild &build, const WmProfileInfo *profile)
{
    GraphParts &parts = build.parts;
    // The camcorder's own sound, taken from the record branch's splitter once it appears.
    ElementRef queue = build.Add("queue", "DV Audio Queue");
    ElementRef convert = build.Add("audioconvert", "DV Audio Convert");
    if (!queue || !convert || !Link(queue.get(), convert.get())) {
        build.Box("Could not connect DV audio.\r\nTry a different Video Codec.\r\n\r\n");
        return kGraphFailed;
    }
    ElementRef tail = convert;
    if (parts.format == RecordingFormat::Wmv) {
        // Windows Media sound is encoded as the profile says.
        ElementRef resample = build.Add("audioresample", "DV Audio Resample");
        ElementRef codec
            = resample ? AddWmAudioEncoder(build.Bin(), names::kAudioCodec, profile) : ElementRef();
        if (!codec || !gst_element_link_many(convert.get(), resample.get(), codec.get(), nullptr)) {
            build.Box("Could not connect DV audio.\r\nTry a different Video Codec.\r\n\r\n");
            return kGraphFailed;
        }
        parts.m_pAudioCodec = codec;
        tail = codec;
    } else if (parts.format == RecordingFormat::Mp4) {
        FindAudioCompressor(parts);
        if (parts.m_pAudioCodec) {
            if (!gst_bin_add(build.Bin(), parts.m_pAudioCodec.get())
                || !Link(convert.get(), parts.m_pAudioCodec.get())) {
                parts.m_pAudioCodec = {};
                build.Box("Could not add Audio(MP3/AAC) Codec.\r\n");
                return kGraphFailed;
            }
            tail = parts.m_pAudioCodec;
        } else {
            // The MP4 multiplexer takes compressed sound only.
            build.Box(kAudioCompressorText);
            return kGraphFailed;
        }
    }
    parts.dvAudioHead = queue;
    parts.dvAudioTail = tail;
    ConnectPadLinks(parts.m_pDvSplitter.get(),
                    new PadLinks { parts.dvVideoHead, queue, tail, parts.m_pMux });
    return kGraphOk;
}

} // namespace vorlund
