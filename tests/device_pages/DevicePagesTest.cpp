#include "DeviceFakes.h"
#include "FormatChoices.h"
#include "ServerFixture.h"
#include "SettingsFile.h"
#include "TunerChannels.h"
#include "V4l2Standards.h"

#include <gtest/gtest.h>

#include <fstream>

namespace vorlund::test {
namespace {

bool Saved(ServerFixture &f)
{
    return f.settings.ConfigSlot >= 0
        && std::filesystem::exists(f.settings.SlotPath(f.settings.ConfigSlot));
}

// A graph whose teardown stops the fake device streaming and whose run starts it again.
class StreamingGraph : public FakeTopics
{
public:
    explicit StreamingGraph(FakeV4l2Device &device, EngineState &engine)
        : m_device(device), m_engine(engine)
    { }
    void TearDownGraph() override
    {
        keptDevice.push_back(m_engine.KeepDeviceFilter != 0);
        m_device.streaming = false;
        FakeTopics::TearDownGraph();
    }
    bool RunGraph() override
    {
        m_device.streaming = true;
        return FakeTopics::RunGraph();
    }
    std::vector<bool> keptDevice;

private:
    FakeV4l2Device &m_device;
    EngineState &m_engine;
};

struct PagesTest : ::testing::Test
{
    ServerFixture f;
    FakeV4l2Device device;
    StreamingGraph graph { device, f.engine };
    FakeAccess access;
    ScriptedDialogs dialogs;
    DevicePages pages { f.context, graph, access, dialogs,
                        [this](int) { return std::make_unique<DeviceHandle>(device); } };

    std::string LogText() const
    {
        std::ifstream in(f.folder.path / "vorlund.log");
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
};

TEST_F(PagesTest, CrossbarRunsDecideTvModeRoutingAndSettleTime)
{
    const std::vector<VideoInput> card { Input(0, "Television", true, 1), Input(1, "Composite1"),
                                         Input(2, "S-Video") };
    struct Case
    {
        const char *name;
        std::vector<VideoInput> inputs;
        uint32_t current;
        bool deviceOnly;
        bool running;
        uint32_t uptimeMs;
        bool tvRecord;
        bool found;
        int tvMode;
        int slowPeriod;
        uint32_t settle;
        const char *pane; // "" = untouched
        uint32_t inputAfter;
        bool routedLogged;
    };
    const Case cases[] = {
        { "single-input webcam",
          { Input(0, "Camera 1") },
          0,
          true,
          false,
          600000,
          false,
          false,
          0,
          12000,
          200,
          "",
          0,
          false },
        { "card without tuner",
          { Input(0, "Composite1"), Input(1, "S-Video") },
          1,
          false,
          false,
          600000,
          false,
          true,
          0,
          12000,
          100,
          "-",
          1,
          false },
        { "tuner while capturing", card, 0, false, true, 600000, false, true, 1, 1000, 14, "A", 0,
          false },
        { "tuner while stopped", card, 0, false, false, 600000, false, true, 1, 1000, 100, "X", 0,
          false },
        { "boot routing to composite", card, 0, true, false, 120000, false, true, 0, 12000, 100,
          "X", 1, true },
        { "five minutes after boot", card, 0, true, false, 300000, false, true, 1, 1000, 100, "X",
          0, false },
        { "TV recording keeps the tuner", card, 0, true, false, 120000, true, true, 1, 1000, 100,
          "X", 0, false },
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        ServerFixture fx;
        FakeV4l2Device d;
        d.inputs = c.inputs;
        d.input = c.current;
        FakeTopics g;
        FakeAccess a;
        ScriptedDialogs s;
        DevicePages p(fx.context, g, a, s, [&d](int) { return std::make_unique<DeviceHandle>(d); });
        fx.clock.ticks = c.uptimeMs;
        fx.view.Idle = !c.running;
        fx.settings.Config.TvRecord = c.tvRecord;
        p.ShowCrossbarPage(c.deviceOnly);

        EXPECT_EQ(p.HasCrossbar(), c.found);
        EXPECT_EQ(fx.engine.TvMode.load(), c.tvMode);
        EXPECT_EQ(fx.engine.SlowPeriod.load(), c.slowPeriod);
        EXPECT_EQ(fx.engine.SettleTime.load(), c.settle);
        EXPECT_EQ(fx.shell.panes.count(kPaneCamera) ? fx.shell.panes[kPaneCamera] : "", c.pane);
        EXPECT_EQ(d.input, c.inputAfter);
        std::ifstream log(fx.folder.path / "vorlund.log");
        const std::string text((std::istreambuf_iterator<char>(log)), {});
        EXPECT_EQ(text.find("connected Video Crossbar to Composite input.") != std::string::npos,
                  c.routedLogged);
        EXPECT_EQ(s.shown.size(), size_t(c.found && !c.deviceOnly ? 1 : 0));
        if (std::string(c.pane) == "A") {
            EXPECT_EQ(d.audioInput, std::optional<uint32_t>(0));
        }
        if (std::string(c.pane) == "X") {
            EXPECT_EQ(d.muted, std::optional<bool>(true));
        }
    }
}

TEST_F(PagesTest, InputRefusedWhileStreamingIsAppliedAroundARebuild)
{
    device.inputs = { Input(0, "Composite1"), Input(1, "S-Video") };
    device.streaming = true;
    f.view.Idle = false;
    dialogs.onInput = [](InputPageValues &v) {
        ASSERT_EQ(v.current, 0);
        v.current = 1;
    };
    pages.ShowCrossbarPage(false);

    EXPECT_EQ(device.input, 1u);
    EXPECT_EQ(device.calls, (std::vector<std::string> { "S_INPUT 1", "S_INPUT 1" }));
    EXPECT_EQ(graph.keptDevice, std::vector<bool> { true });
    EXPECT_EQ(graph.builds, std::vector<bool> { false });
    EXPECT_EQ(graph.runs, 1);
    EXPECT_TRUE(device.streaming);
    EXPECT_EQ(graph.referenceTimes, std::vector<int64_t> { 0 });
    EXPECT_EQ(f.engine.KeepDeviceFilter.load(), 0);
}

TEST_F(PagesTest, CrossbarTailClosesGatesAndDialogsInTvMode)
{
    device.inputs = { Input(0, "Television", true), Input(1, "Composite1") };
    f.settings.Config.ContinuousRecord = 1;
    f.engine.GateOpen = 1;
    f.engine.ReviewMode = 1;
    f.engine.ZoneEditing = 1;
    f.engine.DialogCamera = 2;
    f.clock.ticks = 600000; // long after boot: the tuner stays routed
    int reviewLeft = 0;
    pages.LeaveReviewMode = [&] { ++reviewLeft; };
    pages.ShowCrossbarPage(true);

    EXPECT_EQ(graph.gateCalls, std::vector<bool> { false });
    EXPECT_EQ(f.engine.GateOpen.load(), 0);
    EXPECT_EQ(reviewLeft, 1);
    EXPECT_EQ(f.sink.posted,
              (std::vector<std::pair<uint32_t, uintptr_t>> { { WM_SETTINGS_CLOSED, 142 },
                                                             { WM_SETTINGS_CLOSED, 143 } }));
}

TEST_F(PagesTest, FailedDeviceOpenTearsDownAndShowsNothing)
{
    access.graph = false;
    access.openResult = false;
    f.view.DeviceReady = true;
    pages.ShowCrossbarPage(false);
    EXPECT_FALSE(f.view.DeviceReady);
    EXPECT_EQ(graph.teardowns, 1);
    EXPECT_TRUE(dialogs.shown.empty());
}

TEST_F(PagesTest, CapturePageAppliesStoredStandardAndReadsBackTheChosenOne)
{
    device.standards = { { V4L2_STD_PAL_BG | V4L2_STD_PAL_H | V4L2_STD_PAL_I, "PAL" },
                         { V4L2_STD_NTSC_M, "NTSC" } };
    device.standard = V4L2_STD_NTSC_M;
    device.controls = {
        { V4L2_CID_BRIGHTNESS, "Brightness", DeviceControl::Kind::Integer, 0, 255, 1, 128, 128, {} }
    };
    int closed = 0;
    pages.PropertyPageClosed = [&] { ++closed; };

    // A silent run applies the stored standard.
    f.settings.Config.TvFormat = 0x10; // PAL-B
    pages.ShowVideoCapturePage(true);
    EXPECT_EQ(device.standard, V4L2_STD_PAL_B | V4L2_STD_PAL_B1);
    EXPECT_TRUE(dialogs.shown.empty());
    EXPECT_TRUE(f.view.HasVideoSettingsPage);

    // The page: NTSC and a brighter picture; what the driver then reports is stored.
    dialogs.onCapture = [](CapturePageValues &v) {
        EXPECT_EQ(v.standard, 0);
        v.standard = 1;
        v.controls[0].value = 200;
    };
    pages.ShowVideoCapturePage(false);
    EXPECT_EQ(device.standard, uint64_t(V4L2_STD_NTSC_M));
    EXPECT_EQ(f.settings.Config.TvFormat, 0x1);
    EXPECT_EQ(device.controls[0].value, 200);
    EXPECT_FALSE(f.view.PropertyPageOpen);
    EXPECT_EQ(closed, 2);

    // The stored "leave as is" applies nothing.
    device.calls.clear();
    f.settings.Config.TvFormat = -1;
    pages.ShowVideoCapturePage(true);
    EXPECT_TRUE(device.calls.empty());
}

TEST_F(PagesTest, TestCameraOffersOnlyTheFormatPage)
{
    access.v4l2 = false;
    pages.ShowCrossbarPage(false);
    pages.ShowTvTunerPage(false);
    pages.ShowVideoCapturePage(false);
    EXPECT_FALSE(pages.HasCrossbar());
    EXPECT_FALSE(f.view.HasTvTuner);
    EXPECT_FALSE(f.view.HasVideoSettingsPage);
    EXPECT_TRUE(dialogs.shown.empty());
}

TEST_F(PagesTest, TunerTunesStoredChannelOnRestartAndShowsTheTunedOne)
{
    device.inputs = { Input(0, "Television", true) };
    device.tuner = TunerInfo { "Tuner", false, 0, 0xFFFFFFFF };
    f.settings.Config.TvChannel = 7; // 175.25 MHz in the default table
    f.engine.TvMode = 1;

    pages.ShowTvTunerPage(true); // no restart: the driver keeps its frequency
    EXPECT_TRUE(device.calls.empty());
    f.view.RestartMark = true;
    pages.ShowTvTunerPage(true);
    EXPECT_EQ(device.frequency, TunerUnits(175250, false));
    EXPECT_EQ(f.shell.panes[kPaneCamera], "7");

    dialogs.onTuner = [](TunerPageValues &v) {
        EXPECT_EQ(v.channel, 7);
        v.channel = 14;
    };
    pages.ShowTvTunerPage(false);
    EXPECT_EQ(f.shell.panes[kPaneCamera], "14");
    EXPECT_EQ(f.settings.Config.TvChannel, 7); // the page does not change the stored channel
    EXPECT_TRUE(f.view.HasTvTuner);
}

TEST_F(PagesTest, FormatPageRebuildsReadsBackSavesAndRelaysOut)
{
    access.v4l2 = false;
    access.offered = CapsRef(gst_caps_from_string("video/x-raw,format=BGR,width=[1,1920],"
                                                  "height=[1,1080],framerate=[1/1,60/1]"),
                             RefMode::HasRef);
    // The device rounds the rate it is asked for.
    access.negotiated = CapsRef(
        gst_caps_from_string("video/x-raw,format=BGR,width=640,height=480,framerate=15/1"),
        RefMode::HasRef);
    f.engine.CameraCount = 2;
    f.engine.WriteLiveFrame(1, std::vector<uint8_t>(300, 7).data(), 300);
    dialogs.onFormat = [](FormatPageValues &v) {
        ASSERT_EQ(v.options.size(), 1u);
        EXPECT_EQ(v.size, (FrameSize { 320, 240 }));
        v.size = { 640, 480 };
        v.frameDuration = 666666;
    };
    pages.ShowVideoFormatPage();

    const DeviceConfig &c = f.settings.Config;
    EXPECT_EQ(graph.keptDevice, std::vector<bool> { true });
    EXPECT_EQ(graph.builds, std::vector<bool> { false });
    EXPECT_EQ(c.CaptureSubtype, kSubtypeRgb24);
    EXPECT_EQ(c.Block.CaptureWidth, 640);
    EXPECT_EQ(c.Block.CaptureHeight, 480);
    EXPECT_EQ(c.FrameDuration, 666666);
    EXPECT_TRUE(Saved(f));
    EXPECT_EQ(f.shell.layouts.back(), std::make_pair(1280, 480));
    std::vector<uint8_t> live;
    f.engine.CopyLiveFrameOut(1, live, 300);
    EXPECT_EQ(live, std::vector<uint8_t>(300, 0));
    EXPECT_TRUE(f.view.DeviceReady);

    access.offered = CapsRef();
    pages.ShowVideoFormatPage();
    ASSERT_FALSE(f.notifier.entries.empty());
    EXPECT_EQ(f.notifier.entries.back().text, "no Format menu found on this Video source.");
}

struct AudioCase
{
    const char *name;
    bool ok;
    std::function<void(AudioDeviceValues &)> edit;
    // expectations
    uint8_t recordAudio;
    std::string audioDevice;
    std::string audioInput;
    int inputLevel;
    int teardowns;
    int builds;
    bool saved;
};

TEST_F(PagesTest, AudioDeviceChoices)
{
    const std::string longDevice = "Built-in Audio Analog Stereo " + std::string(30, 'x')
        + " \xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9";
    ASSERT_GT(longDevice.size(), 63u);
    const AudioCase cases[] = {
        { "cancel keeps everything", false, [](AudioDeviceValues &v) { v.RecordAudio = 0; }, 1,
          "USB Mic", "Microphone", 1, 0, 0, false },
        { "record audio off", true, [](AudioDeviceValues &v) { v.RecordAudio = 0; }, 0, "USB Mic",
          "Microphone", 1, 1, 0, true },
        { "another device, line and level", true,
          [](AudioDeviceValues &v) {
              v.DeviceIndex = 1;
              v.LineIndex = 1;
              v.LevelIndex = 2;
          },
          1, StoredText(longDevice, kAudioDeviceWidth), "Line In", 2, 0, 1, true },
    };
    for (const AudioCase &c : cases) {
        SCOPED_TRACE(c.name);
        ServerFixture fx;
        FakeTopics g;
        FakeAccess a;
        ScriptedDialogs s;
        DevicePages p(fx.context, g, a, s);
        fx.view.AudioDeviceNames = { "USB Mic", longDevice, "", "" };
        a.audioLines = { { "USB Mic", { "Microphone" } }, { longDevice, { "Mic", "Line In" } } };
        fx.settings.Config.RecordAudio = 1;
        fx.settings.Config.AudioDevice = "USB Mic";
        s.ok = c.ok;
        s.onAudio = c.edit;
        p.ChooseAudioInput();

        ASSERT_TRUE(s.audioShown);
        EXPECT_EQ(s.audioShown->DeviceIndex, 0);
        EXPECT_EQ(s.audioShown->CurrentLines[0], "Microphone");
        EXPECT_EQ(s.audioShown->LineTable[1][1], "Line In");
        const DeviceConfig &cfg = fx.settings.Config;
        EXPECT_EQ(cfg.RecordAudio, c.recordAudio);
        EXPECT_EQ(cfg.AudioDevice, c.audioDevice);
        EXPECT_EQ(cfg.AudioInput, c.audioInput);
        EXPECT_EQ(cfg.InputLevel, c.inputLevel);
        EXPECT_EQ(g.teardowns, c.teardowns);
        EXPECT_EQ(int(g.builds.size()), c.builds);
        EXPECT_EQ(Saved(fx), c.saved);
    }
}

TEST_F(PagesTest, LongAudioNamesSurviveTheirStoredCut)
{
    // The stored device name is the long name cut at a character boundary; it still selects
    // that device, and a device missing from the list never indexes out of range.
    const std::string longDevice = std::string(60, 'a') + "\xC3\xA9\xC3\xA9";
    const std::string longLine = std::string(21, 'b') + "\xE2\x82\xAC";
    f.view.AudioDeviceNames = { "Other", longDevice, "", "" };
    access.audioLines = { { "Other", { "Mic" } },
                          { StoredText(longDevice, kAudioDeviceWidth), { "Mic", longLine } },
                          { "Gone", { "Line" } } };
    f.settings.Config.AudioDevice = StoredText(longDevice, kAudioDeviceWidth);
    f.settings.Config.AudioInput = StoredText(longLine, kAudioInputWidth);
    EXPECT_EQ(f.settings.Config.AudioDevice.size(), 62u);
    EXPECT_EQ(f.settings.Config.AudioInput.size(), 21u);
    dialogs.ok = false;
    pages.ChooseAudioInput();
    EXPECT_EQ(dialogs.audioShown->DeviceIndex, 1);
    EXPECT_EQ(dialogs.audioShown->LineIndex, 1);

    f.settings.Config.AudioDevice = "Gone";
    pages.ChooseAudioInput();
    EXPECT_EQ(dialogs.audioShown->DeviceIndex, 0);
    EXPECT_EQ(dialogs.audioShown->CurrentLines[0], "Mic");
    EXPECT_EQ(dialogs.audioShown->LineIndex, 0);

    access.audioLines.erase("Gone"); // the listing fails: no dialog
    dialogs.audioShown.reset();
    pages.ChooseAudioInput();
    EXPECT_FALSE(dialogs.audioShown);
}

} // namespace
} // namespace vorlund::test
