#include "FrameDecoder.h"

#include <turbojpeg.h>

#include <algorithm>
#include <cstring>

namespace vorlund::viewer {

FrameDecoder::FrameDecoder() : m_handle(tjInitDecompress()) { }

FrameDecoder::~FrameDecoder()
{
    if (m_handle)
        tjDestroy(m_handle);
}

bool FrameDecoder::Decode(std::span<const uint8_t> jpeg, const BitmapView &out)
{
    if (!m_handle || jpeg.empty() || !out.data || out.width < 1 || out.height < 1)
        return false;
    int width = 0, height = 0, subsampling = 0, colourspace = 0;
    if (tjDecompressHeader3(m_handle, jpeg.data(), static_cast<unsigned long>(jpeg.size()), &width,
                            &height, &subsampling, &colourspace)
        != 0)
        return false;
    if (width < 1 || height < 1 || width > kMaxDecodedSide || height > kMaxDecodedSide)
        return false;
    const int flags = TJFLAG_BOTTOMUP | TJFLAG_FASTDCT;
    if (width == out.width && height == out.height) {
        // Straight into the bitmap; a failed decode must not leave half a picture there.
        m_scratch.resize(size_t(out.stride) * size_t(out.height));
        if (tjDecompress2(m_handle, jpeg.data(), static_cast<unsigned long>(jpeg.size()),
                          m_scratch.data(), width, out.stride, height, TJPF_BGR, flags)
            != 0)
            return false;
        std::memcpy(out.data, m_scratch.data(), m_scratch.size());
        return true;
    }
    const int stride = width * 3;
    m_scratch.resize(size_t(stride) * size_t(height));
    if (tjDecompress2(m_handle, jpeg.data(), static_cast<unsigned long>(jpeg.size()),
                      m_scratch.data(), width, stride, height, TJPF_BGR, flags)
        != 0)
        return false;
    ResampleBgr(m_scratch.data(), width, height, stride, out);
    return true;
}

void ResampleBgr(const uint8_t *src, int srcWidth, int srcHeight, int srcStride,
                 const BitmapView &out)
{
    // Pixel centres mapped onto each other; weights in 1/256.
    const auto axis = [](int from, int to, int i, int &lo, int &hi, int &weight) {
        const double pos = std::max(0.0, (i + 0.5) * from / to - 0.5);
        lo = std::min(int(pos), from - 1);
        hi = std::min(lo + 1, from - 1);
        weight = int((pos - lo) * 256.0 + 0.5);
    };
    for (int y = 0; y < out.height; ++y) {
        int y0, y1, wy;
        axis(srcHeight, out.height, y, y0, y1, wy);
        const uint8_t *r0 = src + size_t(y0) * size_t(srcStride);
        const uint8_t *r1 = src + size_t(y1) * size_t(srcStride);
        uint8_t *dst = out.data + size_t(y) * size_t(out.stride);
        for (int x = 0; x < out.width; ++x) {
            int x0, x1, wx;
            axis(srcWidth, out.width, x, x0, x1, wx);
            for (int c = 0; c < 3; ++c) {
                const int top = r0[x0 * 3 + c] * (256 - wx) + r0[x1 * 3 + c] * wx;
                const int bottom = r1[x0 * 3 + c] * (256 - wx) + r1[x1 * 3 + c] * wx;
                dst[x * 3 + c] = uint8_t((top * (256 - wy) + bottom * wy + (1 << 15)) >> 16);
            }
        }
        std::memset(dst + out.width * 3, 0, size_t(out.stride - out.width * 3));
    }
}

} // namespace vorlund::viewer
