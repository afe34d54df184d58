#pragma once

// Size, position and shape of a help balloon, kept free of any window system so that the
// placement rules can be checked on their own.

namespace vorlund {

struct BalloonPoint
{
    int x = 0;
    int y = 0;
    friend bool operator==(const BalloonPoint &, const BalloonPoint &) = default;
};

struct BalloonSize
{
    int width = 0;
    int height = 0;
    friend bool operator==(const BalloonSize &, const BalloonSize &) = default;
};

// Right and bottom lie one past the last pixel.
struct BalloonRect
{
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;
    int Width() const { return right - left; }
    int Height() const { return bottom - top; }
    friend bool operator==(const BalloonRect &, const BalloonRect &) = default;
};

inline constexpr int kBalloonMargin = 8;
inline constexpr int kBalloonTailBand = 20;
inline constexpr int kBalloonHeaderGap = 8; // between header and text
inline constexpr int kBalloonPartGap = 8; // between icon, title and close button
inline constexpr int kBalloonCornerEllipse = 24;
inline constexpr int kBalloonTailBase = 20;
inline constexpr int kBalloonFadeMs = 200;

// Measured parts of a balloon; a part with zero width is absent.
struct BalloonParts
{
    BalloonSize icon;
    BalloonSize closeButton;
    BalloonSize title;
    BalloonSize text;
};

BalloonSize BalloonHeaderSize(const BalloonParts &parts);
BalloonSize BalloonWindowSize(const BalloonParts &parts);

// Where a window of a given size goes and how it is shaped. Shape coordinates are relative
// to the window's top left corner.
struct BalloonPlacement
{
    BalloonPoint position; // window's top left on the screen
    bool tailOnTop = true; // the balloon hangs below its anchor
    BalloonRect body;
    BalloonPoint tailBaseStart;
    BalloonPoint tailBaseEnd;
    BalloonPoint tailTip;
};

BalloonPlacement PlaceBalloonGeometry(BalloonSize window, BalloonPoint anchor,
                                      const BalloonRect &workArea);

// The area inside the margins and the tail band, never of negative size.
BalloonRect BalloonClientRect(BalloonSize window, bool tailOnTop);

} // namespace vorlund
