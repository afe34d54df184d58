// The camcorder's parts of the capture graph: the record branch's DV splitter and decoder in
// front of "VorlundAVI-2", and the camcorder's own sound into the multiplexer.
#include "CaptureGraph.h"

#include "AudioChain.h"

#include "Codecs.h"
#include "DeviceSettings.h"
#include "GraphMessages.h"
#include "GraphUtils.h"

namespace vorlund {

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
    // The first period keeps the camcorder's times: no frozen pictures before its first frame,
    // which the sound beside them does not have.
    g_object_set(rate.get(), "skip-to-first", TRUE, nullptr);
    const bool progressive = profile.DVProgressiveMode != 0;
    g_object_set(format.get(), "caps",
                 RawCaps("YUY2", DvPictureSize(s, profile.DVVideoFullSize != 0),
                         progressive ? FrameRate {} : DvFrameRate(s, true))
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

int CaptureGraph::JoinAudioBranch()
{
    if (m_parts.kind != SourceKind::Dv)
        return JoinCaptureAudio();
    // The camcorder's own sound, taken from the record branch's splitter once it appears.
    ElementRef queue = Add("queue", "DV Audio Queue");
    ElementRef convert = Add("audioconvert", "DV Audio Convert");
    if (!queue || !convert || !Link(queue.get(), convert.get())) {
        Box("Could not connect DV audio.\r\nTry a different Video Codec.\r\n\r\n");
        return kGraphFailed;
    }
    ElementRef tail = convert;
    if (m_parts.format == RecordingFormat::Wmv) {
        // Windows Media sound is encoded as the profile says.
        ElementRef resample = Add("audioresample", "DV Audio Resample");
        ElementRef codec = resample ? AddWmAudioEncoder(GST_BIN(Pipeline()), names::kAudioCodec,
                                                        m_profile ? &*m_profile : nullptr)
                                    : ElementRef();
        if (!codec || !gst_element_link_many(convert.get(), resample.get(), codec.get(), nullptr)) {
            Box("Could not connect DV audio.\r\nTry a different Video Codec.\r\n\r\n");
            return kGraphFailed;
        }
        m_parts.m_pAudioCodec = codec;
        tail = codec;
    } else if (m_parts.format == RecordingFormat::Mp4) {
        FindAudioCompressor();
        if (m_parts.m_pAudioCodec) {
            if (!gst_bin_add(GST_BIN(Pipeline()), m_parts.m_pAudioCodec.get())
                || !Link(convert.get(), m_parts.m_pAudioCodec.get())) {
                m_parts.m_pAudioCodec = {};
                Box("Could not add Audio(MP3/AAC) Codec.\r\n");
                return kGraphFailed;
            }
            tail = m_parts.m_pAudioCodec;
        } else {
            // The MP4 multiplexer takes compressed sound only.
            Box("Could not connect MP3/AAC Comp. audio.\r\n\r\n");
            return kGraphFailed;
        }
    }
    m_parts.dvAudioHead = queue;
    m_parts.dvAudioTail = tail;
    ConnectPadLinks(m_parts.m_pDvSplitter.get(),
                    new PadLinks { m_parts.dvVideoHead, queue, tail, m_parts.m_pMux });
    return kGraphOk;
}

} // namespace vorlund
