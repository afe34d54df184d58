// Per-frame cost of vorlundavi on 720x576 BGR frames beside GStreamer's identity, in the same
// harness (push one frame, pull it back) and in a videotestsrc ! X ! fakesink pipeline.
// The summary at the end gives each case as a ratio of identity's time.
#include "gstvorlundavi.h"

#include <benchmark/benchmark.h>
#include <gst/check/gstharness.h>
#include <gst/gst.h>
#include <gst/video/video.h>

#include <cstdio>
#include <map>
#include <string>

namespace {

constexpr const char *kCaps = "video/x-raw,format=BGR,width=720,height=576,framerate=25/1";

// SharedStamp: the frame is also held by another branch (a tee), so stamping copies it first.
enum Case { Identity, GateOpen, GateOpenStamp, GateClosed, SharedStamp };

const char *ElementOf(Case c)
{
    return c == Identity ? "identity" : "vorlundavi";
}

void Configure(GstElement *e, Case c)
{
    if (c != Identity)
        g_object_set(e, "gate", gboolean(c != GateClosed), "stamp",
                     gboolean(c == GateOpenStamp || c == SharedStamp), nullptr);
}

// One frame through the element and back; the same buffer goes round, so it stays writable
// and no frame is allocated inside the loop.
void BM_Harness(benchmark::State &state)
{
    const Case c = Case(state.range(0));
    GstHarness *h = gst_harness_new(ElementOf(c));
    Configure(h->element, c);
    gst_harness_set_src_caps_str(h, kCaps);
    GstVideoInfo info;
    gst_video_info_set_format(&info, GST_VIDEO_FORMAT_BGR, 720, 576);
    GstBuffer *buf = gst_buffer_new_allocate(nullptr, info.size, nullptr);
    gst_buffer_memset(buf, 0, 0x40, info.size);
    guint64 n = 0;
    for (auto _ : state) {
        GST_BUFFER_PTS(buf) = n * 40 * GST_MSECOND;
        GST_BUFFER_DURATION(buf) = 40 * GST_MSECOND;
        ++n;
        if (c == GateClosed) {
            // A dropped frame does not come back: keep a reference (the element then takes a
            // shallow copy, as it would of a frame shared through a tee).
            gst_harness_push(h, gst_buffer_ref(buf));
        } else if (c == SharedStamp) {
            gst_harness_push(h, gst_buffer_ref(buf));
            gst_buffer_unref(gst_harness_pull(h));
        } else {
            gst_harness_push(h, buf);
            buf = gst_harness_pull(h);
        }
    }
    gst_buffer_unref(buf);
    gst_harness_teardown(h);
    state.SetItemsProcessed(state.iterations());
}

// A whole pipeline of `frames` frames; the source's fill dominates, so this shows what the
// element adds to a real record branch.
void BM_Pipeline(benchmark::State &state)
{
    const Case c = Case(state.range(0));
    constexpr int frames = 200;
    const std::string launch = "videotestsrc num-buffers=" + std::to_string(frames)
        + " pattern=solid-color ! " + kCaps + " ! " + ElementOf(c)
        + " name=x ! fakesink sync=false";
    for (auto _ : state) {
        GstElement *p = gst_parse_launch(launch.c_str(), nullptr);
        GstElement *x = gst_bin_get_by_name(GST_BIN(p), "x");
        Configure(x, c);
        gst_object_unref(x);
        gst_element_set_state(p, GST_STATE_PLAYING);
        GstBus *bus = gst_element_get_bus(p);
        GstMessage *m = gst_bus_timed_pop_filtered(
            bus, GST_CLOCK_TIME_NONE, GstMessageType(GST_MESSAGE_EOS | GST_MESSAGE_ERROR));
        gst_message_unref(m);
        gst_object_unref(bus);
        gst_element_set_state(p, GST_STATE_NULL);
        gst_object_unref(p);
    }
    state.SetItemsProcessed(state.iterations() * frames);
}

const char *kNames[]
    = { "identity", "gate_open", "gate_open_stamp", "gate_closed", "shared_stamp" };

void Args(benchmark::internal::Benchmark *b)
{
    for (int c = Identity; c <= SharedStamp; ++c)
        b->Arg(c);
}

// A pipeline frame is never shared, so SharedStamp would repeat GateOpenStamp.
void PipelineArgs(benchmark::internal::Benchmark *b)
{
    for (int c = Identity; c <= GateClosed; ++c)
        b->Arg(c);
}

BENCHMARK(BM_Harness)->Apply(Args)->MinTime(1.0);
BENCHMARK(BM_Pipeline)
    ->Apply(PipelineArgs)
    ->Unit(benchmark::kMillisecond)
    ->MinTime(2.0)
    ->UseRealTime();

// Collects per-frame times to print the ratios to identity.
class RatioReporter : public benchmark::ConsoleReporter
{
public:
    void ReportRuns(const std::vector<Run> &runs) override
    {
        ConsoleReporter::ReportRuns(runs);
        for (const Run &run : runs) {
            // With repetitions, the median (reported last) stands for the case.
            if (run.run_type == Run::RT_Aggregate && run.aggregate_name != "median")
                continue;
            const auto items = run.counters.find("items_per_second");
            if (items != run.counters.end() && items->second.value > 0)
                m_nsPerFrame[run.run_name.function_name][std::stoi(run.run_name.args)]
                    = 1e9 / items->second.value;
        }
    }

    void PrintRatios() const
    {
        for (const auto &[group, cases] : m_nsPerFrame) {
            const auto identity = cases.find(Identity);
            if (identity == cases.end())
                continue;
            std::printf("\n%s per 720x576 frame (ratio to identity):\n", group.c_str());
            for (const auto &[c, ns] : cases)
                std::printf("  %-16s %9.2f us  %5.2fx  (%+.2f us)\n", kNames[c], ns / 1000,
                            ns / identity->second, (ns - identity->second) / 1000);
        }
    }

private:
    std::map<std::string, std::map<int, double>> m_nsPerFrame;
};

} // namespace

int main(int argc, char **argv)
{
    gst_init(&argc, &argv);
    if (!GST_ELEMENT_REGISTER(vorlundavi, nullptr))
        return 1;
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.PrintRatios();
    benchmark::Shutdown();
    return 0;
}
