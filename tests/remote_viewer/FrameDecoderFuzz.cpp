// The frame decoder on arbitrary bytes: whatever the picture claims, nothing is written
// outside the camera bitmap (guard bytes on both sides must survive).
#include "FrameDecoder.h"

#include <cstdlib>
#include <vector>

using namespace vorlund::viewer;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static FrameDecoder decoder;
    constexpr size_t kGuard = 64;
    // The first byte picks one of the sizes the size keys reach.
    const int width = size > 0 ? 160 + 80 * (data[0] % 7) : 160;
    const int height = width * 3 / 4;
    const int stride = BitmapStride(width);
    std::vector<uint8_t> bitmap(size_t(stride) * size_t(height) + 2 * kGuard, 0x5A);
    const BitmapView out { bitmap.data() + kGuard, width, height, stride };
    const std::span<const uint8_t> jpeg
        = size > 0 ? std::span(data + 1, size - 1) : std::span<const uint8_t>();
    decoder.Decode(jpeg, out);
    for (size_t i = 0; i < kGuard; ++i)
        if (bitmap[i] != 0x5A || bitmap[bitmap.size() - 1 - i] != 0x5A)
            std::abort();
    return 0;
}
