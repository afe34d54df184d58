#pragma once

#include "EngineState.h"

namespace vorlund {

struct GridRect
{
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;
    bool operator==(const GridRect &) const = default;
};

struct GridPoint
{
    int x = 0;
    int y = 0;
    bool operator==(const GridPoint &) const = default;
};

// Where each camera's tile and motion cells lie in the view's client area. Camera tiles are
// W x H with camera 1 top left, 2 top right, 3 bottom left, 4 bottom right; band 0 of the cell
// grid is drawn at the bottom of a tile, as it lies in the frame.
struct ZoneGrid
{
    PerCamera<GridRect> tiles {};
    PerCamera<std::array<GridRect, kCells>> cells {};
    PerCamera<std::array<GridPoint, kCells>> anchors {}; // lower-left corner of each cell

    // The cell of camera `camera` under a client point, or -1.
    int CellAt(int camera, int x, int y) const;
};

ZoneGrid ComputeZoneGrid(int frameWidth, int frameHeight);

} // namespace vorlund
