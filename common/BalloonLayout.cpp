#include "BalloonLayout.h"

#include <algorithm>

namespace vorlund {

BalloonSize BalloonHeaderSize(const BalloonParts &parts)
{
    int width = 0;
    int present = 0;
    for (const BalloonSize *part : { &parts.icon, &parts.title, &parts.closeButton }) {
        if (part->width > 0) {
            width += part->width;
            ++present;
        }
    }
    if (present > 1)
        width += (present - 1) * kBalloonPartGap;
    int height = std::max(parts.icon.height, parts.title.height);
    if (parts.closeButton.width > 0)
        height = std::max(height, parts.closeButton.height);
    return { width, height };
}

BalloonSize BalloonWindowSize(const BalloonParts &parts)
{
    const BalloonSize header = BalloonHeaderSize(parts);
    const int bodyWidth = std::max(header.width, parts.text.width);
    const int bodyHeight = header.height + kBalloonHeaderGap + parts.text.height;
    return { bodyWidth + 2 * kBalloonMargin, bodyHeight + 2 * kBalloonMargin + kBalloonTailBand };
}

BalloonPlacement PlaceBalloonGeometry(BalloonSize window, BalloonPoint anchor,
                                      const BalloonRect &workArea)
{
    const int w = window.width;
    const int h = window.height;
    const bool leftHalf = anchor.x < workArea.left + (workArea.right - workArea.left) / 2;
    const bool topHalf = anchor.y < workArea.top + (workArea.bottom - workArea.top) / 2;

    BalloonPlacement p;
    p.tailOnTop = topHalf;
    int baseY = 0;
    int tipY = 0;
    if (topHalf) {
        p.body = { 0, kBalloonTailBand, w, h };
        baseY = kBalloonTailBand + 1;
        tipY = 1;
    } else {
        p.body = { 0, 0, w, h - kBalloonTailBand };
        baseY = h - kBalloonTailBand - 2;
        tipY = h - 2;
    }

    const int d = (w - kBalloonTailBase) / 4;
    int baseStart, baseEnd, tipX;
    if (leftHalf) {
        baseStart = d + kBalloonTailBase;
        baseEnd = d;
        tipX = d;
    } else {
        baseStart = 3 * d;
        baseEnd = 3 * d + kBalloonTailBase;
        tipX = 3 * d + kBalloonTailBase;
    }
    // A window narrower than two margins cannot hold the tail between them; keep it at the
    // left margin rather than hand std::clamp an empty range.
    const int lo = kBalloonMargin;
    const int hi = std::max(lo, w - kBalloonMargin);
    baseStart = std::clamp(baseStart, lo, hi);
    baseEnd = std::clamp(baseEnd, lo, hi);
    tipX = std::clamp(tipX, lo, hi);

    const int left = anchor.x - tipX;
    const int top = anchor.y - tipY;
    int shiftX = 0;
    if (left < workArea.left)
        shiftX = workArea.left - left;
    else if (left + w >= workArea.right)
        shiftX = workArea.right - left - w;
    int shiftY = 0;
    if (top + kBalloonTailBand < workArea.top)
        shiftY = workArea.top - top - kBalloonTailBand;
    else if (top + h - kBalloonTailBand >= workArea.bottom)
        shiftY = workArea.bottom - top - h + kBalloonTailBand;

    // The window moves, the tip stays on the anchor.
    tipX -= shiftX;

    p.position = { left + shiftX, top + shiftY };
    p.tailBaseStart = { baseStart, baseY };
    p.tailBaseEnd = { baseEnd, baseY };
    p.tailTip = { tipX, tipY };
    return p;
}

BalloonRect BalloonClientRect(BalloonSize window, bool tailOnTop)
{
    BalloonRect r { kBalloonMargin, kBalloonMargin, window.width - kBalloonMargin,
                    window.height - kBalloonMargin };
    if (tailOnTop)
        r.top += kBalloonTailBand;
    else
        r.bottom -= kBalloonTailBand;
    r.right = std::max(r.right, r.left);
    r.bottom = std::max(r.bottom, r.top);
    return r;
}

} // namespace vorlund
