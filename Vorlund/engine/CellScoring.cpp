#include "CellScoring.h"

#include <algorithm>
#include <atomic>
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
                     uint64_t *bits, uint8_t *keep)
{
    if (keep)
        std::memcpy(keep, cur, static_cast<size_t>(width) * 3);
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
                                                   int width, uint8_t threshold, uint64_t *bits,
                                                   uint8_t *keep)
{
    if (keep)
        std::memcpy(keep, cur, static_cast<size_t>(width) * 3);
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

// The byte differences of a 32-pixel block (96 bytes in three loads), with the block copied
// to `keep` on the way when asked. False when no byte is over the threshold: the differences
// do not care where a byte lies, so the quiet test runs on the plain loads.
struct Avx2Diffs
{
    __m256i a0, a1, a2;
};

__attribute__((target("avx2"))) inline bool Avx2Differences(const uint8_t *c, const uint8_t *r,
                                                            uint8_t *keep, __m256i t, Avx2Diffs &d)
{
    const __m256i c0 = Load(c), c1 = Load(c + 32), c2 = Load(c + 64);
    if (keep) {
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(keep), c0);
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(keep + 32), c1);
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(keep + 64), c2);
    }
    d.a0 = AbsDiff(c0, Load(r));
    d.a1 = AbsDiff(c1, Load(r + 32));
    d.a2 = AbsDiff(c2, Load(r + 64));
    const __m256i dmax = _mm256_max_epu8(_mm256_max_epu8(d.a0, d.a1), d.a2);
    const __m256i over = _mm256_subs_epu8(dmax, t);
    return !_mm256_testz_si256(over, over);
}

// 32 pixels at a time: the blocks with a change are moved into lanes (lane 0 pixels 0..15,
// bytes 0..47; lane 1 pixels 16..31, bytes 48..95) and their channels pulled apart there.
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

    __attribute__((target("avx2"))) uint32_t operator()(const uint8_t *c, const uint8_t *r,
                                                        uint8_t *keep = nullptr) const
    {
        Avx2Diffs a;
        if (!Avx2Differences(c, r, keep, t, a))
            return 0;
        const __m256i d0 = _mm256_blend_epi32(a.a0, a.a1, 0xF0); // bytes 0..15, 48..63
        const __m256i d1 = _mm256_permute2x128_si256(a.a0, a.a2, 0x21); // bytes 16..31, 64..79
        const __m256i d2 = _mm256_blend_epi32(a.a1, a.a2, 0xF0); // bytes 32..47, 80..95

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

// One bit per byte of a row in `w`, the word after it in `next`: the bits whose byte and the
// two after it are all set.
[[gnu::always_inline]] inline uint64_t AllThree(uint64_t w, uint64_t next)
{
    return w & (w >> 1 | next << 63) & (w >> 2 | next << 62);
}

// The same with one bit per byte: a pixel is changed where its three bits are, and pext takes
// every third bit. Half the vector work of the lane shuffles, where pext is one instruction.
struct Avx2PextBlock
{
    __m256i t;

    // One bit per byte not over the threshold.
    __attribute__((target("avx2"))) uint32_t Quiet(__m256i d) const
    {
        const __m256i under = _mm256_cmpeq_epi8(_mm256_subs_epu8(d, t), _mm256_setzero_si256());
        return static_cast<uint32_t>(_mm256_movemask_epi8(under));
    }

    __attribute__((target("avx2"))) explicit Avx2PextBlock(uint8_t threshold)
        : t(_mm256_set1_epi8(static_cast<char>(threshold)))
    { }

    __attribute__((target("avx2,bmi2"))) uint32_t operator()(const uint8_t *c, const uint8_t *r,
                                                             uint8_t *keep = nullptr) const
    {
        Avx2Diffs a;
        if (!Avx2Differences(c, r, keep, t, a))
            return 0;
        // Bytes 0..63 and 64..95 over the threshold.
        const uint64_t lo = ~(uint64_t(Quiet(a.a0)) | uint64_t(Quiet(a.a1)) << 32);
        const uint64_t hi = ~Quiet(a.a2) & 0xFFFFFFFFu;
        const uint64_t allLo = AllThree(lo, hi);
        const uint64_t allHi = AllThree(hi, 0);
        // Pixel j's first byte is bit 3j: pixels 0..21 in the low word, 22..31 from bit 66 on.
        return static_cast<uint32_t>(_pext_u64(allLo, 0x9249249249249249u)
                                     | _pext_u64(allHi, 0x24924924u) << 22);
    }
};

// Takes the target of its caller, so that either block inlines.
template <class Block>
[[gnu::always_inline]] inline void RowMaskAvx2With(const Block &block, const uint8_t *cur,
                                                   const uint8_t *ref, int width, uint64_t *bits,
                                                   uint8_t *keep)
{
    int x = 0;
    for (; x + 64 <= width; x += 64) {
        const size_t at = static_cast<size_t>(x) * 3;
        uint8_t *k = keep ? keep + at : nullptr;
        bits[x >> 6] = block(cur + at, ref + at, k)
            | uint64_t(block(cur + at + 96, ref + at + 96, k ? k + 96 : nullptr)) << 32;
    }
    if (x < width)
        bits[x >> 6] = 0;
    if (x + 32 <= width) {
        const size_t at = static_cast<size_t>(x) * 3;
        bits[x >> 6] = block(cur + at, ref + at, keep ? keep + at : nullptr);
        x += 32;
    }
    if (keep && x < width)
        std::memcpy(keep + static_cast<size_t>(x) * 3, cur + static_cast<size_t>(x) * 3,
                    static_cast<size_t>(width - x) * 3);
    RowMaskTail<32>(cur, ref, x, width, bits, block);
}

__attribute__((target("avx2"))) void RowMaskAvx2(const uint8_t *cur, const uint8_t *ref, int width,
                                                 uint8_t threshold, uint64_t *bits, uint8_t *keep)
{
    RowMaskAvx2With(Avx2Block(threshold), cur, ref, width, bits, keep);
}

// 64 pixels, one word of bits, at a time, with fewer instructions a pixel: adding 127 minus the
// threshold to a byte's difference (saturating) sets its top bit just where it is over the
// threshold, and movemask takes that bit as it is. So thresholds up to 127.
struct Avx2Pext64Block
{
    __m256i bias;
    __m256i top;

    __attribute__((target("avx2"))) explicit Avx2Pext64Block(uint8_t threshold)
        : bias(_mm256_set1_epi8(static_cast<char>(127 - threshold))),
          top(_mm256_set1_epi8(static_cast<char>(0x80)))
    { }

    __attribute__((target("avx2,bmi2"))) uint64_t operator()(const uint8_t *c, const uint8_t *r,
                                                             uint8_t *keep) const
    {
        __m256i over[6];
#pragma GCC unroll 6
        for (int i = 0; i < 6; ++i) {
            const __m256i a = Load(c + 32 * i);
            if (keep)
                _mm256_storeu_si256(reinterpret_cast<__m256i *>(keep + 32 * i), a);
            over[i] = _mm256_adds_epu8(AbsDiff(a, Load(r + 32 * i)), bias);
        }
        const __m256i any = _mm256_or_si256(
            _mm256_or_si256(_mm256_or_si256(over[0], over[1]), _mm256_or_si256(over[2], over[3])),
            _mm256_or_si256(over[4], over[5]));
        if (_mm256_testz_si256(any, top))
            return 0;
        uint64_t m[6];
#pragma GCC unroll 6
        for (int i = 0; i < 6; ++i)
            m[i] = static_cast<uint32_t>(_mm256_movemask_epi8(over[i]));
        // Bytes 0..63, 64..127 and 128..191.
        const uint64_t w0 = m[0] | m[1] << 32, w1 = m[2] | m[3] << 32, w2 = m[4] | m[5] << 32;
        const uint64_t all0 = AllThree(w0, w1), all1 = AllThree(w1, w2), all2 = AllThree(w2, 0);
        // Pixel j's first byte is bit 3j: pixels 0..21 in the first word, 22..42 in the
        // second (from bit 2), 43..63 in the third (from bit 1).
        return _pext_u64(all0, 0x9249249249249249u) | _pext_u64(all1, 0x4924924924924924u) << 22
            | _pext_u64(all2, 0x2492492492492492u) << 43;
    }
};

__attribute__((target("avx2,bmi2"))) void RowMaskAvx2Pext(const uint8_t *cur, const uint8_t *ref,
                                                          int width, uint8_t threshold,
                                                          uint64_t *bits, uint8_t *keep)
{
    int whole = 0;
    if (threshold <= 127) {
        const Avx2Pext64Block block(threshold);
        whole = width & ~63;
        for (int x = 0; x < whole; x += 64) {
            const size_t at = static_cast<size_t>(x) * 3;
            bits[x >> 6] = block(cur + at, ref + at, keep ? keep + at : nullptr);
        }
    }
    // The rest of the row 32 pixels at a time.
    const size_t at = static_cast<size_t>(whole) * 3;
    RowMaskAvx2With(Avx2PextBlock(threshold), cur + at, ref + at, width - whole,
                    bits + (whole >> 6), keep ? keep + at : nullptr);
}

// pext is microcoded, tens of cycles, on AMD processors before family 19h.
bool PextIsFast()
{
    unsigned a = 0, b = 0, c = 0, d = 0;
    if (!__get_cpuid(1, &a, &b, &c, &d))
        return false;
    const unsigned family = ((a >> 8) & 0xF) == 0xF ? 0xF + ((a >> 20) & 0xFF) : (a >> 8) & 0xF;
    return !(__builtin_cpu_is("amd") && family < 0x19);
}

bool CpuHas(KernelChoice choice)
{
    __builtin_cpu_init();
    if (choice == KernelChoice::Avx2Pext)
        return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("bmi2");
    if (choice == KernelChoice::Avx2)
        return __builtin_cpu_supports("avx2");
    if (choice == KernelChoice::Ssse3)
        return __builtin_cpu_supports("ssse3");
    return true;
}
#endif

struct KernelEntry
{
    KernelChoice choice;
    RowMaskKernel kernel;
};

constexpr KernelEntry kKernels[] = {
    { KernelChoice::Portable, RowMaskPortable },
#ifdef VORLUND_HAVE_X86
    { KernelChoice::Ssse3, RowMaskSsse3 },
    { KernelChoice::Avx2, RowMaskAvx2 },
    { KernelChoice::Avx2Pext, RowMaskAvx2Pext },
#endif
};

const KernelEntry *EntryFor(KernelChoice choice)
{
    for (const KernelEntry &entry : kKernels)
        if (entry.choice == choice)
            return &entry;
    return nullptr;
}

KernelChoice AutomaticChoice()
{
#ifdef VORLUND_HAVE_X86
    return CpuHas(KernelChoice::Avx2Pext) && PextIsFast() ? KernelChoice::Avx2Pext
        : CpuHas(KernelChoice::Avx2)                      ? KernelChoice::Avx2
        : CpuHas(KernelChoice::Ssse3)                     ? KernelChoice::Ssse3
                                                          : KernelChoice::Portable;
#else
    return KernelChoice::Portable;
#endif
}

// The automatic choice asks the processor once; a function-local static makes that so even
// when several threads score their first frame together.
const KernelEntry *AutomaticEntry()
{
    static const KernelEntry *const entry = EntryFor(AutomaticChoice());
    return entry;
}

// Null until someone chooses explicitly (tests, benchmarks); one pointer, so the kernel and
// the choice it is reported as never disagree.
std::atomic<const KernelEntry *> g_chosen { nullptr };

const KernelEntry &ActiveEntry()
{
    const KernelEntry *entry = g_chosen.load(std::memory_order_acquire);
    return entry ? *entry : *AutomaticEntry();
}

RowMaskKernel Kernel()
{
    return ActiveEntry().kernel;
}

// One cell's run state; a run is not closed at the edge of a cell, it carries on into the
// cell's part of the next row. The row of an open run's last pixel is the row of the piece
// before, so it is not kept.
struct CellRuns
{
    int32_t run = 0;
    // Held at 1 until a run closes: a run reaches 1 just where it reaches 0 and is not empty,
    // and an empty run never reaches. So a run shorter than this changes nothing when it closes.
    int32_t longest = 1;
    int32_t longestRow = 0;
    // Set whenever the longest changes: four shifts whose ANDs keep the starts of runs of
    // min(longest, 16) or more.
    int32_t reach[4] = {};
};

[[gnu::always_inline]] inline void SetReach(CellRuns &c)
{
    // Doubling: the runs of 2, 4, 8, then of the length itself.
    const int length = std::min(c.longest, 16);
    const int two = std::min(2, length), four = std::min(4, length), eight = std::min(8, length);
    c.reach[0] = two - 1;
    c.reach[1] = four - two;
    c.reach[2] = eight - four;
    c.reach[3] = length - eight;
}

// The bits of `m` where runs of min(longest, 16) or more start.
[[gnu::always_inline]] inline uint64_t Reaching(const CellRuns &c, uint64_t m)
{
    m &= m >> c.reach[0];
    m &= m >> c.reach[1];
    m &= m >> c.reach[2];
    return m & m >> c.reach[3];
}

// A run of `length` changed pixels whose last one lies on `row` is closed by an unchanged pixel.
// Without branches: whether a carried run reaches the cell's longest is a coin toss on noise.
[[gnu::always_inline]] inline void CloseRun(CellRuns &c, int32_t length, int32_t row,
                                            int32_t &score)
{
    const bool reaches = length >= c.longest;
    score += reaches && row == c.longestRow + 1 ? length : 0;
    c.longest = reaches ? length : c.longest;
    c.longestRow = reaches ? row : c.longestRow;
}

// The bits of `x` where a run of at least `length` set bits starts (length 1 to 64): the AND
// of x shifted by 0 .. length-1, built by doubling.
[[gnu::always_inline]] inline uint64_t RunStartsOf(uint64_t x, int length)
{
    int covered = 1;
    while (covered * 2 <= length) {
        x &= x >> covered;
        covered *= 2;
    }
    return x & x >> (length - covered);
}

// A cell's row is taken in pieces of up to 56 pixels, so that a piece is one 8-byte load from
// the byte that holds its first pixel, shifted by at most 7.
constexpr int kPieceBits = 56;
static_assert(kPieceBits < 64);

// Where one piece of a cell's row lies: `n` pixels from bit `f` of byte `b` of the row's bits.
struct PieceAt
{
    int b;
    int f;
    int n;
    uint64_t mask; // the low n bits
};

// The byte-addressed load reads a row's words as one bit string only where a word's low byte
// comes first.
static_assert(std::endian::native == std::endian::little);

[[gnu::always_inline]] inline uint64_t PieceBits(const uint64_t *rowBits, const PieceAt &p)
{
    uint64_t v;
    std::memcpy(&v, reinterpret_cast<const uint8_t *>(rowBits) + p.b, sizeof v);
    return (v >> p.f) & p.mask;
}

// Piece p of a cell's row from pixel `start` to `end`.
[[gnu::always_inline]] inline PieceAt PieceOf(int start, int end, int p)
{
    const int x = start + kPieceBits * p;
    PieceAt at;
    at.n = std::min(kPieceBits, end - x);
    at.b = x >> 3;
    at.f = x & 7;
    at.mask = (uint64_t(1) << at.n) - 1;
    return at;
}

// One piece of a cell's row: `m` holds the `n` pixels (bit 0 first); `y` is its row and
// `before` the row of the cell's piece before it. A run that fills the piece stays open; one
// that touches its end is carried into the next piece of the cell. On noise most pieces close
// no run that reaches the cell's longest: then only the open run moves.
// Otherwise the runs closed inside the piece all end on row y, so once one of them reaches the
// longest the row is the longest's own and no later one scores: only the first run that
// reaches it can score, and the longest becomes the longest of them.
[[gnu::always_inline]] inline void ScorePiece(CellRuns &c, uint64_t m, int n, int32_t y,
                                              int32_t before, int32_t &score)
{
    // The leading ones end the open run and the zero after them closes it; the trailing ones
    // stay open. In a full piece both are n.
    const int lead = std::countr_one(m);
    const int trail = std::countl_one(m << (64 - n));
    uint64_t reaching = Reaching(c, m);
    if (c.run + lead < c.longest && !reaching) [[likely]] {
        c.run = lead == n ? c.run + n : trail;
        return;
    }
    if (lead == n) {
        c.run += n;
        return;
    }
    const int32_t longest = c.longest;
    CloseRun(c, c.run + lead, lead ? y : before, score);
    if (c.longest != longest) {
        SetReach(c);
        reaching = Reaching(c, m);
    }
    // What lies between the leading ones' zero and the trailing ones is closed here, in runs
    // shorter than a piece. Up to 16 the reaching bits are exact.
    const uint64_t full = (uint64_t(1) << n) - 1;
    const uint64_t inner = m & (full >> trail) & (~uint64_t(0) << lead);
    uint64_t starts = c.longest <= 16 ? reaching & inner
        : c.longest < kPieceBits      ? RunStartsOf(inner, c.longest)
                                      : 0;
    if (starts) {
        const int first = std::countr_one(inner >> std::countr_zero(starts));
        score += y == c.longestRow + 1 ? first : 0;
        int longestNow = c.longest;
        while ((starts &= starts >> 1))
            ++longestNow;
        c.longest = longestNow;
        c.longestRow = y;
        SetReach(c);
    }
    c.run = trail;
}

// A cell's part of a pass's rows, from pixel `start` to `end`, in `Pieces` pieces a row (0: as
// many as it takes). The pieces are taken out of the rows and counted first, in a loop of their
// own with nothing carried from one to the next, then scored one after the other.
template <int Pieces>
[[gnu::always_inline]] inline void ScoreCellRows(CellRuns &c, const uint64_t *bits, int words,
                                                 int rows, int32_t y0, int start, int end,
                                                 uint64_t *ms, int32_t &changed, int32_t &score)
{
    const int count = Pieces ? Pieces : (end - start + kPieceBits - 1) / kPieceBits;
    PieceAt at[Pieces ? Pieces : 1];
    for (int p = 0; p < Pieces; ++p)
        at[p] = PieceOf(start, end, p);
    int k = 0;
    int32_t counted = 0;
    for (int r = 0; r < rows; ++r) {
        const uint64_t *rowBits = bits + r * words;
        for (int p = 0; p < count; ++p) {
            const uint64_t m = PieceBits(rowBits, Pieces ? at[p] : PieceOf(start, end, p));
            ms[k++] = m;
            counted += std::popcount(m);
        }
    }
    changed += counted;
    k = 0;
    for (int r = 0; r < rows; ++r) {
        const int32_t y = y0 + r;
        for (int p = 0; p < count; ++p) {
            const int n = (Pieces ? at[p] : PieceOf(start, end, p)).n;
            ScorePiece(c, ms[k++], n, y, p ? y : y - 1, score);
        }
    }
}

} // namespace

bool SelectRowMaskKernel(KernelChoice choice)
{
    const KernelEntry *entry = choice == KernelChoice::Auto ? AutomaticEntry() : EntryFor(choice);
#ifdef VORLUND_HAVE_X86
    if (!entry || !CpuHas(entry->choice))
        return false;
#else
    if (!entry)
        return false;
#endif
    g_chosen.store(choice == KernelChoice::Auto ? nullptr : entry, std::memory_order_release);
    return true;
}

KernelChoice ActiveRowMaskKernel()
{
    return ActiveEntry().choice;
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
    out.BlobScore.fill(0);
    out.changed.fill(0);

    const int cw = width / 8;
    const int ch = height / 8;
    const size_t stride = static_cast<size_t>(width) * 3;
    const int words = (width + 63) / 64;

    // The last column is the widest.
    const int mostPieces = (width - 7 * cw + kPieceBits - 1) / kPieceBits;

    // A band's rows of bits, as many rows at a time as fit, so that each cell then takes its
    // rows one after the other with its state in registers. A piece's load reads up to seven
    // bytes past the last row (masked off), so one word more is kept.
    constexpr int kChunkWords = 4096;
    static_assert(kChunkWords >= (kMaxScoredWidth + 63) / 64);
    uint64_t bits[kChunkWords + 1];
    // One cell's pieces of those rows.
    constexpr int kChunkPieces = 1024;
    static_assert(kChunkPieces
                  >= (kMaxScoredWidth - kMaxScoredWidth / 8 * 7 + kPieceBits - 1) / kPieceBits);
    uint64_t pieces[kChunkPieces];
    const int chunkRows = std::min({ ch, kChunkWords / words, kChunkPieces / mostPieces });

    for (int band = 0; band < 8; ++band) {
        CellRuns cells[8];
        const int bandEnd = (band + 1) * ch;
        for (int y0 = band * ch; y0 < bandEnd; y0 += chunkRows) {
            const int rows = std::min(chunkRows, bandEnd - y0);
            uint64_t any = 0;
            for (int r = 0; r < rows; ++r) {
                const int y = y0 + r;
                uint64_t *rowBits = bits + r * words;
                kernel(current + y * currentStride, reference + y * stride, width, threshold,
                       rowBits, keep ? keep + y * stride : nullptr);
                for (int w = 0; w < words; ++w)
                    any |= rowBits[w];
            }
            bits[rows * words] = 0;
            if (!any) {
                // Quiet rows only close the runs left open, on the row before them.
                for (int column = 0; column < 8; ++column) {
                    CellRuns &c = cells[column];
                    if (c.run) {
                        CloseRun(c, c.run, y0 - 1, out.BlobScore[band * 8 + column]);
                        SetReach(c);
                        c.run = 0;
                    }
                }
                continue;
            }
            for (int column = 0; column < 8; ++column) {
                const int k = band * 8 + column;
                CellRuns c = cells[column];
                int32_t changed = out.changed[k];
                int32_t score = out.BlobScore[k];
                const int start = column * cw;
                const int end = column < 7 ? start + cw : width;
                const int count = (end - start + kPieceBits - 1) / kPieceBits;
                if (count == 1)
                    ScoreCellRows<1>(c, bits, words, rows, y0, start, end, pieces, changed, score);
                else if (count == 2)
                    ScoreCellRows<2>(c, bits, words, rows, y0, start, end, pieces, changed, score);
                else if (count == 3)
                    ScoreCellRows<3>(c, bits, words, rows, y0, start, end, pieces, changed, score);
                else
                    ScoreCellRows<0>(c, bits, words, rows, y0, start, end, pieces, changed, score);
                cells[column] = c;
                out.changed[k] = changed;
                out.BlobScore[k] = score;
            }
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
__attribute__((target("popcnt,bmi,bmi2,lzcnt"))) void
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
    return __builtin_cpu_supports("popcnt") && __builtin_cpu_supports("bmi")
        && __builtin_cpu_supports("bmi2") && lzcnt;
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
