#include "RecordingFile.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <sys/file.h>
#include <thread>
#include <unistd.h>
#include <utility>

namespace vorlund {

RecordingFile::~RecordingFile()
{
    Close();
}

RecordingFile::RecordingFile(RecordingFile &&other) noexcept
    : path(std::move(other.path)), fd(std::exchange(other.fd, -1))
{ }

RecordingFile &RecordingFile::operator=(RecordingFile &&other) noexcept
{
    if (this != &other) {
        Close();
        path = std::move(other.path);
        fd = std::exchange(other.fd, -1);
    }
    return *this;
}

void RecordingFile::Close()
{
    if (fd >= 0)
        ::close(std::exchange(fd, -1)); // also drops the flock
}

std::optional<RecordingFile> CreateRecordingFile(const std::filesystem::path &folder,
                                                 const LocalDateTime &now, RecordingFormat format,
                                                 std::string *error)
{
    const std::string extension(ExtensionFor(format));
    for (int attempt = 1; attempt <= kMaxNameAttempts; ++attempt) {
        RecordingFile file;
        file.path = folder / (RecordingBaseName(now, attempt) + extension);
        file.fd = ::open(file.path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        if (file.fd < 0) {
            if (errno == EEXIST)
                continue;
            if (error)
                *error = std::strerror(errno);
            return std::nullopt;
        }
        // Nobody else can hold a lock on a file that did not exist a moment ago.
        ::flock(file.fd, LOCK_EX | LOCK_NB);
        return file;
    }
    if (error)
        *error = "every recording name of this minute is taken";
    return std::nullopt;
}

bool RenameRecordingFile(RecordingFile &file, const LocalDateTime &now, RecordingFormat format)
{
    const std::string extension(ExtensionFor(format));
    for (int attempt = 1; attempt <= kMaxNameAttempts; ++attempt) {
        const std::filesystem::path name
            = file.path.parent_path() / (RecordingBaseName(now, attempt) + extension);
        if (name == file.path)
            return true;
        if (::renameat2(AT_FDCWD, file.path.c_str(), AT_FDCWD, name.c_str(), RENAME_NOREPLACE)
            == 0) {
            file.path = name;
            return true;
        }
        if (errno != EEXIST)
            return false;
    }
    return false;
}

std::string UnfinishedRecordingText(const std::filesystem::path &file, RecordingFormat format)
{
    // A fragmented MP4 file ends with its last complete fragment (a sample or two); a Windows
    // Media file with its last packet.
    const char *advice = format == RecordingFormat::Avi ? "mend it with Repair Video"
        : format == RecordingFormat::Mp4
        ? "players read it as it stands, up to its last complete frame"
        : "players read it as it stands";
    return "Recording left unfinished: " + file.string() + " (" + advice + ")";
}

std::string NotSavedRecordingText(const std::filesystem::path &file, std::string_view error)
{
    return "Recording not saved to disk: " + file.string() + " (" + std::string(error) + ")";
}

std::optional<std::string> SyncFileAndFolder(const RecordingFile &file)
{
    std::optional<std::string> failure;
    if (file.fd >= 0 && ::fsync(file.fd) != 0)
        failure = std::strerror(errno);
    const int folder = ::open(file.path.parent_path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder < 0) {
        if (!failure)
            failure = std::strerror(errno);
        return failure;
    }
    if (::fsync(folder) != 0 && !failure)
        failure = std::strerror(errno);
    ::close(folder);
    return failure;
}

namespace {

constexpr std::chrono::milliseconds kShutdownSyncWait { 5000 };

} // namespace

// What the sync threads share with their owner: a sync still running when the owner is gone
// finds no log and stays silent.
struct RecordingSync::Shared
{
    PendingCount pending;
    std::mutex lock;
    const ErrorLog *log = nullptr;
};

RecordingSync::RecordingSync() : m_shared(std::make_shared<Shared>()) { }

RecordingSync::~RecordingSync()
{
    WaitSynced(kShutdownSyncWait);
    std::lock_guard lock(m_shared->lock);
    m_shared->log = nullptr;
}

void RecordingSync::Finish(RecordingFile file, const ErrorLog &log)
{
    {
        std::lock_guard lock(m_shared->lock);
        m_shared->log = &log;
    }
    m_shared->pending.Add();
    // Detached: a disk that hangs must not hang the server's exit; the thread owns what it uses.
    std::thread([shared = m_shared, file = std::move(file)]() mutable {
        if (const std::optional<std::string> failure = SyncFileAndFolder(file)) {
            std::lock_guard lock(shared->lock);
            if (shared->log)
                shared->log->AppendErrorLog(NotSavedRecordingText(file.path, *failure));
        }
        file.Close();
        shared->pending.Done();
    }).detach();
}

bool RecordingSync::WaitSynced(std::chrono::milliseconds bound)
{
    return m_shared->pending.WaitNone(bound);
}

} // namespace vorlund
