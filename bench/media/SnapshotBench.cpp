// A motion snapshot's image work on a 720x576 frame at quality 50 (date/time stamp, quarter
// turn, JPEG) beside a bare libjpeg-turbo encode of the same frame. Prints the ratio
// after the table; the safe write (temp file, fsync, rename, folder fsync) is timed apart
// because it measures the disk, not the code. Ratios use CPU time, which other work on a
// busy machine disturbs less than wall time.
#include "FileIo.h"
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

void BM_BareEncode(benchmark::State &st)
{
    tjhandle handle = tjInitCompress();
    std::vector<uint8_t> out(tjBufSize(W, H, TJSAMP_420));
    for (auto _ : st) {
        unsigned char *p = out.data();
        unsigned long size = out.size();
        tjCompress2(handle, Scene().data(), W, W * 3, H, TJPF_BGR, &p, &size, TJSAMP_420, Quality,
                    TJFLAG_BOTTOMUP | TJFLAG_NOREALLOC);
        benchmark::DoNotOptimize(size);
    }
    tjDestroy(handle);
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
        image.Rotate(rotation);
        encoder.Encode(image, Quality, jpeg);
        benchmark::DoNotOptimize(jpeg.data());
    }
}

void BM_StampRotateEncode(benchmark::State &st)
{
    Snapshot(st, Rotation::Left);
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

void BM_EncodeTurned(benchmark::State &st)
{
    StillImage image;
    image.Load(Scene().data(), Bytes, W, H);
    image.Rotate(Rotation::Left);
    JpegEncoder encoder;
    std::vector<uint8_t> jpeg;
    for (auto _ : st) {
        encoder.Encode(image, Quality, jpeg);
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
BENCHMARK(BM_StampRotateEncode)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_StampEncode)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_StampOnly)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_TurnOnly)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_EncodeTurned)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_SafeWrite)->Unit(benchmark::kMicrosecond);

class RatioReporter : public benchmark::ConsoleReporter
{
public:
    void ReportRuns(const std::vector<Run> &runs) override
    {
        for (const Run &r : runs)
            if (r.run_type == Run::RT_Iteration) {
                times[r.benchmark_name()] = r.GetAdjustedCPUTime();
                wallTimes[r.benchmark_name()] = r.GetAdjustedRealTime();
            }
        ConsoleReporter::ReportRuns(runs);
    }
    std::map<std::string, double> times;
    std::map<std::string, double> wallTimes;
};

} // namespace

int main(int argc, char **argv)
{
    if (!std::getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QGuiApplication app(argc, argv); // the stamp's font needs it
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    const auto base = reporter.times.find("BM_BareEncode");
    if (base != reporter.times.end() && base->second > 0) {
        std::printf("\nratio to the bare encode (goal for stamp+turn+encode: at most 1.30x):\n");
        for (const auto &[name, t] : reporter.times)
            if (name != base->first && name != "BM_SafeWrite" && name != "BM_TurnOnly"
                && name != "BM_StampOnly")
                std::printf("  %-20s %.2fx\n", name.c_str() + 3, t / base->second);
        if (const auto w = reporter.wallTimes.find("BM_SafeWrite"); w != reporter.wallTimes.end())
            std::printf("  safe write: %.0f us per picture (disk-bound, apart)\n", w->second);
    }
    benchmark::Shutdown();
    return 0;
}
