// What one answer to a viewer costs on the server's UI thread: a 720x576 frame scaled and
// encoded at each session size, and a stored snapshot decoded and encoded again.
//
// LiveFrameVsBareEncode: the server's live answer (remote serving on the engine, through the
// session hub) to a frame the streaming thread just wrote, against a bare tjCompress2 of the
// same scaled picture with the same flags, in interleaved rounds of the same run: a new frame
// (scaled from the engine's slot, encoded, sent) and a repeat of the same frame (sent as it was
// kept). The counters are the ratios to the bare encode.
#include "BgrScaler.h"
#include "JpegCodec.h"
#include "RemoteServing.h"
#include "ServerFixture.h"
#include "ViewerHub.h"
#include "ViewerProtocol.h"

#include <benchmark/benchmark.h>

#include <turbojpeg.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <pthread.h>
#include <random>
#include <sched.h>
#include <thread>
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

// A direct link over a session hub, as the real one is, for the server's remote serving to
// answer through.
class HubLink : public vorlund::IDirectLink
{
public:
    explicit HubLink(ViewerHub &hub) : m_hub(hub) { }
    int GotConnection() const override { return m_hub.ReadyCount(); }
    int8_t CheckRequestQueue(uint8_t *buffer, size_t length) override
    {
        return m_hub.CheckRequestQueue(buffer, length);
    }
    bool SendImageOut(const uint8_t *frame, size_t length, int camera) override
    {
        return m_hub.SendImageOut(frame, length, camera);
    }
    bool SendTaggedImageOut(const uint8_t *frame, size_t length, int camera,
                            const vorlund::FrameTag &tag) override
    {
        const vorlund::FrameId id { tag.source, tag.serial };
        return m_hub.SendImageOut(frame, length, camera, &id);
    }
    bool ResendImageOut(const vorlund::FrameTag &tag, int camera) override
    {
        return m_hub.ResendImageOut({ tag.source, tag.serial }, camera);
    }
    bool SendStillOut(const std::string &path) override { return m_hub.SendStillOut(path); }
    bool StartListening(const vorlund::LinkStart &) override { return true; }
    void StopListening() override { }

private:
    ViewerHub &m_hub;
};

class HubLinks : public vorlund::ILinkFactory
{
public:
    explicit HubLinks(ViewerHub &hub) : m_hub(hub) { }
    std::unique_ptr<vorlund::IDirectLink> MakeDirect() override
    {
        return std::make_unique<HubLink>(m_hub);
    }
    std::unique_ptr<vorlund::IRelayLink> MakeRelay(vorlund::IMessageSink &) override
    {
        return nullptr;
    }

private:
    ViewerHub &m_hub;
};

// The streaming thread: on each turn it keeps a new live frame of camera 1 as the detector does
// (copied into the frame in progress, which then becomes the live one).
class FrameWriter
{
public:
    FrameWriter(vorlund::EngineState &engine, const std::vector<uint8_t> &frame)
        : m_thread([this, &engine, &frame] {
              // A core of its own, as the streaming thread has: the reader gets the frame from
              // another core's cache.
              const int cores = int(std::thread::hardware_concurrency());
              if (m_readerCore >= 0 && cores > 1)
                  PinTo((m_readerCore + cores / 2) % cores);
              for (;;) {
                  m_turn.wait(kIdle);
                  if (m_turn.load() == kStop)
                      return;
                  std::memcpy(engine.FrameInProgress(), frame.data(), frame.size());
                  engine.KeepFrameInProgress(1, true, false);
                  m_turn.store(kIdle);
                  m_turn.notify_one();
              }
          })
    { }
    ~FrameWriter()
    {
        m_turn.store(kStop);
        m_turn.notify_one();
        m_thread.join();
        pthread_setaffinity_np(pthread_self(), sizeof m_cores, &m_cores);
    }
    // Returns once the new frame is the live one.
    void WriteNext()
    {
        m_turn.store(kWrite);
        m_turn.notify_one();
        while (m_turn.load() != kIdle)
            m_turn.wait(kWrite);
    }

    static void PinTo(int core)
    {
        cpu_set_t set;
        CPU_ZERO(&set);
        CPU_SET(core, &set);
        pthread_setaffinity_np(pthread_self(), sizeof set, &set);
    }

private:
    static constexpr int kIdle = 0, kWrite = 1, kStop = 2;
    cpu_set_t m_cores = [] {
        cpu_set_t set;
        pthread_getaffinity_np(pthread_self(), sizeof set, &set);
        return set;
    }();
    const int m_readerCore = [] {
        const int core = sched_getcpu();
        if (core >= 0)
            PinTo(core); // the reader stays where it is
        return core;
    }();
    std::atomic<int> m_turn { kIdle };
    std::thread m_thread;
};

// The server's answer to a live request, RemoteServing::SendFrame through the main tick's
// ServeRemoteRequests, on a frame that the streaming thread (another core) wrote just before:
// a new frame (scaled from the engine's slot, encoded, sent) and a repeat (sent as it was kept),
// against a bare tjCompress2 of the same scaled picture with the same flags, interleaved in
// every iteration. Beside them: a new frame answered as before, copied out of the engine under
// its lock and then encoded (copy_ratio); and the floor, scaling alone, from the frame just
// written and again from the same frame once this core has read it.
void LiveFrameVsBareEncode(benchmark::State &state)
{
    const int sizeCode = static_cast<int>(state.range(0));
    const SessionSize size = SizeFromCode(sizeCode);
    const auto scene = Scene();
    vorlund::test::ServerFixture f;
    f.engine.FrameLength = W * H * 3;
    f.settings.Config.Block.RemoteEnabled = 1;
    f.settings.Config.RemoteMode = 1;
    ViewerHub hub(f.clock, LinkLimits {});
    LinkSetup setup;
    setup.header.Width = W;
    setup.header.Height = H;
    setup.header.BitCount = 1;
    hub.Configure(setup);
    HubLinks links(hub);
    vorlund::RemoteServing serving(f.context, f.topics, f.topics, links);
    serving.ApplyRemoteMode();
    NullTransport transport;
    const int session = hub.Open(transport, "127.0.0.1");
    const uint8_t login[] = { '5', '8', '6', '?', 50, static_cast<uint8_t>(sizeCode), 13, 10 };
    hub.Feed(session, login);
    const uint8_t request[] = { '>', 'c', 1, 50, 13, 10 };
    FrameWriter writer(f.engine, scene);

    // The bare encoder gets the picture the hub sends, already scaled, with the codec's flags.
    std::vector<uint8_t> scaled(size_t(size.width) * size.height * 3);
    BgrScaler scaler;
    scaler.Scale(scene.data(), W, H, true, scaled.data(), size.width, size.height);
    tjhandle bare = tjInitCompress();
    std::vector<unsigned char> bareOut(tjBufSize(size.width, size.height, TJSAMP_420));

    using Clock = std::chrono::steady_clock;
    Clock::duration bareTime {}, newTime {}, repeatTime {}, copyTime {}, freshScale {},
        warmScale {};
    std::vector<uint8_t> copy;
    const size_t sentBefore = transport.written;
    for (auto _ : state) {
        auto t0 = Clock::now();
        unsigned char *jpeg = bareOut.data();
        unsigned long jpegSize = bareOut.size();
        tjCompress2(bare, scaled.data(), size.width, size.width * 3, size.height, TJPF_BGR, &jpeg,
                    &jpegSize, TJSAMP_420, 50, TJFLAG_FASTDCT | TJFLAG_NOREALLOC);
        auto t1 = Clock::now();
        bareTime += t1 - t0;

        writer.WriteNext();
        hub.Feed(session, request);
        t0 = Clock::now();
        serving.ServeRemoteRequests(0);
        t1 = Clock::now();
        newTime += t1 - t0;

        hub.Feed(session, request);
        t0 = Clock::now();
        serving.ServeRemoteRequests(0);
        t1 = Clock::now();
        repeatTime += t1 - t0;

        // As the answer was made before: the frame copied out under the lock, then encoded.
        writer.WriteNext();
        hub.Feed(session, request);
        uint8_t handed[2];
        hub.CheckRequestQueue(handed, sizeof handed);
        t0 = Clock::now();
        vorlund::FrameId id { 1, 0 };
        f.engine.CopyLiveFrameOut(1, copy, scene.size(), &id.serial);
        hub.SendImageOut(copy.data(), copy.size(), 1, &id);
        t1 = Clock::now();
        copyTime += t1 - t0;

        writer.WriteNext();
        {
            const vorlund::LiveFrameLoan frame = f.engine.BorrowLiveFrame(1, scene.size());
            t0 = Clock::now();
            scaler.Scale(frame.Data(), W, H, true, scaled.data(), size.width, size.height);
            t1 = Clock::now();
            scaler.Scale(frame.Data(), W, H, true, scaled.data(), size.width, size.height);
            const auto t2 = Clock::now();
            freshScale += t1 - t0;
            warmScale += t2 - t1;
        }
    }
    tjDestroy(bare);
    if (transport.written == sentBefore)
        state.SkipWithError("nothing was sent");
    auto ms
        = [](Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); };
    const double bareMs = ms(bareTime);
    const double n = static_cast<double>(state.iterations());
    state.counters["bare_ms"] = bareMs / n;
    state.counters["new_ms"] = ms(newTime) / n;
    state.counters["repeat_ms"] = ms(repeatTime) / n;
    state.counters["new_ratio"] = ms(newTime) / bareMs;
    state.counters["repeat_ratio"] = ms(repeatTime) / bareMs;
    state.counters["copy_ratio"] = ms(copyTime) / bareMs;
    // No new frame can cost less than its scaling from the frame just written plus the encode.
    state.counters["scale_fresh_ms"] = ms(freshScale) / n;
    state.counters["scale_warm_ms"] = ms(warmScale) / n;
    state.counters["floor_ratio"] = (bareMs + ms(freshScale)) / bareMs;
}
// Each repetition is a round; the aggregates give the medians of the rounds.
BENCHMARK(LiveFrameVsBareEncode)
    ->Arg(32)
    ->Arg(64)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(7)
    ->ReportAggregatesOnly(true);

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
