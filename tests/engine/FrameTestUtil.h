#pragma once

#include "EngineState.h"

#include <cstdint>
#include <random>
#include <vector>

namespace vorlund::test {

// A bottom-up packed BGR frame (row 0 = bottom row).
struct Frame
{
    Frame(int w, int h, uint8_t fill = 0) : width(w), height(h), bytes(size_t(w) * h * 3, fill) { }
    uint8_t *Pixel(int x, int y) { return bytes.data() + (size_t(y) * width + x) * 3; }
    void Set(int x, int y, uint8_t b, uint8_t g, uint8_t r)
    {
        uint8_t *p = Pixel(x, y);
        p[0] = b;
        p[1] = g;
        p[2] = r;
    }
    // Adds `delta` to every channel of a block (x0, y0 are bottom-up coordinates).
    void Shift(int x0, int y0, int w, int h, int delta);

    int width;
    int height;
    std::vector<uint8_t> bytes;
};

// The plain reading of the scoring pass: pixel by pixel in buffer order, one cell state each.
struct ReferenceScores
{
    int32_t BlobScore[64] = {};
    int32_t changed[64] = {};
};
ReferenceScores ScoreCellsPlain(const uint8_t *cur, const uint8_t *ref, int width, int height,
                                int threshold);

// Message sink that counts what it is given; safe from any thread.
class CountingSink : public IMessageSink
{
public:
    using IMessageSink::PostMessage;
    void PostMessage(uint32_t message, uintptr_t) noexcept override
    {
        if (message == WM_FRAME_GRABBED)
            ++grabbed;
        else if (message == WM_PLAY_SNAP)
            ++playSnap;
        else
            ++other;
    }
    std::atomic<int> grabbed { 0 };
    std::atomic<int> playSnap { 0 };
    std::atomic<int> other { 0 };
};

} // namespace vorlund::test
