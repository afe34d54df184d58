#include "RecordBranch.h"

#include "GraphDebug.h"

#include "DeviceSettings.h"
#include "GraphMessages.h"
#include "GraphUtils.h"

#include <sys/stat.h>
#include <utility>

namespace vorlund {

namespace {

// How long a build waits for the last recording's sync before it makes the next file.
constexpr std::chrono::milliseconds kSyncBeforeNextFile { 2000 };
// Shorter than any picture or sound packet: every sample ends the fragment before it.
constexpr guint kMp4FragmentMs = 1;
// The ASF multiplexer writes a packet only once it is full: a 4800-byte packet held the last
// half second of a quiet scene's event in memory through the quiet after it. 512 bytes hold a
// sound packet or two at most, for about 5 % more file.
constexpr guint kAsfPacketBytes = 512;

int64_t SteadyNanoseconds()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

} // namespace

int RecordBranch::BuildGate(const GraphBuild &build, GstElement *capturePin, bool &mpeg2Fallback)
{
    GraphParts &parts = build.parts;
    const bool fallback = mpeg2Fallback;
    mpeg2Fallback = false;
    parts.m_pTee = build.Add("tee", names::kTee);
    if (!parts.m_pTee) {
        build.Box("Could not create Tee filter.");
        return kGraphFailed;
    }
    if (!Link(capturePin, parts.m_pTee.get())) {
        build.Box("Could not connect device filters.\r\nIs the capture device being used by "
                  "another application?");
        return kGraphFailed;
    }
    ElementRef avi = build.Add(IAviFilterControl::kFactoryName, names::kAvi);
    if (!avi) {
        build.Box("Could not create VorlundAVI filter.\r\nIs the VorlundAVI plugin "
                  "(libVorlundAVI.so) in the program's plugin folder?");
        return kGraphFailed;
    }
    parts.m_pAviControl = IAviFilterControl(avi.get());
    const DeviceConfig &config = build.context.settings.Config;
    const bool tvRecording = build.context.engine.TvMode.load() == 1 && config.TvRecord;
    if (tvRecording)
        parts.m_pAviControl.SetPassThrough(1);
    if (parts.kind == SourceKind::Dv)
        parts.m_pAviControl.SetAcceptInterleaved(1);
    if (parts.m_pAudioControl.IsValid()) {
        // Windows Media sound is re-timed too: the video gate closes the gaps of every format,
        // and sound that kept its capture times would drift behind the picture.
        const long retime = tvRecording ? 0 : 1;
        parts.m_pAudioControl.SetRetiming(retime, &parts.m_pAviControl);
        parts.m_pAviControl.SetHoldMode(1);
    }

    // The recording branch never drops a frame: its queue holds a couple of seconds.
    ElementRef queue = build.Add("queue", "Record Queue");
    if (queue)
        g_object_set(queue.get(), "max-size-buffers", 0u, "max-size-bytes", 0u, "max-size-time",
                     guint64(2 * GST_SECOND), nullptr);
    const CapsRef teeCaps = CapsOf(capturePin);
    PadRef aviSink(gst_element_get_static_pad(avi.get(), "sink"), RefMode::HasRef);
    CapsRef accepted(gst_pad_query_caps(aviSink.get(), nullptr), RefMode::HasRef);
    const bool fits = teeCaps && gst_caps_can_intersect(teeCaps.get(), accepted.get());
    if (!queue || !fits || !Link(parts.m_pTee.get(), queue.get())
        || !Link(queue.get(), avi.get())) {
        build.ErrBox(fallback ? kMpeg2AdviceText : kAviConnectText);
        return kGraphFailed;
    }
    mpeg2Fallback = fallback;
    if (parts.kind == SourceKind::Dv && !Link(avi.get(), parts.m_pDvSplitter.get())) {
        build.Box("Could not connect DV splitter. (Stage1)\r\n");
        return kGraphFailed;
    }
    return kGraphOk;
}

bool RecordBranch::EncoderInput(const GraphBuild &build, bool recordsSound, ElementRef &tail) const
{
    tail = build.parts.kind == SourceKind::Dv
        ? FindElementByName(build.Bin(), names::kAvi2)
        : ElementRef(build.parts.m_pAviControl.Element(), RefMode::NeedsRef);
    if (!recordsSound)
        return true;
    // A multiplexer waiting for the sound must not hold up the gate: it would judge stale
    // frames and pass other moments than the sound gate.
    ElementRef queue = build.Add("queue", "Gate Queue");
    if (!queue || !Link(tail.get(), queue.get())) {
        build.Box(kOutputStreamText);
        return false;
    }
    g_object_set(queue.get(), "max-size-buffers", 0u, "max-size-bytes", 0u, "max-size-time",
                 guint64(2 * GST_SECOND), nullptr);
    tail = queue;
    return true;
}

int RecordBranch::BuildFile(const GraphBuild &build, GstElement *tail)
{
    GraphParts &parts = build.parts;
    const DeviceConfig &config = build.context.settings.Config;
    // The last recording is on disk before the next one begins.
    m_sync.WaitSynced(kSyncBeforeNextFile);
    std::string error;
    std::optional<RecordingFile> file = CreateRecordingFile(
        config.VideoFolder.empty() ? build.context.view.VideoFolder
                                   : std::filesystem::path(config.VideoFolder),
        build.context.clock.Now(), parts.format, &error);
    if (!file) {
        build.context.log.AppendErrorLog("Could not create the recording file: " + error);
        build.Box("Could not create/hookup mux and writer");
        return kGraphFailed;
    }
    m_file = std::move(file);
    m_format = parts.format;
    m_framesRecorded = 0;
    m_buffersAtSink = 0;
    m_dataAtSink = false;
    m_headerBytes = 0;
    m_endAtSink = false;
    m_writeFailed = false;

    const bool mp4 = parts.format == RecordingFormat::Mp4;
    const bool wmv = parts.format == RecordingFormat::Wmv;
    parts.m_pMux = build.Add(mp4 ? "mp4mux" : wmv ? "asfmux" : "avimux", names::kMux);
    parts.m_pFileSink = build.Add("filesink", names::kFileSink);
    if (!parts.m_pMux || !parts.m_pFileSink || !Link(parts.m_pMux.get(), parts.m_pFileSink.get())) {
        build.Box(mp4 ? "Could not find/create 3ivx Media Muxer"
                      : "Could not create/hookup mux and writer");
        return kGraphFailed;
    }
    // One sample a fragment: the multiplexer writes a fragment only when the next sample comes,
    // so longer ones would stay in memory through the quiet after an event once its gates shut,
    // and be lost by a kill or a power cut. Costs about 6 KB a second of fragment headers.
    if (mp4)
        g_object_set(parts.m_pMux.get(), "fragment-duration", kMp4FragmentMs, nullptr);
    if (wmv)
        g_object_set(parts.m_pMux.get(), "packet-size", kAsfPacketBytes, nullptr);
    // Each buffer goes straight to the file (no 64 KB stdio buffer to lose).
    g_object_set(parts.m_pFileSink.get(), "location", m_file->path.c_str(), "sync", FALSE, "async",
                 FALSE, nullptr);
    gst_util_set_object_arg(G_OBJECT(parts.m_pFileSink.get()), "buffer-mode", "unbuffered");
    if (!Link(tail, parts.m_pMux.get())) {
        build.Box(parts.kind == SourceKind::Dv ? "Could not render DV output stream2.\r\n"
                                               : kOutputStreamText);
        return kGraphFailed;
    }
    Watch(parts.m_pAviControl.Element(), tail, parts.m_pFileSink.get());
    return kGraphOk;
}

void RecordBranch::Watch(GstElement *gate, GstElement *muxInput, GstElement *fileSink)
{
    m_lastFrameStart = GST_CLOCK_TIME_NONE;
    m_framePeriod = 0;
    PadRef arriving(gst_element_get_static_pad(gate, "sink"), RefMode::HasRef);
    gst_pad_add_probe(
        arriving.get(), GST_PAD_PROBE_TYPE_BUFFER,
        +[](GstPad *, GstPadProbeInfo *info, gpointer self) {
            auto *branch = static_cast<RecordBranch *>(self);
            GstBuffer *buffer = GST_PAD_PROBE_INFO_BUFFER(info);
            const GstClockTime pts = GST_BUFFER_PTS(buffer);
            const GstClockTime last = branch->m_lastFrameStart.load();
            if (GST_BUFFER_DURATION_IS_VALID(buffer))
                branch->m_framePeriod = GST_BUFFER_DURATION(buffer);
            else if (GST_CLOCK_TIME_IS_VALID(pts) && GST_CLOCK_TIME_IS_VALID(last) && pts > last)
                branch->m_framePeriod = pts - last;
            branch->m_lastFrameStart = pts;
            return GST_PAD_PROBE_OK;
        },
        this, nullptr);
    // The frames that reach the multiplexer: what the gate passed and the encoder made of it.
    PadRef out(gst_element_get_static_pad(muxInput, "src"), RefMode::HasRef);
    PadRef muxed(out ? gst_pad_get_peer(out.get()) : nullptr, RefMode::HasRef);
    if (muxed)
        gst_pad_add_probe(
            muxed.get(),
            GstPadProbeType(GST_PAD_PROBE_TYPE_BUFFER | GST_PAD_PROBE_TYPE_BUFFER_LIST),
            +[](GstPad *, GstPadProbeInfo *info, gpointer self) {
                const uint64_t n = GST_PAD_PROBE_INFO_TYPE(info) & GST_PAD_PROBE_TYPE_BUFFER_LIST
                    ? gst_buffer_list_length(GST_PAD_PROBE_INFO_BUFFER_LIST(info))
                    : 1;
                static_cast<RecordBranch *>(self)->m_framesRecorded += n;
                return GST_PAD_PROBE_OK;
            },
            this, nullptr);
    PadRef written(gst_element_get_static_pad(fileSink, "sink"), RefMode::HasRef);
    gst_pad_add_probe(
        written.get(),
        GstPadProbeType(GST_PAD_PROBE_TYPE_BUFFER | GST_PAD_PROBE_TYPE_BUFFER_LIST
                        | GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM),
        +[](GstPad *pad, GstPadProbeInfo *info, gpointer self) {
            auto *branch = static_cast<RecordBranch *>(self);
            if (GST_PAD_PROBE_INFO_TYPE(info) & GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM) {
                if (GST_EVENT_TYPE(GST_PAD_PROBE_INFO_EVENT(info)) == GST_EVENT_EOS)
                    branch->m_endAtSink = true;
                return GST_PAD_PROBE_OK;
            }
            if (SteadyNanoseconds() < branch->m_failWritesUntil.load()) {
                // What the file sink does when a write fails for want of space.
                branch->m_writeFailed = true;
                GstElement *sink = GST_ELEMENT(gst_pad_get_parent(pad));
                GST_ELEMENT_ERROR(sink, RESOURCE, NO_SPACE_LEFT, ("No space left on the resource."),
                                  ("injected write fault"));
                gst_object_unref(sink);
                gst_mini_object_unref(GST_MINI_OBJECT(GST_PAD_PROBE_INFO_DATA(info)));
                GST_PAD_PROBE_INFO_FLOW_RETURN(info) = GST_FLOW_ERROR;
                return GST_PAD_PROBE_HANDLED;
            }
            if (GST_PAD_PROBE_INFO_TYPE(info) & GST_PAD_PROBE_TYPE_BUFFER_LIST) {
                GstBufferList *list = GST_PAD_PROBE_INFO_BUFFER_LIST(info);
                for (guint i = 0; i < gst_buffer_list_length(list); ++i)
                    branch->AtFileSink(gst_buffer_list_get(list, i));
            } else {
                branch->AtFileSink(GST_PAD_PROBE_INFO_BUFFER(info));
            }
            return GST_PAD_PROBE_OK;
        },
        this, nullptr);
}

void RecordBranch::AtFileSink(GstBuffer *buffer)
{
    ++m_buffersAtSink;
    if (m_dataAtSink.load())
        return;
    // Headers and chunk headers carry no time; media does.
    if (GST_BUFFER_PTS_IS_VALID(buffer))
        m_dataAtSink = true;
    else
        m_headerBytes += gst_buffer_get_size(buffer);
}

void RecordBranch::FailWrites(std::chrono::milliseconds duration)
{
    m_failWritesUntil = SteadyNanoseconds()
        + std::chrono::duration_cast<std::chrono::nanoseconds>(duration).count();
}

void RecordBranch::SetGateOpen(GraphParts &parts, bool open, GstClockTime now) const
{
    // Both gates switch at one moment of capture time, however long their streams wait in
    // queues before they reach them: the start of a frame, so the picture passes whole frames
    // and the sound, cut by the middle of its buffers, as much time as they.
    const GstClockTime at = NextFrameStart(now);
    parts.m_pAviControl.SetGateTime(at);
    parts.m_pAudioControl.SetGateTime(at);
    parts.m_pAviControl.SetGateOpen(open);
    parts.m_pAudioControl.SetGateOpen(open);
}

GstClockTime RecordBranch::NextFrameStart(GstClockTime now) const
{
    // The first frame begun at or after now: every frame captured after the call is recorded.
    // It reaches the gate only after the call (a source pushes a frame once it has begun), so
    // the change is in place for it; sound that comes sooner waits in its queue (AudioChain).
    const GstClockTime last = m_lastFrameStart.load();
    const GstClockTime period = m_framePeriod.load();
    if (!GST_CLOCK_TIME_IS_VALID(now) || !GST_CLOCK_TIME_IS_VALID(last) || period == 0
        || period > GST_SECOND)
        return now;
    if (now <= last)
        return last;
    return last + (now - last + period - 1) / period * period;
}

void RecordBranch::Finish(const ErrorLog &log, bool writeFailed)
{
    if (!m_file)
        return;
    RecordingFile file = std::move(*m_file);
    m_file.reset();
    // What is on disk: the multiplexer's header at most, unless a frame's write went through.
    struct stat st
    {
    };
    const bool sized = file.fd >= 0 && ::fstat(file.fd, &st) == 0;
    const bool noFrame = m_buffersAtSink.load() == 0 || !m_dataAtSink.load()
        || (sized && uint64_t(st.st_size) <= m_headerBytes.load());
    if (noFrame) {
        GST_INFO("%s holds no frame: removed", file.path.c_str());
        std::error_code ec;
        std::filesystem::remove(file.path, ec);
        return;
    }
    const bool finished = m_endAtSink.load() && !writeFailed && !m_writeFailed.load();
    GST_INFO("%s: %" G_GUINT64_FORMAT " frames, %s", file.path.c_str(), m_framesRecorded.load(),
             finished ? "finished" : "left unfinished");
    if (!finished)
        log.AppendErrorLog(UnfinishedRecordingText(file.path, m_format));
    m_sync.Finish(std::move(file), log);
}

} // namespace vorlund
