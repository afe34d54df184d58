// The server as a whole on the built-in test camera: the real view core, pipeline, plugins,
// detector, files and link library, driven through its commands, timers and bus.
#include "CVorlundView.h"
#include "CaptureDevices.h"
#include "CaptureGraph.h"
#include "LinkLibraries.h"
#include "PluginFolder.h"
#include "RawClient.h"
#include "ServerFixture.h"
#include "WmTestProfiles.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTcpServer>
#include <QTest>
#include <gst/gst.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
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

// Counts `text` in `log`.
int Count(const std::string &log, const std::string &text)
{
    int n = 0;
    for (size_t at = log.find(text); at != std::string::npos; at = log.find(text, at + 1))
        ++n;
    return n;
}

// A recording holds at least one video frame chunk (indexed or not).
bool HasFrames(const std::filesystem::path &file)
{
    const std::string bytes = Read(file);
    const size_t movi = bytes.find("movi");
    return movi != std::string::npos
        && (bytes.find("00dc", movi) != std::string::npos
            || bytes.find("00db", movi) != std::string::npos);
}

// The server on the real pipeline with its ticks, delays and the 30 s rule in virtual time: the
// test moves the clock; frames come in real time and are awaited through bounded waits.
struct ServerTest : ::testing::Test
{
    void Open(bool autoStart, bool remote)
    {
        if (folder.empty())
            folder = std::filesystem::temp_directory_path()
                / ("vorlund-e2e-" + std::to_string(getpid()) + "-" + std::to_string(++serial));
        std::filesystem::remove_all(folder);
        std::filesystem::create_directories(folder);
        std::ofstream(folder / "Vorlund.INI")
            << "[Settings]\nAutoStartDetect=" << (autoStart ? 1 : 0)
            << "\n[Video]\nLast Device Desc=Vorlund Test Camera\n";
        clock.now = SystemClock::Instance().Now();
        clock.ticks = 1000000;
        profile = std::make_unique<Profile>(folder / "Vorlund.INI");
        ViewCore::Options options;
        options.workingFolder = folder;
        options.clock = &clock;
        options.makeTimers = [this](std::function<void(int)> onTimer) {
            auto made = std::make_unique<test::VirtualTimers>(clock, std::move(onTimer));
            timers = made.get();
            return made;
        };
        options.makeGraph = [this](ServerContext &context) {
            std::unique_ptr<ICaptureGraph> made = MakeCaptureGraph(context);
            graph = static_cast<CaptureGraph *>(made.get());
            return made;
        };
        if (remote)
            options.makeLinks = [] { return std::make_unique<LinkLibraries>(); };
        view = std::make_unique<CVorlundView>(*profile, notifier, options);
        Core().OnInitialUpdate();
    }
    // Capture starting by itself, recording continuously.
    void OpenContinuous()
    {
        Open(true, false);
        DeviceConfig &config = Core().Settings().Config;
        config.ContinuousRecord = 1;
        config.RecordWindow = { 0, 0, 23, 59 };
    }
    void TearDown() override
    {
        Close();
        if (!folder.empty())
            std::filesystem::remove_all(folder);
    }
    void Close()
    {
        if (view) {
            Core().OnClose();
            Core().OnDestroy();
            view.reset();
        }
    }
    ViewCore &Core() { return view->Core(); }
    bool Running() { return !Core().View().Idle; }
    // Virtual time on by at most `ms`, a main tick at a time, the pipeline's messages let in
    // between; stops once `until` holds. A run that has just started gets its first frame (a
    // bounded real wait) before time moves on, as it would at the pipeline's pace.
    bool Run(uint32_t ms, const std::function<bool()> &until = {})
    {
        for (uint32_t done = 0; done < ms; done += 15) {
            if (Running() && graph->FramesDelivered() == 0
                && !QTest::qWaitFor([&] { return !Running() || graph->FramesDelivered() != 0; },
                                    10000))
                ADD_FAILURE() << "no frame 10 s after a start";
            timers->Advance(15);
            QCoreApplication::processEvents();
            if (until && until())
                return true;
        }
        return !until;
    }
    // Real time, with virtual time following it, until `until` holds (at most `ms`).
    bool Live(uint32_t ms, const std::function<bool()> &until)
    {
        QElapsedTimer real;
        real.start();
        while (real.elapsed() < ms) {
            QTest::qWait(5);
            Pace();
            if (until())
                return true;
        }
        return until();
    }
    // Virtual time catches up with the real time since the last call.
    void Pace()
    {
        if (!m_paced.isValid())
            m_paced.start();
        const qint64 now = m_paced.elapsed();
        timers->Advance(uint32_t(now - m_pacedTo));
        m_pacedTo = now;
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

    static inline int serial = 0;
    std::filesystem::path folder;
    FakeClock clock;
    test::VirtualTimers *timers = nullptr;
    CaptureGraph *graph = nullptr;
    RecordingNotifier notifier;
    std::unique_ptr<Profile> profile;
    std::unique_ptr<CVorlundView> view;

private:
    QElapsedTimer m_paced;
    qint64 m_pacedTo = 0;
};

TEST_F(ServerTest, DetectsRecordsSnapsAndServesAViewerOnTheTestCamera)
{
    Open(true, true);
    // Before the first start (auto-start waits 3 s): the listener takes these.
    const uint16_t port = FreePort();
    DeviceConfig &config = Core().Settings().Config;
    config.Block.RemotePort = port;
    config.Block.RemoteEnabled = 1;
    config.RemoteMode = 1;
    Core().Remote().ApplyRemoteMode();
    EngineState &engine = Core().Engine();
    ASSERT_TRUE(Run(8000, [&] { return Running(); })) << Log();
    ASSERT_TRUE(Live(15000, [&] { return graph->FramesRecorded() > 5; })) << "no motion recorded";
    ASSERT_TRUE(
        Live(10000, [&] { return std::filesystem::exists(folder / "CaptureData/cam1/p001.jpg"); }));

    // A viewer logs in and gets live frames of the announced size while the recording runs.
    test::RawClient client(port, [this] {
        QCoreApplication::processEvents();
        Pace(); // the main tick serves the requests
    });
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
    Close();
    const auto files = Recordings();
    ASSERT_FALSE(files.empty());
    for (const auto &file : files) {
        EXPECT_NE(Read(file).find("idx1"), std::string::npos) << file;
        EXPECT_GT(PlayedFrames(file), 0) << file;
    }
}

TEST_F(ServerTest, StartAndStopCommandsLeaveIndexedRecordings)
{
    Open(false, false);
    for (int round = 0; round < 2; ++round) {
        Core().OnCommand(132);
        Core().OnCommand(132); // a second start is harmless
        ASSERT_TRUE(Running());
        ASSERT_TRUE(Live(15000, [&] { return graph->FramesRecorded() > 5; }))
            << "no motion recorded";
        Live(1000, [] { return false; }); // a second of recording
        Core().OnCommand(133);
        Core().OnCommand(133);
        EXPECT_FALSE(Running());
    }
    ASSERT_TRUE(graph->WaitRecordingsSynced(std::chrono::seconds(10)));
    const auto files = Recordings();
    EXPECT_GE(files.size(), 2u);
    for (const auto &file : files)
        EXPECT_NE(Read(file).find("idx1"), std::string::npos)
            << "stopped file indexed: " << file << " " << std::filesystem::file_size(file);
}

TEST_F(ServerTest, PassingWriteFaultsRestartCaptureAndTwoWithinThirtySecondsStopIt)
{
    OpenContinuous();
    ASSERT_TRUE(Run(8000, [&] { return Running(); })) << Log();
    const auto recordingGrows = [&] { return graph->FramesRecorded() > 10; };
    ASSERT_TRUE(Live(10000, recordingGrows)) << "continuous recording";

    const auto fault = [&](const char *expected) {
        const std::filesystem::path faulted = graph->RecordFile();
        const int before = Count(Log(), expected);
        graph->FailRecordWrites(std::chrono::milliseconds(300));
        EXPECT_TRUE(Live(5000, [&] { return Count(Log(), expected) > before; })) << Log();
        // Whatever the failure still posts belongs to the abort already noted.
        Live(600, [] { return false; });
        EXPECT_NE(Log().find(UnfinishedRecordingText(faulted, RecordingFormat::Avi)),
                  std::string::npos)
            << Log();
        return faulted;
    };

    // A passing fault: one abort, a restart 3 s later, a new recording growing.
    const std::filesystem::path first = fault("(restarting...)");
    ASSERT_TRUE(Run(5000, [&] { return Running() && graph->RecordFile() != first; })) << Log();
    EXPECT_TRUE(Core().View().RestartMark);
    ASSERT_TRUE(Live(10000, recordingGrows)) << "recording again";
    EXPECT_EQ(Count(Log(), "Abort during capture (restarting...), code = 8003000e"), 1) << Log();

    // Another one more than 30 s after the first abort is a passing fault again.
    ASSERT_FALSE(Run(31000, [&] { return !Running(); })) << Log();
    const std::filesystem::path second = fault("(restarting...)");
    ASSERT_TRUE(Run(5000, [&] { return Running() && graph->RecordFile() != second; })) << Log();
    ASSERT_TRUE(Live(10000, recordingGrows));
    EXPECT_EQ(Count(Log(), "(restarting...)"), 2) << Log();

    // The next within 30 s of that abort stops capture for good.
    fault("(stopping...)");
    EXPECT_FALSE(Running());
    EXPECT_FALSE(Run(5000, [&] { return Running(); })) << "no restart after a stop";
    EXPECT_EQ(Count(Log(), "(restarting...)"), 2) << Log();
    EXPECT_EQ(Count(Log(), "Abort during capture (stopping...), code = 8003000e"), 1) << Log();
    ASSERT_FALSE(notifier.entries.empty());
    EXPECT_EQ(notifier.entries.back().text, "Stopped due to serious error!");

    // Every file left has frames: nothing empty or header-only stays behind.
    ASSERT_TRUE(graph->WaitRecordingsSynced(std::chrono::seconds(10)));
    const auto files = Recordings();
    EXPECT_EQ(files.size(), 3u);
    for (const auto &file : files)
        EXPECT_TRUE(HasFrames(file)) << file;
}

// A write fault in the file sink during a recording with sound: the entry names the file, with
// the advice that holds for its kind.
TEST_F(ServerTest, AWriteFaultLeavesEachKindUnfinishedWithItsAdvice)
{
    struct Kind
    {
        const char *name;
        const char *codec; // empty: the default
        bool wmProfile;
        const char *extension;
        const char *advice;
    };
    const Kind kinds[] = {
        { "AVI", "", false, ".avi", " (mend it with Repair Video)" },
        { "MP4", "3ivx D4 Video Encoder", false, ".mp4",
          " (players read it as it stands, up to its last complete frame)" },
        { "Windows Media", "", true, ".wmv", " (players read it as it stands)" },
    };
    for (const Kind &kind : kinds) {
        SCOPED_TRACE(kind.name);
        OpenContinuous();
        DeviceConfig &config = Core().Settings().Config;
        config.RecordAudio = 1;
        config.AudioDevice = std::string(kTestAudioName);
        if (*kind.codec)
            config.CodecName = kind.codec;
        if (kind.wmProfile) {
            const std::filesystem::path profile = folder / "profiles" / "sound.prx";
            std::filesystem::create_directories(profile.parent_path());
            test::WriteBytes(profile, test::Utf16(test::ProfileText(true, true)));
            config.UseWmProfile = 1;
            config.WmProfilePath = profile.string();
        }
        ASSERT_TRUE(Run(8000, [&] { return Running(); })) << Log();
        ASSERT_TRUE(Live(10000, [&] { return graph->FramesRecorded() > 10; })) << "recording";
        const std::filesystem::path faulted = graph->RecordFile();
        EXPECT_EQ(faulted.extension(), kind.extension);
        graph->FailRecordWrites(std::chrono::milliseconds(300));
        const std::string entry = "Recording left unfinished: " + faulted.string() + kind.advice;
        EXPECT_TRUE(Live(10000, [&] { return Log().find(entry) != std::string::npos; }))
            << entry << "\n"
            << Log();
        Close();
        std::filesystem::remove_all(folder);
        folder.clear();
    }
}

// A source that fails during a recording with sound ends its own stream; the stop after the
// abort still sends the end of stream, which the other branch carries to the file: it is
// indexed and plays to its end, and no entry calls it unfinished.
TEST_F(ServerTest, ASourceFaultDuringARecordingWithSoundLeavesItFinished)
{
    for (const bool soundSource : { false, true }) {
        SCOPED_TRACE(soundSource ? "sound source" : "picture source");
        OpenContinuous();
        DeviceConfig &config = Core().Settings().Config;
        config.RecordAudio = 1;
        config.AudioDevice = std::string(kTestAudioName);
        ASSERT_TRUE(Run(8000, [&] { return Running(); })) << Log();
        ASSERT_TRUE(Live(10000, [&] { return graph->FramesRecorded() > 10; })) << "recording";
        const std::filesystem::path faulted = graph->RecordFile();
        ASSERT_TRUE(soundSource ? graph->FailSoundSource() : graph->FailPictureSource());
        ASSERT_TRUE(Live(10000, [&] { return Count(Log(), "Abort during capture") > 0; })) << Log();
        // The restart finishes the faulted file and records into the next.
        ASSERT_TRUE(Run(5000, [&] { return Running() && graph->RecordFile() != faulted; }))
            << Log();
        ASSERT_TRUE(graph->WaitRecordingsSynced(std::chrono::seconds(10)));
        EXPECT_NE(Read(faulted).find("idx1"), std::string::npos) << "indexed: " << faulted;
        EXPECT_GT(PlayedFrames(faulted), 10) << faulted;
        EXPECT_EQ(Log().find("Recording left unfinished"), std::string::npos) << Log();
        Close();
        std::filesystem::remove_all(folder);
        folder.clear();
    }
}

// A write fault over a new file's first writes: that file holds no frame and goes, with no
// entry naming it; the recording after the restart is kept.
TEST_F(ServerTest, AFaultOverANewFilesFirstWritesLeavesNoEmptyFile)
{
    OpenContinuous();
    ASSERT_TRUE(Run(8000, [&] { return Running(); })) << Log();
    graph->FailRecordWrites(std::chrono::seconds(60));
    ASSERT_TRUE(Live(20000, [&] { return Count(Log(), "Abort during capture") > 0; })) << Log();
    graph->FailRecordWrites(std::chrono::milliseconds(0)); // the fault is over
    ASSERT_TRUE(Run(5000, [&] { return Running(); })) << Log();
    ASSERT_TRUE(Live(10000, [&] { return graph->FramesRecorded() > 10; })) << "recording again";
    Close();
    EXPECT_EQ(Log().find("Recording left unfinished"), std::string::npos) << Log();
    const auto files = Recordings();
    ASSERT_FALSE(files.empty());
    for (const auto &file : files) {
        EXPECT_GT(std::filesystem::file_size(file), 0u) << file;
        EXPECT_TRUE(HasFrames(file)) << file;
    }
}

// Packet times of one stream as ffprobe reads them: the span from the first start to the last
// end, in seconds; -1 when it cannot be read.
double StreamSeconds(const std::filesystem::path &file, const char *stream)
{
    const std::string command = std::string("ffprobe -v error -select_streams ") + stream
        + " -show_entries packet=pts_time,duration_time -of csv=p=0 \"" + file.string()
        + "\" 2>/dev/null";
    FILE *pipe = popen(command.c_str(), "r");
    if (!pipe)
        return -1;
    double first = -1, end = -1, pts = 0, duration = 0;
    char line[128];
    while (std::fgets(line, sizeof line, pipe)) {
        if (std::sscanf(line, "%lf,%lf", &pts, &duration) != 2)
            continue;
        if (first < 0)
            first = pts;
        end = std::max(end, pts + duration);
    }
    pclose(pipe);
    return first < 0 ? -1 : end - first;
}

// The most ordinary setting: motion-gated recording with sound. A stop after the gates were
// shut long enough for the sound queue to fill always ends, with the file indexed, and the
// sound keeps to the pictures through every opening of the gates.
TEST_F(ServerTest, MotionRecordingWithSoundStopsAndKeepsTheSoundWithThePictures)
{
    qputenv("VORLUND_TEST_CAMERA_CYCLE", "2"); // 2 s moving, 2 s still, by turns
    Open(false, false);
    qunsetenv("VORLUND_TEST_CAMERA_CYCLE");
    DeviceConfig &config = Core().Settings().Config;
    config.RecordAudio = 1;
    config.AudioDevice = std::string(kTestAudioName);
    config.Block.RecordSeconds = { 0, 1, 1, 1, 1 };
    EngineState &engine = Core().Engine();
    for (int round = 0; round < 3; ++round) {
        Core().OnCommand(132);
        ASSERT_TRUE(Running());
        // Several openings, then a stop after the gates stayed shut for 2.5 s.
        for (int opening = 0; opening < 3; ++opening) {
            ASSERT_TRUE(Live(10000, [&] { return engine.GateOpen != 0; })) << round;
            ASSERT_TRUE(Live(10000, [&] { return engine.GateOpen == 0; })) << round;
        }
        Live(2500, [&] { return engine.GateOpen != 0; });
        Core().OnCommand(133);
        ASSERT_FALSE(Running());
    }
    ASSERT_TRUE(graph->WaitRecordingsSynced(std::chrono::seconds(10)));
    const auto files = Recordings();
    ASSERT_EQ(files.size(), 3u);
    for (const auto &file : files) {
        EXPECT_NE(Read(file).find("idx1"), std::string::npos) << "indexed: " << file;
        const double video = StreamSeconds(file, "v"), audio = StreamSeconds(file, "a");
        ASSERT_GT(video, 0.5) << file;
        EXPECT_LE(std::abs(audio - video), 0.1)
            << file << ": " << audio << " s of sound, " << video << " s of pictures";
        EXPECT_GE(audio, 0.9 * video) << file;
    }
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
    folder = disk.at / "work";
    OpenContinuous();
    ASSERT_TRUE(Run(8000, [&] { return Running(); }));
    ASSERT_TRUE(Live(5000, [&] { return graph->FramesRecorded() > 10; })) << "continuous";
    disk.FillTo("more", 15);
    // The next slow pass (15 s in continuous mode) finds less than 2 % and stops capture.
    ASSERT_TRUE(Run(40000, [&] { return !Running(); })) << "capture was not stopped";
    ASSERT_FALSE(notifier.entries.empty());
    EXPECT_EQ(notifier.entries.back().text,
              "WARNING: Disk space is too low!\nPlease free some disk space.\nStopping Vorlund!");
    Close();
    const auto files = Recordings();
    ASSERT_FALSE(files.empty());
    for (const auto &file : files) {
        EXPECT_NE(Read(file).find("idx1"), std::string::npos) << file;
        EXPECT_GT(PlayedFrames(file), 2) << file;
    }
    folder.clear();
}

TEST_F(ServerTest, DiskFilledBeforeTheGuardLooksIsAnAbortAndTheRepairToolMendsTheFile)
{
    SmallDisk disk;
    if (!disk.failure.empty())
        GTEST_SKIP() << disk.failure;
    disk.FillTo("filler", 40); // 4 % free: the guard sees no danger at the start
    folder = disk.at / "work";
    OpenContinuous();
    ASSERT_TRUE(Run(8000, [&] { return Running(); }));
    ASSERT_TRUE(Live(5000, [&] { return graph->FramesRecorded() > 10; }));
    const auto recording = Recordings();
    ASSERT_EQ(recording.size(), 1u);

    // Someone else fills the disk: the file sink fails and run control takes the abort path.
    disk.FillTo("other", 0);
    ASSERT_TRUE(Live(20000, [&] { return Count(Log(), "Abort during capture") > 0; })) << Log();
    // Restarts on a full disk get no frame into a file; the guard then stops capture.
    Run(20000, [&] { return !Running() && !timers->IsTimerRunning(RESTART_TIMER); });
    EXPECT_NE(Log().find(UnfinishedRecordingText(recording[0], RecordingFormat::Avi)),
              std::string::npos)
        << Log();
    Close();
    for (const auto &file : Recordings())
        EXPECT_TRUE(file == recording[0] || HasFrames(file)) << "no frameless file: " << file;

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
