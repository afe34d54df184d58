#include "BgrScaler.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <type_traits>
#include <utility>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define VORLUND_HAVE_X86 1
#endif

namespace vorlund::link {

namespace {

constexpr size_t kBlock = 16; // values a block; two halves of eight, one per 128-bit lane
constexpr int kWindow = 32; // bytes one half picks its sources from
constexpr uint8_t kZero = 0x80; // a shuffle index that yields 0

#ifdef VORLUND_HAVE_X86
__attribute__((target("avx2"))) inline __m256i LoadHalves(const uint8_t *lo, const uint8_t *hi)
{
    return _mm256_inserti128_si256(
        _mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i *>(lo))),
        _mm_loadu_si128(reinterpret_cast<const __m128i *>(hi)), 1);
}

inline const __m256i *Vec(const void *p)
{
    return static_cast<const __m256i *>(p);
}

// What a block keeps for its vector path (kPlanBytes): two byte shuffles that pick, for each
// value, its two sources as one 16-bit pair out of the window's first and second 16 bytes; the
// pair's two weights as signed bytes; and the 16-bit mask that takes the pair's base part.
constexpr size_t kPlanBytes = 128;
constexpr size_t kPickLo = 0, kPickHi = 32, kPairWeights = 64, kBaseMask = 96;

// A block's plan, loaded once for all the rows it serves.
struct BlockPlan
{
    __m256i pickLo, pickHi, weights, mask;
};

template <bool Wide> __attribute__((target("avx2"))) inline BlockPlan LoadPlan(const uint8_t *plan)
{
    BlockPlan p;
    p.pickLo = _mm256_loadu_si256(Vec(plan + kPickLo));
    p.pickHi = Wide ? _mm256_loadu_si256(Vec(plan + kPickHi)) : _mm256_setzero_si256();
    p.weights = _mm256_loadu_si256(Vec(plan + kPairWeights));
    p.mask = _mm256_loadu_si256(Vec(plan + kBaseMask));
    return p;
}

// One block's sixteen sums of a row. Each value's two sources come as a 16-bit pair (x low,
// y high); its sum is the pair masked (256 y, or 256 y + x) plus x a + y b from one multiply-add
// of bytes, with x, y, a, b and the mask chosen by PlanBlocks. No sum exceeds 255 × 256. Each
// half's window is 16 bytes (or 32 in two pieces when Wide); Paired: the second half's window
// starts 16 bytes after the first's, so one 32-byte load holds both halves' pieces.
template <bool Wide, bool Paired>
__attribute__((target("avx2"))) inline __m256i Sums(const uint8_t *row, const int32_t *base,
                                                    const BlockPlan &p)
{
    const uint8_t *h0 = row + base[0], *h1 = row + base[1];
    const __m256i lo = Paired ? _mm256_loadu_si256(Vec(h0)) : LoadHalves(h0, h1);
    __m256i pairs = _mm256_shuffle_epi8(lo, p.pickLo);
    if constexpr (Wide) {
        const __m256i hi = Paired ? _mm256_loadu_si256(Vec(h0 + 16)) : LoadHalves(h0 + 16, h1 + 16);
        pairs = _mm256_or_si256(pairs, _mm256_shuffle_epi8(hi, p.pickHi));
    }
    return _mm256_add_epi16(_mm256_and_si256(pairs, p.mask),
                            _mm256_maddubs_epi16(pairs, p.weights));
}

// The sums of `Rows` rows into their buffers.
template <bool Wide, bool Paired, int Rows>
__attribute__((target("avx2"))) void AcrossAvx2(const uint8_t *const *rows, uint16_t *const *outs,
                                                const uint32_t *list, size_t count,
                                                const int32_t *bases, const uint8_t *plans)
{
    for (size_t k = 0; k < count; ++k) {
        const size_t b = list[k];
        const BlockPlan p = LoadPlan<Wide>(plans + b * kPlanBytes);
        for (int r = 0; r < Rows; ++r)
            _mm256_storeu_si256(reinterpret_cast<__m256i *>(outs[r] + b * kBlock),
                                Sums<Wide, Paired>(rows[r], bases + b * 2, p));
    }
}

// (top × (256 − w) + bottom × w + 32768) >> 16 for sixteen sums: with 32768 taken off each sum
// (its top bit flipped) they are signed 16-bit values, which pair up with the weights in one
// multiply-add to 32 bits; the 32768 × 256 taken off goes back with the rounding.
__attribute__((target("avx2"))) inline __m256i Blend16(__m256i top, __m256i bottom, __m256i weights)
{
    const __m256i flip = _mm256_set1_epi16(static_cast<short>(0x8000));
    const __m256i bias = _mm256_set1_epi32(32768 * 256 + 32768);
    const __m256i t = _mm256_xor_si256(top, flip), b = _mm256_xor_si256(bottom, flip);
    const __m256i lo = _mm256_madd_epi16(_mm256_unpacklo_epi16(t, b), weights);
    const __m256i hi = _mm256_madd_epi16(_mm256_unpackhi_epi16(t, b), weights);
    return _mm256_packus_epi32(_mm256_srli_epi32(_mm256_add_epi32(lo, bias), 16),
                               _mm256_srli_epi32(_mm256_add_epi32(hi, bias), 16));
}

// The pairs of weights Blend16 takes: 256 − w for the top, w for the bottom.
__attribute__((target("avx2"))) inline __m256i BlendWeights(int weight)
{
    return _mm256_set1_epi32((weight << 16) | (256 - weight));
}

__attribute__((target("avx2"))) size_t BlendAvx2(const uint16_t *top, const uint16_t *bottom,
                                                 int weight, uint8_t *out, size_t n)
{
    const __m256i weights = BlendWeights(weight);
    size_t i = 0;
    for (; i + 2 * kBlock <= n; i += 2 * kBlock) {
        const __m256i a = Blend16(_mm256_loadu_si256(Vec(top + i)),
                                  _mm256_loadu_si256(Vec(bottom + i)), weights);
        const __m256i b = Blend16(_mm256_loadu_si256(Vec(top + i + kBlock)),
                                  _mm256_loadu_si256(Vec(bottom + i + kBlock)), weights);
        const __m256i bytes = _mm256_permute4x64_epi64(_mm256_packus_epi16(a, b), 0xD8);
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(out + i), bytes);
    }
    return i;
}

// Both rows of an output row across and blended in registers, straight into the output: for
// rows no other output row reads, so the sums need not be kept. A block reaching past the row's
// end goes through a scratch copy.
template <bool Wide, bool Paired>
__attribute__((target("avx2"))) void
AcrossBlendAvx2(const uint8_t *top, const uint8_t *bottom, int weight, uint8_t *out, size_t values,
                const uint32_t *list, size_t count, const int32_t *bases, const uint8_t *plans)
{
    const __m256i weights = BlendWeights(weight);
    for (size_t k = 0; k < count; ++k) {
        const size_t b = list[k];
        const BlockPlan p = LoadPlan<Wide>(plans + b * kPlanBytes);
        const __m256i t = Sums<Wide, Paired>(top, bases + b * 2, p);
        const __m256i u = Sums<Wide, Paired>(bottom, bases + b * 2, p);
        const __m256i v = Blend16(t, u, weights);
        const __m128i bytes
            = _mm256_castsi256_si128(_mm256_permute4x64_epi64(_mm256_packus_epi16(v, v), 0xD8));
        uint8_t *at = out + b * kBlock;
        if (b * kBlock + kBlock <= values) {
            _mm_storeu_si128(reinterpret_cast<__m128i *>(at), bytes);
        } else {
            alignas(16) uint8_t scratch[kBlock];
            _mm_store_si128(reinterpret_cast<__m128i *>(scratch), bytes);
            std::memcpy(at, scratch, values - b * kBlock);
        }
    }
}

// Calls f(wide, paired, blocks) for each kind of vector block, wide and paired as
// std::bool_constant.
template <typename F> void ForEachKind(const std::array<std::vector<uint32_t>, 4> &blocks, F f)
{
    f(std::false_type {}, std::true_type {}, blocks[0]);
    f(std::false_type {}, std::false_type {}, blocks[1]);
    f(std::true_type {}, std::true_type {}, blocks[2]);
    f(std::true_type {}, std::false_type {}, blocks[3]);
}

bool HaveAvx2()
{
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2");
}
#endif

} // namespace

std::vector<ScaleTap> ScaleTaps(int srcSize, int dstSize, int stride)
{
    std::vector<ScaleTap> out(static_cast<size_t>(dstSize));
    const int64_t step = (int64_t(srcSize) << 16) / dstSize;
    for (int i = 0; i < dstSize; ++i) {
        int64_t f = ((2 * i + 1) * step) / 2 - (1 << 15);
        f = std::clamp<int64_t>(f, 0, int64_t(srcSize - 1) << 16);
        const int a = static_cast<int>(f >> 16);
        out[static_cast<size_t>(i)] = { a * stride, std::min(a + 1, srcSize - 1) * stride,
                                        static_cast<int>((f >> 8) & 0xFF) };
    }
    return out;
}

BgrScaler::BgrScaler(Kernel kernel)
{
#ifdef VORLUND_HAVE_X86
    m_simd = kernel == Kernel::Best && HaveAvx2();
#else
    (void)kernel;
#endif
}

void BgrScaler::Plan(int srcWidth, int srcHeight, int dstWidth, int dstHeight)
{
    if (srcWidth == m_srcWidth && srcHeight == m_srcHeight && dstWidth == m_dstWidth
        && dstHeight == m_dstHeight)
        return;
    m_srcWidth = srcWidth;
    m_srcHeight = srcHeight;
    m_dstWidth = dstWidth;
    m_dstHeight = dstHeight;
    m_values = size_t(dstWidth) * 3;
    m_padded = (m_values + kBlock - 1) / kBlock * kBlock;
    const std::vector<ScaleTap> xs = ScaleTaps(srcWidth, dstWidth, 3);
    m_first.assign(m_padded, 0);
    m_second.assign(m_padded, 0);
    m_weight.assign(m_padded, 0);
    for (size_t i = 0; i < m_values; ++i) {
        const ScaleTap &t = xs[i / 3];
        const int c = int(i % 3);
        m_first[i] = t.first + c;
        m_second[i] = t.second + c;
        m_weight[i] = uint16_t(t.weight);
    }
    m_rows = ScaleTaps(srcHeight, dstHeight, 1);
    for (auto &buffer : m_across)
        buffer.assign(m_padded, 0);
    m_acrossRow[0] = m_acrossRow[1] = -1;
    if (m_simd)
        PlanBlocks();
}

// A block can use a vector path when each half's sources (eight values) lie in one window of
// 16 (narrow) or 32 (wide) bytes inside the row; the windows move back from the row's end as
// needed. The kinds are tried from the fewest loads up: narrow with the second window 16 bytes
// after the first (paired), narrow, wide paired, wide; a block fitting none is done one value at
// a time.
void BgrScaler::PlanBlocks()
{
    const size_t blocks = m_padded / kBlock;
    const int rowBytes = m_srcWidth * 3;
    m_base.assign(blocks * 2, -1);
    for (auto &list : m_blocks)
        list.clear();
    m_plainBlocks.clear();
    // Values past the row's end pick nothing and weigh nothing.
    m_plans.assign(blocks * kPlanBytes, 0);
    for (size_t b = 0; b < blocks; ++b)
        std::memset(&m_plans[b * kPlanBytes], kZero, kPairWeights);
    // The lowest and highest source byte of a half; low > high when it holds no value.
    auto span = [&](size_t begin) {
        const size_t end = std::min(begin + 8, m_values);
        int low = INT_MAX, high = -1;
        for (size_t i = begin; i < end; ++i) {
            low = std::min(low, m_first[i]);
            high = std::max(high, m_second[i]);
        }
        return std::pair { low, high };
    };
    // Where the halves' windows of `window` bytes start; false when the sources do not fit.
    auto windows = [&](size_t b, int window, bool paired, int base[2]) {
        const auto [low0, high0] = span(b * kBlock);
        const auto [low1, high1] = span(b * kBlock + 8);
        if (paired) {
            // The loads read 16 + window bytes from the first window's start.
            int start = std::min({ low0, low1 - 16, rowBytes - 16 - window });
            if (start < 0 || high0 >= start + window || high1 >= start + 16 + window)
                return false;
            base[0] = start;
            base[1] = start + 16;
            return true;
        }
        if (rowBytes < window)
            return false;
        const int start0 = std::min(low0, rowBytes - window);
        const int start1 = low1 > high1 ? 0 : std::min(low1, rowBytes - window);
        if (high0 - start0 >= window || high1 - start1 >= window)
            return false;
        base[0] = start0;
        base[1] = start1;
        return true;
    };
    for (size_t b = 0; b < blocks; ++b) {
        int base[2];
        int kind = 0;
        for (; kind < 4; ++kind)
            if (windows(b, kind < 2 ? kWindow / 2 : kWindow, kind % 2 == 0, base))
                break;
        if (kind == 4) {
            m_plainBlocks.push_back(uint32_t(b));
            continue;
        }
        m_blocks[size_t(kind)].push_back(uint32_t(b));
        m_base[b * 2] = base[0];
        m_base[b * 2 + 1] = base[1];
        uint8_t *plan = &m_plans[b * kPlanBytes];
        for (size_t j = 0; j < kBlock && b * kBlock + j < m_values; ++j) {
            const size_t i = b * kBlock + j;
            const size_t half = j / 8;
            const size_t lane = half * 16 + (j % 8) * 2; // the value's pair: x here, y after it
            const int w = m_weight[i];
            const int first = m_first[i] - base[half], second = m_second[i] - base[half];
            // first × (256 − w) + second × w as 256 y + x·a + y·b with signed byte weights:
            // y is the source with the larger weight; at w = 128 the base keeps x as well.
            const int x = w >= 129 ? first : second, y = w >= 129 ? second : first;
            const int a = w >= 129 ? 256 - w : (w == 128 ? 127 : w);
            const int b2 = w == 128 ? -128 : -a;
            for (const auto &[at, from] : { std::pair { lane, x }, std::pair { lane + 1, y } }) {
                plan[kPickLo + at] = from < 16 ? uint8_t(from) : kZero;
                plan[kPickHi + at] = from >= 16 ? uint8_t(from - 16) : kZero;
            }
            plan[kPairWeights + lane] = uint8_t(int8_t(a));
            plan[kPairWeights + lane + 1] = uint8_t(int8_t(b2));
            const uint16_t mask = w == 128 ? 0xFFFF : 0xFF00;
            std::memcpy(&plan[kBaseMask + lane], &mask, sizeof mask);
        }
    }
}

void BgrScaler::Across(const uint8_t *const *rows, uint16_t *const *outs, int count) const
{
#ifdef VORLUND_HAVE_X86
    if (m_simd) {
        ForEachKind(m_blocks, [&](auto wide, auto paired, const std::vector<uint32_t> &list) {
            auto run
                = count == 2 ? AcrossAvx2<wide(), paired(), 2> : AcrossAvx2<wide(), paired(), 1>;
            run(rows, outs, list.data(), list.size(), m_base.data(), m_plans.data());
        });
        for (int r = 0; r < count; ++r)
            for (const uint32_t b : m_plainBlocks)
                AcrossPlain(rows[r], outs[r], b * kBlock, std::min((b + 1) * kBlock, m_values));
        return;
    }
#endif
    for (int r = 0; r < count; ++r)
        AcrossPlain(rows[r], outs[r], 0, m_values);
}

void BgrScaler::AcrossPlain(const uint8_t *row, uint16_t *out, size_t begin, size_t end) const
{
    for (size_t i = begin; i < end; ++i)
        out[i] = uint16_t(row[m_first[i]] * (256 - m_weight[i]) + row[m_second[i]] * m_weight[i]);
}

namespace {

void BlendPlain(const uint16_t *top, const uint16_t *bottom, int weight, uint8_t *out, size_t begin,
                size_t end)
{
    for (size_t i = begin; i < end; ++i)
        out[i] = uint8_t((top[i] * (256 - weight) + bottom[i] * weight + 32768) >> 16);
}

} // namespace

void BgrScaler::Blend(const uint16_t *top, const uint16_t *bottom, int weight, uint8_t *out) const
{
    size_t i = 0;
#ifdef VORLUND_HAVE_X86
    if (m_simd)
        i = BlendAvx2(top, bottom, weight, out, m_values);
#endif
    BlendPlain(top, bottom, weight, out, i, m_values);
}

void BgrScaler::AcrossBlend(const uint8_t *top, const uint8_t *bottom, int weight, uint8_t *out)
{
#ifdef VORLUND_HAVE_X86
    ForEachKind(m_blocks, [&](auto wide, auto paired, const std::vector<uint32_t> &list) {
        AcrossBlendAvx2<wide(), paired()>(top, bottom, weight, out, m_values, list.data(),
                                          list.size(), m_base.data(), m_plans.data());
    });
#endif
    for (const uint32_t b : m_plainBlocks) {
        const size_t begin = b * kBlock, end = std::min(begin + kBlock, m_values);
        AcrossPlain(top, m_across[0].data(), begin, end);
        AcrossPlain(bottom, m_across[1].data(), begin, end);
        BlendPlain(m_across[0].data(), m_across[1].data(), weight, out, begin, end);
    }
    m_acrossRow[0] = m_acrossRow[1] = -1;
}

constexpr int kPrefetchAhead = 2; // output rows

void BgrScaler::Scale(const uint8_t *src, int srcWidth, int srcHeight, bool srcBottomUp,
                      uint8_t *dst, int dstWidth, int dstHeight)
{
    if (!src || !dst || srcWidth < 1 || srcHeight < 1 || dstWidth < 1 || dstHeight < 1)
        return;
    Plan(srcWidth, srcHeight, dstWidth, dstHeight);
    const size_t stride = size_t(srcWidth) * 3;
    auto row = [&](int y) { return src + size_t(srcBottomUp ? srcHeight - 1 - y : y) * stride; };
    // Output rows are made in the order their source rows lie in memory (from the bottom for a
    // bottom-up source), so the source is read from start to end, and the source rows of the row
    // after next are asked for ahead: a frame that another core has just written comes over
    // while the rows before it are worked on.
    const int step = srcBottomUp ? -1 : 1;
    for (int i = 0, y = srcBottomUp ? dstHeight - 1 : 0; i < dstHeight; ++i, y += step) {
        const ScaleTap &t = m_rows[size_t(y)];
        const int want[2] = { t.first, t.second };
        // Two rows that neither the next row made reads nor the buffers hold are summed and
        // blended without going through the buffers.
        const ScaleTap *next = i + 1 < dstHeight ? &m_rows[size_t(y + step)] : nullptr;
        if (i + kPrefetchAhead < dstHeight)
            for (const int r : { m_rows[size_t(y + kPrefetchAhead * step)].first,
                                 m_rows[size_t(y + kPrefetchAhead * step)].second })
                for (size_t at = 0; at < stride; at += 64)
                    __builtin_prefetch(row(r) + at);
        auto shared = [&](int r) {
            return m_acrossRow[0] == r || m_acrossRow[1] == r
                || (next && (next->first == r || next->second == r));
        };
        if (m_simd && want[0] != want[1] && !shared(want[0]) && !shared(want[1])) {
            AcrossBlend(row(want[0]), row(want[1]), t.weight, dst + size_t(y) * m_values);
            continue;
        }
        // Rows already across stay where they are; the others go into the free buffers, both
        // in one pass when both are new.
        int slot[2] = { -1, -1 };
        bool taken[2] = { false, false };
        for (int w = 0; w < 2; ++w)
            for (int k = 0; k < 2; ++k)
                if (slot[w] < 0 && !taken[k] && m_acrossRow[k] == want[w]) {
                    slot[w] = k;
                    taken[k] = true;
                }
        if (want[0] == want[1] && slot[0] >= 0)
            slot[1] = slot[0];
        const uint8_t *rows[2];
        uint16_t *outs[2];
        int count = 0;
        for (int w = 0; w < 2; ++w) {
            if (slot[w] >= 0 || (w == 1 && want[1] == want[0]))
                continue;
            const int k = taken[0] ? 1 : 0;
            taken[k] = true;
            slot[w] = k;
            m_acrossRow[k] = want[w];
            rows[count] = row(want[w]);
            outs[count] = m_across[k].data();
            ++count;
        }
        if (want[1] == want[0])
            slot[1] = slot[0];
        if (count > 0)
            Across(rows, outs, count);
        Blend(m_across[size_t(slot[0])].data(), m_across[size_t(slot[1])].data(), t.weight,
              dst + size_t(y) * m_values);
    }
    // The buffers hold this source's rows only.
    m_acrossRow[0] = m_acrossRow[1] = -1;
}

} // namespace vorlund::link
