#pragma once

#include "CellScoring.h"
#include "EngineState.h"

#include <cstdint>

namespace vorlund {

// The Sample Grabber's pixel threshold for a sensitivity: a channel must differ by more.
int PixelThreshold(int sensitivity);

// Number of neighbouring cell pairs (vertical, horizontal, rising diagonal) that are both over
// threshold.
int CountNeighbourPairs(const std::array<bool, kCells> &over);

// The motion detector. BufferCB runs on the streaming thread once per bottom-up BGR frame of
// the current camera; it talks to the rest of the server only through EngineState and the
// messages it posts to EngineState::ViewWindow, and never waits for another thread.
class CMotionGrabber
{
public:
    explicit CMotionGrabber(EngineState &state);

    // Called by the graph builder with the negotiated format, while no frames flow.
    void SetFormat(int width, int height, uint32_t compression);

    // Always returns 0 (S_OK): a frame that is skipped is simply lost.
    int32_t BufferCB(double SampleTime, const uint8_t *pBuffer, long BufferLen);
    // The same for a frame read in place, in whatever row order it arrived.
    int32_t OnFrame(double SampleTime, const FrameRows &frame);

    int32_t FrameWidth = 0;
    int32_t FrameHeight = 0;
    uint16_t FrameBitCount = 24;
    uint32_t FrameCompression = 0;
    int32_t CrossbarFrameCount = 0;

private:
    bool CanScore(size_t length) const;
    // Returns whether the frame replaces the camera's reference.
    bool Evaluate(int camera, int sensitivity, const CellScores &scores);
    void DoneRule();

    EngineState &m_state;
};

} // namespace vorlund
