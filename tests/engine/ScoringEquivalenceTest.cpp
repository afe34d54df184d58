#include "CellScoring.h"
#include "FrameTestUtil.h"

#include <gtest/gtest.h>

#include <algorithm>
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

    const int thresholds[] = { 20, 35, 40, 60, 80, 127, 140 };
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
                // The kernels copy the examined rows on the way, tails included.
                CellScores fast;
                std::vector<uint8_t> keep(cur.bytes.size(), 0xA5);
                ScoreCells(cur.bytes.data(), std::ptrdiff_t(w) * 3, ref.bytes.data(), w, h,
                           static_cast<uint8_t>(t), fast, keep.data());
                const size_t examined = size_t(h / 8 * 8) * w * 3;
                ASSERT_TRUE(std::equal(keep.begin(), keep.begin() + examined, cur.bytes.begin()))
                    << w << "x" << h;
                ASSERT_TRUE(std::all_of(keep.begin() + examined, keep.end(),
                                        [](uint8_t b) { return b == 0xA5; }))
                    << w << "x" << h;
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

// A frame pair whose changed pixels are exactly `changed(x, y)`: the reference stays below 100
// and a changed pixel is 150 brighter in every byte, so every threshold sees the same mask.
template <class Changed>
void MakeMasked(std::mt19937 &rng, Frame &ref, Frame &cur, Changed &&changed)
{
    std::uniform_int_distribution<int> byte(0, 99);
    for (auto &b : ref.bytes)
        b = static_cast<uint8_t>(byte(rng));
    cur = ref;
    for (int y = 0; y < ref.height; ++y)
        for (int x = 0; x < ref.width; ++x)
            if (changed(x, y))
                cur.Shift(x, y, 1, 1, 150);
}

// Runs placed where the fast pass has edges to get right: word edges (multiples of 64), cell
// columns, and the end of a cell's row carried into the next row.
struct Structured
{
    const char *name;
    int width, height;
    int kind; // 0 salt, 1 run lengths about the longest, 2 runs across edges, 3 quiet rows
    double salt;
};

TEST_P(ScoringEquivalence, MatchesThePlainPassOnStructuredScenes)
{
    const Structured cases[] = {
        { "salt 5%", 720, 576, 0, 0.05 },
        { "salt 25%", 720, 576, 0, 0.25 },
        { "salt 50%", 720, 576, 0, 0.50 },
        { "salt 75%", 720, 576, 0, 0.75 },
        { "salt 95%", 720, 576, 0, 0.95 },
        { "salt 10%", 644, 483, 0, 0.10 },
        { "salt 50%", 320, 240, 0, 0.50 },
        { "salt 90%", 640, 480, 0, 0.90 },
        { "salt 60%", 130, 97, 0, 0.60 },
        { "equal runs", 720, 576, 1, 0 },
        { "equal runs", 644, 483, 1, 0 },
        { "equal runs", 200, 64, 1, 0 },
        { "edges", 720, 576, 2, 0 },
        { "edges", 644, 483, 2, 0 },
        { "edges", 512, 128, 2, 0 },
        { "edges", 130, 40, 2, 0 },
        // Bands too tall for the bits of one pass: runs carry from one pass to the next.
        { "salt 50%", 6000, 400, 0, 0.50 },
        { "edges", 6000, 400, 2, 0 },
        // Runs left open at the ends of cell rows, then quiet rows to the band's end: some pass
        // holds only quiet rows and closes the open runs on the row before it.
        { "quiet rows", 20000, 160, 3, 0.50 },
    };
    std::mt19937 rng(777);
    for (const Structured &c : cases) {
        const int w = c.width, h = c.height, cw = w / 8;
        Frame ref(w, h), cur(w, h);
        const int reps = c.kind == 3 ? h / 8 - 1 : 3;
        for (int rep = 0; rep < reps; ++rep) {
            std::vector<uint8_t> mask(size_t(w) * h);
            if (c.kind == 3) {
                // Salt, then the last rep + 1 rows of each band quiet. The two rows before them
                // end each cell's row changed, the last one longer: its run is left open and
                // reaches the longest, which the row before it set.
                const int ch = h / 8, last = ch - 2 - rep;
                std::bernoulli_distribution on(c.salt);
                for (int y = 0; y < h; ++y) {
                    const int row = y % ch;
                    if (row > last)
                        continue;
                    const int tail = row == last ? 80 : row == last - 1 ? 40 : 0;
                    for (int x = 0; x < w; ++x) {
                        const int column = std::min(x / cw, 7);
                        const int end = column < 7 ? (column + 1) * cw : w;
                        mask[size_t(y) * w + x] = on(rng) || x >= end - tail;
                    }
                }
            } else if (c.kind == 0) {
                std::bernoulli_distribution on(c.salt);
                for (auto &m : mask)
                    m = on(rng);
            } else if (c.kind == 1) {
                // Rows of runs drawn from three neighbouring lengths with one-pixel gaps, so runs
                // keep meeting the cell's longest exactly, on consecutive rows and not.
                std::uniform_int_distribution<int> base(1, 9), pick(-1, 1), gap(1, 2);
                for (int y = 0; y < h; ++y) {
                    const int b = base(rng);
                    for (int x = gap(rng) - 1; x < w;) {
                        const int len = std::max(1, b + pick(rng));
                        for (int i = 0; i < len && x < w; ++i, ++x)
                            mask[size_t(y) * w + x] = 1;
                        x += gap(rng);
                    }
                }
            } else {
                // Runs that start just before and end just after an edge, and rows whose cell
                // ends changed so that the run goes on in the next row.
                std::vector<int> edges;
                for (int e = 64; e < w; e += 64)
                    edges.push_back(e);
                for (int k = 1; k < 8; ++k)
                    edges.push_back(k * cw);
                const int spread = std::min(70, cw / 3);
                std::uniform_int_distribution<int> before(0, spread), after(0, spread);
                std::bernoulli_distribution tail(0.5);
                for (int y = 0; y < h; ++y) {
                    for (int e : edges) {
                        const int from = std::max(0, e - before(rng));
                        const int to = std::min(w, e + after(rng));
                        for (int x = from; x < to; ++x)
                            mask[size_t(y) * w + x] = 1;
                    }
                    for (int k = 0; k < 8; ++k) {
                        const int end = k < 7 ? (k + 1) * cw : w;
                        if (tail(rng))
                            for (int x = end - 1 - before(rng) % 5; x < end; ++x)
                                mask[size_t(y) * w + x] = 1;
                        if (tail(rng))
                            for (int x = k * cw; x < k * cw + before(rng) % 5; ++x)
                                mask[size_t(y) * w + x] = 1;
                    }
                }
            }
            MakeMasked(rng, ref, cur, [&](int x, int y) { return mask[size_t(y) * w + x] != 0; });
            CellScores fast;
            ScoreCells(cur.bytes.data(), ref.bytes.data(), w, h, 80, fast);
            const auto plain = ScoreCellsPlain(cur.bytes.data(), ref.bytes.data(), w, h, 80);
            int scored = 0;
            for (int k = 0; k < 64; ++k) {
                ASSERT_EQ(fast.BlobScore[k], plain.BlobScore[k])
                    << c.name << " " << w << "x" << h << " cell " << k;
                ASSERT_EQ(fast.changed[k], plain.changed[k])
                    << c.name << " " << w << "x" << h << " cell " << k;
                scored += plain.BlobScore[k] > 0;
            }
            // The scenes must exercise the score, not only the counts (a band of one row
            // cannot score).
            if (c.kind != 3 || rep == 0) {
                EXPECT_GT(scored, 0) << c.name << " " << w << "x" << h;
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Kernels, ScoringEquivalence,
                         ::testing::Values(KernelChoice::Portable, KernelChoice::Ssse3,
                                           KernelChoice::Avx2, KernelChoice::Avx2Pext),
                         [](const auto &info) {
                             return info.param == KernelChoice::Avx2Pext ? "Avx2Pext"
                                 : info.param == KernelChoice::Avx2      ? "Avx2"
                                 : info.param == KernelChoice::Ssse3     ? "Ssse3"
                                                                         : "Portable";
                         });

} // namespace
