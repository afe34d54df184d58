#pragma once

#include "Clock.h"
#include "ZeroPages.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace vorlund {

enum class Rotation { None, Left, Right };

// "ImageRotate": an "L" anywhere turns left (a value with both turns left), else an "R" right.
Rotation RotationFromSetting(std::string_view imageRotate);

// The date/time stamp, e.g. "07-04-2006 13:05:09" (month, day, year, 24-hour time).
std::string StampText(const LocalDateTime &now);

// The stamp's text as black-or-untouched pixels: 255 where the glyphs cover, 0 elsewhere, row 0
// at the top of the text box. Drawn in "courier" (fontconfig gives the installed monospace
// font) at weight 600 with a 15-pixel cell, without antialiasing.
struct TextMask
{
    int width = 0;
    int height = 0;
    std::vector<uint8_t> coverage;
};

// Renders stamp texts with one font; needs a QGuiApplication. Without one it renders nothing.
class StampFont
{
public:
    StampFont();
    ~StampFont();
    StampFont(const StampFont &) = delete;
    StampFont &operator=(const StampFont &) = delete;

    TextMask Render(std::string_view text);
    // The same pixels, always painted through Qt (Render puts the stamp's characters together
    // from glyphs painted once, where that gives the same pixels).
    TextMask Paint(std::string_view text);
    // Whether Render puts stamps together from kept glyphs (false: it paints every one).
    bool KeepsGlyphs() const;

private:
    struct Font;
    std::unique_ptr<Font> m_font;
};

// The quarter turn of a bottom-up BGR picture w x h into h x w (`left`: anticlockwise), by a
// plain loop or a vector kernel; false where the processor lacks the kernel. The vector kernels
// read up to kTurnSlack bytes past the picture.
enum class TurnKernel { Plain, Ssse3, Avx2 };
inline constexpr size_t kTurnSlack = 16;
bool Turn(TurnKernel kernel, const uint8_t *src, uint8_t *dst, int w, int h, bool left);

// One picture on its way to a JPEG file: a packed BGR frame stored bottom-up (row 0 = bottom
// row), as the detector delivers it.
class StillImage
{
public:
    // False when the geometry does not fit the bytes (an image that is not valid). Only
    // width * height * 3 bytes are used. Load copies; Adopt swaps the caller's buffer for the
    // image's own (the caller gets the old one back, for the next picture).
    bool Load(const uint8_t *bottomUpBgr, size_t length, int width, int height);
    bool Adopt(std::vector<uint8_t> &pixels, int width, int height);

    // Blacks out the text's pixels; `x` is its left column and `bottomRow` the row of its box's
    // lowest line, both counted from the top-left corner. What falls outside is clipped.
    void DrawMask(const TextMask &mask, int x, int bottomRow);

    // A quarter turn; width and height trade places.
    void Rotate(Rotation rotation);

    int Width() const { return m_width; }
    int Height() const { return m_height; }
    const uint8_t *Data() const { return m_pixels.data(); }
    std::span<const uint8_t> Pixels() const
    {
        return { m_pixels.data(), size_t(m_width) * size_t(m_height) * 3 };
    }

private:
    static constexpr int kMaxSide = 16384;
    static bool Fits(size_t length, int width, int height);

    int m_width = 0;
    int m_height = 0;
    std::vector<uint8_t> m_pixels; // the picture and kTurnSlack bytes after it
    std::vector<uint8_t> m_turned; // scratch for the turn, kept from picture to picture
};

// Baseline JPEG encoder (libjpeg-turbo, 4:2:0) for bottom-up BGR frames.
class JpegEncoder
{
public:
    JpegEncoder();
    ~JpegEncoder();
    JpegEncoder(const JpegEncoder &) = delete;
    JpegEncoder &operator=(const JpegEncoder &) = delete;

    // Quality is clamped to 1..100. Returns false (see LastError) when encoding failed.
    bool Encode(const uint8_t *bottomUpBgr, int width, int height, int quality,
                std::vector<uint8_t> &jpeg);
    bool Encode(const StillImage &image, int quality, std::vector<uint8_t> &jpeg)
    {
        return Encode(image.Data(), image.Width(), image.Height(), quality, jpeg);
    }
    // The picture turned a quarter while it is encoded: the same bytes as Rotate, then Encode.
    bool Encode(const StillImage &image, int quality, std::vector<uint8_t> &jpeg, Rotation turn);
    const std::string &LastError() const { return m_error; }

private:
    struct Banded;
    void *m_handle = nullptr;
    std::unique_ptr<Banded> m_banded;
    std::string m_error;
    ZeroPages m_buffer;
    std::vector<uint8_t> m_band;
};

} // namespace vorlund
