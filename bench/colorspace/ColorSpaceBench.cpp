// YUY2 to BGR on 720x576 frames: our converter beside videoconvert, element against element
// on the same frames, plus the bare row converters.
#include "Yuy2ToBgr.h"
#include "gstvorlundcolorspace.h"

#include <benchmark/benchmark.h>
#include <gst/check/gstharness.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

namespace {

constexpr int kWidth = 720;
constexpr int kHeight = 576;

std::vector<uint8_t> TestFrame()
{
    std::vector<uint8_t> frame(size_t(kWidth) * 2 * kHeight);
    uint32_t seed = 1;
    for (auto &b : frame) {
        seed = seed * 1664525u + 1013904223u;
        b = uint8_t(seed >> 24);
    }
    return frame;
}

void BM_RowConverter(benchmark::State &state, vorlund::Yuy2RowConverter convert)
{
    const std::vector<uint8_t> src = TestFrame();
    std::vector<uint8_t> dst(size_t(kWidth) * 3 * kHeight);
    for (auto _ : state) {
        for (int row = 0; row < kHeight; ++row)
            convert(src.data() + row * kWidth * 2, dst.data() + row * kWidth * 3, kWidth);
        benchmark::DoNotOptimize(dst.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations());
}

void BM_Element(benchmark::State &state, const char *factory)
{
    const std::string caps = "video/x-raw,width=" + std::to_string(kWidth)
        + ",height=" + std::to_string(kHeight) + ",framerate=25/1,format=";
    GstHarness *h = gst_harness_new(factory);
    gst_harness_set_caps_str(h, (caps + "YUY2").c_str(), (caps + "BGR").c_str());
    const std::vector<uint8_t> frame = TestFrame();
    GstBuffer *input = gst_buffer_new_memdup(frame.data(), frame.size());
    for (auto _ : state) {
        if (gst_harness_push(h, gst_buffer_ref(input)) != GST_FLOW_OK) {
            state.SkipWithError("push failed");
            break;
        }
        gst_buffer_unref(gst_harness_pull(h));
    }
    state.SetItemsProcessed(state.iterations());
    gst_buffer_unref(input);
    gst_harness_teardown(h);
}

// Prints the per-frame time of videoconvert over ours once both have run.
class RatioReporter : public benchmark::ConsoleReporter
{
public:
    void ReportRuns(const std::vector<Run> &runs) override
    {
        ConsoleReporter::ReportRuns(runs);
        for (const Run &run : runs) {
            // With repetitions, the median stands for the benchmark.
            if (run.error_occurred
                || (run.run_type == Run::RT_Aggregate && run.aggregate_name != "median"))
                continue;
            seconds_[run.run_name.function_name] = run.GetAdjustedRealTime();
        }
    }
    void Finalize() override
    {
        ConsoleReporter::Finalize();
        const auto ours = seconds_.find("BM_Element/vorlundcolorspace");
        const auto theirs = seconds_.find("BM_Element/videoconvert");
        if (ours != seconds_.end() && theirs != seconds_.end() && ours->second > 0)
            std::printf("videoconvert / vorlundcolorspace per %dx%d frame: %.2f\n", kWidth, kHeight,
                        theirs->second / ours->second);
    }

private:
    std::map<std::string, double> seconds_;
};

} // namespace

int main(int argc, char **argv)
{
    gst_init(&argc, &argv);
    GST_ELEMENT_REGISTER(vorlundcolorspace, nullptr);

    vorlund::NamedYuy2RowConverter converters[8];
    const int count = vorlund::AvailableYuy2RowConverters(converters, 8);
    for (int i = 0; i < count; ++i)
        benchmark::RegisterBenchmark((std::string("BM_RowConverter/") + converters[i].name).c_str(),
                                     BM_RowConverter, converters[i].convert)
            ->Unit(benchmark::kMicrosecond);
    for (const char *factory : { "vorlundcolorspace", "videoconvert" })
        benchmark::RegisterBenchmark((std::string("BM_Element/") + factory).c_str(), BM_Element,
                                     factory)
            ->Unit(benchmark::kMicrosecond);

    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
