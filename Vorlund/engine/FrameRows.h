#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace vorlund {

// A frame's bytes as the detector sees them, bottom row first, without copying them into that
// order: row y starts at `bottom + y * stride` (a top-down picture has a negative stride).
// `bytes` counts the frame's bytes; a frame in rows holds whole rows.
struct FrameRows
{
    const uint8_t *bottom = nullptr;
    std::ptrdiff_t stride = 0;
    size_t rowBytes = 0;
    size_t bytes = 0;

    // A packed bottom-up buffer (rows of `rowBytes`, or one piece when that is 0).
    static FrameRows Packed(const uint8_t *data, size_t length, size_t rowBytes)
    {
        const size_t row = rowBytes > 0 ? rowBytes : length;
        return { data, std::ptrdiff_t(row), row, length };
    }
    bool IsPacked() const { return stride == std::ptrdiff_t(rowBytes); }
    const uint8_t *Row(int y) const { return bottom + std::ptrdiff_t(y) * stride; }

    // Copies the first `length` bytes (at most `bytes`) into a packed bottom-up buffer.
    void CopyTo(uint8_t *out, size_t length) const
    {
        if (length > bytes)
            length = bytes;
        if (IsPacked() || rowBytes == 0) {
            std::memcpy(out, bottom, length);
            return;
        }
        for (int y = 0; length > 0; ++y) {
            const size_t n = length < rowBytes ? length : rowBytes;
            std::memcpy(out, Row(y), n);
            out += n;
            length -= n;
        }
    }
};

} // namespace vorlund
