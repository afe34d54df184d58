// What one answer to a viewer costs on the server's UI thread: a 720x576 frame scaled and
// encoded at each session size, and a stored snapshot decoded and encoded again.
#include "JpegCodec.h"
#include "ViewerProtocol.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <random>
#include <vector>

using namespace vorlund::link;

namespace {

constexpr int W = 720, H = 576;

std::vector<uint8_t> Scene()
{
    std::mt19937 rng(7);
    std::uniform_int_distribution<int> noise(-12, 12);
    std::vector<uint8_t> f(size_t(W) * H * 3);
    for (size_t i = 0; i < f.size(); ++i) {
        const int x = int(i / 3) % W, y = int(i / 3) / W;
        f[i] = static_cast<uint8_t>(std::clamp(40 + (x * 3 + y) % 160 + noise(rng), 0, 255));
    }
    return f;
}

void LiveFrame(benchmark::State &state)
{
    const auto frame = Scene();
    const SessionSize size = SizeFromCode(static_cast<int>(state.range(0)));
    JpegCodec codec;
    std::vector<uint8_t> jpeg;
    for (auto _ : state) {
        codec.EncodeFrame(frame.data(), W, H, size.width, size.height, 50, jpeg);
        benchmark::DoNotOptimize(jpeg.data());
    }
    state.counters["jpeg_bytes"] = static_cast<double>(jpeg.size());
}
BENCHMARK(LiveFrame)->Arg(16)->Arg(32)->Arg(64)->Unit(benchmark::kMillisecond);

void StoredPicture(benchmark::State &state)
{
    JpegCodec codec;
    std::vector<uint8_t> stored, jpeg;
    codec.EncodeFrame(Scene().data(), W, H, W, H, 90, stored);
    for (auto _ : state) {
        codec.Reencode(stored, 640, 480, 50, jpeg);
        benchmark::DoNotOptimize(jpeg.data());
    }
}
BENCHMARK(StoredPicture)->Unit(benchmark::kMillisecond);

void Resample(benchmark::State &state)
{
    const auto frame = Scene();
    std::vector<uint8_t> out(640 * 480 * 3);
    for (auto _ : state) {
        ResampleBgr(frame.data(), W, H, true, out.data(), 640, 480);
        benchmark::DoNotOptimize(out.data());
    }
}
BENCHMARK(Resample)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
