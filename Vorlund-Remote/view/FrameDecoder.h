#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace vorlund::viewer {

// One camera bitmap: a 24-bit bottom-up device-independent bitmap's pixel array (BGR, rows
// padded to 4 bytes as in a BMP file).
struct BitmapView
{
    uint8_t *data = nullptr;
    int width = 0;
    int height = 0;
    int stride = 0;
};

inline constexpr int BitmapStride(int width)
{
    return (width * 3 + 3) / 4 * 4;
}

// Turns received JPEG files into camera bitmaps of the current image size. A picture of any
// other size is resampled to it, so nothing is ever written past the bitmap.
class FrameDecoder
{
public:
    // Larger pictures are refused rather than decoded.
    static constexpr int kMaxDecodedSide = 2048;

    FrameDecoder();
    ~FrameDecoder();
    FrameDecoder(const FrameDecoder &) = delete;
    FrameDecoder &operator=(const FrameDecoder &) = delete;

    // False when the bytes are no JPEG picture this decoder takes; `out` is then untouched.
    bool Decode(std::span<const uint8_t> jpeg, const BitmapView &out);

private:
    void *m_handle = nullptr;
    std::vector<uint8_t> m_scratch;
};

// Bilinear resampling between bottom-up BGR pixel arrays (any strides).
void ResampleBgr(const uint8_t *src, int srcWidth, int srcHeight, int srcStride,
                 const BitmapView &out);

} // namespace vorlund::viewer
