#include "CellScoring.h"
#include "FrameTestUtil.h"

#include <gtest/gtest.h>

#include <random>

using namespace vorlund;
using vorlund::test::Frame;
using vorlund::test::ScoreCellsPlain;

namespace {

// Fills `cur` from `ref` with one of several kinds of change, chosen to hit the fast paths
// (quiet stretches, long runs) and their edges (values near the threshold, cell borders).
void MakeScene(std::mt19937 &rng, const Frame &ref, Frame &cur, int threshold)
{
    cur = ref;
    std::uniform_int_distribution<int> kind(0, 4);
    std::uniform_int_distribution<int> byte(0, 255);
    const int w = ref.width, h = ref.height;
    switch (kind(rng)) {
    case 0: // sparse salt
    case 1: { // dense salt
        const double p = kind(rng) < 2 ? 0.02 : 0.5;
        std::bernoulli_distribution flip(p);
        for (auto &b : cur.bytes)
            if (flip(rng))
                b = static_cast<uint8_t>(byte(rng));
        break;
    }
    case 2: { // blocks
        std::uniform_int_distribution<int> n(1, 6);
        for (int i = n(rng); i > 0; --i) {
            const int bw = std::uniform_int_distribution<int>(1, w)(rng);
            const int bh = std::uniform_int_distribution<int>(1, h)(rng);
            const int x0 = std::uniform_int_distribution<int>(0, w - bw)(rng);
            const int y0 = std::uniform_int_distribution<int>(0, h - bh)(rng);
            cur.Shift(x0, y0, bw, bh, std::uniform_int_distribution<int>(-200, 200)(rng));
        }
        break;
    }
    case 3: { // every byte within two of the threshold
        std::uniform_int_distribution<int> d(threshold - 2, threshold + 2);
        std::bernoulli_distribution sign(0.5);
        for (size_t i = 0; i < cur.bytes.size(); ++i) {
            const int delta = sign(rng) ? d(rng) : -d(rng);
            cur.bytes[i] = static_cast<uint8_t>(std::clamp(ref.bytes[i] + delta, 0, 255));
        }
        break;
    }
    default: { // stripes of whole rows and columns
        std::bernoulli_distribution on(0.3);
        for (int y = 0; y < h; ++y)
            if (on(rng))
                cur.Shift(0, y, w, 1, 120);
        for (int x = 0; x < w; ++x)
            if (on(rng))
                cur.Shift(x, 0, 1, h, -120);
        break;
    }
    }
}

class ScoringEquivalence : public ::testing::TestWithParam<KernelChoice>
{
protected:
    void SetUp() override
    {
        if (!SelectRowMaskKernel(GetParam()))
            GTEST_SKIP() << "kernel not available on this processor";
    }
    void TearDown() override { SelectRowMaskKernel(KernelChoice::Auto); }
};

TEST_P(ScoringEquivalence, MatchesThePlainPassOnRandomFrames)
{
    std::mt19937 rng(12345);
    const std::pair<int, int> fixed[]
        = { { 8, 8 },   { 9, 17 },  { 31, 8 },    { 32, 9 },    { 33, 16 },   { 63, 63 },
            { 64, 64 }, { 65, 80 }, { 644, 483 }, { 720, 576 }, { 352, 288 }, { 160, 120 } };
    std::vector<std::pair<int, int>> sizes(std::begin(fixed), std::end(fixed));
    std::uniform_int_distribution<int> dim(8, 300);
    for (int i = 0; i < 24; ++i)
        sizes.emplace_back(dim(rng), dim(rng));

    const int thresholds[] = { 20, 35, 40, 60, 80 };
    int frames = 0;
    for (auto [w, h] : sizes) {
        Frame ref(w, h);
        std::uniform_int_distribution<int> byte(0, 255);
        for (auto &b : ref.bytes)
            b = static_cast<uint8_t>(byte(rng));
        Frame cur(w, h);
        for (int t : thresholds) {
            for (int rep = 0; rep < (w * h > 100000 ? 2 : 5); ++rep) {
                MakeScene(rng, ref, cur, t);
                CellScores fast;
                ScoreCells(cur.bytes.data(), ref.bytes.data(), w, h, static_cast<uint8_t>(t), fast);
                const auto plain = ScoreCellsPlain(cur.bytes.data(), ref.bytes.data(), w, h, t);
                for (int k = 0; k < 64; ++k) {
                    ASSERT_EQ(fast.BlobScore[k], plain.BlobScore[k])
                        << w << "x" << h << " T=" << t << " cell " << k;
                    ASSERT_EQ(fast.changed[k], plain.changed[k])
                        << w << "x" << h << " T=" << t << " cell " << k;
                }
                ++frames;
            }
        }
    }
    EXPECT_GT(frames, 500);
}

INSTANTIATE_TEST_SUITE_P(Kernels, ScoringEquivalence,
                         ::testing::Values(KernelChoice::Portable, KernelChoice::Avx2),
                         [](const auto &info) {
                             return info.param == KernelChoice::Avx2 ? "Avx2" : "Portable";
                         });

} // namespace
