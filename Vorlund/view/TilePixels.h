#pragma once

#include <cstddef>
#include <cstdint>

namespace vorlund {

// Packed BGR rows stored bottom-up (row 0 = bottom row) into an upright 32-bit image of
// 0xFFRRGGBB pixels, `dstStride` bytes apart. With `dim` every other pixel of the source,
// counted through the whole buffer, comes out black: the stopped picture.
void BottomUpBgrToRgb32Plain(const uint8_t *src, int width, int height, uint8_t *dst,
                             std::ptrdiff_t dstStride, bool dim);
// The same with SSSE3; false (nothing written) where the processor lacks it. Reads nothing
// outside the source rows.
bool BottomUpBgrToRgb32Fast(const uint8_t *src, int width, int height, uint8_t *dst,
                            std::ptrdiff_t dstStride, bool dim);
// The fast form where it runs, else the plain one.
void BottomUpBgrToRgb32(const uint8_t *src, int width, int height, uint8_t *dst,
                        std::ptrdiff_t dstStride, bool dim);

} // namespace vorlund
