#include "BalloonLayout.h"

#include <gtest/gtest.h>

namespace vorlund {
namespace {

// A 1920 x 1080 screen with a 40-pixel panel at the bottom.
constexpr BalloonRect kWork { 0, 0, 1920, 1040 };
constexpr BalloonSize kWindow { 200, 100 }; // d = (200 - 20) / 4 = 45

BalloonPoint TipOnScreen(const BalloonPlacement &p)
{
    return { p.position.x + p.tailTip.x, p.position.y + p.tailTip.y };
}

TEST(BalloonPlacement, TopRightQuarterHangsBelowWithTailAtThreeQuarters)
{
    const BalloonPlacement p = PlaceBalloonGeometry(kWindow, { 1500, 200 }, kWork);
    EXPECT_TRUE(p.tailOnTop);
    EXPECT_EQ(p.body, (BalloonRect { 0, 20, 200, 100 }));
    EXPECT_EQ(p.tailBaseStart, (BalloonPoint { 135, 21 }));
    EXPECT_EQ(p.tailBaseEnd, (BalloonPoint { 155, 21 }));
    EXPECT_EQ(p.tailTip, (BalloonPoint { 155, 1 }));
    EXPECT_EQ(p.position, (BalloonPoint { 1345, 199 }));
    EXPECT_EQ(TipOnScreen(p), (BalloonPoint { 1500, 200 }));
}

TEST(BalloonPlacement, LeftAndBottomHalvesMirrorTheTail)
{
    const BalloonPlacement topLeft = PlaceBalloonGeometry(kWindow, { 300, 200 }, kWork);
    EXPECT_EQ(topLeft.tailBaseStart, (BalloonPoint { 65, 21 }));
    EXPECT_EQ(topLeft.tailBaseEnd, (BalloonPoint { 45, 21 }));
    EXPECT_EQ(topLeft.tailTip, (BalloonPoint { 45, 1 }));
    EXPECT_EQ(TipOnScreen(topLeft), (BalloonPoint { 300, 200 }));

    // Below the middle the balloon stands above its anchor.
    const BalloonPlacement bottomLeft = PlaceBalloonGeometry(kWindow, { 300, 900 }, kWork);
    EXPECT_FALSE(bottomLeft.tailOnTop);
    EXPECT_EQ(bottomLeft.body, (BalloonRect { 0, 0, 200, 80 }));
    EXPECT_EQ(bottomLeft.tailBaseStart, (BalloonPoint { 65, 78 }));
    EXPECT_EQ(bottomLeft.tailTip, (BalloonPoint { 45, 98 }));
    EXPECT_EQ(TipOnScreen(bottomLeft), (BalloonPoint { 300, 900 }));

    // The middle itself counts as the right and bottom half.
    const BalloonPlacement middle = PlaceBalloonGeometry(kWindow, { 960, 520 }, kWork);
    EXPECT_FALSE(middle.tailOnTop);
    EXPECT_EQ(middle.tailTip.x, 155);
}

TEST(BalloonPlacement, RightEdgeShiftsLeftAndTipFollowsTheAnchor)
{
    const BalloonPlacement p = PlaceBalloonGeometry(kWindow, { 1919, 200 }, kWork);
    EXPECT_EQ(p.position.x + kWindow.width, kWork.right);
    EXPECT_EQ(p.position.x, 1720);
    EXPECT_EQ(p.tailTip.x, 199); // 155 moved right by the 44-pixel shift
    EXPECT_EQ(p.tailBaseEnd.x, 155); // the base stays
    EXPECT_EQ(TipOnScreen(p), (BalloonPoint { 1919, 200 }));

    // Ending exactly on the edge already fits.
    const BalloonPlacement fits = PlaceBalloonGeometry(kWindow, { 1874, 200 }, kWork);
    EXPECT_EQ(fits.position.x, 1719);
    EXPECT_EQ(fits.tailTip.x, 155);
}

TEST(BalloonPlacement, LeftEdgeShiftsRight)
{
    const BalloonRect second { 1920, 0, 3840, 1080 }; // a second monitor to the right
    const BalloonPlacement p = PlaceBalloonGeometry(kWindow, { 1925, 300 }, second);
    EXPECT_EQ(p.position.x, 1920);
    EXPECT_EQ(p.tailTip.x, 5);
    EXPECT_EQ(TipOnScreen(p), (BalloonPoint { 1925, 300 }));
}

TEST(BalloonPlacement, TopAndBottomEdgesKeepTheBodyInside)
{
    // A panel at the top: an anchor on it would put the body above the work area.
    const BalloonRect work { 0, 30, 1920, 1080 };
    const BalloonPlacement top = PlaceBalloonGeometry(kWindow, { 500, 5 }, work);
    EXPECT_EQ(top.position.y, 10);
    EXPECT_EQ(top.position.y + top.body.top, work.top);
    EXPECT_EQ(top.tailTip.y, 1); // vertical shifts leave the tail alone

    // An anchor in the bottom panel: the body ends on the work area's bottom.
    const BalloonPlacement bottom = PlaceBalloonGeometry(kWindow, { 500, 1060 }, kWork);
    EXPECT_EQ(bottom.position.y, 960);
    EXPECT_EQ(bottom.position.y + bottom.body.bottom, kWork.bottom);

    // Just inside needs no shift.
    const BalloonPlacement inside = PlaceBalloonGeometry(kWindow, { 500, 1039 }, kWork);
    EXPECT_EQ(inside.position.y, 941);
}

TEST(BalloonPlacement, NarrowWindowKeepsTheTailWithinTheMargins)
{
    const BalloonPlacement right = PlaceBalloonGeometry({ 16, 40 }, { 1500, 200 }, kWork);
    EXPECT_EQ(right.tailBaseStart.x, 8);
    EXPECT_EQ(right.tailBaseEnd.x, 8);
    EXPECT_EQ(right.tailTip.x, 8);

    const BalloonPlacement wide = PlaceBalloonGeometry({ 600, 100 }, { 1500, 200 }, kWork);
    EXPECT_EQ(wide.tailTip.x, 3 * 145 + 20);
    const BalloonPlacement degenerate = PlaceBalloonGeometry({ 4, 4 }, { 10, 10 }, kWork);
    EXPECT_EQ(degenerate.tailTip.x, 8);
}

TEST(BalloonSizes, HeaderBodyAndWindow)
{
    BalloonParts parts;
    parts.icon = { 18, 18 };
    parts.title = { 60, 15 };
    parts.closeButton = { 20, 20 };
    parts.text = { 150, 40 };
    EXPECT_EQ(BalloonHeaderSize(parts), (BalloonSize { 18 + 8 + 60 + 8 + 20, 20 }));
    EXPECT_EQ(BalloonWindowSize(parts), (BalloonSize { 150 + 16, 20 + 8 + 40 + 36 }));

    // Title only, text wider than the header is not: the header decides the width.
    BalloonParts titleOnly;
    titleOnly.title = { 90, 15 };
    titleOnly.text = { 50, 30 };
    EXPECT_EQ(BalloonHeaderSize(titleOnly), (BalloonSize { 90, 15 }));
    EXPECT_EQ(BalloonWindowSize(titleOnly), (BalloonSize { 106, 15 + 8 + 30 + 36 }));

    // An empty text measures nothing; the gap below the header stays.
    BalloonParts noText;
    noText.icon = { 16, 16 };
    EXPECT_EQ(BalloonWindowSize(noText), (BalloonSize { 32, 16 + 8 + 36 }));
}

TEST(BalloonSizes, ClientAreaLeavesMarginsAndTailBand)
{
    EXPECT_EQ(BalloonClientRect({ 200, 100 }, true), (BalloonRect { 8, 28, 192, 92 }));
    EXPECT_EQ(BalloonClientRect({ 200, 100 }, false), (BalloonRect { 8, 8, 192, 72 }));
    const BalloonRect tiny = BalloonClientRect({ 10, 20 }, true);
    EXPECT_GE(tiny.Width(), 0);
    EXPECT_GE(tiny.Height(), 0);
}

} // namespace
} // namespace vorlund
