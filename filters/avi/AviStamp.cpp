#include "AviStamp.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace vorlund::avi {

namespace {

// 5 x 9 glyphs, drawn from row 3 of a 7 x 16 cell with one blank column on each side, so
// every cell edge and the box's border rows stay white.
constexpr int kGlyphWidth = 5;
constexpr int kGlyphRows = 9;
constexpr int kGlyphTop = 3;

struct Glyph
{
    char ch;
    const char *rows[kGlyphRows];
};

constexpr Glyph kGlyphs[] = {
    { '0', { ".###.", "#...#", "#...#", "#..##", "#.#.#", "##..#", "#...#", "#...#", ".###." } },
    { '1', { "..#..", ".##..", "#.#..", "..#..", "..#..", "..#..", "..#..", "..#..", "#####" } },
    { '2', { ".###.", "#...#", "....#", "....#", "...#.", "..#..", ".#...", "#....", "#####" } },
    { '3', { ".###.", "#...#", "....#", "....#", "..##.", "....#", "....#", "#...#", ".###." } },
    { '4', { "...#.", "..##.", ".#.#.", "#..#.", "#..#.", "#####", "...#.", "...#.", "...#." } },
    { '5', { "#####", "#....", "#....", "####.", "....#", "....#", "....#", "#...#", ".###." } },
    { '6', { ".###.", "#...#", "#....", "#....", "####.", "#...#", "#...#", "#...#", ".###." } },
    { '7', { "#####", "....#", "....#", "...#.", "...#.", "..#..", "..#..", "..#..", "..#.." } },
    { '8', { ".###.", "#...#", "#...#", "#...#", ".###.", "#...#", "#...#", "#...#", ".###." } },
    { '9', { ".###.", "#...#", "#...#", "#...#", ".####", "....#", "....#", "#...#", ".###." } },
    { '-', { ".....", ".....", ".....", ".....", "#####", ".....", ".....", ".....", "....." } },
    { ':', { ".....", ".....", "..#..", "..#..", ".....", ".....", "..#..", "..#..", "....." } },
};

const Glyph *FindGlyph(char ch)
{
    for (const Glyph &g : kGlyphs) {
        if (g.ch == ch)
            return &g;
    }
    return nullptr;
}

std::uint8_t Clamp(int v)
{
    return static_cast<std::uint8_t>(std::clamp(v, 0, 255));
}

} // namespace

bool FormatStampText(std::time_t when, char (&out)[kStampTextLength + 1])
{
    std::tm local {};
    if (!localtime_r(&when, &local))
        return false;
    // Years beyond four digits would not fit the box; such a clock is broken anyway.
    if (local.tm_year + 1900 < 0 || local.tm_year + 1900 > 9999)
        return false;
    const int n = std::snprintf(out, sizeof out, "%02d-%02d-%04d %02d:%02d:%02d", local.tm_mon + 1,
                                local.tm_mday, local.tm_year + 1900, local.tm_hour, local.tm_min,
                                local.tm_sec);
    return n == kStampTextLength;
}

void RenderStampText(const char *text, std::uint8_t (&ink)[kStampHeight][kStampWidth])
{
    std::memset(ink, 0, sizeof ink);
    for (int i = 0; i < kStampTextLength && text[i]; ++i) {
        const Glyph *g = FindGlyph(text[i]);
        if (!g)
            continue;
        const int x0 = i * kGlyphCellWidth + 1;
        for (int r = 0; r < kGlyphRows; ++r) {
            for (int c = 0; c < kGlyphWidth; ++c)
                ink[kGlyphTop + r][x0 + c] = g->rows[r][c] == '#';
        }
    }
}

void ConvertStampToYuy2(const std::uint8_t *bgr, std::uint8_t *out, int width, int rows)
{
    const int pairs = ((width - 1) >> 1) + 1;
    for (int r = 0; r < rows; ++r) {
        const std::uint8_t *s = bgr + r * width * 3;
        std::uint8_t *d = out + r * pairs * 4;
        for (int p = 0; p < pairs; ++p, s += 6, d += 4) {
            const int b0 = s[0], g0 = s[1], r0 = s[2];
            // An odd width's last pair repeats its one pixel.
            const bool second = 2 * p + 1 < width;
            const int b1 = second ? s[3] : b0, g1 = second ? s[4] : g0, r1 = second ? s[5] : r0;
            const int y0 = (16829 * r0 + 33039 * g0 + 6416 * b0 + 0x108000) >> 16;
            const int y1 = (16829 * r1 + 33039 * g1 + 6416 * b1 + 0x108000) >> 16;
            const int t = (y0 + y1 - 32) * 38155;
            const int u = (((((b0 + b1) << 15) - t) >> 10) * 507 + 0x808000) >> 16;
            const int v = (((((r0 + r1) << 15) - t) >> 10) * 642 + 0x808000) >> 16;
            d[0] = static_cast<std::uint8_t>(y0);
            d[1] = Clamp(u);
            d[2] = static_cast<std::uint8_t>(y1);
            d[3] = Clamp(v);
        }
    }
}

bool UpdateStamp(StampImage &image, std::time_t when)
{
    if (image.second == when && image.text[0])
        return true;
    char text[kStampTextLength + 1];
    if (!FormatStampText(when, text))
        return false;
    std::memcpy(image.text, text, sizeof text);
    image.second = when;
    RenderStampText(image.text, image.ink);

    // The strip is black beyond the box, as an empty bitmap would be; those pixels are
    // converted with the box but not copied.
    std::uint8_t bgr[kStampHeight][kStripWidth * 3] = {};
    for (int r = 0; r < kStampHeight; ++r) {
        for (int c = 0; c < kStampWidth; ++c)
            std::memset(&bgr[r][c * 3], image.ink[r][c] ? 0 : 255, 3);
    }
    ConvertStampToYuy2(&bgr[0][0], &image.yuy2[0][0], kStripWidth, kStampHeight);
    return true;
}

void StampBgr(const StampImage &image, std::uint8_t *frame, int stride, int width, int height,
              int x, int y)
{
    const int c0 = std::max(0, -x), c1 = std::min(kStampWidth, width - x);
    const int r0 = std::max(0, -y), r1 = std::min(kStampHeight, height - y);
    for (int r = r0; r < r1; ++r) {
        std::uint8_t *d = frame + static_cast<std::ptrdiff_t>(y + r) * stride + (x + c0) * 3;
        const std::uint8_t *ink = image.ink[r];
        for (int c = c0; c < c1; ++c, d += 3) {
            const std::uint8_t v = ink[c] ? 0 : 255;
            d[0] = v;
            d[1] = v;
            d[2] = v;
        }
    }
}

void StampYuy2(const StampImage &image, std::uint8_t *frame, int stride, int width, int height)
{
    // A row of the frame holds whole pairs; the strip's right 7 pixels are never copied.
    const int rowBytes = std::min(((width + 1) / 2) * 4, stride);
    const int bytes = std::min(kStampWidth * 2, rowBytes);
    const int rows = std::min(kStampHeight, height);
    if (bytes <= 0)
        return;
    for (int r = 0; r < rows; ++r)
        std::memcpy(frame + static_cast<std::ptrdiff_t>(r) * stride, image.yuy2[r], bytes);
}

} // namespace vorlund::avi
