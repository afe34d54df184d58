// The motion detector beside the memory traffic it cannot avoid (the frame copied twice with
// memcpy), at 720x576, 640x480 and 320x240. Each case runs in interleaved rounds with its own
// baseline: the blob's baseline copies the same 16-frame sequence it reads, the others the one
// frame they read. Prints the ratio per round and its median after the table.
#include "MotionGrabber.h"
#include "RoundRatios.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

using namespace vorlund;

namespace {

struct Size
{
    int w, h;
    size_t Bytes() const { return size_t(w) * h * 3; }
};

Size SizeOf(const benchmark::State &st)
{
    return { int(st.range(0)), int(st.range(1)) };
}

std::vector<uint8_t> NoisyScene(Size z, uint32_t seed)
{
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> noise(-8, 8);
    std::vector<uint8_t> f(z.Bytes());
    for (size_t i = 0; i < f.size(); ++i) {
        const int x = int(i / 3) % z.w, y = int(i / 3) / z.w;
        f[i] = static_cast<uint8_t>(std::clamp(60 + (x + y) % 120 + noise(rng), 0, 255));
    }
    return f;
}

// 16 frames of a 100x80 blob (scaled to the size) moving over the scene.
std::vector<std::vector<uint8_t>> BlobFrames(Size z, const std::vector<uint8_t> &ref)
{
    std::vector<std::vector<uint8_t>> frames;
    const int bw = z.w * 100 / 720, bh = z.h * 80 / 576;
    for (int i = 0; i < 16; ++i) {
        auto f = NoisyScene(z, 2 + i);
        const int x0 = (40 + i * 37) * z.w / 720, y0 = (60 + i * 23) * z.h / 576;
        for (int y = y0; y < y0 + bh; ++y)
            for (int x = x0; x < x0 + bw; ++x)
                for (int c = 0; c < 3; ++c)
                    f[(size_t(y) * z.w + x) * 3 + c]
                        = uint8_t(255 - ref[(size_t(y) * z.w + x) * 3 + c]);
        frames.push_back(std::move(f));
    }
    return frames;
}

std::vector<uint8_t> SaltFrame(const std::vector<uint8_t> &ref, double share, unsigned seed = 7)
{
    auto frame = ref;
    std::mt19937 rng(seed);
    std::bernoulli_distribution salt(share);
    for (size_t p = 0; p < frame.size() / 3; ++p)
        if (salt(rng))
            for (int c = 0; c < 3; ++c)
                frame[p * 3 + c] = uint8_t(255 - ref[p * 3 + c]);
    return frame;
}

struct Detector
{
    explicit Detector(Size z) : grabber(state)
    {
        grabber.SetFormat(z.w, z.h, 0);
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

void TwoCopies(benchmark::State &st, const std::vector<std::vector<uint8_t>> &frames)
{
    const size_t bytes = frames[0].size();
    std::vector<uint8_t> a(kFrameBufferSize), b(kFrameBufferSize);
    size_t i = 0;
    for (auto _ : st) {
        const uint8_t *frame = frames[i++ % frames.size()].data();
        std::memcpy(a.data(), frame, bytes);
        std::memcpy(b.data(), frame, bytes);
        benchmark::DoNotOptimize(a.data());
        benchmark::DoNotOptimize(b.data());
        benchmark::ClobberMemory();
    }
}

void BM_TwoCopies(benchmark::State &st)
{
    TwoCopies(st, { NoisyScene(SizeOf(st), 1) });
}

void BM_TwoCopiesOf16(benchmark::State &st)
{
    const Size z = SizeOf(st);
    TwoCopies(st, BlobFrames(z, NoisyScene(z, 1)));
}

// Frames that move the scene. With `putBack` the reference is put back after each, so every
// frame shows the change again; without, the detector keeps its reference as it does running.
void Changing(benchmark::State &st, const std::vector<std::vector<uint8_t>> &frames, bool putBack)
{
    const Size z = SizeOf(st);
    Detector d(z);
    const auto ref = NoisyScene(z, 1);
    std::memcpy(d.state.ReferenceFrame(1), ref.data(), z.Bytes());
    size_t i = 0;
    for (auto _ : st) {
        d.state.RefreshRequest.Cancel();
        d.grabber.BufferCB(0, frames[i++ % frames.size()].data(), long(z.Bytes()));
        if (!putBack)
            continue;
        st.PauseTiming();
        std::memcpy(d.state.ReferenceFrame(1), ref.data(), z.Bytes());
        st.ResumeTiming();
    }
}

void BM_Quiet(benchmark::State &st)
{
    const Size z = SizeOf(st);
    Detector d(z);
    const auto ref = NoisyScene(z, 1);
    std::memcpy(d.state.ReferenceFrame(1), ref.data(), z.Bytes());
    const auto frame = NoisyScene(z, 2); // sensor noise only, below every threshold
    for (auto _ : st)
        d.grabber.BufferCB(0, frame.data(), long(z.Bytes()));
}

void BM_Blob(benchmark::State &st)
{
    const Size z = SizeOf(st);
    Changing(st, BlobFrames(z, NoisyScene(z, 1)), true);
}

// A camera at night: every frame brings noise of its own. The detector keeps such frames as
// its reference as it does when running (every other hit frame), so each frame still differs
// from its reference in about half its pixels, with no reset between frames.
std::vector<std::vector<uint8_t>> SaltFrames(Size z)
{
    const auto scene = NoisyScene(z, 1);
    std::vector<std::vector<uint8_t>> frames;
    for (unsigned k = 0; k < 16; ++k)
        frames.push_back(SaltFrame(scene, 0.5, 7 + k));
    return frames;
}

void BM_Salt50(benchmark::State &st)
{
    Changing(st, SaltFrames(SizeOf(st)), false);
}

void BM_TwoCopiesOfSalt(benchmark::State &st)
{
    TwoCopies(st, SaltFrames(SizeOf(st)));
}

void Sizes(benchmark::internal::Benchmark *b)
{
    b->Args({ 720, 576 })->Args({ 640, 480 })->Args({ 320, 240 })->Unit(benchmark::kMicrosecond);
}

BENCHMARK(BM_TwoCopies)->Apply(Sizes);
BENCHMARK(BM_TwoCopiesOf16)->Apply(Sizes);
BENCHMARK(BM_TwoCopiesOfSalt)->Apply(Sizes);
BENCHMARK(BM_Quiet)->Apply(Sizes);
BENCHMARK(BM_Blob)->Apply(Sizes);
BENCHMARK(BM_Salt50)->Apply(Sizes);

// Each case against the baseline that moves the same frames.
std::string BaselineOf(const std::string &name)
{
    const auto slash = name.find('/');
    if (slash == std::string::npos)
        return {};
    const std::string function = name.substr(0, slash), size = name.substr(slash);
    if (function == "BM_Blob")
        return "BM_TwoCopiesOf16" + size;
    if (function == "BM_Salt50")
        return "BM_TwoCopiesOfSalt" + size;
    if (function == "BM_Quiet")
        return "BM_TwoCopies" + size;
    return {};
}

} // namespace

int main(int argc, char **argv)
{
    auto args = bench::WithRounds(argc, argv, 5);
    int n = int(args.size()) - 1;
    benchmark::Initialize(&n, args.data());
    if (const char *k = std::getenv("VORLUND_ROW_KERNEL")) {
        const std::string name(k);
        SelectRowMaskKernel(name == "portable"    ? KernelChoice::Portable
                                : name == "ssse3" ? KernelChoice::Ssse3
                                : name == "avx2"  ? KernelChoice::Avx2
                                : name == "pext"  ? KernelChoice::Avx2Pext
                                                  : KernelChoice::Auto);
    }
    const KernelChoice kernel = ActiveRowMaskKernel();
    std::printf("row kernel: %s\n",
                kernel == KernelChoice::Avx2Pext    ? "AVX2 with pext"
                    : kernel == KernelChoice::Avx2  ? "AVX2"
                    : kernel == KernelChoice::Ssse3 ? "SSSE3"
                                                    : "portable");
    bench::RoundRatioReporter reporter(BaselineOf);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.PrintRatios("ratio to the baseline (the same frames copied twice); goals at every "
                         "size: Quiet 1.3x, Blob 2.5x, Salt50 2.5x");
    benchmark::Shutdown();
    return 0;
}
