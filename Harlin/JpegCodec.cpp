#include "JpegCodec.h"

#include <turbojpeg.h>

#include <algorithm>
#include <cstring>
#include <vector>

namespace vorlund::link {

JpegCodec::JpegCodec() : m_compressor(tjInitCompress()), m_decompressor(tjInitDecompress()) { }

JpegCodec::~JpegCodec()
{
    if (m_compressor)
        tjDestroy(m_compressor);
    if (m_decompressor)
        tjDestroy(m_decompressor);
}

void ResampleBgr(const uint8_t *src, int srcWidth, int srcHeight, bool srcBottomUp, uint8_t *dst,
                 int dstWidth, int dstHeight)
{
    const size_t srcStride = static_cast<size_t>(srcWidth) * 3;
    auto row = [&](int y) {
        return src + static_cast<size_t>(srcBottomUp ? srcHeight - 1 - y : y) * srcStride;
    };
    const std::vector<ScaleTap> xs = ScaleTaps(srcWidth, dstWidth, 3);
    const std::vector<ScaleTap> ys = ScaleTaps(srcHeight, dstHeight, 1);
    for (int y = 0; y < dstHeight; ++y) {
        const ScaleTap &ty = ys[static_cast<size_t>(y)];
        const uint8_t *r0 = row(ty.first);
        const uint8_t *r1 = row(ty.second);
        const int wy = ty.weight;
        uint8_t *out = dst + static_cast<size_t>(y) * dstWidth * 3;
        for (int x = 0; x < dstWidth; ++x) {
            const ScaleTap &tx = xs[static_cast<size_t>(x)];
            const int wx = tx.weight;
            for (int c = 0; c < 3; ++c) {
                const int top = r0[tx.first + c] * (256 - wx) + r0[tx.second + c] * wx;
                const int bottom = r1[tx.first + c] * (256 - wx) + r1[tx.second + c] * wx;
                out[x * 3 + c]
                    = static_cast<uint8_t>((top * (256 - wy) + bottom * wy + 32768) >> 16);
            }
        }
    }
}

bool JpegCodec::Compress(int width, int height, int quality, std::vector<uint8_t> &out,
                         const uint8_t *bottomUp)
{
    if (!m_compressor)
        return false;
    // Into a buffer kept at the largest size the picture can take, so the encoder neither
    // allocates nor grows one per picture.
    const unsigned long room = tjBufSize(width, height, TJSAMP_420);
    if (room == static_cast<unsigned long>(-1))
        return false;
    if (m_encoded.size() < room)
        m_encoded.resize(room);
    unsigned char *jpeg = m_encoded.data();
    unsigned long size = m_encoded.size();
    const int flags = TJFLAG_FASTDCT | TJFLAG_NOREALLOC | (bottomUp ? TJFLAG_BOTTOMUP : 0);
    const int rc
        = tjCompress2(m_compressor, bottomUp ? bottomUp : m_scaled.data(), width, width * 3, height,
                      TJPF_BGR, &jpeg, &size, TJSAMP_420, quality, flags);
    const bool ok = rc == 0 && size > 0 && size <= m_encoded.size();
    if (ok)
        out.assign(jpeg, jpeg + size);
    return ok;
}

bool JpegCodec::EncodeFrame(const uint8_t *bgrBottomUp, int srcWidth, int srcHeight, int width,
                            int height, int quality, std::vector<uint8_t> &out)
{
    if (!bgrBottomUp || srcWidth < 1 || srcHeight < 1 || width < 1 || height < 1)
        return false;
    if (srcWidth == width && srcHeight == height) // same size: the encoder turns it upright
        return Compress(width, height, quality, out, bgrBottomUp);
    m_scaled.resize(static_cast<size_t>(width) * height * 3);
    m_scaler.Scale(bgrBottomUp, srcWidth, srcHeight, true, m_scaled.data(), width, height);
    return Compress(width, height, quality, out);
}

bool JpegCodec::Reencode(std::span<const uint8_t> jpeg, int width, int height, int quality,
                         std::vector<uint8_t> &out)
{
    if (!m_decompressor || jpeg.empty() || width < 1 || height < 1)
        return false;
    int srcWidth = 0, srcHeight = 0, subsampling = 0, colourspace = 0;
    auto *data = const_cast<unsigned char *>(jpeg.data());
    if (tjDecompressHeader3(m_decompressor, data, jpeg.size(), &srcWidth, &srcHeight, &subsampling,
                            &colourspace)
        != 0)
        return false;
    if (srcWidth < 1 || srcHeight < 1 || srcWidth > kMaxDecodeSide || srcHeight > kMaxDecodeSide)
        return false;
    m_decoded.resize(static_cast<size_t>(srcWidth) * srcHeight * 3);
    if (tjDecompress2(m_decompressor, data, jpeg.size(), m_decoded.data(), srcWidth, srcWidth * 3,
                      srcHeight, TJPF_BGR, 0)
        != 0)
        return false;
    m_scaled.resize(static_cast<size_t>(width) * height * 3);
    m_scaler.Scale(m_decoded.data(), srcWidth, srcHeight, false, m_scaled.data(), width, height);
    return Compress(width, height, quality, out);
}

bool JpegCodec::EncodeBlank(int width, int height, int quality, std::vector<uint8_t> &out)
{
    if (width < 1 || height < 1)
        return false;
    m_scaled.assign(static_cast<size_t>(width) * height * 3, 0x20);
    return Compress(width, height, quality, out);
}

} // namespace vorlund::link
