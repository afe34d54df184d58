#include "EngineState.h"

#include <gtest/gtest.h>

#include <random>
#include <utility>

using namespace vorlund;

TEST(EngineState, FirstValues)
{
    EngineState s;
    EXPECT_EQ(s.CurrentCamera, 1);
    EXPECT_EQ(s.CameraCount, 1);
    EXPECT_EQ(s.CycleCount, 1);
    EXPECT_TRUE(s.FrameDone.IsMarked());
    EXPECT_EQ(s.PriorityNext, 1);
    EXPECT_EQ(s.SlowPeriod, 12000);
    EXPECT_EQ(s.CalibratedZone, 5);
    EXPECT_EQ(s.Sensitivity[1], 25);
    EXPECT_EQ(s.MotionDistance[4], 12);
    std::vector<uint8_t> out;
    EXPECT_EQ(s.CopyLiveFrameOut(4, out, kFrameBufferSize), kFrameBufferSize);
    EXPECT_EQ(out[kFrameBufferSize - 1], 0);
}

TEST(EngineState, StartPrimesAndStopRestores)
{
    EngineState s;
    s.CameraCount = 3;
    s.SavedMotionEnabled[2] = 1;
    s.MotionEnabled[2] = 0; // cleared by a pan/tilt move
    s.RecordCountdown = 50;
    s.ReviewMode = 1;
    s.SelectedCamera = 2;
    s.CurrentCamera = 3;
    s.PrimeForStart();
    EXPECT_EQ(s.MotionEnabled[2], 1);
    EXPECT_EQ(s.VisitCount[4], 10);
    EXPECT_EQ(s.Confirm[3], 1);
    EXPECT_EQ(s.SuppressCount, 10);
    EXPECT_EQ(s.SlowCounter, 12001);
    EXPECT_EQ(s.RecordCountdown, 0);
    EXPECT_EQ(s.ReviewMode, 0);
    EXPECT_EQ(s.CycleCount, 3);
    EXPECT_EQ(s.SelectedCamera, 0);
    EXPECT_EQ(s.CurrentCamera, 1);

    // A selected camera changed the settle time; stopping puts the old one back.
    s.SavedSettleTime = 200;
    s.SettleTime = 90;
    s.GateOpen = 1;
    s.HitMap[2][5] = 1;
    s.ResetOnStop();
    EXPECT_EQ(s.SettleTime, 200u);
    EXPECT_EQ(s.SavedSettleTime, 0u);
    EXPECT_EQ(s.GateOpen, 0);
    EXPECT_EQ(s.FreshFrame[4], 1);
    EXPECT_EQ(s.HitMap[2][5], 0);
    s.SettleTime = 300;
    s.ResetOnStop(); // nothing saved: nothing restored
    EXPECT_EQ(s.SettleTime, 300u);
}

// The detector keeps each frame once, as live frame, reference or both; whatever a camera's
// live frame and reference hold must stay as last kept, however the slots are shared and passed
// round, and whatever other writers do to one of two sharers.
TEST(EngineState, KeptFramesStayAsKeptWhileSlotsAreShared)
{
    EngineState s;
    std::mt19937 rng(5);
    // What each camera should hold: the first byte of its live frame and of its reference.
    PerCamera<int> live {}, reference {};
    auto first = [&](int camera) {
        std::vector<uint8_t> out;
        s.CopyLiveFrameOut(camera, out, 2);
        return int(out[0]);
    };
    auto fill = [](uint8_t *buffer, int value) {
        buffer[0] = uint8_t(value);
        buffer[kFrameBufferSize - 1] = uint8_t(value);
    };
    // A reader's loan of a live frame: what its slot must hold until it is given back.
    LiveFrameLoan loan;
    int loaned = 0;
    enum Step { Detector, ReaderWrites, ClearLive, ReferenceWrite, BorrowOrReturn };
    int value = 1;
    for (int round = 0; round < 4000; ++round, value = value % 250 + 1) {
        const int camera = int(rng() % kMaxCameras) + 1;
        const Step step = Step(rng() % 8 < 5 ? 0 : rng() % 5);
        switch (step) {
        case Detector: {
            const bool asLive = rng() % 2, asReference = rng() % 2;
            fill(s.FrameInProgress(), value);
            s.KeepFrameInProgress(camera, asLive, asReference);
            if (asLive)
                live[camera] = value;
            if (asReference)
                reference[camera] = value;
            break;
        }
        case ReaderWrites: {
            const std::vector<uint8_t> frame(64, uint8_t(value));
            s.WriteLiveFrame(camera, frame.data(), frame.size());
            live[camera] = value;
            break;
        }
        case ClearLive:
            s.ClearLiveFrame(camera);
            live[camera] = 0;
            break;
        case ReferenceWrite:
            fill(s.ReferenceFrame(camera), value);
            reference[camera] = value;
            break;
        case BorrowOrReturn:
            if (loan.Data()) {
                loan.Return();
                break;
            }
            loan = s.BorrowLiveFrame(camera, kFrameBufferSize);
            ASSERT_NE(loan.Data(), nullptr);
            EXPECT_EQ(loan.Size(), kFrameBufferSize);
            EXPECT_EQ(loan.Serial(), s.LiveFrameSerial[camera].load());
            EXPECT_EQ(s.BorrowLiveFrame(camera, 1).Data(), nullptr) << "one loan at a time";
            loaned = live[camera];
            break;
        }
        if (loan.Data()) {
            ASSERT_EQ(loan.Data()[0], loaned) << "round " << round;
        }
        for (int c = 1; c <= kMaxCameras; ++c) {
            ASSERT_EQ(first(c), live[c]) << "round " << round << " camera " << c;
            ASSERT_EQ(std::as_const(s).ReferenceFrame(c)[0], reference[c])
                << "round " << round << " camera " << c;
        }
    }
    // A partial write keeps the rest of a live frame that was shared with the reference.
    fill(s.FrameInProgress(), 77);
    s.KeepFrameInProgress(2, true, true);
    const std::vector<uint8_t> head(10, 3);
    s.WriteLiveFrame(2, head.data(), head.size());
    std::vector<uint8_t> out;
    s.CopyLiveFrameOut(2, out, kFrameBufferSize);
    EXPECT_EQ(out[0], 3);
    EXPECT_EQ(out.back(), 77);
    EXPECT_EQ(std::as_const(s).ReferenceFrame(2)[0], 77);
}

TEST(EngineState, BufferCopiesAreBounded)
{
    EngineState s;
    std::vector<uint8_t> big(kFrameBufferSize + 100, 9);
    EXPECT_EQ(s.WriteLiveFrame(2, big.data(), big.size()), kFrameBufferSize);
    EXPECT_EQ(s.WriteLiveFrame(0, big.data(), 10), 0u);
    EXPECT_EQ(s.WriteLiveFrame(5, big.data(), 10), 0u);
    std::vector<uint8_t> out;
    EXPECT_EQ(s.CopyLiveFrameOut(2, out, kFrameBufferSize * 2), kFrameBufferSize);
    EXPECT_EQ(out.back(), 9);
    EXPECT_EQ(s.CopyLiveFrameOut(7, out, 10), 0u);
    EXPECT_TRUE(out.empty());
    s.ClearLiveFrame(2);
    s.CopyLiveFrameOut(2, out, 16);
    EXPECT_EQ(out, std::vector<uint8_t>(16, 0));

    EXPECT_EQ(s.WriteStillFrame(big.data(), 300, 2.25), 300u);
    double t = 0;
    s.CopyStillFrameOut(out, 300, &t);
    EXPECT_EQ(t, 2.25);
    EXPECT_EQ(out, std::vector<uint8_t>(300, 9));
}

TEST(EngineState, CountDownNeverGoesBelowZero)
{
    std::atomic<int32_t> v { 2 };
    EXPECT_EQ(EngineState::DecrementIfPositive(v), 1);
    EXPECT_EQ(EngineState::DecrementIfPositive(v), 0);
    EXPECT_EQ(EngineState::DecrementIfPositive(v), 0);
    EXPECT_EQ(v, 0);
    std::atomic<uint8_t> b { 1 };
    EXPECT_EQ(EngineState::DecrementIfPositive(b), 0);
    EXPECT_EQ(EngineState::DecrementIfPositive(b), 0);
    EXPECT_EQ(b, 0);
}

TEST(EngineState, ZoneMasksAndHitMapsAreBoundsChecked)
{
    EngineState s;
    ZoneMaskBytes m {};
    m[63] = 1;
    s.SetZoneMask(4, 4, m);
    s.SetZoneMask(5, 1, m); // ignored
    EXPECT_EQ(s.GetZoneMask(4, 4), m);
    EXPECT_EQ(s.GetZoneMask(0, 1), ZoneMaskBytes {});
    EXPECT_EQ(EngineState::MaskZone(0), 4);
    EXPECT_EQ(EngineState::MaskZone(3), 3);
    EXPECT_EQ(EngineState::MaskZone(9), 4);
}
