#include "EngineState.h"

#include <gtest/gtest.h>

using namespace vorlund;

TEST(EngineState, FirstValues)
{
    EngineState s;
    EXPECT_EQ(s.CurrentCamera, 1);
    EXPECT_EQ(s.CameraCount, 1);
    EXPECT_EQ(s.CycleCount, 1);
    EXPECT_EQ(s.FrameDone, 1);
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
