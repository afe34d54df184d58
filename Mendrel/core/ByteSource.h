#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace mendrel {

// Random-access reads over a file or a memory image. The repair reads only through this, so
// the scanner can be fuzzed on memory and run on files with the same code.
class ByteSource
{
public:
    virtual ~ByteSource() = default;
    virtual uint64_t Size() const = 0;
    // Copies up to `n` bytes from `offset`; returns how many were copied (fewer only at the end
    // of the data or on a read error, which Failed() then reports).
    virtual size_t ReadAt(uint64_t offset, void *dst, size_t n) = 0;
    virtual bool Failed() const { return false; }

    // True when all `n` bytes at `offset` were read.
    bool ReadExact(uint64_t offset, void *dst, size_t n) { return ReadAt(offset, dst, n) == n; }
};

class MemorySource : public ByteSource
{
public:
    explicit MemorySource(std::span<const uint8_t> bytes) : m_bytes(bytes) { }
    uint64_t Size() const override { return m_bytes.size(); }
    size_t ReadAt(uint64_t offset, void *dst, size_t n) override;

private:
    std::span<const uint8_t> m_bytes;
};

// Reads a file through one window so that walking chunk headers forward costs one system call
// per window, and skipping a large chunk costs none.
class FileSource : public ByteSource
{
public:
    static constexpr size_t kWindow = 1 << 20;

    FileSource(int fd, uint64_t size) : m_fd(fd), m_size(size) { }
    uint64_t Size() const override { return m_size; }
    size_t ReadAt(uint64_t offset, void *dst, size_t n) override;
    bool Failed() const override { return m_error != 0; }
    int Error() const { return m_error; }

private:
    bool Fill(uint64_t offset);

    int m_fd;
    uint64_t m_size;
    std::vector<uint8_t> m_window;
    uint64_t m_windowStart = 0;
    size_t m_windowLength = 0;
    int m_error = 0;
};

} // namespace mendrel
