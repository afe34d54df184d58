// The date/time stamp drawn into recorded frames: "MM-DD-YYYY hh:mm:ss" in black on a white
// box of 133 x 16 pixels, from a built-in glyph table (no font machinery in the streaming path).
#pragma once

#include <cstdint>
#include <ctime>

namespace vorlund::avi {

constexpr int kStampTextLength = 19;
constexpr int kGlyphCellWidth = 7;
constexpr int kStampWidth = kStampTextLength * kGlyphCellWidth; // 133
constexpr int kStampHeight = 16;
// The YUY2 strip is converted at this width and copied without its right 7 pixels.
constexpr int kStripWidth = 140;
constexpr int kStripRowBytes = kStripWidth * 2;
// Where the box sits on RGB frames.
constexpr int kBgrStampX = 5;
constexpr int kBgrStampTopY = 2;
constexpr int kBgrStampBottomMargin = 20;

// One rendered stamp: the ink mask of the text and the same text as a YUY2 strip.
struct StampImage
{
    std::int64_t second; // the wall-clock second it shows; -1 before the first render
    char text[kStampTextLength + 1];
    std::uint8_t ink[kStampHeight][kStampWidth]; // 1 = black text, 0 = white box
    std::uint8_t yuy2[kStampHeight][kStripRowBytes];
};

// Local wall-clock text of `when`, month-day-year and 24-hour time. False if the time cannot
// be broken down (the caller then draws nothing).
bool FormatStampText(std::time_t when, char (&out)[kStampTextLength + 1]);

// Draws `text` into `ink`; characters without a glyph stay blank.
void RenderStampText(const char *text, std::uint8_t (&ink)[kStampHeight][kStampWidth]);

// Brings `image` up to the wall-clock second `when`; renders only when the second changed.
// False when the text could not be made.
bool UpdateStamp(StampImage &image, std::time_t when);

// A top-down 24-bit BGR strip of `width` x `rows` to YUY2 with the fixed-point
// BT.601 conversion, `width` x 2 bytes a row (pairs round up).
void ConvertStampToYuy2(const std::uint8_t *bgr, std::uint8_t *out, int width, int rows);

// Draws the box at picture position (x, y) of a BGR frame, clipped to the frame.
void StampBgr(const StampImage &image, std::uint8_t *frame, int stride, int width, int height,
              int x, int y);

// Copies the YUY2 strip over the top left of a YUY2 frame, clipped to the frame.
void StampYuy2(const StampImage &image, std::uint8_t *frame, int stride, int width, int height);

} // namespace vorlund::avi
