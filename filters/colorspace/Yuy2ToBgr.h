#pragma once

#include <cstddef>
#include <cstdint>

namespace vorlund {

// YUY2 (Y0 U Y1 V per pixel pair) to packed B G R, studio-range BT.601 in 2.14 fixed point.
// Even pixels take their own pair's chroma, odd pixels the mean of their pair's and the next
// pair's; the last pixel of a row has no next pair and takes its own. Any width works: a row
// reads (width + 1) / 2 * 4 source bytes and writes width * 3 destination bytes, nothing more.

// Plain per-pixel form of the arithmetic; the vectorised rows must match it bit for bit.
void ConvertYuy2RowPlain(const uint8_t *src, uint8_t *dst, int width);

// Fastest row converter this CPU supports.
using Yuy2RowConverter = void (*)(const uint8_t *src, uint8_t *dst, int width);
Yuy2RowConverter BestYuy2RowConverter();

// Every row converter built into this binary that this CPU can run, plain first.
struct NamedYuy2RowConverter
{
    const char *name;
    Yuy2RowConverter convert;
};
int AvailableYuy2RowConverters(NamedYuy2RowConverter *out, int capacity);

// Whole picture, top row to top row; strides in bytes.
void ConvertYuy2ToBgr(const uint8_t *src, std::ptrdiff_t srcStride, uint8_t *dst,
                      std::ptrdiff_t dstStride, int width, int height);

} // namespace vorlund
