#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace vorlund {

// One bit per pixel of a row: set when all three bytes of the pixel differ from the reference by
// more than the threshold. With `keep`, the current row is also copied there.
using RowMaskKernel = void (*)(const uint8_t *current, const uint8_t *reference, int width,
                               uint8_t threshold, uint64_t *bits, uint8_t *keep);

// Avx2Pext needs BMI2 as well; Auto takes it only where pext is fast.
enum class KernelChoice { Auto, Portable, Ssse3, Avx2, Avx2Pext };

// Picks the row kernel; Auto (the default) takes the widest the processor has, chosen once.
// Returns false when the choice is not available here. Safe from any thread: a frame being
// scored finishes with the kernel it started with.
bool SelectRowMaskKernel(KernelChoice choice);
KernelChoice ActiveRowMaskKernel();

struct CellScores
{
    std::array<int32_t, 64> BlobScore {};
    std::array<int32_t, 64> changed {};
};

// Scores a bottom-up packed BGR frame against its reference: for each of the 8x8 cells the
// number of changed pixels and the blob score built from runs of changed pixels. Rows at or
// above 8 * (height / 8) are not examined; the last column takes the leftover pixels.
// Needs width >= 8, height >= 8 and width <= kMaxScoredWidth.
void ScoreCells(const uint8_t *current, const uint8_t *reference, int width, int height,
                uint8_t threshold, CellScores &out);
// The same with the current frame's rows `currentStride` bytes apart (negative for a top-down
// picture read from its last row); the reference is packed. With `keep`, each examined row of
// the current frame is also copied there, packed bottom-up, while it is in the cache.
void ScoreCells(const uint8_t *current, std::ptrdiff_t currentStride, const uint8_t *reference,
                int width, int height, uint8_t threshold, CellScores &out, uint8_t *keep = nullptr);

inline constexpr int kMaxScoredWidth = 1253824 / 3 / 8;

} // namespace vorlund
