#include "Yuy2ToBgr.h"

#include <cstring>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define VORLUND_HAVE_X86 1
#endif

namespace vorlund {

namespace {

// 1.164, 1.596 / 2, 0.392 / 2, 0.813 / 2 and 2.017 / 2 in 2.14 fixed point: the chroma terms
// are halved because Cb and Cr below are twice the chroma difference.
constexpr int32_t kLuma = 19077;
constexpr int32_t kRedCr = 13075;
constexpr int32_t kGreenCb = -3209;
constexpr int32_t kGreenCr = -6660;
constexpr int32_t kBlueCb = 16525;
constexpr int32_t kHalf = 8192;

inline uint8_t Saturate(int32_t v)
{
    return static_cast<uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v));
}

inline void StorePixel(uint8_t *bgr, int32_t y, int32_t cb, int32_t cr)
{
    const int32_t luma = kLuma * (y - 16) + kHalf;
    bgr[0] = Saturate((luma + kBlueCb * cb) >> 14);
    bgr[1] = Saturate((luma + kGreenCb * cb + kGreenCr * cr) >> 14);
    bgr[2] = Saturate((luma + kRedCr * cr) >> 14);
}

#ifdef VORLUND_HAVE_X86

// Eight pixels: reads 20 source bytes (four pairs and the chroma of the pair after them),
// writes 24 destination bytes. Same integer arithmetic as StorePixel, four pixels per
// 32-bit multiply-add.
__attribute__((target("ssse3"))) inline void Convert8Ssse3(const uint8_t *src, uint8_t *dst)
{
    constexpr char z = -128; // pshufb: zero this byte
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i *>(src));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i *>(src + 4));

    // Luma as (Y, 16) pairs: 19077 * Y - 18565 * 16 == 19077 * (Y - 16) + 8192.
    const __m128i sixteen = _mm_set1_epi32(16 << 16);
    const __m128i lumaCoeff = _mm_set1_epi32((-18565 << 16) | kLuma);
    const __m128i yLo = _mm_or_si128(
        _mm_shuffle_epi8(a, _mm_setr_epi8(0, z, z, z, 2, z, z, z, 4, z, z, z, 6, z, z, z)),
        sixteen);
    const __m128i yHi = _mm_or_si128(
        _mm_shuffle_epi8(a, _mm_setr_epi8(8, z, z, z, 10, z, z, z, 12, z, z, z, 14, z, z, z)),
        sixteen);
    const __m128i lumaLo = _mm_madd_epi16(yLo, lumaCoeff);
    const __m128i lumaHi = _mm_madd_epi16(yHi, lumaCoeff);

    // (Cr, Cb) pairs: own pair's chroma plus the chroma of the pair that the mean takes
    // (the own pair again for even pixels, the next pair for odd ones), minus 2 * 128.
    const __m128i bias = _mm_set1_epi16(256);
    const __m128i ownLo
        = _mm_shuffle_epi8(a, _mm_setr_epi8(3, z, 1, z, 3, z, 1, z, 7, z, 5, z, 7, z, 5, z));
    const __m128i nextLo
        = _mm_shuffle_epi8(a, _mm_setr_epi8(3, z, 1, z, 7, z, 5, z, 7, z, 5, z, 11, z, 9, z));
    const __m128i ownHi
        = _mm_shuffle_epi8(a, _mm_setr_epi8(11, z, 9, z, 11, z, 9, z, 15, z, 13, z, 15, z, 13, z));
    const __m128i nextHi
        = _mm_shuffle_epi8(b, _mm_setr_epi8(7, z, 5, z, 11, z, 9, z, 11, z, 9, z, 15, z, 13, z));
    const __m128i crCbLo = _mm_sub_epi16(_mm_add_epi16(ownLo, nextLo), bias);
    const __m128i crCbHi = _mm_sub_epi16(_mm_add_epi16(ownHi, nextHi), bias);

    const __m128i redCoeff = _mm_set1_epi32(kRedCr & 0xffff);
    const __m128i greenCoeff = _mm_set1_epi32((kGreenCb << 16) | (kGreenCr & 0xffff));
    const __m128i blueCoeff = _mm_set1_epi32(kBlueCb << 16);
    auto channel = [&](__m128i coeff) {
        const __m128i lo = _mm_srai_epi32(_mm_add_epi32(lumaLo, _mm_madd_epi16(crCbLo, coeff)), 14);
        const __m128i hi = _mm_srai_epi32(_mm_add_epi32(lumaHi, _mm_madd_epi16(crCbHi, coeff)), 14);
        return _mm_packs_epi32(lo, hi);
    };
    const __m128i blueGreen = _mm_packus_epi16(channel(blueCoeff), channel(greenCoeff));
    const __m128i red16 = channel(redCoeff);
    const __m128i red = _mm_packus_epi16(red16, red16);

    const __m128i out0 = _mm_or_si128(
        _mm_shuffle_epi8(blueGreen,
                         _mm_setr_epi8(0, 8, z, 1, 9, z, 2, 10, z, 3, 11, z, 4, 12, z, 5)),
        _mm_shuffle_epi8(red, _mm_setr_epi8(z, z, 0, z, z, 1, z, z, 2, z, z, 3, z, z, 4, z)));
    const __m128i out1 = _mm_or_si128(
        _mm_shuffle_epi8(blueGreen,
                         _mm_setr_epi8(13, z, 6, 14, z, 7, 15, z, z, z, z, z, z, z, z, z)),
        _mm_shuffle_epi8(red, _mm_setr_epi8(z, 5, z, z, 6, z, z, 7, z, z, z, z, z, z, z, z)));
    _mm_storeu_si128(reinterpret_cast<__m128i *>(dst), out0);
    _mm_storel_epi64(reinterpret_cast<__m128i *>(dst + 16), out1);
}

__attribute__((target("ssse3"))) void ConvertYuy2RowSsse3(const uint8_t *src, uint8_t *dst,
                                                          int width)
{
    int x = 0;
    // Nine or more pixels left: the pair after these eight is still in the row.
    for (; width - x > 8; x += 8)
        Convert8Ssse3(src + 2 * x, dst + 3 * x);
    if (x >= width)
        return;
    // The last one to eight pixels go through a local copy, so nothing past the row is
    // touched. The missing pairs repeat the row's last pair, which gives the last pixel its
    // own chroma.
    const int pixels = width - x;
    const int pairs = (pixels + 1) / 2;
    alignas(16) uint8_t in[20];
    alignas(16) uint8_t out[24];
    std::memcpy(in, src + 2 * x, static_cast<size_t>(pairs) * 4);
    for (int p = pairs; p < 5; ++p)
        std::memcpy(in + 4 * p, in + 4 * (pairs - 1), 4);
    Convert8Ssse3(in, out);
    std::memcpy(dst + 3 * x, out, static_cast<size_t>(pixels) * 3);
}

#endif

} // namespace

void ConvertYuy2RowPlain(const uint8_t *src, uint8_t *dst, int width)
{
    const int pairs = (width + 1) / 2;
    for (int p = 0; p < pairs; ++p) {
        const uint8_t *pair = src + 4 * p;
        const uint8_t *next = p + 1 < pairs ? pair + 4 : pair;
        const int32_t u = pair[1];
        const int32_t v = pair[3];
        StorePixel(dst + 6 * p, pair[0], 2 * u - 256, 2 * v - 256);
        if (2 * p + 1 < width)
            StorePixel(dst + 6 * p + 3, pair[2], u + next[1] - 256, v + next[3] - 256);
    }
}

int AvailableYuy2RowConverters(NamedYuy2RowConverter *out, int capacity)
{
    int count = 0;
    auto add = [&](const char *name, Yuy2RowConverter convert) {
        if (count < capacity)
            out[count] = { name, convert };
        ++count;
    };
    add("plain", ConvertYuy2RowPlain);
#ifdef VORLUND_HAVE_X86
    __builtin_cpu_init();
    if (__builtin_cpu_supports("ssse3"))
        add("ssse3", ConvertYuy2RowSsse3);
#endif
    return count < capacity ? count : capacity;
}

Yuy2RowConverter BestYuy2RowConverter()
{
    static const Yuy2RowConverter best = [] {
        NamedYuy2RowConverter all[4];
        const int count = AvailableYuy2RowConverters(all, 4);
        return all[count - 1].convert;
    }();
    return best;
}

void ConvertYuy2ToBgr(const uint8_t *src, std::ptrdiff_t srcStride, uint8_t *dst,
                      std::ptrdiff_t dstStride, int width, int height)
{
    const Yuy2RowConverter convert = BestYuy2RowConverter();
    for (int row = 0; row < height; ++row)
        convert(src + row * srcStride, dst + row * dstStride, width);
}

} // namespace vorlund
