#include "FileIo.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace vorlund {

namespace {

int WriteAll(int fd, std::span<const uint8_t> bytes)
{
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t w = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (w < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        done += static_cast<size_t>(w);
    }
    return 0;
}

// The rename is only durable once the folder itself is flushed. Some file systems (network and
// FUSE mounts) cannot flush a folder at all; the new file is in place by then, so that is not
// a failed save.
int SyncFolder(const std::filesystem::path &folder)
{
    const int fd
        = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return 0;
    int rc = ::fsync(fd) == 0 ? 0 : errno;
    ::close(fd);
    if (rc == EINVAL || rc == ENOTSUP || rc == EOPNOTSUPP || rc == EBADF || rc == EROFS)
        rc = 0;
    return rc;
}

// True when `path` is already our regular file with exactly `bytes` and `mode`.
bool AlreadyHolds(const std::filesystem::path &path, std::span<const uint8_t> bytes, mode_t mode)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return false;
    struct stat st = {};
    bool same = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == ::geteuid()
        && (st.st_mode & 07777) == mode && uint64_t(st.st_size) == bytes.size();
    std::vector<uint8_t> old(same ? bytes.size() : 0);
    size_t done = 0;
    while (same && done < old.size()) {
        const ssize_t r = ::read(fd, old.data() + done, old.size() - done);
        if (r < 0 && errno == EINTR)
            continue;
        same = r > 0;
        done += same ? size_t(r) : 0;
    }
    ::close(fd);
    return same && std::equal(old.begin(), old.end(), bytes.begin());
}

} // namespace

int WriteFileAtomically(const std::filesystem::path &path, std::span<const uint8_t> bytes,
                        mode_t mode)
{
    std::string temp = path.string() + ".XXXXXX";
    const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0)
        return errno;
    int rc = ::fchmod(fd, mode) == 0 ? 0 : errno;
    if (rc == 0)
        rc = WriteAll(fd, bytes);
    if (rc == 0 && ::fsync(fd) != 0)
        rc = errno;
    if (::close(fd) != 0 && rc == 0)
        rc = errno;
    if (rc == 0 && ::rename(temp.c_str(), path.c_str()) != 0)
        rc = errno;
    if (rc != 0) {
        ::unlink(temp.c_str());
        return rc;
    }
    return SyncFolder(path.parent_path());
}

int ReadFileStart(const std::filesystem::path &path, size_t maxBytes, std::vector<uint8_t> &out,
                  uint64_t &fileSize)
{
    out.clear();
    // Non-blocking so that a FIFO planted under the name cannot hang the caller; it is then
    // refused as not a regular file.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return errno;
    struct stat st = {};
    const int statError = ::fstat(fd, &st) != 0 ? errno : (S_ISREG(st.st_mode) ? 0 : EINVAL);
    if (statError != 0) {
        ::close(fd);
        return statError;
    }
    fileSize = static_cast<uint64_t>(st.st_size);
    out.resize(static_cast<size_t>(std::min<uint64_t>(fileSize, maxBytes)));
    size_t done = 0;
    int rc = 0;
    while (done < out.size()) {
        const ssize_t r = ::read(fd, out.data() + done, out.size() - done);
        if (r < 0 && errno == EINTR)
            continue;
        if (r <= 0) {
            rc = r < 0 ? errno : EIO;
            break;
        }
        done += static_cast<size_t>(r);
    }
    ::close(fd);
    if (rc != 0)
        out.clear();
    return rc;
}

int WriteFileIfChanged(const std::filesystem::path &path, std::span<const uint8_t> bytes,
                       mode_t mode)
{
    return AlreadyHolds(path, bytes, mode) ? 0 : WriteFileAtomically(path, bytes, mode);
}

} // namespace vorlund
