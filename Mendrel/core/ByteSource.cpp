#include "ByteSource.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <unistd.h>

namespace mendrel {

size_t MemorySource::ReadAt(uint64_t offset, void *dst, size_t n)
{
    if (offset >= m_bytes.size())
        return 0;
    const size_t count = size_t(std::min<uint64_t>(n, m_bytes.size() - offset));
    std::memcpy(dst, m_bytes.data() + offset, count);
    return count;
}

bool FileSource::Fill(uint64_t offset)
{
    if (m_window.empty())
        m_window.resize(kWindow);
    m_windowStart = offset;
    m_windowLength = 0;
    const size_t want = size_t(std::min<uint64_t>(kWindow, m_size - offset));
    while (m_windowLength < want) {
        const ssize_t got = ::pread(m_fd, m_window.data() + m_windowLength, want - m_windowLength,
                                    off_t(offset + m_windowLength));
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0) {
            m_error = errno;
            return false;
        }
        if (got == 0) {
            // The file shrank under us: nobody else may write it while we hold the lock.
            m_error = EIO;
            return false;
        }
        m_windowLength += size_t(got);
    }
    return true;
}

size_t FileSource::ReadAt(uint64_t offset, void *dst, size_t n)
{
    size_t done = 0;
    auto *out = static_cast<uint8_t *>(dst);
    while (done < n && offset + done < m_size) {
        const uint64_t at = offset + done;
        if (at < m_windowStart || at >= m_windowStart + m_windowLength) {
            if (!Fill(at))
                return done;
        }
        const size_t inWindow = size_t(m_windowStart + m_windowLength - at);
        const size_t count = std::min(n - done, inWindow);
        std::memcpy(out + done, m_window.data() + (at - m_windowStart), count);
        done += count;
    }
    return done;
}

} // namespace mendrel
