// Recording files, from the build that names one to the moment it is safely on disk.
//
// The lifecycle of a recording file, as every build, stop, abort and restart keeps it:
// - Created by the build with O_EXCL under the first free name of its minute, never over an
//   existing file, and held under an exclusive flock while it grows, so that no other program
//   (the repair tool) takes it meanwhile.
// - What reaches the file sink is watched. A file that surely holds no frame is removed at
//   teardown: no frame's data reached the file sink, or none of it was written (the file holds
//   a multiplexer's header at most). Anything else is kept.
// - Finished with an end of stream, then flushed with fsync and its folder synced. The sync
//   runs on a thread of its own (a busy disk can take seconds); the next recording file is
//   created only after it, and the UI thread waits for it a bounded time only.
// - Every stop, after a fault too, ends the streams and waits a bounded time for the end of
//   stream to reach the file sink. A file it did not reach, or one a write failed for, is kept as
//   it stands, every complete frame in it, synced like the others, and named in the error log
//   with what mends it or that it plays as it is.
// - A sync that fails (the data never reached the disk) names the file in the error log once.
#pragma once

#include "ErrorLog.h"
#include "GraphPlan.h"
#include "PendingCount.h"

#include <chrono>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

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

// Gives `file` (still open and locked) the name of `now`'s minute, or the first free one of that
// minute; never over an existing file. True when it bears one of that minute's names now.
bool RenameRecordingFile(RecordingFile &file, const LocalDateTime &now, RecordingFormat format);

// The log entry that names a file left by a fault, with what the user can do about it: an AVI
// file without its index is mended by the repair tool; a fragmented MP4 file and a Windows Media
// file are read by players as they stand (the MP4 file up to its last complete fragment).
std::string UnfinishedRecordingText(const std::filesystem::path &file, RecordingFormat format);

// Syncs finished recordings off the UI thread.
class RecordingSync
{
public:
    RecordingSync();
    ~RecordingSync(); // waits a bounded time for what is still being synced
    RecordingSync(const RecordingSync &) = delete;
    RecordingSync &operator=(const RecordingSync &) = delete;

    // Takes the file: fsync of the file, then of its folder, then the lock is dropped. A failed
    // sync is written to `log` (which outlives this object).
    void Finish(RecordingFile file, const ErrorLog &log);
    // True once every file handed over is synced; waits at most `bound` for it.
    bool WaitSynced(std::chrono::milliseconds bound);

private:
    struct Shared;
    std::shared_ptr<Shared> m_shared;
};

// fsync of the file, then of its folder; the first failure's text, none when both held.
std::optional<std::string> SyncFileAndFolder(const RecordingFile &file);

// The log entry for a recording whose sync failed.
std::string NotSavedRecordingText(const std::filesystem::path &file, std::string_view error);

} // namespace vorlund
