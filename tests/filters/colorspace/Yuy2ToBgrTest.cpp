// The row converters against the conversion written out step by step, and their bounds.
#include "Yuy2ToBgr.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <memory>
#include <random>
#include <vector>

namespace vorlund {

void PrintTo(const NamedYuy2RowConverter &converter, std::ostream *os)
{
    *os << converter.name;
}

namespace {

using Bytes = std::vector<uint8_t>;

// The conversion pixel by pixel, as the formulas read: Y' = Y - 16; an even pixel takes twice
// its own pair's chroma difference, an odd one the sum of its own pair's and the next pair's
// (its own pair's again when it is the last pixel of the row).
Bytes ReferenceRow(const uint8_t *src, int width)
{
    auto clamp = [](int v) { return static_cast<uint8_t>(std::clamp(v, 0, 255)); };
    const int pairs = (width + 1) / 2;
    Bytes out(size_t(width) * 3);
    for (int x = 0; x < width; ++x) {
        const uint8_t *own = src + 4 * (x / 2);
        const uint8_t *mean = (x % 2 == 1 && x / 2 + 1 < pairs) ? own + 4 : own;
        const int y = own[2 * (x % 2)] - 16;
        const int cb = own[1] + mean[1] - 256;
        const int cr = own[3] + mean[3] - 256;
        out[3 * x] = clamp((19077 * y + 16525 * cb + 8192) >> 14);
        out[3 * x + 1] = clamp((19077 * y - 3209 * cb - 6660 * cr + 8192) >> 14);
        out[3 * x + 2] = clamp((19077 * y + 13075 * cr + 8192) >> 14);
    }
    return out;
}

size_t SourceRowBytes(int width)
{
    return size_t(width + 1) / 2 * 4;
}

Bytes Uniform(int width, uint8_t y, uint8_t u, uint8_t v)
{
    Bytes row(SourceRowBytes(width));
    for (size_t i = 0; i < row.size(); i += 4) {
        row[i] = y;
        row[i + 1] = u;
        row[i + 2] = y;
        row[i + 3] = v;
    }
    return row;
}

// Chroma and luma ramps with a different slope each, so every pair differs from its neighbour.
Bytes Ramp(int width)
{
    Bytes row(SourceRowBytes(width));
    for (size_t i = 0; i < row.size(); i += 4) {
        const size_t pair = i / 4;
        row[i] = uint8_t(pair * 7 % 256);
        row[i + 1] = uint8_t(255 - pair * 5 % 256);
        row[i + 2] = uint8_t(pair * 11 % 256);
        row[i + 3] = uint8_t(pair * 3 % 256);
    }
    return row;
}

Bytes RandomRow(int width, std::mt19937 &random)
{
    Bytes row(SourceRowBytes(width));
    for (auto &b : row)
        b = uint8_t(random());
    return row;
}

class Yuy2RowTest : public ::testing::TestWithParam<NamedYuy2RowConverter>
{
protected:
    // Source and destination in allocations of exactly one row, so that AddressSanitizer
    // sees any byte read or written beyond it.
    static Bytes Convert(Yuy2RowConverter convert, const Bytes &row, int width)
    {
        auto src = std::make_unique<uint8_t[]>(row.size());
        std::copy(row.begin(), row.end(), src.get());
        auto dst = std::make_unique<uint8_t[]>(size_t(width) * 3);
        convert(src.get(), dst.get(), width);
        return Bytes(dst.get(), dst.get() + size_t(width) * 3);
    }
    Bytes Convert(const Bytes &row, int width) const
    {
        return Convert(GetParam().convert, row, width);
    }
};

TEST_P(Yuy2RowTest, StudioBlackAndWhiteAreExact)
{
    for (int width : { 1, 2, 7, 8, 9, 16, 720 }) {
        EXPECT_EQ(Convert(Uniform(width, 16, 128, 128), width), Bytes(size_t(width) * 3, 0))
            << width;
        EXPECT_EQ(Convert(Uniform(width, 235, 128, 128), width), Bytes(size_t(width) * 3, 255))
            << width;
    }
}

TEST_P(Yuy2RowTest, SaturatedRedIsBlueGreenRed)
{
    // Y 81, U 90, V 240: R = (19077*65 + 13075*224 + 8192) >> 14 = 254, G and B clip at 0.
    const Bytes out = Convert(Uniform(4, 81, 90, 240), 4);
    for (int x = 0; x < 4; ++x) {
        EXPECT_EQ(out[3 * x], 0);
        EXPECT_EQ(out[3 * x + 1], 0);
        EXPECT_EQ(out[3 * x + 2], 254);
    }
}

TEST_P(Yuy2RowTest, ChromaRampMatchesReference)
{
    for (int width : { 1, 2, 3, 5, 6, 8, 12, 17, 642, 720 }) {
        const Bytes ramp = Ramp(width);
        EXPECT_EQ(Convert(ramp, width), ReferenceRow(ramp.data(), width)) << width;
    }
}

TEST_P(Yuy2RowTest, LastPixelOfARowUsesItsOwnChroma)
{
    // Pair 0 neutral, pair 1 strongly red: pixel 1 averages them, pixel 3 (last) is red.
    const Bytes row = { 128, 128, 128, 128, 128, 90, 128, 240 };
    const Bytes out = Convert(row, 4);
    const Bytes red = Convert(Uniform(2, 128, 90, 240), 2);
    const Bytes halfway = Convert(Uniform(2, 128, 109, 184), 2);
    EXPECT_TRUE(std::equal(out.begin() + 9, out.end(), red.begin()));
    EXPECT_TRUE(std::equal(out.begin() + 3, out.begin() + 6, halfway.begin()));
}

TEST_P(Yuy2RowTest, EveryWidthMatchesThePlainRowAndStaysInsideIt)
{
    std::mt19937 random(4);
    for (int width = 1; width <= 48; ++width) {
        for (int round = 0; round < 4; ++round) {
            const Bytes row = RandomRow(width, random);
            EXPECT_EQ(Convert(row, width), Convert(ConvertYuy2RowPlain, row, width)) << width;
        }
    }
    for (int width : { 642, 719, 720 }) {
        const Bytes row = RandomRow(width, random);
        EXPECT_EQ(Convert(row, width), Convert(ConvertYuy2RowPlain, row, width)) << width;
    }
}

std::vector<NamedYuy2RowConverter> Converters()
{
    std::array<NamedYuy2RowConverter, 8> all {};
    const int count = AvailableYuy2RowConverters(all.data(), int(all.size()));
    return { all.begin(), all.begin() + count };
}

INSTANTIATE_TEST_SUITE_P(Converters, Yuy2RowTest, ::testing::ValuesIn(Converters()),
                         [](const auto &info) { return std::string(info.param.name); });

TEST(Yuy2ToBgr, PictureKeepsRowOrderAndLeavesRowPaddingAlone)
{
    const int width = 6, height = 3;
    const std::ptrdiff_t srcStride = 16, dstStride = 24;
    Bytes src(size_t(srcStride) * height, 0xEE);
    for (int row = 0; row < height; ++row) {
        const Bytes line = Uniform(width, row == 0 ? 235 : 16, 128, 128);
        std::copy(line.begin(), line.end(), src.begin() + row * srcStride);
    }
    Bytes dst(size_t(dstStride) * height, 0x5A);
    ConvertYuy2ToBgr(src.data(), srcStride, dst.data(), dstStride, width, height);
    for (int row = 0; row < height; ++row) {
        const auto begin = dst.begin() + row * dstStride;
        EXPECT_TRUE(std::all_of(begin, begin + width * 3, [&](uint8_t b) {
            return b == (row == 0 ? 255 : 0);
        })) << row;
        EXPECT_TRUE(std::all_of(begin + width * 3, begin + dstStride, [](uint8_t b) {
            return b == 0x5A;
        })) << row;
    }
}

} // namespace
} // namespace vorlund
