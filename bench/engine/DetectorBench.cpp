// The motion detector on 720x576 frames beside the memory traffic it cannot avoid (the frame
// copied twice with memcpy). Prints the ratio detector / baseline after the table.
#include "MotionGrabber.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <vector>

using namespace vorlund;

namespace {

constexpr int W = 720, H = 576;
constexpr size_t Bytes = size_t(W) * H * 3;

std::vector<uint8_t> NoisyScene(uint32_t seed)
{
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> noise(-8, 8);
    std::vector<uint8_t> f(Bytes);
    for (size_t i = 0; i < Bytes; ++i) {
        const int x = int(i / 3) % W, y = int(i / 3) / W;
        f[i] = static_cast<uint8_t>(std::clamp(60 + (x + y) % 120 + noise(rng), 0, 255));
    }
    return f;
}

struct Detector
{
    Detector() : grabber(state)
    {
        grabber.SetFormat(W, H, 0);
        ZoneMaskBytes all;
        all.fill(1);
        for (int z = 1; z <= 4; ++z)
            state.SetZoneMask(1, z, all);
        state.MotionEnabled[1] = 1;
        state.RecordOnMotion[1] = 1;
        state.RecordSeconds[1] = 10;
    }
    EngineState state;
    CMotionGrabber grabber;
};

void BM_BaselineTwoCopies(benchmark::State &st)
{
    const auto frame = NoisyScene(1);
    std::vector<uint8_t> a(kFrameBufferSize), b(kFrameBufferSize);
    for (auto _ : st) {
        std::memcpy(a.data(), frame.data(), Bytes);
        std::memcpy(b.data(), frame.data(), Bytes);
        benchmark::DoNotOptimize(a.data());
        benchmark::DoNotOptimize(b.data());
        benchmark::ClobberMemory();
    }
}

void BM_QuietScene(benchmark::State &st)
{
    Detector d;
    const auto ref = NoisyScene(1);
    std::memcpy(d.state.ReferenceFrame(1), ref.data(), Bytes);
    const auto frame = NoisyScene(2); // sensor noise only, below every threshold
    for (auto _ : st)
        d.grabber.BufferCB(0, frame.data(), long(Bytes));
}

void BM_MovingBlob(benchmark::State &st)
{
    Detector d;
    const auto ref = NoisyScene(1);
    std::memcpy(d.state.ReferenceFrame(1), ref.data(), Bytes);
    std::vector<std::vector<uint8_t>> frames;
    for (int i = 0; i < 16; ++i) {
        auto f = NoisyScene(2 + i);
        const int x0 = 40 + i * 37, y0 = 60 + i * 23;
        for (int y = y0; y < y0 + 80; ++y)
            for (int x = x0; x < x0 + 100; ++x)
                for (int c = 0; c < 3; ++c)
                    f[(size_t(y) * W + x) * 3 + c]
                        = uint8_t(255 - ref[(size_t(y) * W + x) * 3 + c]);
        frames.push_back(std::move(f));
    }
    size_t i = 0;
    for (auto _ : st) {
        // Keep the reference on the empty scene so every frame shows the blob.
        d.state.RefreshRequest = 0;
        d.grabber.BufferCB(0, frames[i++ % frames.size()].data(), long(Bytes));
        st.PauseTiming();
        std::memcpy(d.state.ReferenceFrame(1), ref.data(), Bytes);
        st.ResumeTiming();
    }
}

void BM_SaltNoise(benchmark::State &st)
{
    Detector d;
    const auto ref = NoisyScene(1);
    std::memcpy(d.state.ReferenceFrame(1), ref.data(), Bytes);
    auto frame = ref;
    std::mt19937 rng(7);
    std::bernoulli_distribution salt(0.5);
    for (size_t p = 0; p < Bytes / 3; ++p)
        if (salt(rng))
            for (int c = 0; c < 3; ++c)
                frame[p * 3 + c] = uint8_t(255 - ref[p * 3 + c]);
    for (auto _ : st) {
        d.grabber.BufferCB(0, frame.data(), long(Bytes));
        st.PauseTiming();
        std::memcpy(d.state.ReferenceFrame(1), ref.data(), Bytes);
        st.ResumeTiming();
    }
}

BENCHMARK(BM_BaselineTwoCopies);
BENCHMARK(BM_QuietScene);
BENCHMARK(BM_MovingBlob);
BENCHMARK(BM_SaltNoise);

class RatioReporter : public benchmark::ConsoleReporter
{
public:
    void ReportRuns(const std::vector<Run> &runs) override
    {
        for (const Run &r : runs)
            if (r.run_type == Run::RT_Iteration)
                times[r.benchmark_name()] = r.GetAdjustedRealTime();
        ConsoleReporter::ReportRuns(runs);
    }
    std::map<std::string, double> times;
};

} // namespace

int main(int argc, char **argv)
{
    benchmark::Initialize(&argc, argv);
    if (const char *k = std::getenv("VORLUND_ROW_KERNEL")) {
        const std::string name(k);
        SelectRowMaskKernel(name == "portable"    ? KernelChoice::Portable
                                : name == "ssse3" ? KernelChoice::Ssse3
                                                  : KernelChoice::Auto);
    }
    const KernelChoice kernel = ActiveRowMaskKernel();
    std::printf("row kernel: %s\n",
                kernel == KernelChoice::Avx2        ? "AVX2"
                    : kernel == KernelChoice::Ssse3 ? "SSSE3"
                                                    : "portable");
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    const auto base = reporter.times.find("BM_BaselineTwoCopies");
    if (base != reporter.times.end() && base->second > 0) {
        std::printf("\nratio to the baseline (frame copied twice):\n");
        for (const auto &[name, t] : reporter.times)
            if (name != base->first)
                std::printf("  %-16s %.2fx\n", name.c_str() + 3, t / base->second);
    }
    benchmark::Shutdown();
    return 0;
}
