#pragma once

#include "BgrScaler.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace vorlund::link {

// Largest picture a stored JPEG may decode to; anything bigger is refused before decoding.
inline constexpr int kMaxDecodeSide = 4096;

// JPEG encoding for the viewer link (libjpeg-turbo). Every picture leaves at the size the
// session announced, whatever its source size. One codec per link; not thread-safe.
class JpegCodec
{
public:
    JpegCodec();
    ~JpegCodec();
    JpegCodec(const JpegCodec &) = delete;
    JpegCodec &operator=(const JpegCodec &) = delete;

    // A frame in the server's layout: bottom-up BGR rows of srcWidth × 3 bytes, no padding.
    bool EncodeFrame(const uint8_t *bgrBottomUp, int srcWidth, int srcHeight, int width, int height,
                     int quality, std::vector<uint8_t> &out);
    // A stored JPEG, decoded and encoded again at the session's size and quality.
    bool Reencode(std::span<const uint8_t> jpeg, int width, int height, int quality,
                  std::vector<uint8_t> &out);
    // A plain dark picture: the answer when there is no picture to send.
    bool EncodeBlank(int width, int height, int quality, std::vector<uint8_t> &out);

private:
    // Compresses m_scaled (top-down), or the given bottom-up rows of the same size.
    bool Compress(int width, int height, int quality, std::vector<uint8_t> &out,
                  const uint8_t *bottomUp = nullptr);

    void *m_compressor = nullptr;
    void *m_decompressor = nullptr;
    BgrScaler m_scaler;
    std::vector<uint8_t> m_scaled; // top-down BGR at the output size
    std::vector<uint8_t> m_decoded;
    std::vector<uint8_t> m_encoded; // what the encoder writes into
};

// Bilinear resampling of packed BGR into top-down packed BGR of another size, one pixel and
// channel at a time: the plain reference BgrScaler is held to.
void ResampleBgr(const uint8_t *src, int srcWidth, int srcHeight, bool srcBottomUp, uint8_t *dst,
                 int dstWidth, int dstHeight);

} // namespace vorlund::link
