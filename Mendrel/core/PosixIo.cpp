#include "PosixIo.h"

#include <cerrno>
#include <fcntl.h>
#include <filesystem>
#include <unistd.h>

namespace mendrel {

bool PReadAll(int fd, uint8_t *dst, size_t n, uint64_t offset)
{
    while (n > 0) {
        const ssize_t got = ::pread(fd, dst, n, off_t(offset));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0) {
            if (got == 0)
                errno = EIO;
            return false;
        }
        dst += got;
        n -= size_t(got);
        offset += uint64_t(got);
    }
    return true;
}

bool PWriteAll(int fd, const uint8_t *src, size_t n, uint64_t offset)
{
    while (n > 0) {
        const ssize_t put = ::pwrite(fd, src, n, off_t(offset));
        if (put < 0 && errno == EINTR)
            continue;
        if (put <= 0) {
            if (put == 0)
                errno = EIO;
            return false;
        }
        src += put;
        n -= size_t(put);
        offset += uint64_t(put);
    }
    return true;
}

int SyncFolderOf(const std::string &path)
{
    std::filesystem::path folder = std::filesystem::path(path).parent_path();
    if (folder.empty())
        folder = ".";
    const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir < 0)
        return errno;
    const int rc = ::fsync(dir) == 0 ? 0 : errno;
    ::close(dir);
    return rc;
}

} // namespace mendrel
