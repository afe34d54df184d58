// The record branch: its gates, its encoder and the file it writes.
#include "CaptureGraph.h"

#include "GraphDebug.h"

#include "Codecs.h"
#include "DeviceSettings.h"
#include "Encoders.h"
#include "GraphMessages.h"
#include "GraphUtils.h"

#include <algorithm>
#include <utility>

namespace vorlund {

namespace {

// How long a build waits for the last recording's sync before it makes the next file.
constexpr std::chrono::milliseconds kSyncBeforeNextFile { 2000 };
// How far ahead of now the gates switch: longer than any capture buffer lasts.
constexpr GstClockTime kGateLead = 50 * GST_MSECOND;

} // namespace

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

} // namespace vorlund
