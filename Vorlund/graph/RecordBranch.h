// The record branch: the tee behind the capture pin, the gate ("VorlundAVI") and the file it
// records into. Its probes time the frames reaching the gate, so both gates can switch at a
// frame's start, count the frames reaching the multiplexer and watch what reaches the file sink:
// whether a frame's data did, and whether the end of stream did. The encoder between gate and
// file is Encoders.h's.
#pragma once

#include "GraphBuild.h"
#include "RecordingFile.h"

#include <gst/gst.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <optional>

namespace vorlund {

class RecordBranch
{
public:
    RecordBranch() = default;
    RecordBranch(const RecordBranch &) = delete;
    RecordBranch &operator=(const RecordBranch &) = delete;

    // The tee and the gate behind the capture pin. `mpeg2Fallback` says the picture is an
    // encoder board's decoded stream (its own advice when the gate refuses it); it is cleared
    // when the build fails here.
    int BuildGate(const GraphBuild &build, GstElement *capturePin, bool &mpeg2Fallback);
    // Where the encoder joins, into `tail`: the gate (the camcorder's "VorlundAVI-2"), through
    // a queue of its own when sound is recorded. False (told) when that queue fails.
    bool EncoderInput(const GraphBuild &build, bool recordsSound, ElementRef &tail) const;
    // The next recording file with its multiplexer and file sink behind `tail`.
    int BuildFile(const GraphBuild &build, GstElement *tail);

    // Both gates to `open` at the first frame start from `now` (the running time; none when
    // the pipeline does not run).
    void SetGateOpen(GraphParts &parts, bool open, GstClockTime now) const;
    // For `duration` from now the file sink fails every write as a full disk does.
    void FailWrites(std::chrono::milliseconds duration);

    // Picture frames that reached the multiplexer of the current file.
    uint64_t FramesRecorded() const { return m_framesRecorded.load(); }
    // The end of stream reached the file sink (since the file was made).
    bool EndReachedFile() const { return m_endAtSink.load(); }
    std::filesystem::path Path() const { return m_file ? m_file->path : std::filesystem::path(); }
    bool Rename(const LocalDateTime &now, RecordingFormat format)
    {
        return m_file && RenameRecordingFile(*m_file, now, format);
    }
    bool WaitSynced(std::chrono::milliseconds bound) { return m_sync.WaitSynced(bound); }
    // The file at teardown: removed when it surely holds no frame (none reached the file sink,
    // or every write of one failed), else synced, and named in the log with advice for its
    // kind when it is unfinished: the end of stream did not reach it, or a write failed.
    void Finish(const ErrorLog &log, bool writeFailed);

private:
    GstClockTime NextFrameStart(GstClockTime now) const;
    void Watch(GstElement *gate, GstElement *muxInput, GstElement *fileSink);
    void AtFileSink(GstBuffer *buffer);

    std::optional<RecordingFile> m_file;
    RecordingFormat m_format = RecordingFormat::Avi;
    RecordingSync m_sync;
    // Written by the streaming threads, read by the UI thread.
    std::atomic<uint64_t> m_framesRecorded { 0 };
    std::atomic<uint64_t> m_buffersAtSink { 0 }; // buffers handed to the file sink
    std::atomic<bool> m_dataAtSink { false }; // one of them carried media (it has a time)
    std::atomic<uint64_t> m_headerBytes { 0 }; // what the multiplexer wrote before that one
    std::atomic<bool> m_endAtSink { false };
    std::atomic<bool> m_writeFailed { false }; // the test hook failed a write
    std::atomic<int64_t> m_failWritesUntil { 0 }; // steady-clock nanoseconds
    // The last frame that reached the gate (streaming thread writes, UI thread reads).
    std::atomic<GstClockTime> m_lastFrameStart { GST_CLOCK_TIME_NONE };
    std::atomic<GstClockTime> m_framePeriod { 0 };
};

} // namespace vorlund
