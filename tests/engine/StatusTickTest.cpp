#include "StatusTick.h"
#include "ServerFixture.h"

#include <gtest/gtest.h>

using namespace vorlund;
using Relay = IRemoteLink::RelayState;

namespace {

class StatusTickTest : public ::testing::Test
{
protected:
    StatusTickTest()
    {
        f.view.Idle = false;
        f.clock.now = { 2026, 12, 9, 0, 3, 7, 3 };
        f.engine.FreshFrame[1] = 1; // video arrives unless a test says otherwise
    }
    void Tick(int times = 1)
    {
        for (int i = 0; i < times; ++i)
            tick.OnStatusTimer();
    }
    std::string Pane(int pane) { return f.shell.panes[pane]; }

    test::ServerFixture f;
    StatusTick tick { f.context, f.topics, f.topics, f.topics };
};

} // namespace

TEST_F(StatusTickTest, ViewerCountsDriveSoundsPaneAndDeparture)
{
    f.settings.Ptz.AnyCamera = true;
    f.engine.SelectedCamera = 2;
    const struct
    {
        int viewers;
        const char *pane;
        std::vector<std::string> sounds; // played on this tick
        int homeCommands; // so far
    } steps[] = {
        { 1, "1-Remote", { "connect.wav" }, 0 },
        { 2, "2-Remote", { "connect.wav" }, 0 },
        { 2, "2-Remote", {}, 0 },
        { 1, "1-Remote", {}, 0 },
        { 0, "Detect", { "disconnect.wav" }, 1 },
        { 0, "Detect", {}, 1 },
    };
    for (const auto &s : steps) {
        SCOPED_TRACE(s.viewers);
        f.topics.viewers = s.viewers;
        f.sound.played.clear();
        Tick();
        EXPECT_EQ(Pane(kPaneState), s.pane);
        EXPECT_EQ(f.sound.played, s.sounds);
        EXPECT_EQ(f.topics.homeCommands, s.homeCommands);
    }
    EXPECT_EQ(f.topics.releases, 1);
    EXPECT_EQ(f.engine.SuppressCount, 20);
}

TEST_F(StatusTickTest, RelayViewerLeavesOnceAndALostRelayIsReconnected)
{
    f.topics.relay = Relay::PeerLinked;
    Tick(5);
    EXPECT_EQ(Pane(kPaneState), "Remote");
    EXPECT_TRUE(f.sound.played.empty()); // a linked relay viewer is no departure
    f.topics.relay = Relay::Online;
    Tick(3);
    EXPECT_EQ(Pane(kPaneState), "Online");
    EXPECT_EQ(f.sound.played, std::vector<std::string> { "disconnect.wav" });

    f.topics.relay = Relay::Offline;
    f.engine.SlowCounter = 0;
    Tick(401);
    EXPECT_EQ(Pane(kPaneState), "Detect");
    EXPECT_EQ(f.topics.relayConnects, 0);
    Tick();
    EXPECT_EQ(f.topics.relayConnects, 1);
    Tick(500);
    EXPECT_EQ(f.topics.relayConnects, 1);
}

TEST_F(StatusTickTest, StatePaneTexts)
{
    const struct
    {
        const char *what;
        std::function<void(test::ServerFixture &)> setUp;
        const char *pane101;
        const char *pane102; // nullptr: not written
        const char *balloon; // title, or nullptr
    } cases[] = {
        { "camera dialog", [](auto &f) { f.engine.DialogCamera = 1; }, "Adjust", nullptr, nullptr },
        { "calibration", [](auto &f) { f.engine.CalibrationMode = 1; }, "cal", nullptr, nullptr },
        { "relay login", [](auto &f) { f.topics.relay = Relay::LoggingIn; }, "Login", nullptr,
          nullptr },
        { "relay error",
          [](auto &f) {
              f.topics.relay = Relay::Offline;
              f.topics.relayError = "host unreachable";
          },
          "Detect", nullptr, "Network Error" },
        { "continuous, gate open",
          [](auto &f) {
              f.settings.Config.ContinuousRecord = 1;
              f.engine.GateOpen = 1;
          },
          "ConRec", "R", nullptr },
        { "continuous, gate shut", [](auto &f) { f.settings.Config.ContinuousRecord = 1; },
          "ConRec", "-", nullptr },
        { "TV recording",
          [](auto &f) {
              f.engine.TvMode = 1;
              f.settings.Config.TvRecord = 1;
              f.engine.GateOpen = 1;
          },
          "TVRec", "R", "Reminder" },
        { "TV timer waiting",
          [](auto &f) {
              f.engine.TvMode = 1;
              f.view.TvTimerSet = true;
          },
          "TVRec", "r", nullptr },
        { "TV", [](auto &f) { f.engine.TvMode = 1; }, "TV", nullptr, nullptr },
        { "detect", [](auto &) {}, "Detect", nullptr, nullptr },
        { "review mode writes nothing",
          [](auto &f) {
              f.engine.ReviewMode = 1;
              f.topics.viewers = 1;
          },
          nullptr, nullptr, nullptr },
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        test::ServerFixture f;
        f.engine.FreshFrame[1] = 1;
        StatusTick tick(f.context, f.topics, f.topics, f.topics);
        c.setUp(f);
        tick.OnStatusTimer();
        tick.OnStatusTimer();
        const auto pane = [&](int id) {
            return f.shell.panes.count(id) ? f.shell.panes[id] : std::string("<unset>");
        };
        EXPECT_EQ(pane(kPaneState), c.pane101 ? c.pane101 : "<unset>");
        EXPECT_EQ(pane(kPaneCamera), c.pane102 ? c.pane102 : "<unset>");
        // Balloons come once, not on every tick.
        ASSERT_EQ(f.shell.balloons.size(), c.balloon ? 1u : 0u);
        if (c.balloon) {
            EXPECT_EQ(f.shell.balloons[0].title, c.balloon);
        }
    }
}

TEST_F(StatusTickTest, NoSignalBalloonOncePerLoss)
{
    f.engine.CameraCount = 2;
    f.engine.FreshFrame[1] = 0;
    Tick(59);
    EXPECT_TRUE(f.shell.balloons.empty());
    Tick();
    ASSERT_EQ(f.shell.balloons.size(), 1u);
    EXPECT_EQ(f.shell.balloons[0].title, "No Video Signal");
    EXPECT_EQ(f.shell.balloons[0].text,
              "Check camera, cables, and power... \n\n12-09-2026 00:03:07");
    EXPECT_EQ(f.shell.balloons[0].icon, 32515);
    Tick(200);
    EXPECT_EQ(f.shell.balloons.size(), 1u);

    f.engine.FreshFrame[2] = 1;
    Tick();
    EXPECT_EQ(f.shell.repaints, std::vector<int> { 2 });
    f.engine.FreshFrame[2] = 0;
    Tick(60);
    EXPECT_EQ(f.shell.balloons.size(), 2u);

    // Stopped or reviewing: no warning.
    tick.ResetForStart();
    f.view.Idle = true;
    Tick(100);
    EXPECT_EQ(f.shell.balloons.size(), 2u);
}

// Fresh video is repainted only where it can be seen; hidden, its mark is taken without a
// repaint, and a lost signal is still noticed.
TEST_F(StatusTickTest, HiddenWindowGetsNoRepaintButStillNoticesLostSignal)
{
    f.engine.CameraCount = 2;
    const struct
    {
        bool shown;
        std::vector<int> repaints;
        uint8_t freshAfter;
    } cases[] = { { true, { 1, 2 }, 1 }, { false, {}, 0 } };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.shown ? "shown" : "hidden");
        f.shell.shown = c.shown;
        f.shell.repaints.clear();
        f.shell.balloons.clear();
        tick.ResetForStart();
        f.engine.FreshFrame[1] = 1;
        f.engine.FreshFrame[2] = 1;
        Tick();
        EXPECT_EQ(f.shell.repaints, c.repaints);
        EXPECT_EQ(f.engine.FreshFrame[1], c.freshAfter); // painting takes it when shown
        f.engine.FreshFrame[1] = 0;
        f.engine.FreshFrame[2] = 0;
        Tick(60);
        ASSERT_EQ(f.shell.balloons.size(), 1u);
        EXPECT_EQ(f.shell.balloons[0].title, "No Video Signal");
    }
}

TEST_F(StatusTickTest, CodecNoticeLayoutRestartMarkAndDiskGuard)
{
    f.settings.Config.CodecName = "(None)";
    f.engine.SuppressCount = 3;
    f.engine.MotionEnabled[1] = 1;
    f.engine.RecordOnMotion[1] = 1;
    f.engine.SlowCounter = 50;
    Tick();
    EXPECT_TRUE(f.shell.notices.empty());
    f.engine.SlowCounter = 51;
    Tick(3);
    ASSERT_EQ(f.shell.notices.size(), 1u);
    EXPECT_EQ(f.shell.notices[0].rfind("Be advised your video compression(Codec) setting is "
                                       "'(None)'. When this setting",
                                       0),
              0u);
    f.engine.SlowCounter = 3001;
    Tick();
    EXPECT_FALSE(f.shell.noticeOpen);

    f.view.ToolbarChanged = true;
    Tick(2);
    EXPECT_EQ(f.shell.layouts, (std::vector<std::pair<int, int>> { { 0, 0 } }));
    EXPECT_FALSE(f.view.ToolbarChanged);

    f.view.RestartMark = true;
    f.engine.SlowCounter = 900;
    Tick();
    EXPECT_TRUE(f.view.RestartMark);
    f.engine.SlowCounter = 901;
    Tick();
    EXPECT_FALSE(f.view.RestartMark);

    EXPECT_EQ(f.topics.diskGuards, 9); // one check a tick
}
