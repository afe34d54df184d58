#include "ZoneGrid.h"

namespace vorlund {

ZoneGrid ComputeZoneGrid(int W, int H)
{
    ZoneGrid grid;
    for (int camera = 1; camera <= kMaxCameras; ++camera) {
        const int tx = (camera == 2 || camera == 4) ? W : 0;
        const int ty = (camera >= 3) ? H : 0;
        grid.tiles[camera] = { tx, ty, tx + W, ty + H };
        for (int band = 0; band < 8; ++band) {
            for (int column = 0; column < 8; ++column) {
                const int k = band * 8 + column;
                grid.cells[camera][k] = { tx + W * column / 8, ty + H * (7 - band) / 8,
                                          tx + W * (column + 1) / 8, ty + H * (8 - band) / 8 };
                grid.anchors[camera][k] = { tx + W * column / 8, ty + H * (8 - band) / 8 };
            }
        }
    }
    return grid;
}

int ZoneGrid::CellAt(int camera, int x, int y) const
{
    if (!IsCamera(camera))
        return -1;
    for (int k = 0; k < kCells; ++k) {
        const GridRect &r = cells[camera][k];
        if (x >= r.left && x < r.right && y >= r.top && y < r.bottom)
            return k;
    }
    return -1;
}

} // namespace vorlund
