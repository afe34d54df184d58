#include "CellScoring.h"

#include <algorithm>
#include <bit>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define VORLUND_HAVE_X86 1
#endif

namespace vorlund {

namespace {

inline bool PixelChanged(const uint8_t *cur, const uint8_t *ref, int t)
{
    // The three-byte test stops at the first byte that is not changed.
    return std::abs(cur[0] - ref[0]) > t && std::abs(cur[1] - ref[1]) > t
        && std::abs(cur[2] - ref[2]) > t;
}

void RowMaskPortable(const uint8_t *cur, const uint8_t *ref, int width, uint8_t threshold,
                     uint64_t *bits)
{
    const int words = (width + 63) / 64;
    for (int w = 0; w < words; ++w) {
        const int x0 = w * 64;
        const int n = std::min(64, width - x0);
        uint64_t word = 0;
        const uint8_t *c = cur + static_cast<size_t>(x0) * 3;
        const uint8_t *r = ref + static_cast<size_t>(x0) * 3;
        for (int i = 0; i < n; ++i, c += 3, r += 3) {
            if (PixelChanged(c, r, threshold))
                word |= uint64_t(1) << i;
        }
        bits[w] = word;
    }
}

#ifdef VORLUND_HAVE_X86
// 32 pixels at a time: two 16-pixel groups, one per 128-bit lane, so the in-lane byte
// shuffles can pull the blue, green and red bytes apart. pshufb and the 8-bit min/max are
// single-cycle on both Intel and AMD cores (unlike pext, which is slow on older AMD parts).
__attribute__((target("avx2"))) inline __m256i LoadLanes(const uint8_t *p, int lo, int hi)
{
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p + lo));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p + hi));
    return _mm256_inserti128_si256(_mm256_castsi128_si256(a), b, 1);
}

__attribute__((target("avx2"))) inline __m256i AbsDiff(__m256i a, __m256i b)
{
    return _mm256_or_si256(_mm256_subs_epu8(a, b), _mm256_subs_epu8(b, a));
}

// pshufb masks that take channel `ch` of 16 pixels out of piece `piece` (bytes 16*piece ..
// 16*piece+15) of their 48 bytes; -128 zeroes a byte.
struct PlaneShuffle
{
    int8_t bytes[3][3][16]; // [channel][piece][pixel]
};

constexpr PlaneShuffle MakePlaneShuffle()
{
    PlaneShuffle ps {};
    for (int ch = 0; ch < 3; ++ch)
        for (int piece = 0; piece < 3; ++piece)
            for (int j = 0; j < 16; ++j) {
                const int src = 3 * j + ch - 16 * piece;
                ps.bytes[ch][piece][j] = (src >= 0 && src < 16) ? static_cast<int8_t>(src) : -128;
            }
    return ps;
}

constexpr PlaneShuffle kPlaneShuffle = MakePlaneShuffle();

inline void RowMaskTail(const uint8_t *cur, const uint8_t *ref, int x, int width, uint8_t threshold,
                        uint64_t *bits)
{
    for (; x < width; ++x) {
        if (PixelChanged(cur + static_cast<size_t>(x) * 3, ref + static_cast<size_t>(x) * 3,
                         threshold))
            bits[x >> 6] |= uint64_t(1) << (x & 63);
    }
}

// 16 pixels at a time for processors without AVX2.
__attribute__((target("ssse3"))) void RowMaskSsse3(const uint8_t *cur, const uint8_t *ref,
                                                   int width, uint8_t threshold, uint64_t *bits)
{
    __m128i masks[3][3];
    for (int ch = 0; ch < 3; ++ch)
        for (int piece = 0; piece < 3; ++piece)
            masks[ch][piece] = _mm_loadu_si128(
                reinterpret_cast<const __m128i *>(kPlaneShuffle.bytes[ch][piece]));
    const __m128i t = _mm_set1_epi8(static_cast<char>(threshold));
    const __m128i zero = _mm_setzero_si128();
    std::fill(bits, bits + (width + 63) / 64, 0);

    int x = 0;
    for (; x + 16 <= width; x += 16) {
        const uint8_t *c = cur + static_cast<size_t>(x) * 3;
        const uint8_t *r = ref + static_cast<size_t>(x) * 3;
        __m128i d[3];
        for (int piece = 0; piece < 3; ++piece) {
            const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i *>(c + 16 * piece));
            const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i *>(r + 16 * piece));
            d[piece] = _mm_or_si128(_mm_subs_epu8(a, b), _mm_subs_epu8(b, a));
        }
        const __m128i dmax = _mm_max_epu8(_mm_max_epu8(d[0], d[1]), d[2]);
        if (_mm_movemask_epi8(_mm_cmpeq_epi8(_mm_subs_epu8(dmax, t), zero)) == 0xFFFF)
            continue;
        __m128i lowest = zero;
        for (int ch = 0; ch < 3; ++ch) {
            const __m128i plane = _mm_or_si128(_mm_or_si128(_mm_shuffle_epi8(d[0], masks[ch][0]),
                                                            _mm_shuffle_epi8(d[1], masks[ch][1])),
                                               _mm_shuffle_epi8(d[2], masks[ch][2]));
            lowest = ch == 0 ? plane : _mm_min_epu8(lowest, plane);
        }
        const __m128i quiet = _mm_cmpeq_epi8(_mm_subs_epu8(lowest, t), zero);
        const uint32_t changed = ~static_cast<uint32_t>(_mm_movemask_epi8(quiet)) & 0xFFFFu;
        bits[x >> 6] |= static_cast<uint64_t>(changed) << (x & 63);
    }
    RowMaskTail(cur, ref, x, width, threshold, bits);
}

__attribute__((target("avx2"))) void RowMaskAvx2(const uint8_t *cur, const uint8_t *ref, int width,
                                                 uint8_t threshold, uint64_t *bits)
{
    __m256i masks[3][3];
    for (int ch = 0; ch < 3; ++ch)
        for (int piece = 0; piece < 3; ++piece)
            masks[ch][piece] = _mm256_broadcastsi128_si256(
                _mm_loadu_si128(reinterpret_cast<const __m128i *>(kPlaneShuffle.bytes[ch][piece])));
    const __m256i t = _mm256_set1_epi8(static_cast<char>(threshold));
    const __m256i zero = _mm256_setzero_si256();
    const int words = (width + 63) / 64;
    std::fill(bits, bits + words, 0);

    int x = 0;
    for (; x + 32 <= width; x += 32) {
        const uint8_t *c = cur + static_cast<size_t>(x) * 3;
        const uint8_t *r = ref + static_cast<size_t>(x) * 3;
        // Lane 0 holds pixels x..x+15 (bytes 0..47), lane 1 pixels x+16..x+31 (48..95).
        const __m256i d0 = AbsDiff(LoadLanes(c, 0, 48), LoadLanes(r, 0, 48));
        const __m256i d1 = AbsDiff(LoadLanes(c, 16, 64), LoadLanes(r, 16, 64));
        const __m256i d2 = AbsDiff(LoadLanes(c, 32, 80), LoadLanes(r, 32, 80));

        // Quiet stretch: no byte above the threshold means no pixel changed.
        const __m256i dmax = _mm256_max_epu8(_mm256_max_epu8(d0, d1), d2);
        if (_mm256_testz_si256(_mm256_subs_epu8(dmax, t), _mm256_subs_epu8(dmax, t)))
            continue;

        __m256i lowest = zero;
        for (int ch = 0; ch < 3; ++ch) {
            const __m256i plane
                = _mm256_or_si256(_mm256_or_si256(_mm256_shuffle_epi8(d0, masks[ch][0]),
                                                  _mm256_shuffle_epi8(d1, masks[ch][1])),
                                  _mm256_shuffle_epi8(d2, masks[ch][2]));
            lowest = ch == 0 ? plane : _mm256_min_epu8(lowest, plane);
        }
        // Changed where the smallest channel difference is still above the threshold.
        const __m256i quiet = _mm256_cmpeq_epi8(_mm256_subs_epu8(lowest, t), zero);
        const uint32_t changed = ~static_cast<uint32_t>(_mm256_movemask_epi8(quiet));
        bits[x >> 6] |= static_cast<uint64_t>(changed) << (x & 63);
    }
    RowMaskTail(cur, ref, x, width, threshold, bits);
}

bool CpuHas(KernelChoice choice)
{
    __builtin_cpu_init();
    if (choice == KernelChoice::Avx2)
        return __builtin_cpu_supports("avx2");
    if (choice == KernelChoice::Ssse3)
        return __builtin_cpu_supports("ssse3");
    return true;
}
#endif

RowMaskKernel g_kernel = nullptr;
KernelChoice g_choice = KernelChoice::Portable;

RowMaskKernel Kernel()
{
    if (!g_kernel)
        SelectRowMaskKernel(KernelChoice::Auto);
    return g_kernel;
}

// First pixel in [x, end) whose bit equals `set`, or end.
template <bool set> inline int FindBit(const uint64_t *bits, int x, int end)
{
    auto load = [bits](int w) { return set ? bits[w] : ~bits[w]; };
    int w = x >> 6;
    uint64_t word = load(w) & (~uint64_t(0) << (x & 63));
    for (;;) {
        if (word) {
            const int r = (w << 6) + std::countr_zero(word);
            return r < end ? r : end;
        }
        if ((++w << 6) >= end)
            return end;
        word = load(w);
    }
}

} // namespace

bool SelectRowMaskKernel(KernelChoice choice)
{
#ifdef VORLUND_HAVE_X86
    if (choice == KernelChoice::Auto)
        choice = CpuHas(KernelChoice::Avx2) ? KernelChoice::Avx2
            : CpuHas(KernelChoice::Ssse3)   ? KernelChoice::Ssse3
                                            : KernelChoice::Portable;
    if (!CpuHas(choice))
        return false;
    g_kernel = choice == KernelChoice::Avx2 ? RowMaskAvx2
        : choice == KernelChoice::Ssse3     ? RowMaskSsse3
                                            : RowMaskPortable;
#else
    if (choice == KernelChoice::Auto)
        choice = KernelChoice::Portable;
    if (choice != KernelChoice::Portable)
        return false;
    g_kernel = RowMaskPortable;
#endif
    g_choice = choice;
    return true;
}

KernelChoice ActiveRowMaskKernel()
{
    Kernel();
    return g_choice;
}

void ScoreCells(const uint8_t *current, const uint8_t *reference, int width, int height,
                uint8_t threshold, CellScores &out)
{
    ScoreCells(current, std::ptrdiff_t(width) * 3, reference, width, height, threshold, out);
}

void ScoreCells(const uint8_t *current, std::ptrdiff_t currentStride, const uint8_t *reference,
                int width, int height, uint8_t threshold, CellScores &out)
{
    // Per-cell run state; a run is not closed at the edge of a cell, it carries on into the
    // cell's part of the next row.
    int32_t run[64] = {};
    int32_t runRow[64] = {};
    int32_t longest[64] = {};
    int32_t longestRow[64] = {};
    out.BlobScore.fill(0);
    out.changed.fill(0);

    const int cw = width / 8;
    const int ch = height / 8;
    int colStart[8];
    int colEnd[8];
    for (int k = 0; k < 8; ++k) {
        colStart[k] = k * cw;
        colEnd[k] = k < 7 ? (k + 1) * cw : width;
    }

    uint64_t bits[(kMaxScoredWidth + 63) / 64 + 1];
    const RowMaskKernel kernel = Kernel();
    const size_t stride = static_cast<size_t>(width) * 3;
    const int rows = 8 * ch;

    for (int y = 0; y < rows; ++y) {
        kernel(current + y * currentStride, reference + y * stride, width, threshold, bits);
        const int band = y / ch;
        for (int column = 0; column < 8; ++column) {
            const int k = band * 8 + column;
            const int end = colEnd[column];
            int x = colStart[column];
            // An unchanged pixel with no open run changes nothing, so quiet stretches are
            // skipped by searching for the next changed pixel.
            while (x < end) {
                if (run[k] == 0) {
                    x = FindBit<true>(bits, x, end);
                    if (x >= end)
                        break;
                }
                const int z = FindBit<false>(bits, x, end);
                if (z > x) {
                    run[k] += z - x;
                    out.changed[k] += z - x;
                    runRow[k] = y;
                }
                if (z >= end)
                    break;
                // The unchanged pixel at z closes the run.
                if (run[k] >= longest[k]) {
                    if (runRow[k] == longestRow[k] + 1)
                        out.BlobScore[k] += run[k];
                    longest[k] = run[k];
                    longestRow[k] = runRow[k];
                }
                run[k] = 0;
                x = z + 1;
            }
        }
    }
}

} // namespace vorlund
