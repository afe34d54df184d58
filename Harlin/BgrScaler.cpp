#include "BgrScaler.h"

#include <algorithm>
#include <cstring>

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

// Sixteen sums a block for each of `Rows` rows, the block's shuffles and weights loaded once:
// each half's window (16 bytes, or 32 in two pieces when Wide), the sources picked out as
// 16-bit values, weighted and added. No sum exceeds 255 × 256.
template <bool Wide, int Rows>
__attribute__((target("avx2"))) void
AcrossAvx2(const uint8_t *const *rows, uint16_t *const *outs, const uint32_t *list, size_t count,
           const int32_t *bases, const uint8_t *shuffles, const uint16_t *allWeights)
{
    for (size_t k = 0; k < count; ++k) {
        const size_t b = list[k];
        const int32_t *base = bases + b * 2;
        const uint8_t *shuffle = shuffles + b * 128;
        const __m256i firstLo = _mm256_loadu_si256(Vec(shuffle));
        const __m256i secondLo = _mm256_loadu_si256(Vec(shuffle + 64));
        const __m256i w0 = _mm256_loadu_si256(Vec(allWeights + b * 32));
        const __m256i w1 = _mm256_loadu_si256(Vec(allWeights + b * 32 + 16));
        for (int r = 0; r < Rows; ++r) {
            const uint8_t *h0 = rows[r] + base[0], *h1 = rows[r] + base[1];
            const __m256i lo = LoadHalves(h0, h1);
            __m256i first = _mm256_shuffle_epi8(lo, firstLo);
            __m256i second = _mm256_shuffle_epi8(lo, secondLo);
            if constexpr (Wide) {
                const __m256i hi = LoadHalves(h0 + 16, h1 + 16);
                first = _mm256_or_si256(
                    first, _mm256_shuffle_epi8(hi, _mm256_loadu_si256(Vec(shuffle + 32))));
                second = _mm256_or_si256(
                    second, _mm256_shuffle_epi8(hi, _mm256_loadu_si256(Vec(shuffle + 96))));
            }
            const __m256i sum
                = _mm256_add_epi16(_mm256_mullo_epi16(first, w0), _mm256_mullo_epi16(second, w1));
            _mm256_storeu_si256(reinterpret_cast<__m256i *>(outs[r] + b * kBlock), sum);
        }
    }
}

// (top × (256 − w) + bottom × w + 32768) >> 16, in 16 bits: with each sum split into its high
// and low byte, P = high bytes blended and Q = low bytes blended, the value is
// (P + 128 + (Q >> 8)) >> 8, and P + 128 + (Q >> 8) never exceeds 65408.
__attribute__((target("avx2"))) inline __m256i Blend16(const uint16_t *top, const uint16_t *bottom,
                                                       __m256i wt, __m256i wb)
{
    const __m256i low = _mm256_set1_epi16(0xFF);
    const __m256i t = _mm256_loadu_si256(Vec(top));
    const __m256i b = _mm256_loadu_si256(Vec(bottom));
    const __m256i p = _mm256_add_epi16(_mm256_mullo_epi16(_mm256_srli_epi16(t, 8), wt),
                                       _mm256_mullo_epi16(_mm256_srli_epi16(b, 8), wb));
    const __m256i q = _mm256_add_epi16(_mm256_mullo_epi16(_mm256_and_si256(t, low), wt),
                                       _mm256_mullo_epi16(_mm256_and_si256(b, low), wb));
    return _mm256_srli_epi16(
        _mm256_add_epi16(_mm256_add_epi16(p, _mm256_set1_epi16(128)), _mm256_srli_epi16(q, 8)), 8);
}

__attribute__((target("avx2"))) size_t BlendAvx2(const uint16_t *top, const uint16_t *bottom,
                                                 int weight, uint8_t *out, size_t n)
{
    const __m256i wt = _mm256_set1_epi16(static_cast<short>(256 - weight));
    const __m256i wb = _mm256_set1_epi16(static_cast<short>(weight));
    size_t i = 0;
    for (; i + 2 * kBlock <= n; i += 2 * kBlock) {
        const __m256i a = Blend16(top + i, bottom + i, wt, wb);
        const __m256i b = Blend16(top + i + kBlock, bottom + i + kBlock, wt, wb);
        const __m256i bytes = _mm256_permute4x64_epi64(_mm256_packus_epi16(a, b), 0xD8);
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(out + i), bytes);
    }
    return i;
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

// A half of eight values can use the vector path when all sixteen source bytes it reads lie in
// one window of 16 (narrow) or 32 (wide) bytes inside the row; a window is moved back from the
// row's end as needed. A block takes the narrow path when both halves fit one.
void BgrScaler::PlanBlocks()
{
    const size_t blocks = m_padded / kBlock;
    const int rowBytes = m_srcWidth * 3;
    m_base.assign(blocks * 2, -1);
    m_narrowBlocks.clear();
    m_wideBlocks.clear();
    m_plainBlocks.clear();
    m_shuffle.assign(blocks * 128, kZero);
    m_weights.assign(blocks * 32, 0);
    // Where a half's window of `window` bytes starts; -1 when its sources do not fit one.
    auto windowStart = [&](size_t begin, int window) {
        const size_t end = std::min(begin + 8, m_values);
        if (rowBytes < window)
            return -1;
        if (begin >= end)
            return 0;
        int low = rowBytes, high = 0;
        for (size_t i = begin; i < end; ++i) {
            low = std::min(low, m_first[i]);
            high = std::max(high, m_second[i]);
        }
        const int start = std::min(low, rowBytes - window);
        return high - start < window ? start : -1;
    };
    for (size_t b = 0; b < blocks; ++b) {
        int base[2];
        bool narrow = true, wide = true;
        for (int half = 0; half < 2; ++half) {
            const size_t begin = b * kBlock + size_t(half) * 8;
            narrow = narrow && windowStart(begin, kWindow / 2) >= 0;
            wide = wide && windowStart(begin, kWindow) >= 0;
        }
        if (!narrow && !wide) {
            m_plainBlocks.push_back(b);
            continue;
        }
        for (int half = 0; half < 2; ++half)
            base[half] = windowStart(b * kBlock + size_t(half) * 8, narrow ? kWindow / 2 : kWindow);
        (narrow ? m_narrowBlocks : m_wideBlocks).push_back(uint32_t(b));
        m_base[b * 2] = base[0];
        m_base[b * 2 + 1] = base[1];
        uint8_t *shuffle = &m_shuffle[b * 128];
        uint16_t *weights = &m_weights[b * 32];
        for (size_t j = 0; j < kBlock; ++j) {
            const size_t i = b * kBlock + j;
            const size_t half = j / 8;
            const size_t lane = half * 16 + (j % 8) * 2; // the value's low byte in its lane
            if (i < m_values) {
                const int first = m_first[i] - base[half], second = m_second[i] - base[half];
                shuffle[lane] = first < 16 ? uint8_t(first) : kZero;
                shuffle[32 + lane] = first >= 16 ? uint8_t(first - 16) : kZero;
                shuffle[64 + lane] = second < 16 ? uint8_t(second) : kZero;
                shuffle[96 + lane] = second >= 16 ? uint8_t(second - 16) : kZero;
            }
            weights[half * 8 + j % 8] = uint16_t(256 - m_weight[i]);
            weights[16 + half * 8 + j % 8] = m_weight[i];
        }
    }
}

void BgrScaler::Across(const uint8_t *const *rows, uint16_t *const *outs, int count) const
{
#ifdef VORLUND_HAVE_X86
    if (m_simd) {
        const uint32_t *narrow = m_narrowBlocks.data(), *wide = m_wideBlocks.data();
        const size_t narrowCount = m_narrowBlocks.size(), wideCount = m_wideBlocks.size();
        if (count == 2) {
            AcrossAvx2<false, 2>(rows, outs, narrow, narrowCount, m_base.data(), m_shuffle.data(),
                                 m_weights.data());
            AcrossAvx2<true, 2>(rows, outs, wide, wideCount, m_base.data(), m_shuffle.data(),
                                m_weights.data());
        } else {
            AcrossAvx2<false, 1>(rows, outs, narrow, narrowCount, m_base.data(), m_shuffle.data(),
                                 m_weights.data());
            AcrossAvx2<true, 1>(rows, outs, wide, wideCount, m_base.data(), m_shuffle.data(),
                                m_weights.data());
        }
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

void BgrScaler::Blend(const uint16_t *top, const uint16_t *bottom, int weight, uint8_t *out) const
{
    size_t i = 0;
#ifdef VORLUND_HAVE_X86
    if (m_simd)
        i = BlendAvx2(top, bottom, weight, out, m_values);
#endif
    for (; i < m_values; ++i)
        out[i] = uint8_t((top[i] * (256 - weight) + bottom[i] * weight + 32768) >> 16);
}

void BgrScaler::Scale(const uint8_t *src, int srcWidth, int srcHeight, bool srcBottomUp,
                      uint8_t *dst, int dstWidth, int dstHeight)
{
    if (!src || !dst || srcWidth < 1 || srcHeight < 1 || dstWidth < 1 || dstHeight < 1)
        return;
    Plan(srcWidth, srcHeight, dstWidth, dstHeight);
    const size_t stride = size_t(srcWidth) * 3;
    auto row = [&](int y) { return src + size_t(srcBottomUp ? srcHeight - 1 - y : y) * stride; };
    for (int y = 0; y < dstHeight; ++y) {
        const ScaleTap &t = m_rows[size_t(y)];
        const int want[2] = { t.first, t.second };
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
