// The capture graph on real pipelines: each source kind recorded to AVI and MP4 and read back,
// the detector fed by the live graph, rebuilds that leave nothing behind, a killed recording.
#include "CaptureGraphSupport.h"

#include "GraphUtils.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <fstream>
#include <spawn.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char **environ;

namespace vorlund::test {

namespace {

// Frames that left the last element before the encoder.
GstElement *RecordedVideoSource(CaptureGraph &graph)
{
    const bool dv = graph.Parts().kind == SourceKind::Dv;
    ElementRef element
        = FindElementByName(GST_BIN(graph.Pipeline()), dv ? names::kAvi2 : names::kAvi);
    return element.get(); // the pipeline keeps it
}

bool IsLocked(const std::filesystem::path &file)
{
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool locked = ::flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK;
    ::close(fd);
    return locked;
}

// AddressSanitizer keeps freed memory in quarantine, so only its leak check counts there.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kMeasuresMemory = false;
#else
constexpr bool kMeasuresMemory = true;
#endif

size_t RssBytes()
{
    std::ifstream statm("/proc/self/statm");
    size_t pages = 0, resident = 0;
    statm >> pages >> resident;
    return resident * size_t(sysconf(_SC_PAGESIZE));
}

class GraphTest : public ::testing::Test
{
protected:
    GraphFixture f { DvFile() };
};

struct RecordCase
{
    const char *name;
    std::string_view device;
    Guid subtype;
    int width, height;
    const char *codec;
    SourceKind kind;
    PictureSize grabber;
    double rate; // frames per second reaching the encoder
    const char *extension;
};

} // namespace

TEST_F(GraphTest, EachSourceKindRecordsWhatTheGatePassedWithoutAGap)
{
    const RecordCase cases[] = {
        { "bgr-avi",
          kTestCameraName,
          kSubtypeRgb24,
          320,
          240,
          "Microsoft MPEG-4 Video Codec V3",
          SourceKind::Rgb24,
          { 320, 240 },
          30,
          ".avi" },
        { "yuy2-raw-avi",
          kTestCameraName,
          kSubtypeYuy2,
          320,
          240,
          "(None)",
          SourceKind::Yuy2,
          { 320, 240 },
          30,
          ".avi" },
        { "i420-avi",
          kTestCameraName,
          kSubtypeI420,
          352,
          288,
          "Microsoft MPEG-4 Video Codec V3",
          SourceKind::Other,
          { 352, 288 },
          30,
          ".avi" },
        { "oversized-mp4",
          kLargeCamera,
          kSubtypeRgb24,
          320,
          240,
          "3ivx D4 Video Encoder",
          SourceKind::Other,
          { 320, 240 },
          30,
          ".mp4" },
        { "bgr-mp4",
          kTestCameraName,
          kSubtypeRgb24,
          320,
          240,
          "3ivx D4 Video Encoder",
          SourceKind::Rgb24,
          { 320, 240 },
          30,
          ".mp4" },
        { "dv-avi",
          kDvFileCamera,
          kSubtypeDvsd,
          720,
          576,
          "Microsoft MPEG-4 Video Codec V3",
          SourceKind::Dv,
          { 360, 288 },
          12.5,
          ".avi" },
        { "dv-mp4",
          kDvFileCamera,
          kSubtypeDvsd,
          720,
          576,
          "3ivx D4 Video Encoder",
          SourceKind::Dv,
          { 360, 288 },
          12.5,
          ".mp4" },
    };
    for (const RecordCase &c : cases) {
        SCOPED_TRACE(c.name);
        f.Configure(c.device, c.subtype, c.width, c.height, c.codec);
        f.notifier.entries.clear();
        ASSERT_EQ(f.graph.Build(), kGraphOk)
            << (f.notifier.entries.empty() ? "" : f.notifier.entries.back().text);
        EXPECT_EQ(f.graph.Parts().kind, c.kind);
        EXPECT_EQ(f.graph.Mpeg2FallbackUsed, c.device == kMpeg2Board);
        EXPECT_EQ(f.graph.Parts().grabberSize, c.grabber);
        EXPECT_EQ(f.grabber.FrameWidth, c.grabber.width);
        EXPECT_EQ(f.engine.PixelCount.load(), c.grabber.width * c.grabber.height);
        const std::filesystem::path file = f.graph.RecordFile();
        EXPECT_EQ(file.extension(), c.extension);
        EXPECT_TRUE(IsLocked(file));
        EXPECT_EQ(f.shell.panes[kPaneDevice],
                  c.kind == SourceKind::Dv ? "DV Cam - Audio OFF" : std::string(c.device));

        BufferCounter passed(RecordedVideoSource(f.graph), "src");
        ASSERT_TRUE(f.graph.RunGraph());
        const uint64_t before = f.graph.Grabber().FramesDelivered();
        ASSERT_TRUE(WaitFor([&] { return f.graph.Grabber().FramesDelivered() > before + 3; }));
        f.graph.SetGateOpen(true);
        EXPECT_EQ(f.engine.GateOpen.load(), 1);
        const auto opened = std::chrono::steady_clock::now();
        ASSERT_TRUE(WaitFor([&] { return passed.Count() >= int(c.rate * 1.5); }));
        const double openSeconds
            = std::chrono::duration<double>(std::chrono::steady_clock::now() - opened).count();
        f.graph.SetGateOpen(false);
        if (c.kind == SourceKind::Dv) {
            EXPECT_TRUE(WaitFor([&] {
                f.graph.DrainBus();
                return f.shell.panes[kPaneDevice] == "DV Cam - Audio ON";
            }));
        }
        f.graph.TearDownGraph();
        EXPECT_FALSE(f.graph.IsBuilt());
        EXPECT_TRUE(f.graph.WaitRecordingsSynced(std::chrono::seconds(10)));
        EXPECT_FALSE(IsLocked(file)) << "synced, then let go";
        EXPECT_EQ(f.graph.Grabber().FramesRefused(), 0u);
        EXPECT_TRUE(f.graph.TakeGraphEvents().empty());

        const ReadBack back = ReadRecording(file);
        EXPECT_TRUE(back.ok);
        EXPECT_TRUE(back.gapless);
        EXPECT_NEAR(back.frames, passed.Count(), 1);
        EXPECT_GE(back.frames, int(openSeconds * c.rate * 0.5));
        EXPECT_LE(back.frames, int(openSeconds * c.rate * 1.5) + 2);
    }
}

TEST_F(GraphTest, TheDetectorScoresTheLiveTestCameraAndFiresOnItsMovingPicture)
{
    f.Configure(kTestCameraName, kSubtypeYuy2, 320, 240, "(None)");
    ASSERT_EQ(f.graph.Build(), kGraphOk);
    f.engine.MotionEnabled[1] = 1;
    f.engine.RecordOnMotion[1] = 1;
    f.engine.RecordSeconds[1] = 5;
    f.engine.Sensitivity[1] = 25;
    ZoneMaskBytes watched;
    watched.fill(1);
    f.engine.SetZoneMask(1, EngineState::MaskZone(f.engine.CurrentZone.load()), watched);
    ASSERT_TRUE(f.graph.RunGraph());
    ASSERT_TRUE(WaitFor([&] { return f.graph.Grabber().FramesDelivered() > 5; }));
    f.engine.RecordCountdown = 0;
    f.engine.Armed.Arm();
    EXPECT_TRUE(WaitFor([&] { return f.engine.RecordCountdown.load() > 0; }));
    EXPECT_EQ(f.graph.Grabber().FramesRefused(), 0u);
    EXPECT_EQ(f.engine.FrameLength.load(), 320 * 240 * 3);
    f.graph.TearDownGraph();
}

TEST_F(GraphTest, TheDetectorRunsOnTheSourcesThreadAndScoresEveryFrameThatEntersTheTee)
{
    // No queue (no thread of its own) between the tee and the detector's sink: the frame is
    // read while it is hot in the source thread's cache, and none waits or is dropped. Each
    // frame entering the tee finds all the earlier ones delivered.
    for (const Guid *subtype : { &kSubtypeRgb24, &kSubtypeYuy2 }) {
        SCOPED_TRACE(subtype == &kSubtypeRgb24 ? "RGB24" : "YUY2");
        f.Configure(kTestCameraName, *subtype, 320, 240, "(None)");
        ASSERT_EQ(f.graph.Build(), kGraphOk);
        std::vector<std::string> between;
        GstElement *element = f.graph.Parts().m_pGrabber.get();
        while (element && element != f.graph.Parts().m_pTee.get()) {
            between.push_back(GST_OBJECT_NAME(element));
            EXPECT_STRNE(GST_OBJECT_NAME(gst_element_get_factory(element)), "queue");
            GstPad *sink = gst_element_get_static_pad(element, "sink");
            GstPad *peer = sink ? gst_pad_get_peer(sink) : nullptr;
            element = peer ? GST_PAD_PARENT(peer) : nullptr;
            if (peer)
                gst_object_unref(peer);
            if (sink)
                gst_object_unref(sink);
        }
        EXPECT_EQ(element, f.graph.Parts().m_pTee.get()) << "the chain reaches the tee";

        struct Seen
        {
            CaptureGraph *graph;
            uint64_t first = 0;
            int entered = 0;
            std::atomic<int> late { 0 };
        } seen { &f.graph, f.graph.Grabber().FramesDelivered() };
        GstPad *pad = gst_element_get_static_pad(f.graph.Parts().m_pTee.get(), "sink");
        const gulong probe = gst_pad_add_probe(
            pad, GST_PAD_PROBE_TYPE_BUFFER,
            [](GstPad *, GstPadProbeInfo *, gpointer data) {
                auto *s = static_cast<Seen *>(data);
                if (s->graph->Grabber().FramesDelivered() - s->first != uint64_t(s->entered))
                    ++s->late;
                ++s->entered;
                return GST_PAD_PROBE_OK;
            },
            &seen, nullptr);
        ASSERT_TRUE(f.graph.RunGraph());
        EXPECT_TRUE(WaitFor([&] { return f.graph.Grabber().FramesDelivered() > seen.first + 20; }));
        gst_pad_remove_probe(pad, probe);
        gst_object_unref(pad);
        f.graph.TearDownGraph();
        EXPECT_EQ(seen.late.load(), 0) << between.size() << " elements between";
        EXPECT_EQ(f.graph.Grabber().FramesRefused(), 0u);
    }
}

TEST_F(GraphTest, RebuildsLeaveNoElementAndNoMemoryBehind)
{
    f.Configure(kTestCameraName, kSubtypeRgb24, 320, 240, "(None)");
    std::atomic<int> alive { 0 };
    size_t rssAfterWarmUp = 0;
    int childrenOfFirstBuild = -1;
    for (int cycle = 0; cycle < 50; ++cycle) {
        // Every other rebuild keeps the device, as the device pages and the codec fallback do.
        f.engine.KeepDeviceFilter = cycle % 2;
        ASSERT_EQ(f.graph.Build(), kGraphOk) << cycle;
        GstIterator *it = gst_bin_iterate_recurse(GST_BIN(f.graph.Pipeline()));
        int children = 0;
        gst_iterator_foreach(
            it,
            [](const GValue *value, gpointer data) {
                auto *count = static_cast<std::atomic<int> *>(data);
                GObject *element = G_OBJECT(g_value_get_object(value));
                if (!g_object_get_data(element, "counted")) {
                    g_object_set_data(element, "counted", element);
                    ++*count;
                    g_object_weak_ref(
                        element,
                        [](gpointer d, GObject *) { --*static_cast<std::atomic<int> *>(d); },
                        count);
                }
            },
            &alive);
        gst_iterator_free(it);
        children = int(GST_BIN(f.graph.Pipeline())->numchildren);
        if (childrenOfFirstBuild < 0)
            childrenOfFirstBuild = children;
        EXPECT_EQ(children, childrenOfFirstBuild) << cycle;
        ASSERT_TRUE(f.graph.RunGraph());
        const uint64_t before = f.graph.Grabber().FramesDelivered();
        ASSERT_TRUE(WaitFor([&] { return f.graph.Grabber().FramesDelivered() > before + 1; }));
        f.graph.TearDownGraph();
        // Only the kept device stage (source and its format filter) outlives a teardown.
        EXPECT_EQ(alive.load(), f.engine.KeepDeviceFilter.load() ? 2 : 0) << cycle;
        if (cycle == 9)
            rssAfterWarmUp = RssBytes();
    }
    f.engine.KeepDeviceFilter = 0;
    f.graph.TearDownGraph();
    EXPECT_EQ(alive.load(), 0);
    if (kMeasuresMemory) {
        EXPECT_LT(RssBytes(), rssAfterWarmUp + 8 * 1024 * 1024);
    }
}

TEST_F(GraphTest, TwoBuildsInOneMinuteMakeTwoFilesAndTheFirstStaysAsItWas)
{
    f.clock.now = { 2026, 12, 8, 14, 5, 30, 2 };
    f.Configure(kTestCameraName, kSubtypeRgb24, 320, 240, "Microsoft MPEG-4 Video Codec V3");
    ASSERT_EQ(f.graph.Build(), kGraphOk);
    const std::filesystem::path first = f.graph.RecordFile();
    EXPECT_EQ(first.filename(), "v12-08-2026-1405.avi");
    BufferCounter passed(RecordedVideoSource(f.graph), "src");
    ASSERT_TRUE(f.graph.RunGraph());
    f.graph.SetGateOpen(true);
    ASSERT_TRUE(WaitFor([&] { return passed.Count() > 10; }));
    f.graph.TearDownGraph();
    const auto size = std::filesystem::file_size(first);
    const auto written = std::filesystem::last_write_time(first);

    ASSERT_EQ(f.graph.Build(), kGraphOk);
    EXPECT_EQ(f.graph.RecordFile().filename(), "v12-08-2026-1405-2.avi");
    ASSERT_TRUE(f.graph.RunGraph());
    f.graph.SetGateOpen(true);
    ASSERT_TRUE(WaitFor([&] { return f.graph.Grabber().FramesDelivered() > 20; }));
    f.graph.TearDownGraph();
    EXPECT_EQ(std::filesystem::file_size(first), size);
    EXPECT_EQ(std::filesystem::last_write_time(first), written);
    EXPECT_GT(ReadRecording(first).frames, 10);
}

TEST_F(GraphTest, AMissingDeviceOrCodecIsReportedAndTeardownIsSafeTwice)
{
    struct Case
    {
        const char *device;
        const char *codec;
        const char *caption;
        std::string_view textStart;
    };
    const Case cases[] = {
        { "No Such Camera", "(None)", "Vorlund - Error!", "No video capture device was detected" },
        { kTestCameraName.data(), "No Such Codec", "Error!", "Could not find Video Codec." },
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.device);
        f.Configure(c.device, kSubtypeRgb24, 320, 240, c.codec);
        f.notifier.entries.clear();
        EXPECT_LT(f.graph.Build(), 0);
        ASSERT_EQ(f.notifier.entries.size(), 1u);
        EXPECT_EQ(f.notifier.entries[0].caption, c.caption);
        EXPECT_TRUE(f.notifier.entries[0].text.starts_with(c.textStart));
        f.graph.TearDownGraph();
        f.graph.TearDownGraph();
        EXPECT_FALSE(f.graph.IsBuilt());
    }
    // A device probe stops at the tee: no branches, no recording file.
    f.Configure(kTestCameraName, kSubtypeRgb24, 320, 240, "(None)");
    f.graph.DeviceProbe = true;
    EXPECT_EQ(f.graph.Build(), kGraphOk);
    EXPECT_TRUE(f.graph.Parts().m_pTee);
    EXPECT_FALSE(f.graph.IsBuilt());
    EXPECT_EQ(GST_BIN(f.graph.Pipeline())->numchildren, 3);
    f.graph.TearDownGraph();
    f.graph.DeviceProbe = false;
    EXPECT_TRUE(std::filesystem::is_empty(f.view.VideoFolder));
}

TEST_F(GraphTest, AnErrorOnTheBusBecomesOneGraphEventMessage)
{
    f.Configure(kTestCameraName, kSubtypeRgb24, 320, 240, "(None)");
    ASSERT_EQ(f.graph.Build(), kGraphOk);
    ASSERT_TRUE(f.graph.RunGraph());
    for (int i = 0; i < 2; ++i) {
        GError *error = g_error_new_literal(GST_STREAM_ERROR, GST_STREAM_ERROR_FAILED, "lost");
        gst_element_post_message(
            f.graph.Pipeline(),
            gst_message_new_error(GST_OBJECT(f.graph.Pipeline()), error, nullptr));
        g_error_free(error);
    }
    // The bus watch drains on the event loop.
    ASSERT_TRUE(WaitFor([&] { return f.sink.Count(WM_GRAPH_EVENT) > 0; }));
    WaitFor([] { return false; }, std::chrono::milliseconds(100));
    EXPECT_EQ(f.sink.Count(WM_GRAPH_EVENT), 1);
    const std::vector<GraphEvent> events = f.graph.TakeGraphEvents();
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].text, "lost");
    f.graph.TearDownGraph();
}

// Run in a child process by the next test: records MP4 until it is killed.
TEST(GraphChild, RecordsMp4UntilKilled)
{
    const char *folder = std::getenv("VORLUND_GRAPH_CHILD");
    if (!folder)
        GTEST_SKIP() << "runs only as the child of KilledMp4RecordingStaysReadable";
    GraphFixture f(DvFile());
    f.settings.Config.VideoFolder = folder;
    f.Configure(kTestCameraName, kSubtypeRgb24, 320, 240, "3ivx D4 Video Encoder");
    ASSERT_EQ(f.graph.Build(), kGraphOk);
    ASSERT_TRUE(f.graph.RunGraph());
    f.graph.SetGateOpen(true);
    std::ofstream(std::filesystem::path(folder) / "recording") << f.graph.RecordFile().string();
    WaitFor([] { return false; }, std::chrono::seconds(60));
}

TEST(GraphKill, KilledMp4RecordingStaysReadable)
{
    TempFolder folder;
    const std::string env = "VORLUND_GRAPH_CHILD=" + folder.path.string();
    std::vector<std::string> envStrings;
    for (char **e = environ; *e; ++e)
        envStrings.emplace_back(*e);
    envStrings.push_back(env);
    std::vector<char *> envp;
    for (std::string &s : envStrings)
        envp.push_back(s.data());
    envp.push_back(nullptr);
    std::string self = std::filesystem::read_symlink("/proc/self/exe").string();
    std::string filter = "--gtest_filter=GraphChild.RecordsMp4UntilKilled";
    char *argv[] = { self.data(), filter.data(), nullptr };
    pid_t child = 0;
    ASSERT_EQ(posix_spawn(&child, self.c_str(), nullptr, nullptr, argv, envp.data()), 0);

    const std::filesystem::path marker = folder.path / "recording";
    std::filesystem::path file;
    ASSERT_TRUE(WaitFor(
        [&] {
            std::ifstream in(marker);
            std::string text;
            if (in && std::getline(in, text) && !text.empty())
                file = text;
            std::error_code ec;
            // Two seconds of fragments at least.
            return !file.empty() && std::filesystem::file_size(file, ec) > 40000 && !ec;
        },
        std::chrono::seconds(20)));
    EXPECT_TRUE(IsLocked(file)); // the repair tool is kept out while it grows
    ::kill(child, SIGKILL);
    int status = 0;
    ::waitpid(child, &status, 0);
    EXPECT_TRUE(WIFSIGNALED(status));

    const ReadBack back = ReadRecording(file);
    EXPECT_TRUE(back.ok);
    EXPECT_TRUE(back.gapless);
    EXPECT_GE(back.frames, 25);
}

} // namespace vorlund::test
