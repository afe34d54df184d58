#pragma once

#include <chrono>
#include <cstdint>
#include <fcntl.h>
#include <filesystem>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace vorlund::test {

// A sparse file of `bytes` (no disk used) whose modification time is `mtime` seconds.
inline bool MakeSparseFile(const std::filesystem::path &path, int64_t bytes, int64_t mtime)
{
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        return false;
    bool ok = ::ftruncate(fd, off_t(bytes)) == 0;
    const timespec times[2] = { { time_t(mtime), 0 }, { time_t(mtime), 0 } };
    ok = ::futimens(fd, times) == 0 && ok;
    return ::close(fd) == 0 && ok;
}

// Waits (bounded, for a worker on another thread) until `done` holds.
template <typename Pred> bool WaitUntil(Pred done)
{
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!done()) {
        if (std::chrono::steady_clock::now() > limit)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

} // namespace vorlund::test
