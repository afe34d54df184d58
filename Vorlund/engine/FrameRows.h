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

    // Copies bytes `from` .. `length` (at most `bytes`) into the same place of a packed
    // bottom-up buffer.
    void CopyTo(uint8_t *out, size_t length, size_t from = 0) const
    {
        if (length > bytes)
            length = bytes;
        if (from >= length)
            return;
        if (IsPacked() || rowBytes == 0) {
            std::memcpy(out + from, bottom + from, length - from);
            return;
        }
        int y = int(from / rowBytes);
        size_t at = from - size_t(y) * rowBytes;
        out += from;
        length -= from;
        for (; length > 0; ++y, at = 0) {
            const size_t n = length < rowBytes - at ? length : rowBytes - at;
            std::memcpy(out, Row(y) + at, n);
            out += n;
            length -= n;
        }
    }
};

} // namespace vorlund
