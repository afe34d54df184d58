#include "StillImage.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

using namespace vorlund;

namespace {

// Pixel (x, y) counted from the top-left corner of a bottom-up BGR picture.
const uint8_t *At(const StillImage &image, int x, int y)
{
    return image.Data() + (size_t(image.Height() - 1 - y) * size_t(image.Width()) + size_t(x)) * 3;
}

TEST(StillImage, RotationSettingAndStampText)
{
    const struct
    {
        const char *setting;
        Rotation rotation;
    } cases[] = { { "", Rotation::None },   { "L", Rotation::Left },  { "R", Rotation::Right },
                  { "LR", Rotation::Left }, { "RL", Rotation::Left }, { "x", Rotation::None } };
    for (const auto &c : cases)
        EXPECT_EQ(RotationFromSetting(c.setting), c.rotation) << c.setting;

    const LocalDateTime t { 2006, 7, 4, 13, 5, 9, 2 };
    EXPECT_EQ(StampText(t), "07-04-2006 13:05:09");
}

TEST(StillImage, QuarterTurnsMoveEveryPixel)
{
    // A 37 x 70 picture (not a multiple of the tile) whose pixels all differ.
    const int w = 37, h = 70;
    std::vector<uint8_t> frame(size_t(w) * h * 3);
    for (size_t i = 0; i < frame.size(); ++i)
        frame[i] = uint8_t(i * 7 + i / 251);
    StillImage source;
    ASSERT_TRUE(source.Load(frame.data(), frame.size(), w, h));

    for (Rotation rotation : { Rotation::Left, Rotation::Right }) {
        StillImage turned;
        ASSERT_TRUE(turned.Load(frame.data(), frame.size(), w, h));
        turned.Rotate(rotation);
        ASSERT_EQ(turned.Width(), h);
        ASSERT_EQ(turned.Height(), w);
        for (int y = 0; y < h; ++y) {
            for (int x = 0; x < w; ++x) {
                // Left: the top edge becomes the left edge; right: the right edge.
                const int tx = rotation == Rotation::Left ? y : h - 1 - y;
                const int ty = rotation == Rotation::Left ? w - 1 - x : x;
                ASSERT_EQ(std::memcmp(At(source, x, y), At(turned, tx, ty), 3), 0)
                    << int(rotation) << " " << x << "," << y;
            }
        }
    }
    StillImage same;
    ASSERT_TRUE(same.Load(frame.data(), frame.size(), w, h));
    same.Rotate(Rotation::None);
    EXPECT_TRUE(std::ranges::equal(same.Pixels(), source.Pixels()));
}

TEST(StillImage, FastTurnEqualsPlainTurn)
{
    for (const auto &[w, h] : { std::pair { 720, 576 },
                                { 644, 483 },
                                { 37, 70 },
                                { 8, 8 },
                                { 17, 9 },
                                { 9, 23 },
                                { 5, 3 },
                                { 4, 4 },
                                { 1, 1 },
                                { 3, 9 } }) {
        std::vector<uint8_t> src(size_t(w) * h * 3 + kTurnSlack);
        for (size_t i = 0; i < src.size(); ++i)
            src[i] = uint8_t(i * 13 + i / 253);
        for (const bool left : { true, false }) {
            std::vector<uint8_t> plain(size_t(w) * h * 3);
            ASSERT_TRUE(Turn(TurnKernel::Plain, src.data(), plain.data(), w, h, left));
            for (const TurnKernel kernel : { TurnKernel::Ssse3, TurnKernel::Avx2 }) {
                std::vector<uint8_t> fast(plain.size());
                if (Turn(kernel, src.data(), fast.data(), w, h, left)) {
                    EXPECT_EQ(plain, fast) << w << "x" << h << (left ? " left" : " right")
                                           << " kernel " << int(kernel);
                }
            }
        }
    }
}

// Turning while encoding writes the very bytes that turning the stamped picture and then
// encoding it wrote, for every size (bands that do not fill, odd sides, a larger picture after
// smaller ones) and quality (both DCTs).
TEST(StillImage, TurnWhileEncodingGivesTheBytesOfTurnThenEncode)
{
    TextMask stamp { 9, 4, std::vector<uint8_t>(36, 0) };
    for (size_t i = 0; i < stamp.coverage.size(); i += 3)
        stamp.coverage[i] = 255;
    JpegEncoder banded, whole;
    for (const auto &[w, h] : { std::pair { 720, 576 },
                                { 644, 483 },
                                { 33, 70 },
                                { 64, 48 },
                                { 17, 5 },
                                { 40, 1 },
                                { 1, 1 },
                                { 768, 600 } }) {
        std::vector<uint8_t> frame(size_t(w) * h * 3);
        for (size_t i = 0; i < frame.size(); ++i)
            frame[i] = uint8_t((i * 37 + i / 97 + (i / 3) % 11 * 19) & 0xFF);
        for (const Rotation turn : { Rotation::Left, Rotation::Right }) {
            for (const int quality : { 10, 50, 95, 96, 100 }) {
                StillImage image;
                ASSERT_TRUE(image.Load(frame.data(), frame.size(), w, h));
                image.DrawMask(stamp, 5, h - 5);
                std::vector<uint8_t> fused, turned;
                ASSERT_TRUE(banded.Encode(image, quality, fused, turn)) << banded.LastError();
                image.Rotate(turn);
                ASSERT_TRUE(whole.Encode(image, quality, turned));
                ASSERT_FALSE(fused.empty());
                EXPECT_TRUE(fused == turned) << w << "x" << h << " q" << quality
                                             << (turn == Rotation::Left ? " left" : " right");
            }
        }
    }
    // Unturned goes the whole-picture way, unchanged.
    std::vector<uint8_t> frame(32 * 16 * 3, 90), a, b;
    StillImage image;
    ASSERT_TRUE(image.Load(frame.data(), frame.size(), 32, 16));
    ASSERT_TRUE(banded.Encode(image, 50, a, Rotation::None));
    ASSERT_TRUE(whole.Encode(image, 50, b));
    EXPECT_EQ(a, b);
}

// The saved JPEG bytes are those the encoder wrote before its turn was last made faster: a
// digest per size, turn and quality (both DCTs) of a stamped, noisy picture. A change of the
// turn, the band or the encoder's settings that alters a single byte shows here.
TEST(StillImage, SavedBytesStayTheSame)
{
    const auto digest = [](const std::vector<uint8_t> &bytes) {
        uint64_t hash = 1469598103934665603ull; // FNV-1a
        for (const uint8_t b : bytes)
            hash = (hash ^ b) * 1099511628211ull;
        return hash;
    };
    TextMask stamp { 23, 7, std::vector<uint8_t>(23 * 7, 0) };
    for (size_t i = 0; i < stamp.coverage.size(); i += 4)
        stamp.coverage[i] = 255;
    const struct
    {
        int w, h;
        Rotation turn;
        int quality;
        uint64_t digest;
    } cases[] = {
        { 720, 576, Rotation::None, 50, 0xc1c3e5091e7c66d3 },
        { 720, 576, Rotation::Left, 50, 0x44c063625b17da8b },
        { 720, 576, Rotation::Right, 50, 0x29f91e55f8404e7f },
        { 720, 576, Rotation::Left, 96, 0x02c97c5c0ae5b581 },
        { 644, 483, Rotation::Right, 75, 0x7404340b2e827352 },
        { 37, 70, Rotation::Left, 50, 0x51a24f4a39048177 },
    };
    JpegEncoder encoder;
    for (const auto &c : cases) {
        std::vector<uint8_t> frame(size_t(c.w) * c.h * 3);
        uint32_t noise = 7;
        for (size_t i = 0; i < frame.size(); ++i) {
            noise = noise * 1664525u + 1013904223u;
            const int x = int(i / 3) % c.w, y = int(i / 3) / c.w;
            frame[i] = uint8_t(40 + (x * 3 + y * 2) % 150 + int(i % 3) * 15 + int(noise >> 29));
        }
        StillImage image;
        ASSERT_TRUE(image.Load(frame.data(), frame.size(), c.w, c.h));
        image.DrawMask(stamp, 5, c.h - 5);
        std::vector<uint8_t> jpeg;
        ASSERT_TRUE(encoder.Encode(image, c.quality, jpeg, c.turn)) << encoder.LastError();
        EXPECT_EQ(digest(jpeg), c.digest) << c.w << "x" << c.h << " turn " << int(c.turn) << " q"
                                          << c.quality << std::hex << " digest 0x" << digest(jpeg);
    }
}

TEST(StillImage, RejectsGeometryTheBytesDoNotHold)
{
    std::vector<uint8_t> frame(100 * 10 * 3);
    StillImage image;
    EXPECT_TRUE(image.Load(frame.data(), frame.size(), 100, 10));
    EXPECT_FALSE(image.Load(frame.data(), frame.size() - 1, 100, 10));
    EXPECT_FALSE(image.Load(frame.data(), frame.size(), 0, 10));
    EXPECT_FALSE(image.Load(frame.data(), frame.size(), 100, -1));
    EXPECT_FALSE(image.Load(nullptr, frame.size(), 100, 10));
}

// Stamps put together from glyphs painted once are the pixels painting the text gives, for
// every stamp character in every place; other texts are painted.
TEST(StillImage, StampFromKeptGlyphsEqualsPaintedStamp)
{
    StampFont font;
    EXPECT_TRUE(font.KeepsGlyphs()) << "the monospaced font puts stamps together from glyphs";
    std::string every;
    for (int i = 0; i < 60; ++i)
        every += "0123456789-: "[i * 7 % 13];
    const std::string texts[] = { "07-04-2006 13:05:09",
                                  "12-31-1999 23:59:59",
                                  "00-00-0000 00:00:00",
                                  "8",
                                  " 1",
                                  "--::  --",
                                  every,
                                  "Cam 1 07-04-2006",
                                  std::string(500, '4') };
    for (const std::string &text : texts) {
        const TextMask kept = font.Render(text), painted = font.Paint(text);
        EXPECT_GT(painted.width, 0) << text;
        EXPECT_EQ(kept.width, painted.width) << text;
        EXPECT_EQ(kept.height, painted.height) << text;
        EXPECT_TRUE(kept.coverage == painted.coverage) << text;
    }
    EXPECT_EQ(font.Render("").width, 0);
}

TEST(StillImage, StampLiesInTheRowsGiven)
{
    StampFont font;
    const TextMask mask = font.Render("07-04-2006 13:05:09");
    ASSERT_GT(mask.width, 100) << "the stamp font renders";
    ASSERT_LE(mask.height, 15);

    const int w = 320, h = 240;
    std::vector<uint8_t> white(size_t(w) * h * 3, 255);
    for (const int bottomRow : { h - 5, 15 }) {
        StillImage image;
        ASSERT_TRUE(image.Load(white.data(), white.size(), w, h));
        image.DrawMask(mask, 5, bottomRow);
        int top = h, bottom = -1, left = w, right = -1, dark = 0;
        for (int y = 0; y < h; ++y) {
            for (int x = 0; x < w; ++x) {
                const uint8_t *p = At(image, x, y);
                if (p[0] == 255 && p[1] == 255 && p[2] == 255)
                    continue;
                ASSERT_TRUE(p[0] == 0 && p[1] == 0 && p[2] == 0) << "black or untouched";
                ++dark;
                top = std::min(top, y);
                bottom = std::max(bottom, y);
                left = std::min(left, x);
                right = std::max(right, x);
            }
        }
        EXPECT_GT(dark, 100) << bottomRow;
        EXPECT_LE(bottom, bottomRow) << "nothing below the stamp's lowest row";
        EXPECT_GE(bottom, bottomRow - 5) << "the glyphs sit on it";
        EXPECT_GT(top, bottomRow - 15);
        EXPECT_GE(left, 5);
        EXPECT_LT(right, 5 + mask.width);
    }

    // Clipped at the picture's edges, never written past them.
    StillImage tiny;
    ASSERT_TRUE(tiny.Load(white.data(), 40 * 8 * 3, 40, 8));
    tiny.DrawMask(mask, 5, 3);
    tiny.DrawMask(mask, -20, 20);
    EXPECT_EQ(tiny.Pixels().size(), size_t(40 * 8 * 3));
}

} // namespace
