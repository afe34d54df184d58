#include "CellScoring.h"

#include <algorithm>
#include <bit>
#include <cstring>

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
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
__attribute__((target("avx2"))) inline __m256i Load(const uint8_t *p)
{
    return _mm256_loadu_si256(reinterpret_cast<const __m256i *>(p));
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

// The last pixels of a row, fewer than one block, go through the block code from zeroed copies:
// a scalar tail's per-pixel branches cost more than the copy on a noisy picture.
template <int Pixels, class Block>
inline void RowMaskTail(const uint8_t *cur, const uint8_t *ref, int x, int width, uint64_t *bits,
                        Block &&block)
{
    if (x >= width)
        return;
    uint8_t c[Pixels * 3] = {};
    uint8_t r[Pixels * 3] = {};
    const int n = width - x;
    std::memcpy(c, cur + static_cast<size_t>(x) * 3, static_cast<size_t>(n) * 3);
    std::memcpy(r, ref + static_cast<size_t>(x) * 3, static_cast<size_t>(n) * 3);
    const uint64_t changed = block(c, r) & ((uint64_t(1) << n) - 1);
    // A block never straddles a word: rows are cut into blocks from pixel 0.
    bits[x >> 6] |= changed << (x & 63);
}

// 16 pixels at a time for processors without AVX2.
struct Ssse3Block
{
    __m128i masks[3][3];
    __m128i t;

    __attribute__((target("ssse3"))) explicit Ssse3Block(uint8_t threshold)
        : t(_mm_set1_epi8(static_cast<char>(threshold)))
    {
        for (int ch = 0; ch < 3; ++ch)
            for (int piece = 0; piece < 3; ++piece)
                masks[ch][piece] = _mm_loadu_si128(
                    reinterpret_cast<const __m128i *>(kPlaneShuffle.bytes[ch][piece]));
    }

    __attribute__((target("ssse3"))) uint32_t operator()(const uint8_t *c, const uint8_t *r) const
    {
        const __m128i zero = _mm_setzero_si128();
        __m128i d[3];
        for (int piece = 0; piece < 3; ++piece) {
            const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i *>(c + 16 * piece));
            const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i *>(r + 16 * piece));
            d[piece] = _mm_or_si128(_mm_subs_epu8(a, b), _mm_subs_epu8(b, a));
        }
        const __m128i dmax = _mm_max_epu8(_mm_max_epu8(d[0], d[1]), d[2]);
        if (_mm_movemask_epi8(_mm_cmpeq_epi8(_mm_subs_epu8(dmax, t), zero)) == 0xFFFF)
            return 0;
        __m128i lowest = zero;
        for (int ch = 0; ch < 3; ++ch) {
            const __m128i plane = _mm_or_si128(_mm_or_si128(_mm_shuffle_epi8(d[0], masks[ch][0]),
                                                            _mm_shuffle_epi8(d[1], masks[ch][1])),
                                               _mm_shuffle_epi8(d[2], masks[ch][2]));
            lowest = ch == 0 ? plane : _mm_min_epu8(lowest, plane);
        }
        const __m128i quiet = _mm_cmpeq_epi8(_mm_subs_epu8(lowest, t), zero);
        return ~static_cast<uint32_t>(_mm_movemask_epi8(quiet)) & 0xFFFFu;
    }
};

__attribute__((target("ssse3"))) void RowMaskSsse3(const uint8_t *cur, const uint8_t *ref,
                                                   int width, uint8_t threshold, uint64_t *bits)
{
    const Ssse3Block block(threshold);
    std::fill(bits, bits + (width + 63) / 64, 0);
    int x = 0;
    for (; x + 16 <= width; x += 16) {
        const uint64_t changed
            = block(cur + static_cast<size_t>(x) * 3, ref + static_cast<size_t>(x) * 3);
        bits[x >> 6] |= changed << (x & 63);
    }
    RowMaskTail<16>(cur, ref, x, width, bits, block);
}

// 32 pixels at a time.
struct Avx2Block
{
    __m256i masks[3][3];
    __m256i t;

    __attribute__((target("avx2"))) explicit Avx2Block(uint8_t threshold)
        : t(_mm256_set1_epi8(static_cast<char>(threshold)))
    {
        for (int ch = 0; ch < 3; ++ch)
            for (int piece = 0; piece < 3; ++piece)
                masks[ch][piece] = _mm256_broadcastsi128_si256(_mm_loadu_si128(
                    reinterpret_cast<const __m128i *>(kPlaneShuffle.bytes[ch][piece])));
    }

    __attribute__((target("avx2"))) uint32_t operator()(const uint8_t *c, const uint8_t *r) const
    {
        // The differences do not care where a byte lies, so the quiet test runs on the plain
        // loads; only a block with a change is moved into lanes (lane 0 pixels 0..15, bytes
        // 0..47; lane 1 pixels 16..31, bytes 48..95).
        const __m256i a0 = AbsDiff(Load(c), Load(r));
        const __m256i a1 = AbsDiff(Load(c + 32), Load(r + 32));
        const __m256i a2 = AbsDiff(Load(c + 64), Load(r + 64));

        // Quiet stretch: no byte above the threshold means no pixel changed.
        const __m256i dmax = _mm256_max_epu8(_mm256_max_epu8(a0, a1), a2);
        const __m256i over = _mm256_subs_epu8(dmax, t);
        if (_mm256_testz_si256(over, over))
            return 0;
        const __m256i d0 = _mm256_blend_epi32(a0, a1, 0xF0); // bytes 0..15, 48..63
        const __m256i d1 = _mm256_permute2x128_si256(a0, a2, 0x21); // bytes 16..31, 64..79
        const __m256i d2 = _mm256_blend_epi32(a1, a2, 0xF0); // bytes 32..47, 80..95

        __m256i lowest = _mm256_setzero_si256();
        for (int ch = 0; ch < 3; ++ch) {
            const __m256i plane
                = _mm256_or_si256(_mm256_or_si256(_mm256_shuffle_epi8(d0, masks[ch][0]),
                                                  _mm256_shuffle_epi8(d1, masks[ch][1])),
                                  _mm256_shuffle_epi8(d2, masks[ch][2]));
            lowest = ch == 0 ? plane : _mm256_min_epu8(lowest, plane);
        }
        // Changed where the smallest channel difference is still above the threshold.
        const __m256i quiet
            = _mm256_cmpeq_epi8(_mm256_subs_epu8(lowest, t), _mm256_setzero_si256());
        return ~static_cast<uint32_t>(_mm256_movemask_epi8(quiet));
    }
};

__attribute__((target("avx2"))) void RowMaskAvx2(const uint8_t *cur, const uint8_t *ref, int width,
                                                 uint8_t threshold, uint64_t *bits)
{
    const Avx2Block block(threshold);
    int x = 0;
    for (; x + 64 <= width; x += 64) {
        const uint8_t *c = cur + static_cast<size_t>(x) * 3;
        const uint8_t *r = ref + static_cast<size_t>(x) * 3;
        bits[x >> 6] = block(c, r) | uint64_t(block(c + 96, r + 96)) << 32;
    }
    if (x < width)
        bits[x >> 6] = 0;
    if (x + 32 <= width) {
        bits[x >> 6] = block(cur + static_cast<size_t>(x) * 3, ref + static_cast<size_t>(x) * 3);
        x += 32;
    }
    RowMaskTail<32>(cur, ref, x, width, bits, block);
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

// One cell's run state; a run is not closed at the edge of a cell, it carries on into the
// cell's part of the next row.
struct CellRuns
{
    int32_t run = 0;
    int32_t runRow = 0;
    int32_t longest = 0;
    int32_t longestRow = 0;
};

// A run of `length` changed pixels whose last one lies on `row` is closed by an unchanged pixel.
[[gnu::always_inline]] inline void CloseRun(CellRuns &c, int32_t length, int32_t row,
                                            int32_t &score)
{
    if (length >= c.longest) {
        if (row == c.longestRow + 1)
            score += length;
        c.longest = length;
        c.longestRow = row;
    }
}

// Whether `x` holds a run of at least `length` set bits (length 1 to 62; 1 asks for any
// bit): the AND of x shifted by 0 .. length-1, built by doubling.
[[gnu::always_inline]] inline bool HasRunOf(uint64_t x, int length)
{
    int covered = 1;
    while (covered * 2 <= length) {
        x &= x >> covered;
        covered *= 2;
    }
    x &= x >> (length - covered);
    return x != 0;
}

// One word's part of a cell's row: `m` holds the `n` pixels (bit 0 first). A run that fills
// the piece stays open; one that touches its end is carried into the next piece of the cell.
// Runs closed inside the piece are walked one by one only when one of them can reach the
// cell's longest: a shorter run changes nothing.
[[gnu::always_inline]] inline void ScorePiece(CellRuns &c, uint64_t m, int n, int32_t y,
                                              int32_t &changed, int32_t &score)
{
    const uint64_t full = n == 64 ? ~uint64_t(0) : (uint64_t(1) << n) - 1;
    if (m == full) {
        changed += n;
        c.run += n;
        c.runRow = y;
        return;
    }
    changed += std::popcount(m);
    // The leading ones end the open run and the zero after them closes it. Closing an empty
    // run changes nothing: before the first run closes, the rows are still 0.
    const int lead = std::countr_one(m);
    c.runRow = lead ? y : c.runRow;
    CloseRun(c, c.run + lead, c.runRow, score);
    // The trailing ones stay open; what lies between them and the first zero is closed here.
    const int trail = std::countl_one(m << (64 - n));
    uint64_t inner = m & (full >> trail) & (~uint64_t(0) << lead);
    if (c.longest < 63 && HasRunOf(inner, std::max(c.longest, 1))) {
        do {
            const int start = std::countr_zero(inner);
            const int length = std::countr_one(inner >> start);
            CloseRun(c, length, y, score);
            inner &= inner + (uint64_t(1) << start);
        } while (inner);
    }
    c.run = trail;
    c.runRow = trail ? y : c.runRow;
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

namespace {

// The scoring pass itself, built twice: plainly, and for processors with single-instruction
// popcount and bit scans, which the pass leans on.
[[gnu::always_inline]] inline void ScoreRows(const uint8_t *current, std::ptrdiff_t currentStride,
                                             const uint8_t *reference, int width, int height,
                                             uint8_t threshold, RowMaskKernel kernel,
                                             CellScores &out, uint8_t *keep)
{
    CellRuns cells[64];
    out.BlobScore.fill(0);
    out.changed.fill(0);

    const int cw = width / 8;
    const int ch = height / 8;
    int colStart[9];
    for (int k = 0; k < 8; ++k)
        colStart[k] = k * cw;
    colStart[8] = width;

    // Two words past the row stay zero: a cell's bits are read as whole words from its start.
    uint64_t bits[(kMaxScoredWidth + 63) / 64 + 2];
    const size_t stride = static_cast<size_t>(width) * 3;
    const int rows = 8 * ch;
    const int words = (width + 63) / 64;
    bits[words] = bits[words + 1] = 0;
    // The 64 bits from pixel x on (word w, bit f), whatever word they start in.
    auto wordAt = [&bits](int x) {
        const int w = x >> 6, f = x & 63;
        return (bits[w] >> f) | ((bits[w + 1] << 1) << (63 - f));
    };

    int bandIndex = 0, bandEnd = ch;
    for (int y = 0; y < rows; ++y) {
        const uint8_t *row = current + y * currentStride;
        kernel(row, reference + y * stride, width, threshold, bits);
        if (keep)
            std::memcpy(keep + y * stride, row, stride);
        const int band = y >= bandEnd ? ++bandIndex : bandIndex;
        if (y >= bandEnd)
            bandEnd += ch;
        uint64_t any = 0;
        for (int w = 0; w < words; ++w)
            any |= bits[w];
        if (!any) {
            // A quiet row only closes the runs left open.
            for (int column = 0; column < 8; ++column) {
                const int k = band * 8 + column;
                CellRuns &c = cells[k];
                if (c.run) {
                    CloseRun(c, c.run, c.runRow, out.BlobScore[k]);
                    c.run = 0;
                }
            }
            continue;
        }
        for (int column = 0; column < 8; ++column) {
            const int k = band * 8 + column;
            // Kept in registers across the cell's pieces.
            CellRuns c = cells[k];
            int32_t changed = out.changed[k];
            int32_t score = out.BlobScore[k];
            // The cell's row taken 64 pixels at a time from its first column: a 90-pixel
            // cell is two pieces wherever it lies in the words.
            const int end = colStart[column + 1];
            for (int x = colStart[column]; x < end; x += 64) {
                const int n = std::min(64, end - x);
                uint64_t m = wordAt(x);
                if (n < 64)
                    m &= (uint64_t(1) << n) - 1;
                ScorePiece(c, m, n, y, changed, score);
            }
            cells[k] = c;
            out.changed[k] = changed;
            out.BlobScore[k] = score;
        }
    }
}

void ScoreRowsPlain(const uint8_t *current, std::ptrdiff_t currentStride, const uint8_t *reference,
                    int width, int height, uint8_t threshold, RowMaskKernel kernel, CellScores &out,
                    uint8_t *keep)
{
    ScoreRows(current, currentStride, reference, width, height, threshold, kernel, out, keep);
}

#ifdef VORLUND_HAVE_X86
__attribute__((target("popcnt,bmi,lzcnt"))) void
ScoreRowsBitOps(const uint8_t *current, std::ptrdiff_t currentStride, const uint8_t *reference,
                int width, int height, uint8_t threshold, RowMaskKernel kernel, CellScores &out,
                uint8_t *keep)
{
    ScoreRows(current, currentStride, reference, width, height, threshold, kernel, out, keep);
}

bool CpuHasBitOps()
{
    __builtin_cpu_init();
    // LZCNT is CPUID 0x80000001 ECX bit 5; not every compiler's builtin names it.
    unsigned a = 0, b = 0, c = 0, d = 0;
    const bool lzcnt = __get_cpuid(0x80000001u, &a, &b, &c, &d) && (c & (1u << 5)) != 0;
    return __builtin_cpu_supports("popcnt") && __builtin_cpu_supports("bmi") && lzcnt;
}
#endif

using ScoreRowsFn = void (*)(const uint8_t *, std::ptrdiff_t, const uint8_t *, int, int, uint8_t,
                             RowMaskKernel, CellScores &, uint8_t *);

ScoreRowsFn ScoreRowsFor()
{
#ifdef VORLUND_HAVE_X86
    static const ScoreRowsFn fn = CpuHasBitOps() ? ScoreRowsBitOps : ScoreRowsPlain;
    return fn;
#else
    return ScoreRowsPlain;
#endif
}

} // namespace

void ScoreCells(const uint8_t *current, std::ptrdiff_t currentStride, const uint8_t *reference,
                int width, int height, uint8_t threshold, CellScores &out, uint8_t *keep)
{
    ScoreRowsFor()(current, currentStride, reference, width, height, threshold, Kernel(), out,
                   keep);
}

} // namespace vorlund
