// The server as a whole on the built-in test camera: the real view core, pipeline, plugins,
// detector, files and link library, driven through its commands, timers and bus.
#include "CVorlundView.h"
#include "CaptureGraph.h"
#include "LinkLibraries.h"
#include "PluginFolder.h"
#include "RawClient.h"

#include <QApplication>
#include <QTcpServer>
#include <QTest>
#include <gst/gst.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <regex>
#include <sched.h>
#include <sys/mount.h>
#include <sys/statvfs.h>
#include <sys/wait.h>

using namespace vorlund;
using Bytes = std::vector<uint8_t>;

namespace {

std::string Read(const std::filesystem::path &file)
{
    std::ifstream in(file, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), {});
}

uint16_t FreePort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

// Frames avidemux finds in a recording read to its end; -1 when it does not play.
int PlayedFrames(const std::filesystem::path &file)
{
    const std::string description = "filesrc location=\"" + file.string()
        + "\" ! avidemux ! fakesink name=sink signal-handoffs=true";
    GstElement *pipeline = gst_parse_launch(description.c_str(), nullptr);
    if (!pipeline)
        return -1;
    int frames = 0;
    GstElement *sink = gst_bin_get_by_name(GST_BIN(pipeline), "sink");
    g_signal_connect(sink, "handoff",
                     G_CALLBACK(+[](GstElement *, GstBuffer *, GstPad *, gpointer count) {
                         ++*static_cast<int *>(count);
                     }),
                     &frames);
    gst_object_unref(sink);
    gst_element_set_state(pipeline, GST_STATE_PLAYING);
    GstBus *bus = gst_element_get_bus(pipeline);
    GstMessage *end = gst_bus_timed_pop_filtered(
        bus, 20 * GST_SECOND, GstMessageType(GST_MESSAGE_EOS | GST_MESSAGE_ERROR));
    const bool played = end && GST_MESSAGE_TYPE(end) == GST_MESSAGE_EOS;
    if (end)
        gst_message_unref(end);
    gst_object_unref(bus);
    gst_element_set_state(pipeline, GST_STATE_NULL);
    gst_object_unref(pipeline);
    return played ? frames : -1;
}

struct ServerTest : ::testing::Test
{
    // A working folder whose test camera records on motion, snaps, and serves viewers on a
    // free port.
    void Prepare(bool autoStart)
    {
        folder = std::filesystem::temp_directory_path()
            / ("vorlund-e2e-" + std::to_string(getpid()) + "-" + std::to_string(++serial));
        std::filesystem::remove_all(folder);
        std::filesystem::create_directories(folder);
        port = FreePort();
        std::ofstream(folder / "Vorlund.INI")
            << "[Settings]\nAutoStartDetect=" << (autoStart ? 1 : 0)
            << "\n[Video]\nLast Device Desc=Vorlund Test Camera\n";
        profile = std::make_unique<Profile>(folder / "Vorlund.INI");
        ViewCore::Options options;
        options.workingFolder = folder;
        options.makeGraph = MakeCaptureGraph;
        options.makeLinks = [] { return std::make_unique<LinkLibraries>(); };
        view = std::make_unique<CVorlundView>(*profile, notifier, options);
        view->Core().OnInitialUpdate();
        // Before the first start (auto-start waits 3 s): the listener takes these.
        DeviceConfig &config = view->Core().Settings().Config;
        config.Block.RemotePort = port;
        config.Block.RemoteEnabled = 1;
        config.RemoteMode = 1;
        view->Core().Remote().ApplyRemoteMode();
    }
    void TearDown() override
    {
        if (view) {
            view->Core().OnClose();
            view->Core().OnDestroy();
            view.reset();
        }
        if (!folder.empty())
            std::filesystem::remove_all(folder);
    }
    ViewCore &Core() { return view->Core(); }
    bool WaitFor(const std::function<bool()> &condition, int ms)
    {
        return QTest::qWaitFor(condition, ms);
    }
    std::vector<std::filesystem::path> Recordings() const
    {
        std::vector<std::filesystem::path> files;
        for (const auto &entry : std::filesystem::directory_iterator(folder / "CaptureData"))
            if (entry.path().extension() == ".avi")
                files.push_back(entry.path());
        return files;
    }
    std::string Log() const { return Read(folder / "vorlund.log"); }
    // Capture starting by itself in `work`, recording continuously.
    void StartContinuous(const std::filesystem::path &work)
    {
        folder = work;
        std::filesystem::create_directories(folder);
        std::ofstream(folder / "Vorlund.INI")
            << "[Settings]\nAutoStartDetect=1\n[Video]\nLast Device Desc=Vorlund Test Camera\n";
        profile = std::make_unique<Profile>(folder / "Vorlund.INI");
        ViewCore::Options options;
        options.workingFolder = folder;
        options.makeGraph = MakeCaptureGraph;
        view = std::make_unique<CVorlundView>(*profile, notifier, options);
        Core().OnInitialUpdate();
        DeviceConfig &config = Core().Settings().Config;
        config.ContinuousRecord = 1;
        config.RecordWindow = { 0, 0, 23, 59 };
    }

    static inline int serial = 0;
    std::filesystem::path folder;
    uint16_t port = 0;
    RecordingNotifier notifier;
    std::unique_ptr<Profile> profile;
    std::unique_ptr<CVorlundView> view;
};

TEST_F(ServerTest, DetectsRecordsSnapsAndServesAViewerOnTheTestCamera)
{
    Prepare(true);
    EngineState &engine = Core().Engine();
    // Auto-start: capture starts 3 s later, then the moving ball fires the detector.
    ASSERT_TRUE(WaitFor([&] { return !Core().View().Idle; }, 8000)) << Log();
    ASSERT_TRUE(WaitFor([&] { return engine.GateOpen != 0; }, 15000)) << "no motion recorded";
    ASSERT_TRUE(WaitFor(
        [&] { return std::filesystem::exists(folder / "CaptureData/cam1/p001.jpg"); }, 10000));

    // A viewer logs in and gets live frames of the announced size while the recording runs.
    test::RawClient client(port, [] { QCoreApplication::processEvents(); });
    ASSERT_TRUE(client.Connected());
    Bytes hello;
    ASSERT_TRUE(client.Send(test::RawClient::Login(50, 32)));
    ASSERT_TRUE(client.Read(22, hello));
    for (int i = 0; i < 5; ++i) {
        uint8_t camera = 0;
        Bytes jpeg, bgr;
        int w = 0, h = 0;
        ASSERT_TRUE(client.Send(test::RawClient::Request('c', 1, 50)));
        ASSERT_TRUE(client.ReadFrame(camera, jpeg)) << i;
        EXPECT_EQ(camera, 1);
        ASSERT_TRUE(test::DecodeJpeg(jpeg, w, h, bgr));
        EXPECT_EQ(w, 320);
        EXPECT_EQ(h, 240);
    }
    EXPECT_GT(engine.RecordCountdown.load() + engine.GateOpen.load(), 0) << "still recording";

    // A clean shutdown leaves every recording complete and playable.
    Core().OnClose();
    Core().OnDestroy();
    view.reset();
    const auto files = Recordings();
    ASSERT_FALSE(files.empty());
    for (const auto &file : files) {
        EXPECT_NE(Read(file).find("idx1"), std::string::npos) << file;
        EXPECT_GT(PlayedFrames(file), 0) << file;
    }
}

TEST_F(ServerTest, RunControlStartsStopsAndRestartsAfterAborts)
{
    Prepare(false);
    EngineState &engine = Core().Engine();
    ViewState &state = Core().View();
    for (int c = 1; c <= 4; ++c)
        engine.FreshFrame[c] = 0;
    Core().OnCommand(132);
    Core().OnCommand(132); // a second start is harmless
    ASSERT_FALSE(state.Idle);
    EXPECT_TRUE(WaitFor([&] { return engine.FreshFrame[1] != 0; }, 1000)) << "frames flow";
    ASSERT_TRUE(WaitFor([&] { return engine.GateOpen != 0; }, 15000)) << "no motion recorded";
    QTest::qWait(1000); // a second of recording

    Core().OnCommand(133);
    Core().OnCommand(133);
    EXPECT_TRUE(state.Idle);
    for (const auto &file : Recordings())
        EXPECT_NE(Read(file).find("idx1"), std::string::npos)
            << "stopped file indexed: " << file << " " << std::filesystem::file_size(file);

    // An error on the bus: restarted by the tick, then running again 3 s later.
    Core().OnCommand(132);
    ASSERT_FALSE(state.Idle);
    const auto postError = [&] {
        auto *graph = dynamic_cast<CaptureGraph *>(&Core().Graph());
        ASSERT_NE(graph, nullptr);
        GError *error = g_error_new_literal(GST_STREAM_ERROR, GST_STREAM_ERROR_FAILED, "test");
        gst_element_post_message(
            graph->Pipeline(),
            gst_message_new_error(GST_OBJECT(graph->Pipeline()), error, "posted by the test"));
        g_error_free(error);
    };
    postError();
    ASSERT_TRUE(WaitFor([&] { return state.Idle; }, 2000)) << "restart stops first";
    ASSERT_TRUE(WaitFor([&] { return !state.Idle; }, 5000)) << "and starts again";
    EXPECT_TRUE(state.RestartMark);
    EXPECT_NE(Log().find("Abort during capture (restarting...), code = 80040001"),
              std::string::npos)
        << Log();

    // A second abort within 30 s stops capture for good.
    postError();
    ASSERT_TRUE(WaitFor([&] { return state.Idle; }, 2000));
    QTest::qWait(4000);
    EXPECT_TRUE(state.Idle);
    EXPECT_NE(Log().find("Abort during capture (stopping...)"), std::string::npos);
    ASSERT_FALSE(notifier.entries.empty());
    EXPECT_EQ(notifier.entries.back().text, "Stopped due to serious error!");
}

// A 64 MB file system in a private mount namespace, unmounted when it goes.
struct SmallDisk
{
    std::filesystem::path at;
    std::string failure;

    SmallDisk()
    {
        if (unshare(CLONE_NEWNS) != 0
            || mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
            failure = std::string("no private mount namespace here: ") + std::strerror(errno);
            return;
        }
        at = std::filesystem::temp_directory_path() / ("vorlund-disk-" + std::to_string(getpid()));
        std::filesystem::create_directories(at);
        if (mount("tmpfs", at.c_str(), "tmpfs", 0, "size=64m") != 0)
            failure = std::string("tmpfs cannot be mounted here: ") + std::strerror(errno);
    }
    ~SmallDisk()
    {
        if (!at.empty()) {
            umount2(at.c_str(), MNT_DETACH);
            std::filesystem::remove_all(at);
        }
    }
    // Writes `name` until only `permille` of the disk is free (0: until it is full).
    void FillTo(const std::string &name, uint64_t permille) const
    {
        struct statvfs fs
        {
        };
        statvfs(at.c_str(), &fs);
        const uint64_t total = uint64_t(fs.f_blocks) * fs.f_frsize;
        const uint64_t free = uint64_t(fs.f_bavail) * fs.f_frsize;
        const uint64_t keep = total * permille / 1000;
        const uint64_t fill = free > keep ? free - keep : 0;
        std::ofstream filler(at / name, std::ios::binary);
        const std::string block(1 << 20, 'x');
        for (uint64_t done = 0; done < fill && filler; done += block.size())
            filler.write(block.data(),
                         std::streamsize(std::min<uint64_t>(block.size(), fill - done)));
    }
};

TEST_F(ServerTest, FullDiskStopsContinuousRecordingWithTheFileComplete)
{
    SmallDisk disk;
    if (!disk.failure.empty())
        GTEST_SKIP() << disk.failure;
    disk.FillTo("filler", 27); // just above 2 % free
    StartContinuous(disk.at / "work");

    ViewState &state = Core().View();
    ASSERT_TRUE(WaitFor([&] { return !state.Idle; }, 8000));
    ASSERT_TRUE(WaitFor([&] { return Core().Engine().GateOpen != 0; }, 5000)) << "continuous";
    // The next slow pass (15 s in continuous mode) finds less than 2 % and stops capture.
    ASSERT_TRUE(WaitFor([&] { return state.Idle; }, 40000)) << "capture was not stopped";
    ASSERT_FALSE(notifier.entries.empty());
    EXPECT_EQ(notifier.entries.back().text,
              "WARNING: Disk space is too low!\nPlease free some disk space.\nStopping Vorlund!");
    QTest::qWait(200); // the server keeps responding
    const auto files = Recordings();
    ASSERT_FALSE(files.empty());
    for (const auto &file : files) {
        EXPECT_NE(Read(file).find("idx1"), std::string::npos) << file;
        EXPECT_GT(PlayedFrames(file), 10) << file;
    }
    Core().OnClose();
    Core().OnDestroy();
    view.reset();
    folder.clear();
}

TEST_F(ServerTest, DiskFilledBeforeTheGuardLooksIsAnAbortAndTheRepairToolMendsTheFile)
{
    SmallDisk disk;
    if (!disk.failure.empty())
        GTEST_SKIP() << disk.failure;
    disk.FillTo("filler", 40); // 4 % free: the guard sees no danger at the start
    StartContinuous(disk.at / "work");
    ViewState &state = Core().View();
    ASSERT_TRUE(WaitFor([&] { return !state.Idle; }, 8000));
    ASSERT_TRUE(WaitFor([&] { return Core().Engine().GateOpen != 0; }, 5000));
    QTest::qWait(1500);
    const auto recording = Recordings();
    ASSERT_EQ(recording.size(), 1u);

    // Someone else fills the disk: the file sink fails and run control takes the abort path.
    disk.FillTo("other", 0);
    ASSERT_TRUE(
        WaitFor([&] { return Log().find("Abort during capture") != std::string::npos; }, 20000))
        << Log();
    QTest::qWait(8000); // restarts that cannot make a file on a full disk; events still flow
    Core().OnClose();
    Core().OnDestroy();
    view.reset();

    // With room again, the repair tool mends what the full disk left.
    std::filesystem::remove(disk.at / "other");
    const std::filesystem::path good = std::filesystem::temp_directory_path()
        / ("vorlund-good-" + std::to_string(getpid()) + ".avi");
    const std::string make = "gst-launch-1.0 -q videotestsrc num-buffers=30 ! "
                             "video/x-raw,width=320,height=240 ! avenc_msmpeg4 ! avimux ! "
                             "filesink location="
        + good.string() + " > /dev/null 2>&1";
    ASSERT_EQ(std::system(make.c_str()), 0);
    const std::string repair = std::string(VORLUND_MENDREL) + " --repair " + recording[0].string()
        + " " + good.string() + " > /dev/null 2>&1";
    const int rc = std::system(repair.c_str());
    std::filesystem::remove(good);
    EXPECT_TRUE(WIFEXITED(rc) && WEXITSTATUS(rc) == 0) << rc;
    EXPECT_GT(PlayedFrames(recording[0]), 10);
    folder.clear();
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    gst_init(&argc, &argv);
    AddPluginFolder(VORLUND_PLUGIN_DIR);
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
