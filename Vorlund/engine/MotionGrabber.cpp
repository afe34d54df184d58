#include "MotionGrabber.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <utility>

namespace vorlund {

int PixelThreshold(int s)
{
    if (s >= 30)
        return 80;
    if (s >= 25)
        return 60;
    if (s >= 20)
        return 40;
    if (s >= 15)
        return 35;
    return 20;
}

int CountNeighbourPairs(const std::array<bool, kCells> &over)
{
    int pairs = 0;
    for (int b = 0; b < 8; ++b) {
        for (int c = 0; c < 8; ++c) {
            if (!over[b * 8 + c])
                continue;
            if (b < 7 && over[(b + 1) * 8 + c])
                ++pairs;
            if (c < 7 && over[b * 8 + c + 1])
                ++pairs;
            if (b < 7 && c < 7 && over[(b + 1) * 8 + c + 1])
                ++pairs;
        }
    }
    return pairs;
}

CMotionGrabber::CMotionGrabber(EngineState &state) : m_state(state) { }

void CMotionGrabber::SetFormat(int width, int height, uint32_t compression)
{
    FrameWidth = width;
    FrameHeight = height;
    FrameBitCount = 24;
    FrameCompression = compression;
    CrossbarFrameCount = 0;
    m_state.FrameWidth = width;
    m_state.FrameHeight = height;
    m_state.PixelCount = width * height;
}

bool CMotionGrabber::CanScore(size_t length) const
{
    if (FrameWidth < 8 || FrameHeight < 8 || FrameWidth > kMaxScoredWidth)
        return false;
    const size_t bytes = size_t(FrameWidth) * size_t(FrameHeight) * 3;
    const int32_t pixelCount = m_state.PixelCount.load(std::memory_order_relaxed);
    return bytes <= kFrameBufferSize && length >= bytes && pixelCount == FrameWidth * FrameHeight;
}

int32_t CMotionGrabber::BufferCB(double SampleTime, const uint8_t *pBuffer, long BufferLen)
{
    if (!pBuffer || BufferLen <= 0)
        return 0;
    const size_t row = FrameWidth > 0 ? size_t(FrameWidth) * 3 : 0;
    return OnFrame(SampleTime, FrameRows::Packed(pBuffer, size_t(BufferLen), row));
}

int32_t CMotionGrabber::OnFrame(double SampleTime, const FrameRows &frame)
{
    EngineState &s = m_state;
    const int c = s.CurrentCamera.load();
    if (!IsCamera(c) || !frame.bottom || frame.bytes == 0)
        return 0;
    // Never more than the buffers hold.
    FrameRows f = frame;
    f.bytes = std::min(f.bytes, kFrameBufferSize);
    const size_t length = f.bytes;
    s.FrameLength = static_cast<int32_t>(length);

    if (s.SwitchBusy.load())
        return 0;

    // While a still is requested no frame is examined.
    if (const int32_t request = s.SnapshotRequest.Camera(); request != 0) {
        if (request == c) {
            if (s.ServeStillRequest(c, FrameWidth, FrameHeight, f, SampleTime))
                s.Post(WM_FRAME_GRABBED);
        } else {
            s.SnapshotRequest.Withdraw(request);
        }
        return 0;
    }

    if (s.OptimizePerformance.load() && s.RecordCountdown.load() != 0
        && s.LiveFramePending.IsPending())
        return 0;

    const int sensitivity = s.Sensitivity[c].load();
    const int threshold = PixelThreshold(sensitivity);

    // The frame is copied once, into the slot in progress, which then becomes the live frame
    // and, when the reference is replaced, the reference too.
    const bool keepLive = !s.ReviewMode.load();
    uint8_t *copy = s.FrameInProgress();

    if (!s.MotionEnabled[c].load() || s.TvMode.load() || !CanScore(length)) {
        if (keepLive) {
            f.CopyTo(copy, length);
            s.KeepFrameInProgress(c, true, false);
            s.FreshFrame[c] = 1;
        }
        s.LiveFramePending.Raise();
        s.FrameDone.Mark();
        return 0;
    }

    CellScores scores;
    ScoreCells(f.bottom, f.stride, std::as_const(s).ReferenceFrame(c), FrameWidth, FrameHeight,
               static_cast<uint8_t>(threshold), scores, copy);
    // The rows the scoring does not examine.
    f.CopyTo(copy, length, size_t(FrameHeight / 8 * 8) * size_t(FrameWidth) * 3);
    const bool replaceReference = Evaluate(c, sensitivity, scores);
    s.KeepFrameInProgress(c, keepLive, replaceReference);
    if (keepLive)
        s.FreshFrame[c] = 1;
    s.LiveFramePending.Raise();
    return 0;
}

bool CMotionGrabber::Evaluate(int c, int S, const CellScores &scores)
{
    EngineState &s = m_state;
    const ZoneMaskBytes mask = s.GetZoneMask(c, EngineState::MaskZone(s.CurrentZone.load()));

    std::array<bool, kCells> over {};
    int overCount = 0;
    for (int k = 0; k < kCells; ++k) {
        over[k] = scores.BlobScore[k] > S;
        overCount += over[k];
    }

    int hitCount = 0;
    bool motion = false;
    const uint32_t refresh = s.RefreshRequest.Ticket();
    const bool calibrate = s.CalibrationMode.load() && (c == 1 || c == 4 || overCount < 5);

    if (calibrate) {
        int watched = 0;
        long sum = 0;
        for (int k = 0; k < kCells; ++k) {
            if (mask[k]) {
                ++watched;
                sum += scores.changed[k];
            }
        }
        // A mask that watches nothing has no average: the sensitivity stays.
        if (watched > 0) {
            const long avg = sum / watched;
            int32_t expected = S;
            if (avg > 40 && S < 295)
                s.Sensitivity[c].compare_exchange_strong(expected, S + 5);
            else if (avg < 15 && S > 25)
                s.Sensitivity[c].compare_exchange_strong(expected, S - 5);
        }
        motion = true;
        s.Confirm[c] = 1;
    } else {
        motion = refresh != 0;
        const bool recording = s.RecordCountdown.load() != 0;
        auto &lastScore = s.LastScore[c];
        for (int k = 0; k < kCells; ++k) {
            if (!mask[k])
                continue;
            if (over[k]) {
                ++hitCount;
                s.HitMap[c][k].store(1, std::memory_order_relaxed);
                if (std::abs(lastScore[k] - scores.BlobScore[k]) < 10) {
                    motion = true;
                    s.Confirm[c] = 1;
                } else {
                    lastScore[k] = scores.BlobScore[k];
                }
            } else if (!recording) {
                s.HitMap[c][k].store(0, std::memory_order_relaxed);
            }
        }
        // Motion Distance: only camera 1's setting, applied to camera 1.
        if (c == 1 && s.MotionDistanceEnabled[1].load() && hitCount > 0) {
            if (CountNeighbourPairs(over) > s.MotionDistance[1].load()) {
                hitCount = 1;
            } else {
                hitCount = 0;
                s.ClearHitMap(1);
            }
        }
    }

    // Reference update: the frame replaces it once the caller keeps it.
    bool replaceReference = false;
    if (motion) {
        if (hitCount == 0 || s.Confirm[c].load()) {
            replaceReference = true;
            s.Confirm[c] = 0;
        } else {
            s.Confirm[c] = 1;
        }
        s.RefreshRequest.Served(refresh);
    }

    // Trigger.
    if (hitCount > 0 && s.SuppressCount.load() == 0 && s.Armed.IsArmed()) {
        const int dialog = s.DialogCamera.load();
        if ((dialog == 0 && s.RecordOnMotion[c].load()) || dialog == c) {
            const int64_t ticks = int64_t(s.RecordSeconds[c].load()) * 1000 / 15;
            s.RecordCountdown = static_cast<int32_t>(
                std::clamp<int64_t>(ticks, 0, std::numeric_limits<int32_t>::max()));
        }
        if (dialog == 0 && s.SnapOnMotion[c].load()) {
            s.SnapshotRequest.RequestIfIdle(c);
            s.HoldTicks = 67;
        }
        if (s.SoundOnMotion[c].load() || dialog == c)
            s.Post(WM_PLAY_SNAP);
        s.Armed.Disarm();
    } else {
        DoneRule();
        if (hitCount > 0)
            s.Armed.Disarm();
    }

    if (s.CameraCount.load() == 1)
        s.FrameDone.Mark();
    return replaceReference;
}

void CMotionGrabber::DoneRule()
{
    if (m_state.SwitchType.load() == 1) {
        if (++CrossbarFrameCount > 1) {
            m_state.FrameDone.Mark();
            CrossbarFrameCount = 0;
        }
    } else {
        m_state.FrameDone.Mark();
    }
}

} // namespace vorlund
