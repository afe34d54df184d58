// The detector on one thread and the UI-side writers on another, as in a running server.
// Run under ThreadSanitizer too; the checks here catch torn frames and lost updates.
#include "CellScoring.h"
#include "FrameTestUtil.h"
#include "MotionGrabber.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <random>
#include <thread>

using namespace vorlund;
using vorlund::test::CountingSink;
using vorlund::test::Frame;

namespace {

bool Uniform(const std::vector<uint8_t> &bytes)
{
    for (uint8_t b : bytes)
        if (b != bytes.front())
            return false;
    return true;
}

TEST(EngineStress, DetectorAndTickSideWritersShareTheState)
{
    EngineState state;
    CountingSink sink;
    state.ViewWindow = &sink;
    CMotionGrabber grabber(state);
    const int w = 160, h = 120;
    grabber.SetFormat(w, h, 0);
    state.CameraCount = 2;
    ZoneMaskBytes all;
    all.fill(1);
    for (int c = 1; c <= 2; ++c) {
        state.MotionEnabled[c] = 1;
        state.RecordOnMotion[c] = 1;
        state.RecordSeconds[c] = 1;
        state.SnapOnMotion[c] = 1;
        state.SoundOnMotion[c] = 1;
        for (int z = 1; z <= 4; ++z)
            state.SetZoneMask(c, z, all);
    }

    // Uniform frames of alternating brightness: every other frame is motion everywhere, and a
    // copy that mixes two frames shows up as a non-uniform buffer.
    std::vector<Frame> frames;
    for (int i = 0; i < 8; ++i)
        frames.emplace_back(w, h, static_cast<uint8_t>(i % 2 ? 20 * i : 200));

    // Both sides keep going until each has done its share, however the threads are scheduled.
    const int iterations = 4000;
    const uint32_t minRounds = 2000;
    std::atomic<uint32_t> uiRounds { 0 };
    std::atomic<bool> done { false };
    state.Armed.Arm();
    std::thread streaming([&] {
        for (int i = 0; i < iterations || uiRounds < minRounds; ++i) {
            const Frame &f = frames[i % frames.size()];
            grabber.BufferCB(i * 0.04, f.bytes.data(), long(f.bytes.size()));
        }
        done = true;
    });

    int tornLive = 0, tornStill = 0, snapshots = 0;
    std::vector<uint8_t> copy;
    uint32_t round = 0;
    while (!done) {
        ++round;
        uiRounds = round;
        // Main tick: count down, switch cameras, re-arm.
        EngineState::DecrementIfPositive(state.RecordCountdown);
        EngineState::DecrementIfPositive(state.HoldTicks);
        EngineState::DecrementIfPositive(state.SuppressCount);
        if (round % 7 == 0) {
            state.SwitchBusy = 1;
            state.CurrentCamera = state.CurrentCamera == 1 ? 2 : 1;
            state.Armed.Arm();
            if (round % 21 == 0)
                state.RefreshRequest.Request();
            state.SwitchBusy = 0;
        }
        if (round % 50 == 0)
            state.SuppressCount = 3;
        state.CalibrationMode = round % 97 < 10;
        state.Sensitivity[1] = 25 + int(round % 5) * 5;
        state.SetZoneMask(2, 4, all);
        if (round % 11 == 0)
            state.ClearHitMaps();

        // Painting copies the live frame out; remote serving reads it in its slot, which keeps
        // that frame, whole, while the detector goes on with others.
        if (round % 2) {
            state.CopyLiveFrameOut(1, copy, size_t(w) * h * 3);
            tornLive += !Uniform(copy);
        } else {
            const LiveFrameLoan loan = state.BorrowLiveFrame(1, size_t(w) * h * 3);
            copy.assign(loan.Data(), loan.Data() + loan.Size());
            std::this_thread::yield();
            tornLive += !Uniform(copy) || !std::equal(copy.begin(), copy.end(), loan.Data());
        }
        state.LiveFramePending.Sent();

        // Snapshot saving: clear the request, then read the still.
        if (const int32_t req = state.SnapshotRequest.Camera(); req != 0 && sink.grabbed > 0) {
            state.SnapshotRequest.Withdraw(req);
            state.CopyStillFrameOut(copy, size_t(w) * h * 3, nullptr);
            tornStill += !Uniform(copy);
            ++snapshots;
        }
        if (round % 40 == 0)
            state.SnapshotRequest.RequestIfIdle(state.CurrentCamera);
        std::this_thread::yield();
    }
    streaming.join();

    EXPECT_EQ(tornLive, 0);
    EXPECT_EQ(tornStill, 0);
    EXPECT_GE(state.RecordCountdown, 0);
    EXPECT_GE(state.Sensitivity[1], 25);
    EXPECT_LE(state.Sensitivity[1], 295);
    EXPECT_GT(sink.playSnap + snapshots, 0) << "motion was seen at all";
}

TEST(EngineStress, SnapshotRequestIsNeverLostBetweenThreads)
{
    // Two requesters race on the request: exactly one wins each time, the other sees it taken.
    EngineState state;
    for (int round = 0; round < 20000; ++round) {
        std::atomic<int> wins { 0 };
        std::thread a([&] { wins += state.SnapshotRequest.RequestIfIdle(1); });
        std::thread b([&] { wins += state.SnapshotRequest.RequestIfIdle(2); });
        a.join();
        b.join();
        ASSERT_EQ(wins, 1);
        const int32_t seen = state.SnapshotRequest.Camera();
        ASSERT_TRUE(seen == 1 || seen == 2);
        ASSERT_TRUE(state.SnapshotRequest.Withdraw(seen));
        if (round > 200)
            break; // thread start-up dominates; a few hundred rounds are enough
    }
}

} // namespace

// Scoring threads take the automatic kernel on their first frame while another thread chooses
// kernels explicitly: each frame is scored whole by one kernel, and all kernels agree.
TEST(EngineStress, KernelChoiceIsSafeWhileFramesAreScored)
{
    const int w = 160, h = 120;
    Frame ref(w, h), cur(w, h);
    std::mt19937 rng(7);
    std::uniform_int_distribution<int> byte(0, 255);
    for (auto &b : ref.bytes)
        b = static_cast<uint8_t>(byte(rng));
    for (auto &b : cur.bytes)
        b = static_cast<uint8_t>(byte(rng));
    const auto plain = vorlund::test::ScoreCellsPlain(cur.bytes.data(), ref.bytes.data(), w, h, 40);

    std::atomic<int> wrong { 0 };
    std::atomic<bool> stop { false };
    std::vector<std::thread> scorers;
    for (int t = 0; t < 3; ++t)
        scorers.emplace_back([&] {
            for (int i = 0; i < 200 || !stop; ++i) {
                CellScores scores;
                ScoreCells(cur.bytes.data(), std::ptrdiff_t(w) * 3, ref.bytes.data(), w, h, 40,
                           scores, nullptr);
                for (int k = 0; k < 64; ++k)
                    if (scores.BlobScore[k] != plain.BlobScore[k]
                        || scores.changed[k] != plain.changed[k])
                        ++wrong;
            }
        });
    const KernelChoice choices[]
        = { KernelChoice::Portable, KernelChoice::Ssse3, KernelChoice::Avx2, KernelChoice::Auto };
    for (int i = 0; i < 400; ++i) {
        const KernelChoice choice = choices[i % 4];
        if (SelectRowMaskKernel(choice) && choice != KernelChoice::Auto) {
            EXPECT_EQ(ActiveRowMaskKernel(), choice);
        }
    }
    stop = true;
    for (auto &t : scorers)
        t.join();
    SelectRowMaskKernel(KernelChoice::Auto);
    EXPECT_EQ(wrong, 0);
}
