// A motion snapshot's image work on a 720x576 frame at quality 50 (date/time stamp, quarter
// turn left or right made while encoding, JPEG) beside a bare tjCompress2 of the frame as it
// is saved: each turned case against a bare encode of the frame turned the same way, the
// unturned one against a bare encode of the frame. Interleaved rounds; prints the ratio per
// round and the median after the table. The safe write (temp file, fsync, rename, folder
// fsync) is timed apart because it measures the disk, not the code. Ratios use CPU time, which
// other work on a busy machine disturbs less than wall time.
#include "FileIo.h"
#include "RoundRatios.h"
#include "StillImage.h"

#include <QGuiApplication>
#include <benchmark/benchmark.h>
#include <turbojpeg.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <random>
#include <string>
#include <unistd.h>
#include <vector>

using namespace vorlund;

namespace {

constexpr int W = 720, H = 576, Quality = 50;
constexpr size_t Bytes = size_t(W) * H * 3;

// A textured scene with sensor noise, so the encoder has real work.
const std::vector<uint8_t> &Scene()
{
    static const std::vector<uint8_t> frame = [] {
        std::mt19937 rng(3);
        std::uniform_int_distribution<int> noise(-8, 8);
        std::vector<uint8_t> f(Bytes);
        for (size_t i = 0; i < Bytes; ++i) {
            const int x = int(i / 3) % W, y = int(i / 3) / W;
            f[i] = uint8_t(
                std::clamp(60 + (x * 3 + y) % 140 + int(i % 3) * 20 + noise(rng), 0, 255));
        }
        return f;
    }();
    return frame;
}

LocalDateTime Now(int second)
{
    return { 2026, 12, 8, 23, 59, second % 60, 2 };
}

void BareEncode(benchmark::State &st, const uint8_t *frame, int w, int h)
{
    tjhandle handle = tjInitCompress();
    std::vector<uint8_t> out(tjBufSize(w, h, TJSAMP_420));
    for (auto _ : st) {
        unsigned char *p = out.data();
        unsigned long size = out.size();
        tjCompress2(handle, frame, w, w * 3, h, TJPF_BGR, &p, &size, TJSAMP_420, Quality,
                    TJFLAG_BOTTOMUP | TJFLAG_NOREALLOC);
        benchmark::DoNotOptimize(size);
    }
    tjDestroy(handle);
}

void BM_BareEncode(benchmark::State &st)
{
    BareEncode(st, Scene().data(), W, H);
}

// The bare encode of the frame as a turned snapshot saves it.
void BareEncodeTurned(benchmark::State &st, Rotation rotation)
{
    StillImage image;
    image.Load(Scene().data(), Bytes, W, H);
    image.Rotate(rotation);
    BareEncode(st, image.Data(), image.Width(), image.Height());
}

void BM_BareEncodeTurned(benchmark::State &st)
{
    BareEncodeTurned(st, Rotation::Left);
}

void BM_BareEncodeTurnedRight(benchmark::State &st)
{
    BareEncodeTurned(st, Rotation::Right);
}

// The still is already the saver's own copy (taken out of the engine state): stamp, turn and
// encode work on it in place, as SaveSnapshot does.
void Snapshot(benchmark::State &st, Rotation rotation)
{
    StampFont font;
    JpegEncoder encoder;
    std::vector<uint8_t> jpeg;
    StillImage image;
    image.Load(Scene().data(), Bytes, W, H);
    int second = 0;
    for (auto _ : st) {
        image.DrawMask(font.Render(StampText(Now(second++))), 5, image.Height() - 5);
        encoder.Encode(image, Quality, jpeg, rotation);
        benchmark::DoNotOptimize(jpeg.data());
    }
}

void BM_StampRotateEncode(benchmark::State &st)
{
    Snapshot(st, Rotation::Left);
}

void BM_StampRotateRightEncode(benchmark::State &st)
{
    Snapshot(st, Rotation::Right);
}

void BM_StampEncode(benchmark::State &st)
{
    Snapshot(st, Rotation::None);
}

void BM_StampOnly(benchmark::State &st)
{
    StampFont font;
    StillImage image;
    image.Load(Scene().data(), Bytes, W, H);
    int second = 0;
    for (auto _ : st) {
        image.DrawMask(font.Render(StampText(Now(second++))), 5, image.Height() - 5);
        benchmark::DoNotOptimize(image.Data());
    }
}

void BM_TurnOnly(benchmark::State &st)
{
    StillImage image;
    image.Load(Scene().data(), Bytes, W, H);
    for (auto _ : st) {
        image.Rotate(Rotation::Left);
        benchmark::DoNotOptimize(image.Data());
    }
}

// The turn made while encoding, without the stamp.
void BM_TurnWhileEncoding(benchmark::State &st)
{
    StillImage image;
    image.Load(Scene().data(), Bytes, W, H);
    JpegEncoder encoder;
    std::vector<uint8_t> jpeg;
    for (auto _ : st) {
        encoder.Encode(image, Quality, jpeg, Rotation::Left);
        benchmark::DoNotOptimize(jpeg.data());
    }
}

void BM_SafeWrite(benchmark::State &st)
{
    JpegEncoder encoder;
    std::vector<uint8_t> jpeg;
    encoder.Encode(Scene().data(), W, H, Quality, jpeg);
    const char *where = std::getenv("VORLUND_BENCH_DIR");
    const std::filesystem::path folder = std::filesystem::path(where ? where : ".")
        / ("snapshot-bench-" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder);
    int n = 0;
    for (auto _ : st) {
        char name[16];
        std::snprintf(name, sizeof name, "p%03d.jpg", n++ % 3 + 1);
        if (WriteFileAtomically(folder / name, jpeg, 0644) != 0)
            st.SkipWithError("write failed");
    }
    st.counters["bytes"] = double(jpeg.size());
    std::filesystem::remove_all(folder);
}

BENCHMARK(BM_BareEncode)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_BareEncodeTurned)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_BareEncodeTurnedRight)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_StampRotateEncode)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_StampRotateRightEncode)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_StampEncode)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_StampOnly)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_TurnOnly)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_TurnWhileEncoding)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_SafeWrite)->Unit(benchmark::kMicrosecond);

// Each snapshot case against the bare encode of what it saves.
std::string BaselineOf(const std::string &name)
{
    if (name == "BM_StampRotateEncode" || name == "BM_TurnWhileEncoding")
        return "BM_BareEncodeTurned";
    if (name == "BM_StampRotateRightEncode")
        return "BM_BareEncodeTurnedRight";
    if (name == "BM_StampEncode")
        return "BM_BareEncode";
    return {};
}

} // namespace

int main(int argc, char **argv)
{
    if (!std::getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QGuiApplication app(argc, argv); // the stamp's font needs it
    auto args = bench::WithRounds(argc, argv, 5);
    int n = int(args.size()) - 1;
    benchmark::Initialize(&n, args.data());
    bench::RoundRatioReporter reporter(BaselineOf, true);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.PrintRatios("ratio to the bare encode of the same picture (goal for the turned and "
                         "the unturned snapshot: at most 1.15x)");
    if (const auto w = reporter.Rounds().find("BM_SafeWrite"); w != reporter.Rounds().end())
        std::printf("  safe write: %.0f us per picture, median (disk-bound, apart)\n",
                    bench::RoundRatioReporter::Median(w->second));
    benchmark::Shutdown();
    return 0;
}
