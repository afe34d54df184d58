// What one answer to a viewer costs on the server's UI thread: a 720x576 frame scaled and
// encoded at each session size, and a stored snapshot decoded and encoded again.
//
// LiveFrameVsBareEncode: the live answer through the session hub, against a bare tjCompress2 of
// the same scaled picture with the same flags, in interleaved rounds of the same run: a new
// frame (scaled, encoded, sent; and with the copy out of the engine's buffer that the server
// makes first) and a repeat of the same frame (sent as it was kept). The counters are the
// ratios to the bare encode.
#include "BgrScaler.h"
#include "JpegCodec.h"
#include "ViewerHub.h"
#include "ViewerProtocol.h"

#include <benchmark/benchmark.h>

#include <turbojpeg.h>

#include <algorithm>
#include <chrono>
#include <cstring>
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

class NullTransport : public ISessionTransport
{
public:
    void Write(std::span<const uint8_t> bytes) override { written += bytes.size(); }
    size_t Backlog() const override { return 0; }
    void Close(bool) override { }
    size_t written = 0;
};

void LiveFrameVsBareEncode(benchmark::State &state)
{
    const int sizeCode = static_cast<int>(state.range(0));
    const SessionSize size = SizeFromCode(sizeCode);
    const auto engineFrame = Scene();
    vorlund::FakeClock clock;
    ViewerHub hub(clock, LinkLimits {});
    LinkSetup setup;
    setup.header.Width = W;
    setup.header.Height = H;
    setup.header.BitCount = 1;
    hub.Configure(setup);
    NullTransport transport;
    const int session = hub.Open(transport, "127.0.0.1");
    const uint8_t login[] = { '5', '8', '6', '?', 50, static_cast<uint8_t>(sizeCode), 13, 10 };
    hub.Feed(session, login);
    const uint8_t request[] = { '>', 'c', 1, 50, 13, 10 };
    auto ask = [&] {
        uint8_t buffer[2];
        hub.Feed(session, request);
        return hub.CheckRequestQueue(buffer, sizeof buffer);
    };

    // The bare encoder gets the picture the hub sends, already scaled.
    std::vector<uint8_t> scaled(size_t(size.width) * size.height * 3);
    BgrScaler scaler;
    scaler.Scale(engineFrame.data(), W, H, true, scaled.data(), size.width, size.height);
    tjhandle bare = tjInitCompress();

    using Clock = std::chrono::steady_clock;
    Clock::duration bareTime {}, copyTime {}, newTime {}, repeatTime {};
    std::vector<uint8_t> copy;
    uint32_t serial = 0;
    for (auto _ : state) {
        auto t0 = Clock::now();
        unsigned char *jpeg = nullptr;
        unsigned long jpegSize = 0;
        tjCompress2(bare, scaled.data(), size.width, size.width * 3, size.height, TJPF_BGR, &jpeg,
                    &jpegSize, TJSAMP_420, 50, TJFLAG_FASTDCT);
        tjFree(jpeg);
        auto t1 = Clock::now();
        bareTime += t1 - t0;

        ask();
        t0 = Clock::now();
        copy.resize(engineFrame.size());
        std::memcpy(copy.data(), engineFrame.data(), copy.size());
        const auto copied = Clock::now();
        const vorlund::FrameId id { 1, ++serial };
        hub.SendImageOut(copy.data(), copy.size(), 1, &id);
        t1 = Clock::now();
        copyTime += copied - t0;
        newTime += t1 - copied;

        ask();
        t0 = Clock::now();
        hub.ResendImageOut(id, 1);
        t1 = Clock::now();
        repeatTime += t1 - t0;
    }
    tjDestroy(bare);
    auto ms
        = [](Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); };
    const double bareMs = ms(bareTime);
    const double n = static_cast<double>(state.iterations());
    state.counters["bare_ms"] = bareMs / n;
    state.counters["copy_ms"] = ms(copyTime) / n;
    state.counters["new_ms"] = ms(newTime) / n;
    state.counters["repeat_ms"] = ms(repeatTime) / n;
    // The answer itself (scaled, encoded, sent), then with the engine's copy-out before it.
    state.counters["new_ratio"] = ms(newTime) / bareMs;
    state.counters["new_copy_ratio"] = (ms(newTime) + ms(copyTime)) / bareMs;
    state.counters["repeat_ratio"] = ms(repeatTime) / bareMs;
    benchmark::DoNotOptimize(transport.written);
}
BENCHMARK(LiveFrameVsBareEncode)->Arg(32)->Arg(64)->Unit(benchmark::kMillisecond);

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

// The one-pass reference (0) against the two-pass scaler (1), 720x576 to 640x480.
void Resample(benchmark::State &state)
{
    const auto frame = Scene();
    std::vector<uint8_t> out(640 * 480 * 3);
    BgrScaler scaler;
    for (auto _ : state) {
        if (state.range(0) == 0)
            ResampleBgr(frame.data(), W, H, true, out.data(), 640, 480);
        else
            scaler.Scale(frame.data(), W, H, true, out.data(), 640, 480);
        benchmark::DoNotOptimize(out.data());
    }
}
BENCHMARK(Resample)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
