#include "TilePixels.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define VORLUND_HAVE_X86 1
#endif

namespace vorlund {

namespace {

// Pixel x of the row whose first pixel has index `rowStart` in the whole buffer.
inline bool Dimmed(bool dim, size_t rowStart, int x)
{
    return dim && ((rowStart + size_t(x)) & 1) == 0;
}

inline void ConvertTail(const uint8_t *src, uint32_t *dst, int x, int width, size_t rowStart,
                        bool dim)
{
    for (src += size_t(x) * 3; x < width; ++x, src += 3)
        dst[x] = Dimmed(dim, rowStart, x)
            ? 0xFF000000u
            : 0xFF000000u | uint32_t(src[2]) << 16 | uint32_t(src[1]) << 8 | src[0];
}

} // namespace

void BottomUpBgrToRgb32Plain(const uint8_t *src, int width, int height, uint8_t *dst,
                             std::ptrdiff_t dstStride, bool dim)
{
    for (int y = 0; y < height; ++y) {
        const size_t row = size_t(height - 1 - y);
        ConvertTail(src + row * size_t(width) * 3,
                    reinterpret_cast<uint32_t *>(dst + y * dstStride), 0, width,
                    row * size_t(width), dim);
    }
}

#ifdef VORLUND_HAVE_X86
namespace {

__attribute__((target("ssse3"))) void ConvertSsse3(const uint8_t *src, int width, int height,
                                                   uint8_t *dst, std::ptrdiff_t dstStride, bool dim)
{
    // Four 3-byte pixels of a 16-byte lane spread to four 4-byte pixels, alpha set after.
    const __m128i spread = _mm_setr_epi8(0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11, -1);
    const __m128i alpha = _mm_set1_epi32(int(0xFF000000u));
    const __m128i all = _mm_set1_epi32(-1);
    // Kept lanes when the row's first pixel has an even / odd index in the buffer.
    const __m128i keepEven = dim ? _mm_setr_epi32(0, -1, 0, -1) : all;
    const __m128i keepOdd = dim ? _mm_setr_epi32(-1, 0, -1, 0) : all;
    for (int y = 0; y < height; ++y) {
        const size_t row = size_t(height - 1 - y);
        const size_t rowStart = row * size_t(width);
        const uint8_t *in = src + rowStart * 3;
        auto *out = reinterpret_cast<uint32_t *>(dst + y * dstStride);
        const __m128i keep = (rowStart & 1) == 0 ? keepEven : keepOdd;
        int x = 0;
        // Sixteen pixels from three loads, never past the row's last byte.
        for (; x + 16 <= width; x += 16) {
            const uint8_t *p = in + size_t(x) * 3;
            const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p));
            const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p + 16));
            const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p + 32));
            const __m128i q0 = _mm_shuffle_epi8(a, spread);
            const __m128i q1 = _mm_shuffle_epi8(_mm_alignr_epi8(b, a, 12), spread);
            const __m128i q2 = _mm_shuffle_epi8(_mm_alignr_epi8(c, b, 8), spread);
            const __m128i q3 = _mm_shuffle_epi8(_mm_srli_si128(c, 4), spread);
            auto *o = reinterpret_cast<__m128i *>(out + x);
            _mm_storeu_si128(o, _mm_or_si128(_mm_and_si128(q0, keep), alpha));
            _mm_storeu_si128(o + 1, _mm_or_si128(_mm_and_si128(q1, keep), alpha));
            _mm_storeu_si128(o + 2, _mm_or_si128(_mm_and_si128(q2, keep), alpha));
            _mm_storeu_si128(o + 3, _mm_or_si128(_mm_and_si128(q3, keep), alpha));
        }
        ConvertTail(in, out, x, width, rowStart, dim);
    }
}

bool HasSsse3()
{
    __builtin_cpu_init();
    return __builtin_cpu_supports("ssse3");
}

} // namespace
#endif

bool BottomUpBgrToRgb32Fast(const uint8_t *src, int width, int height, uint8_t *dst,
                            std::ptrdiff_t dstStride, bool dim)
{
#ifdef VORLUND_HAVE_X86
    static const bool ssse3 = HasSsse3();
    if (ssse3) {
        ConvertSsse3(src, width, height, dst, dstStride, dim);
        return true;
    }
#endif
    (void)src, (void)width, (void)height, (void)dst, (void)dstStride, (void)dim;
    return false;
}

void BottomUpBgrToRgb32(const uint8_t *src, int width, int height, uint8_t *dst,
                        std::ptrdiff_t dstStride, bool dim)
{
    if (!BottomUpBgrToRgb32Fast(src, width, height, dst, dstStride, dim))
        BottomUpBgrToRgb32Plain(src, width, height, dst, dstStride, dim);
}

} // namespace vorlund
