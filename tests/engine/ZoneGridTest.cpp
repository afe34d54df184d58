#include "ZoneGrid.h"

#include <gtest/gtest.h>

using namespace vorlund;

TEST(ZoneGrid, TilesAndCellsFollowTheFrameLayout)
{
    const ZoneGrid g = ComputeZoneGrid(644, 483);
    EXPECT_EQ(g.tiles[1], (GridRect { 0, 0, 644, 483 }));
    EXPECT_EQ(g.tiles[2], (GridRect { 644, 0, 1288, 483 }));
    EXPECT_EQ(g.tiles[3], (GridRect { 0, 483, 644, 966 }));
    EXPECT_EQ(g.tiles[4], (GridRect { 644, 483, 1288, 966 }));

    // Cell 0 (band 0, column 0) is drawn bottom left; products come before the division.
    EXPECT_EQ(g.cells[1][0], (GridRect { 0, 483 * 7 / 8, 644 / 8, 483 }));
    EXPECT_EQ(g.anchors[1][0], (GridPoint { 0, 483 }));
    EXPECT_EQ(g.cells[1][63], (GridRect { 644 * 7 / 8, 0, 644, 483 / 8 }));
    EXPECT_EQ(
        g.cells[4][9],
        (GridRect { 644 + 644 / 8, 483 + 483 * 6 / 8, 644 + 644 * 2 / 8, 483 + 483 * 7 / 8 }));

    EXPECT_EQ(g.CellAt(1, 1, 482), 0);
    EXPECT_EQ(g.CellAt(1, 643, 0), 63);
    EXPECT_EQ(g.CellAt(2, 1, 482), -1);
    EXPECT_EQ(g.CellAt(2, 645, 482), 0);

    // The cells of a tile cover it without gaps or overlaps.
    long area = 0;
    for (const auto &r : g.cells[3])
        area += long(r.right - r.left) * (r.bottom - r.top);
    EXPECT_EQ(area, 644L * 483);
}
