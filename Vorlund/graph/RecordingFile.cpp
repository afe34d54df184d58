#include "RecordingFile.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
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

std::string UnfinishedRecordingText(const std::filesystem::path &file)
{
    return "Recording left unfinished: " + file.string() + " (mend it with Repair Video)";
}

namespace {

constexpr std::chrono::milliseconds kShutdownSyncWait { 5000 };

void SyncFileAndFolder(RecordingFile &file)
{
    if (file.fd >= 0)
        ::fsync(file.fd);
    const int folder = ::open(file.path.parent_path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder >= 0) {
        ::fsync(folder);
        ::close(folder);
    }
    file.Close();
}

} // namespace

RecordingSync::RecordingSync() : m_pending(std::make_shared<PendingCount>()) { }

RecordingSync::~RecordingSync()
{
    WaitSynced(kShutdownSyncWait);
}

void RecordingSync::Finish(RecordingFile file)
{
    m_pending->Add();
    // Detached: a disk that hangs must not hang the server's exit; the thread owns what it uses.
    std::thread([pending = m_pending, file = std::move(file)]() mutable {
        SyncFileAndFolder(file);
        pending->Done();
    }).detach();
}

bool RecordingSync::WaitSynced(std::chrono::milliseconds bound)
{
    return m_pending->WaitNone(bound);
}

} // namespace vorlund
