#include "FrameTestUtil.h"

#include <algorithm>
#include <cstdlib>

namespace vorlund::test {

void Frame::Shift(int x0, int y0, int w, int h, int delta)
{
    for (int y = y0; y < y0 + h; ++y) {
        for (int x = x0; x < x0 + w; ++x) {
            uint8_t *p = Pixel(x, y);
            for (int i = 0; i < 3; ++i)
                p[i] = static_cast<uint8_t>(std::clamp(p[i] + delta, 0, 255));
        }
    }
}

ReferenceScores ScoreCellsPlain(const uint8_t *cur, const uint8_t *ref, int width, int height,
                                int T)
{
    ReferenceScores out;
    int run[64] = {}, runRow[64] = {}, longest[64] = {}, longestRow[64] = {};
    const int cw = width / 8;
    const int ch = height / 8;
    const int pixelCount = width * height;
    for (int i = 0; i < pixelCount; ++i) {
        const int x = i % width;
        const int y = i / width;
        if (y >= 8 * ch)
            continue;
        int column = 7;
        for (int k = 0; k < 7; ++k) {
            if (x < (k + 1) * cw) {
                column = k;
                break;
            }
        }
        int band = 7;
        for (int k = 0; k < 8; ++k) {
            if (y < (k + 1) * ch) {
                band = k;
                break;
            }
        }
        const int k = band * 8 + column;
        const uint8_t *c = cur + size_t(i) * 3;
        const uint8_t *r = ref + size_t(i) * 3;
        const bool changed
            = std::abs(c[0] - r[0]) > T && std::abs(c[1] - r[1]) > T && std::abs(c[2] - r[2]) > T;
        if (changed) {
            run[k] += 1;
            out.changed[k] += 1;
            runRow[k] = y;
        } else {
            if (run[k] >= longest[k]) {
                if (runRow[k] == longestRow[k] + 1)
                    out.BlobScore[k] += run[k];
                longest[k] = run[k];
                longestRow[k] = runRow[k];
            }
            run[k] = 0;
        }
    }
    return out;
}

} // namespace vorlund::test
