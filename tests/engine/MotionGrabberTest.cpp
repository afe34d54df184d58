#include "MotionGrabber.h"
#include "FrameTestUtil.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace vorlund;
using vorlund::test::CountingSink;
using vorlund::test::Frame;

namespace {

CellScores Score(const Frame &cur, const Frame &ref, int sensitivity)
{
    CellScores scores;
    ScoreCells(cur.bytes.data(), ref.bytes.data(), cur.width, cur.height,
               static_cast<uint8_t>(PixelThreshold(sensitivity)), scores);
    return scores;
}

TEST(CellScoring, BlockOfTwentyByTenScoresOneEighty)
{
    Frame ref(720, 576, 100);
    Frame cur = ref;
    cur.Shift(10, 100, 20, 10, 100); // x 10-29, y 100-109: column 0, band 1
    const CellScores s = Score(cur, ref, 25);
    EXPECT_EQ(s.BlobScore[8], 180);
    EXPECT_EQ(s.changed[8], 200);
    for (int k = 0; k < 64; ++k) {
        if (k != 8) {
            EXPECT_EQ(s.BlobScore[k], 0) << k;
            EXPECT_EQ(s.changed[k], 0) << k;
        }
    }
}

TEST(CellScoring, ChangeMustExceedThresholdInAllThreeChannels)
{
    Frame ref(64, 64, 100);
    Frame exact = ref;
    exact.Shift(0, 0, 8, 8, 60); // exactly T at sensitivity 25
    EXPECT_EQ(Score(exact, ref, 25).changed[0], 0);

    Frame above = ref;
    above.Shift(0, 0, 8, 8, 61);
    EXPECT_EQ(Score(above, ref, 25).changed[0], 64);

    Frame twoChannels = ref;
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x)
            twoChannels.Set(x, y, 200, 200, 100); // red unchanged
    EXPECT_EQ(Score(twoChannels, ref, 25).changed[0], 0);

    Frame darker = ref;
    darker.Shift(0, 0, 8, 8, -61); // the difference counts both ways
    EXPECT_EQ(Score(darker, ref, 25).changed[0], 64);
}

TEST(CellScoring, ThresholdTable)
{
    EXPECT_EQ(PixelThreshold(295), 80);
    EXPECT_EQ(PixelThreshold(30), 80);
    EXPECT_EQ(PixelThreshold(29), 60);
    EXPECT_EQ(PixelThreshold(25), 60);
    EXPECT_EQ(PixelThreshold(24), 40);
    EXPECT_EQ(PixelThreshold(20), 40);
    EXPECT_EQ(PixelThreshold(19), 35);
    EXPECT_EQ(PixelThreshold(15), 35);
    EXPECT_EQ(PixelThreshold(14), 20);
    EXPECT_EQ(PixelThreshold(0), 20);
}

TEST(CellScoring, OddSizeLastColumnTakesLeftoverAndTopRowsAreIgnored)
{
    Frame ref(644, 483, 0);
    Frame cur = ref;
    cur.Shift(640, 0, 4, 1, 200); // x 640-643 lie in column 7 (560-643)
    cur.Shift(0, 480, 644, 3, 200); // rows 480-482 are never examined
    const CellScores s = Score(cur, ref, 25);
    EXPECT_EQ(s.changed[7], 4);
    int total = 0;
    for (int k = 0; k < 64; ++k)
        total += s.changed[k];
    EXPECT_EQ(total, 4);

    Frame edge = ref;
    edge.Shift(79, 0, 2, 1, 200); // x 79 in column 0, x 80 in column 1
    const CellScores e = Score(edge, ref, 25);
    EXPECT_EQ(e.changed[0], 1);
    EXPECT_EQ(e.changed[1], 1);
}

TEST(CellScoring, RunsCarryAcrossRowsAndOpenRunsAreNotScored)
{
    // A whole cell changed: its one run never closes inside the cell's pixels of a row... it
    // closes at no pixel at all, so the cell scores 0.
    Frame ref(64, 64, 0);
    Frame full = ref;
    full.Shift(0, 0, 64, 64, 200);
    const CellScores f = Score(full, ref, 25);
    EXPECT_EQ(f.changed[0], 64);
    EXPECT_EQ(f.BlobScore[0], 0);

    // Right half of a cell changed on consecutive rows: the run of row y ends at the cell edge
    // and is closed by the first (unchanged) pixel of the next row, still with runRow = y.
    Frame half = ref;
    half.Shift(4, 0, 4, 3, 200);
    const CellScores h = Score(half, ref, 25);
    // Row 0's run (4) closes at row 1 x 0: longest 4 at row 0. Row 1's run closes at row 2:
    // 4 >= 4 and row 1 = 0 + 1, score 4. Row 2's run closes at row 3: score 8.
    EXPECT_EQ(h.BlobScore[0], 8);
}

class DetectorTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        state.ViewWindow = &sink;
        Configure(720, 576);
        ZoneMaskBytes all;
        all.fill(1);
        for (int c = 1; c <= 4; ++c) {
            for (int z = 1; z <= 4; ++z)
                state.SetZoneMask(c, z, all);
            state.MotionEnabled[c] = 1;
            state.RecordOnMotion[c] = 1;
            state.RecordSeconds[c] = 12;
            state.SnapOnMotion[c] = 1;
            state.SoundOnMotion[c] = 1;
            state.Confirm[c] = 0;
        }
        state.Armed.Arm();
        state.SuppressCount = 0;
        state.FrameDone.Restart();
    }

    void Configure(int w, int h)
    {
        grabber.SetFormat(w, h, 0);
        base = Frame(w, h, 100);
        for (int c = 1; c <= 4; ++c)
            SetReference(c, base);
    }

    void SetReference(int camera, const Frame &f)
    {
        std::memcpy(state.ReferenceFrame(camera), f.bytes.data(), f.bytes.size());
    }
    bool ReferenceIs(int camera, const Frame &f)
    {
        return std::memcmp(state.ReferenceFrame(camera), f.bytes.data(), f.bytes.size()) == 0;
    }
    void Feed(const Frame &f) { grabber.BufferCB(1.5, f.bytes.data(), long(f.bytes.size())); }

    // A frame whose cells 0..n-1 (band 0) each score 180.
    Frame Motion(std::initializer_list<int> cells)
    {
        Frame f = base;
        const int cw = f.width / 8, ch = f.height / 8;
        for (int k : cells)
            f.Shift((k % 8) * cw + 10, (k / 8) * ch + 10, 20, 10, 100);
        return f;
    }

    EngineState state;
    CountingSink sink;
    CMotionGrabber grabber { state };
    Frame base { 720, 576, 100 };
};

TEST_F(DetectorTest, MotionFiresOncePerVisit)
{
    state.CameraCount = 2;
    Feed(Motion({ 8 }));
    EXPECT_EQ(state.RecordCountdown, 12 * 1000 / 15);
    EXPECT_EQ(state.RecordCountdown, 800);
    EXPECT_EQ(state.SnapshotRequest.Camera(), 1);
    EXPECT_EQ(state.HoldTicks, 67);
    EXPECT_EQ(sink.playSnap, 1);
    EXPECT_FALSE(state.Armed.IsArmed());
    EXPECT_EQ(state.HitMap[1][8], 1);
    EXPECT_FALSE(state.FrameDone.IsMarked()) << "the frame that fires does not end the visit";

    // Pending still: the next frame is handed over, not examined.
    Feed(Motion({ 8 }));
    EXPECT_EQ(sink.grabbed, 1);
    std::vector<uint8_t> still;
    double t = 0;
    state.CopyStillFrameOut(still, state.FrameLength, &t);
    EXPECT_EQ(t, 1.5);
    EXPECT_EQ(state.SnapshotRequest.Camera(), 1) << "the snapshot saver clears it";

    state.SnapshotRequest.Cancel();
    state.RecordCountdown = 0;
    Feed(Motion({ 8 }));
    EXPECT_EQ(state.RecordCountdown, 0) << "not armed: no second trigger in one visit";
    EXPECT_TRUE(state.FrameDone.IsMarked());
}

TEST_F(DetectorTest, OneSecondGivesSixtySixTicksAndOneCameraEndsTheVisit)
{
    state.RecordSeconds[1] = 1;
    Feed(Motion({ 0 }));
    EXPECT_EQ(state.RecordCountdown, 66);
    EXPECT_TRUE(state.FrameDone.IsMarked())
        << "with one camera even the firing frame ends the visit";
}

TEST_F(DetectorTest, ScoreEqualToSensitivityIsNotAHit)
{
    Frame f = base;
    f.Shift(10, 10, 5, 6, 100); // rows 11..15 add 5 each: score 25
    Feed(f);
    EXPECT_EQ(state.RecordCountdown, 0);
    EXPECT_EQ(state.HitMap[1][0], 0);

    Frame g = base;
    g.Shift(10, 10, 5, 7, 100); // score 30
    Feed(g);
    EXPECT_EQ(state.HitMap[1][0], 1);
    EXPECT_GT(state.RecordCountdown, 0);
}

TEST_F(DetectorTest, SettledScoreWithinNineReplacesTheReference)
{
    state.SnapOnMotion[1] = 0;
    const Frame f = Motion({ 8 });
    state.LastScore[1][8] = 171; // 9 away from 180
    Feed(f);
    EXPECT_EQ(state.LastScore[1][8], 171) << "a settled cell keeps its last score";
    EXPECT_TRUE(ReferenceIs(1, f)) << "Confirm was set by the settled cell";
    EXPECT_EQ(state.Confirm[1], 0);

    SetReference(1, base);
    state.LastScore[1][8] = 170; // 10 away
    state.Armed.Arm();
    Feed(f);
    EXPECT_EQ(state.LastScore[1][8], 180);
    EXPECT_TRUE(ReferenceIs(1, base)) << "no motion flag, no reference change";
}

TEST_F(DetectorTest, HitWithoutConfirmKeepsTheReferenceOnce)
{
    state.SnapOnMotion[1] = 0;
    const Frame f = Motion({ 8 });
    state.LastScore[1][8] = 180;
    state.Confirm[1] = 0;
    state.RefreshRequest.Request();
    // The settled cell sets Confirm, so the reference is replaced even with hits.
    Feed(f);
    EXPECT_TRUE(ReferenceIs(1, f));
    EXPECT_FALSE(state.RefreshRequest.IsPending());

    // A refresh with a hit that has not settled: the reference stays, Confirm arms the next.
    SetReference(1, base);
    state.LastScore[1][8] = 0;
    state.RefreshRequest.Request();
    Feed(f);
    EXPECT_TRUE(ReferenceIs(1, base));
    EXPECT_EQ(state.Confirm[1], 1);
    EXPECT_FALSE(state.RefreshRequest.IsPending());

    // A refresh of a quiet frame replaces the reference.
    Frame quiet = base;
    quiet.Shift(0, 0, 720, 576, 1);
    state.RefreshRequest.Request();
    Feed(quiet);
    EXPECT_TRUE(ReferenceIs(1, quiet));
}

TEST_F(DetectorTest, MaskedCellsAndZones)
{
    ZoneMaskBytes none {};
    ZoneMaskBytes only9 {};
    only9[9] = 1;
    state.SetZoneMask(1, 4, none);
    state.SetZoneMask(1, 2, only9);

    state.CurrentZone = 0; // anything but 1..3 takes zone 4's mask
    Feed(Motion({ 8, 9 }));
    EXPECT_EQ(state.RecordCountdown, 0);

    state.CurrentZone = 2;
    Feed(Motion({ 8, 9 }));
    EXPECT_EQ(state.HitMap[1][8], 0) << "unwatched cells are left as they are";
    EXPECT_EQ(state.HitMap[1][9], 1);
    EXPECT_GT(state.RecordCountdown, 0);
}

TEST_F(DetectorTest, HitMapKeepsCellsDuringARecording)
{
    state.SnapOnMotion[1] = 0;
    Feed(Motion({ 8 }));
    ASSERT_EQ(state.HitMap[1][8], 1);
    Feed(base); // quiet, but recording: the map keeps the hit
    EXPECT_EQ(state.HitMap[1][8], 1);
    state.RecordCountdown = 0;
    Feed(base);
    EXPECT_EQ(state.HitMap[1][8], 0);
}

TEST_F(DetectorTest, MotionDistanceCountsNeighbourPairsOfCameraOne)
{
    state.MotionDistanceEnabled[1] = 1;
    state.MotionDistance[1] = 12;
    state.SnapOnMotion[1] = 0;
    // Band 0 columns 0-7: 7 pairs; band 2 columns 0-5: 5 pairs. 12 pairs: no trigger.
    Feed(Motion({ 0, 1, 2, 3, 4, 5, 6, 7, 16, 17, 18, 19, 20, 21 }));
    EXPECT_EQ(state.RecordCountdown, 0);
    EXPECT_EQ(state.GetHitMap(1), ZoneMaskBytes {}) << "camera 1's hit map is cleared";
    EXPECT_TRUE(state.Armed.IsArmed());

    Feed(Motion({ 0, 1, 2, 3, 4, 5, 6, 7, 16, 17, 18, 19, 20, 21, 22 })); // 13 pairs
    EXPECT_EQ(state.RecordCountdown, 800);

    // Other cameras ignore Motion Distance, theirs and camera 1's.
    state.CurrentCamera = 2;
    state.CameraCount = 2;
    state.MotionDistanceEnabled[2] = 1;
    state.MotionDistance[2] = 50;
    state.Armed.Arm();
    state.RecordCountdown = 0;
    Feed(Motion({ 0 }));
    EXPECT_EQ(state.RecordCountdown, 800);
}

TEST(MotionDistance, PairKinds)
{
    std::array<bool, 64> over {};
    over[0] = over[1] = over[8] = over[9] = true; // 2x2: 2 vertical, 2 horizontal, 1 diagonal
    EXPECT_EQ(CountNeighbourPairs(over), 5);
    std::array<bool, 64> falling {};
    falling[1] = falling[8] = true; // (0,1)-(1,0) is not a counted diagonal
    EXPECT_EQ(CountNeighbourPairs(falling), 0);
    std::array<bool, 64> wrap {};
    wrap[7] = wrap[8] = true; // end of band 0 and start of band 1 are not neighbours
    EXPECT_EQ(CountNeighbourPairs(wrap), 0);
}

TEST_F(DetectorTest, CalibrationMovesSensitivityInStepsWithinBounds)
{
    state.CalibrationMode = 1;
    Frame busy = base;
    busy.Shift(0, 0, 720, 576, 100); // every pixel changed: average 6480 per cell
    state.Sensitivity[1] = 25;
    std::vector<int> seen;
    for (int i = 0; i < 100; ++i) {
        SetReference(1, base); // every calibrating frame becomes the reference
        Feed(busy);
        seen.push_back(state.Sensitivity[1]);
    }
    EXPECT_EQ(seen.front(), 30);
    EXPECT_EQ(seen.back(), 295);
    for (size_t i = 1; i < seen.size(); ++i)
        EXPECT_TRUE(seen[i] == seen[i - 1] + 5 || seen[i] == 295) << i;
    EXPECT_EQ(state.RecordCountdown, 0) << "calibration never triggers";
    EXPECT_EQ(state.GetHitMap(1), ZoneMaskBytes {});

    for (int i = 0; i < 100; ++i)
        Feed(base);
    EXPECT_EQ(state.Sensitivity[1], 25);

    state.Sensitivity[1] = 40;
    SetReference(1, base);
    Feed(busy);
    EXPECT_EQ(state.Sensitivity[1], 45);
    EXPECT_TRUE(ReferenceIs(1, busy));

    // A mask that watches nothing has no average: the sensitivity stays.
    ZoneMaskBytes none {};
    state.SetZoneMask(1, 4, none);
    SetReference(1, base);
    Feed(busy);
    EXPECT_EQ(state.Sensitivity[1], 45);
}

TEST_F(DetectorTest, CalibrationOfCamerasTwoAndThreeYieldsToRealMotion)
{
    state.CalibrationMode = 1;
    state.CameraCount = 2;
    state.SnapOnMotion[1] = state.SnapOnMotion[2] = 0;
    const Frame five = Motion({ 0, 1, 2, 3, 4 });

    state.CurrentCamera = 2;
    Feed(five);
    EXPECT_EQ(state.RecordCountdown, 800) << "camera 2 is tested normally with 5 cells over";

    state.CurrentCamera = 1;
    state.RecordCountdown = 0;
    state.Armed.Arm();
    Feed(five);
    EXPECT_EQ(state.RecordCountdown, 0) << "camera 1 only calibrates";

    state.CurrentCamera = 3;
    state.Armed.Arm();
    Feed(Motion({ 0, 1, 2, 3 }));
    EXPECT_EQ(state.RecordCountdown, 0) << "fewer than 5 cells: camera 3 calibrates";
}

TEST_F(DetectorTest, DialogCameraAndSuppression)
{
    state.CameraCount = 4;
    for (int c = 1; c <= 4; ++c) {
        state.RecordOnMotion[c] = 0;
        state.SoundOnMotion[c] = 0;
    }
    state.DialogCamera = 2;
    state.CurrentCamera = 2;
    Feed(Motion({ 8 }));
    EXPECT_EQ(state.RecordCountdown, 800) << "the dialog's camera records regardless";
    EXPECT_EQ(sink.playSnap, 1);
    EXPECT_EQ(state.SnapshotRequest.Camera(), 0) << "no snapshot while the dialog is open";

    state.RecordCountdown = 0;
    state.RecordOnMotion[3] = 1;
    state.CurrentCamera = 3;
    state.Armed.Arm();
    Feed(Motion({ 8 }));
    EXPECT_EQ(state.RecordCountdown, 0) << "other cameras start no countdown meanwhile";

    state.DialogCamera = 0;
    state.SuppressCount = 3;
    state.Armed.Arm();
    state.FrameDone.Restart();
    Feed(Motion({ 8 }));
    EXPECT_EQ(state.RecordCountdown, 0) << "suppressed hits only disarm";
    EXPECT_FALSE(state.Armed.IsArmed());
    EXPECT_TRUE(state.FrameDone.IsMarked());
}

TEST_F(DetectorTest, CrossbarVisitEndsOnTheSecondExaminedFrame)
{
    state.CameraCount = 2;
    state.SwitchType = 1;
    Feed(base);
    EXPECT_FALSE(state.FrameDone.IsMarked());
    Feed(base);
    EXPECT_TRUE(state.FrameDone.IsMarked());
    EXPECT_EQ(grabber.CrossbarFrameCount, 0);
}

TEST_F(DetectorTest, SnapshotRequestsForOtherCamerasAreDroppedAndNeverOverwritten)
{
    state.CameraCount = 4;
    state.CurrentCamera = 3;
    state.SnapshotRequest.Request(2, false);
    Feed(Motion({ 8 }));
    EXPECT_EQ(state.SnapshotRequest.Camera(), 0);
    EXPECT_EQ(sink.grabbed, 0);
    EXPECT_EQ(state.RecordCountdown, 0) << "the frame that drops the request is not examined";

    // A request made while motion is being scored is not replaced by motion's own.
    EXPECT_FALSE(state.SnapshotRequest.RequestIfIdle(3) && state.SnapshotRequest.RequestIfIdle(1));
    EXPECT_EQ(state.SnapshotRequest.Camera(), 3);
    EXPECT_FALSE(state.SnapshotRequest.Withdraw(1));
    EXPECT_EQ(state.SnapshotRequest.Camera(), 3);
}

TEST_F(DetectorTest, StillCarriesItsCameraAndKind)
{
    state.CameraCount = 4;
    std::vector<uint8_t> out;
    StillInfo info;

    // Served for camera 2, taken after the switch to camera 3: still camera 2, a motion picture.
    state.CurrentCamera = 2;
    ASSERT_TRUE(state.SnapshotRequest.RequestIfIdle(2));
    Feed(Motion({ 8 }));
    state.CurrentCamera = 3;
    ASSERT_TRUE(state.TakeStillFrame(out, info));
    EXPECT_EQ(info.Camera, 2);
    EXPECT_FALSE(info.TimeLapse);
    EXPECT_EQ(info.Width, 720);
    EXPECT_EQ(info.Height, 576);
    EXPECT_EQ(out.size(), base.bytes.size());
    EXPECT_EQ(state.SnapshotRequest.Camera(), 0);
    EXPECT_FALSE(state.TakeStillFrame(out, info)) << "a repeated message finds nothing";

    // A time-lapse still keeps its kind; taking it clears request and kind.
    state.CurrentCamera = 1;
    state.SnapshotRequest.Request(1, true);
    Feed(base);
    ASSERT_TRUE(state.TakeStillFrame(out, info));
    EXPECT_TRUE(info.TimeLapse);
    EXPECT_EQ(state.SnapshotRequest.Camera(), 0);
    EXPECT_FALSE(state.SnapshotRequest.IsTimeLapse());

    // A dropped time-lapse request never turns the next motion still into a time-lapse one.
    state.SnapshotRequest.Request(1, true);
    state.CurrentCamera = 2;
    Feed(base);
    EXPECT_EQ(state.SnapshotRequest.Camera(), 0);
    EXPECT_FALSE(state.SnapshotRequest.IsTimeLapse());
    ASSERT_TRUE(state.SnapshotRequest.RequestIfIdle(2));
    Feed(base);
    ASSERT_TRUE(state.TakeStillFrame(out, info));
    EXPECT_FALSE(info.TimeLapse);

    // A motion still taken after a time-lapse request replaced it leaves that request pending.
    state.CurrentCamera = 1;
    ASSERT_TRUE(state.SnapshotRequest.RequestIfIdle(1));
    Feed(base);
    state.SnapshotRequest.Request(1, true);
    ASSERT_TRUE(state.TakeStillFrame(out, info));
    EXPECT_FALSE(info.TimeLapse);
    EXPECT_EQ(state.SnapshotRequest.Camera(), 1);
    EXPECT_TRUE(state.SnapshotRequest.IsTimeLapse());

    // A request cleared before the frame arrives is not served.
    state.SnapshotRequest.Withdraw(1);
    const int grabbed = sink.grabbed;
    EXPECT_FALSE(state.ServeStillRequest(1, 720, 576, base.bytes.data(), base.bytes.size(), 0));
    EXPECT_EQ(sink.grabbed, grabbed);
    EXPECT_FALSE(state.TakeStillFrame(out, info));
}

// The graph hands frames over in place, top-down with padded rows; everything the detector keeps
// (live frame, still, reference) is the packed bottom-up picture, and it scores the same.
TEST_F(DetectorTest, FramesReadInPlaceTopDownAreKeptBottomUp)
{
    const Frame f = Motion({ 8 });
    const size_t row = size_t(f.width) * 3;
    const std::ptrdiff_t stride = std::ptrdiff_t(row) + 16;
    std::vector<uint8_t> topDown(size_t(stride) * size_t(f.height), 0xEE);
    for (int y = 0; y < f.height; ++y)
        std::memcpy(&topDown[size_t(f.height - 1 - y) * size_t(stride)], &f.bytes[size_t(y) * row],
                    row);
    const FrameRows rows { topDown.data() + (f.height - 1) * stride, -stride, row,
                           row * size_t(f.height) };

    state.SnapOnMotion[1] = 0;
    state.LastScore[1][8] = 171; // settled: the reference takes the frame
    grabber.OnFrame(1.5, rows);
    EXPECT_EQ(state.HitMap[1][8], 1);
    EXPECT_EQ(state.HitMap[1][9], 0);
    EXPECT_TRUE(ReferenceIs(1, f));
    std::vector<uint8_t> out;
    state.CopyLiveFrameOut(1, out, f.bytes.size());
    EXPECT_EQ(out, f.bytes);

    ASSERT_TRUE(state.SnapshotRequest.RequestIfIdle(1));
    grabber.OnFrame(2.0, rows);
    StillInfo info;
    ASSERT_TRUE(state.TakeStillFrame(out, info));
    EXPECT_EQ(out, f.bytes);
}

TEST_F(DetectorTest, SkippedFrames)
{
    state.SwitchBusy = 1;
    Feed(Motion({ 8 }));
    EXPECT_EQ(state.FreshFrame[1], 0);
    state.SwitchBusy = 0;

    state.OptimizePerformance = 1;
    state.RecordCountdown = 5;
    state.LiveFramePending.Raise();
    Feed(Motion({ 8 }));
    EXPECT_EQ(state.FreshFrame[1], 0) << "waits until remote serving took the live frame";
    state.OptimizePerformance = 0;
    state.RecordCountdown = 0;

    state.TvMode = 1;
    Feed(Motion({ 8 }));
    EXPECT_EQ(state.FreshFrame[1], 1) << "the live frame is kept in TV mode";
    EXPECT_EQ(state.RecordCountdown, 0);
    EXPECT_TRUE(state.FrameDone.IsMarked());

    state.TvMode = 0;
    state.ReviewMode = 1;
    state.FreshFrame[1] = 0;
    Feed(Motion({ 8 }));
    EXPECT_EQ(state.FreshFrame[1], 0) << "review mode keeps its picture";
    EXPECT_GT(state.RecordCountdown, 0);
}

TEST_F(DetectorTest, ShortAndOversizedBuffersAreNeverOverrun)
{
    Frame f = Motion({ 8 });
    grabber.BufferCB(0, f.bytes.data(), long(f.bytes.size() - 1));
    EXPECT_EQ(state.RecordCountdown, 0) << "a short frame is not scored";
    EXPECT_TRUE(state.FrameDone.IsMarked());
    EXPECT_EQ(state.FrameLength, long(f.bytes.size() - 1));

    std::vector<uint8_t> huge(kFrameBufferSize + 4096, 7);
    grabber.BufferCB(0, huge.data(), long(huge.size()));
    EXPECT_EQ(state.FrameLength, long(kFrameBufferSize));

    // Frames too small to cut into cells are kept but not scored.
    grabber.SetFormat(7, 64, 0);
    Frame tiny(7, 64, 255);
    grabber.BufferCB(0, tiny.bytes.data(), long(tiny.bytes.size()));
    EXPECT_EQ(state.RecordCountdown, 0);
}

} // namespace
