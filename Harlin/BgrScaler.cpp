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

// Sixteen sums a block: each half's window in two 16-byte pieces, the sources picked out as
// 16-bit values, weighted and added. No sum exceeds 255 × 256.
__attribute__((target("avx2"))) void AcrossAvx2(const uint8_t *row, size_t blocks,
                                                const int32_t *base, const uint8_t *shuffle,
                                                const uint16_t *weights, uint16_t *out)
{
    for (size_t b = 0; b < blocks; ++b, base += 2, shuffle += 128, weights += 32, out += kBlock) {
        if (base[0] < 0)
            continue; // done one value at a time
        const uint8_t *w0 = row + base[0], *w1 = row + base[1];
        const __m256i lo = LoadHalves(w0, w1);
        const __m256i hi = LoadHalves(w0 + 16, w1 + 16);
        const __m256i first = _mm256_or_si256(_mm256_shuffle_epi8(lo, _mm256_loadu_si256(Vec(shuffle))),
                                              _mm256_shuffle_epi8(hi, _mm256_loadu_si256(Vec(shuffle + 32))));
        const __m256i second
            = _mm256_or_si256(_mm256_shuffle_epi8(lo, _mm256_loadu_si256(Vec(shuffle + 64))),
                              _mm256_shuffle_epi8(hi, _mm256_loadu_si256(Vec(shuffle + 96))));
        const __m256i sum
            = _mm256_add_epi16(_mm256_mullo_epi16(first, _mm256_loadu_si256(Vec(weights))),
                               _mm256_mullo_epi16(second, _mm256_loadu_si256(Vec(weights + 16))));
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(out), sum);
    }
}

// (top × (256 − w) + bottom × w + 32768) >> 16 for sixteen values at a time, in 32 bits.
__attribute__((target("avx2"))) size_t BlendAvx2(const uint16_t *top, const uint16_t *bottom,
                                                 int weight, uint8_t *out, size_t n)
{
    const __m256i wt = _mm256_set1_epi16(static_cast<short>(256 - weight));
    const __m256i wb = _mm256_set1_epi16(static_cast<short>(weight));
    const __m256i half = _mm256_set1_epi32(32768);
    size_t i = 0;
    for (; i + kBlock <= n; i += kBlock) {
        const __m256i t = _mm256_loadu_si256(Vec(top + i));
        const __m256i b = _mm256_loadu_si256(Vec(bottom + i));
        const __m256i tl = _mm256_mullo_epi16(t, wt), th = _mm256_mulhi_epu16(t, wt);
        const __m256i bl = _mm256_mullo_epi16(b, wb), bh = _mm256_mulhi_epu16(b, wb);
        const __m256i lo = _mm256_srli_epi32(
            _mm256_add_epi32(_mm256_add_epi32(_mm256_unpacklo_epi16(tl, th),
                                              _mm256_unpacklo_epi16(bl, bh)),
                             half),
            16);
        const __m256i hi = _mm256_srli_epi32(
            _mm256_add_epi32(_mm256_add_epi32(_mm256_unpackhi_epi16(tl, th),
                                              _mm256_unpackhi_epi16(bl, bh)),
                             half),
            16);
        const __m256i words = _mm256_packus_epi32(lo, hi); // in order within each lane
        const __m256i bytes = _mm256_permute4x64_epi64(_mm256_packus_epi16(words, words), 0x08);
        _mm_storeu_si128(reinterpret_cast<__m128i *>(out + i), _mm256_castsi256_si128(bytes));
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
// one 32-byte window inside the row; the window is moved back from the row's end as needed.
void BgrScaler::PlanBlocks()
{
    const size_t blocks = m_padded / kBlock;
    const int rowBytes = m_srcWidth * 3;
    m_base.assign(blocks * 2, -1);
    m_shuffle.assign(blocks * 128, kZero);
    m_weights.assign(blocks * 32, 0);
    for (size_t b = 0; b < blocks; ++b) {
        int base[2] = { -1, -1 };
        for (int half = 0; half < 2; ++half) {
            const size_t begin = b * kBlock + size_t(half) * 8;
            const size_t end = std::min(begin + 8, m_values);
            if (rowBytes < kWindow)
                break;
            int low = rowBytes, high = 0;
            for (size_t i = begin; i < end; ++i) {
                low = std::min(low, m_first[i]);
                high = std::max(high, m_second[i]);
            }
            const int start = begin < end ? std::min(low, rowBytes - kWindow) : 0;
            if (begin < end && high - start >= kWindow)
                break;
            base[half] = start;
        }
        if (base[0] < 0 || base[1] < 0)
            continue;
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

void BgrScaler::Across(const uint8_t *row, uint16_t *out) const
{
#ifdef VORLUND_HAVE_X86
    if (m_simd) {
        const size_t blocks = m_padded / kBlock;
        AcrossAvx2(row, blocks, m_base.data(), m_shuffle.data(), m_weights.data(), out);
        for (size_t b = 0; b < blocks; ++b) {
            if (m_base[b * 2] >= 0)
                continue;
            const size_t end = std::min((b + 1) * kBlock, m_values);
            for (size_t i = b * kBlock; i < end; ++i)
                out[i] = uint16_t(row[m_first[i]] * (256 - m_weight[i])
                                  + row[m_second[i]] * m_weight[i]);
        }
        return;
    }
#endif
    for (size_t i = 0; i < m_values; ++i)
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
    // Source row y (top-down) across, kept in whichever buffer does not hold `keep`.
    auto across = [&](int y, int keep) -> const uint16_t * {
        for (int k = 0; k < 2; ++k)
            if (m_acrossRow[k] == y)
                return m_across[k].data();
        const int k = m_acrossRow[0] == keep ? 1 : 0;
        Across(src + size_t(srcBottomUp ? srcHeight - 1 - y : y) * stride, m_across[k].data());
        m_acrossRow[k] = y;
        return m_across[k].data();
    };
    for (int y = 0; y < dstHeight; ++y) {
        const ScaleTap &t = m_rows[size_t(y)];
        const uint16_t *top = across(t.first, t.second);
        const uint16_t *bottom = across(t.second, t.first);
        Blend(top, bottom, t.weight, dst + size_t(y) * m_values);
    }
    // The buffers hold this source's rows only.
    m_acrossRow[0] = m_acrossRow[1] = -1;
}

} // namespace vorlund::link
