#pragma once

// Picture files for review tests: a flat body whose grey level names the picture, with a red
// band along its top edge, written as the snapshot code writes them.

#include "StillImage.h"

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <vector>

namespace vorlund::test {

inline constexpr int kBand = 8; // rows of red at the top

// A level far enough from its neighbours to survive JPEG.
inline uint8_t LevelOf(int number)
{
    return uint8_t(20 + (number * 7) % 200);
}

inline void WritePicture(const std::filesystem::path &file, int number, int width, int height)
{
    std::vector<uint8_t> frame(size_t(width) * height * 3, LevelOf(number));
    for (int row = height - kBand; row < height; ++row) // bottom-up: the top rows come last
        for (int x = 0; x < width; ++x) {
            uint8_t *p = frame.data() + (size_t(row) * width + x) * 3;
            p[0] = 0, p[1] = 0, p[2] = 255;
        }
    JpegEncoder encoder;
    std::vector<uint8_t> jpeg;
    encoder.Encode(frame.data(), width, height, 90, jpeg);
    std::filesystem::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary)
        .write(reinterpret_cast<const char *>(jpeg.data()), std::streamsize(jpeg.size()));
}

} // namespace vorlund::test
