// Recording files, from the build that names one to the moment it is safely on disk.
//
// The lifecycle of a recording file, as every build, stop, abort and restart keeps it:
// - Created by the build with O_EXCL under the first free name of its minute, never over an
//   existing file, and held under an exclusive flock while it grows, so that no other program
//   (the repair tool) takes it meanwhile.
// - The record gate's passes are counted. A file to which the gate passed no frame is removed
//   at teardown, whatever its size (a muxer writes its header before the first frame).
// - Finished with an end of stream, then flushed with fsync and its folder synced. The sync
//   runs on a thread of its own (a busy disk can take seconds); the next recording file is
//   created only after it, and the UI thread waits for it a bounded time only.
// - A file left by a fault (an error during the run, or an end of stream that never reached the
//   file) is kept as it stands, every complete frame in it, synced like the others, and named
//   in the error log so the user knows which file the repair tool should mend.
#pragma once

#include "GraphPlan.h"
#include "PendingCount.h"

#include <chrono>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>

namespace vorlund {

struct RecordingFile
{
    RecordingFile() = default;
    ~RecordingFile();
    RecordingFile(RecordingFile &&other) noexcept;
    RecordingFile &operator=(RecordingFile &&other) noexcept;
    RecordingFile(const RecordingFile &) = delete;
    RecordingFile &operator=(const RecordingFile &) = delete;

    void Close(); // drops the lock and the descriptor; the file stays
    bool IsOpen() const { return fd >= 0; }

    std::filesystem::path path;
    int fd = -1;
};

inline constexpr int kMaxNameAttempts = 99;

// Creates the file with O_EXCL under the first free name of this minute and takes an exclusive
// flock on it. nullopt (with errno's text in `error`) when the folder is not writable or every
// name of the minute is taken.
std::optional<RecordingFile> CreateRecordingFile(const std::filesystem::path &folder,
                                                 const LocalDateTime &now, RecordingFormat format,
                                                 std::string *error = nullptr);

// The log entry that names a file left by a fault.
std::string UnfinishedRecordingText(const std::filesystem::path &file);

// Syncs finished recordings off the UI thread.
class RecordingSync
{
public:
    RecordingSync();
    ~RecordingSync(); // waits a bounded time for what is still being synced
    RecordingSync(const RecordingSync &) = delete;
    RecordingSync &operator=(const RecordingSync &) = delete;

    // Takes the file: fsync of the file, then of its folder, then the lock is dropped.
    void Finish(RecordingFile file);
    // True once every file handed over is synced; waits at most `bound` for it.
    bool WaitSynced(std::chrono::milliseconds bound);

private:
    std::shared_ptr<PendingCount> m_pending;
};

} // namespace vorlund
