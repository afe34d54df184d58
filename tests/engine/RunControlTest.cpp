#include "RunControl.h"
#include "ServerFixture.h"

#include <gtest/gtest.h>

#include <fstream>

using namespace vorlund;

namespace {

struct RunTest : ::testing::Test
{
    RunTest() { f.engine.SettleTime = 200; }
    std::string Log() const
    {
        std::ifstream in(f.log.Path());
        return std::string((std::istreambuf_iterator<char>(in)), {});
    }
    test::ServerFixture f;
    test::FakeTopics &t = f.topics;
    RunControl run { f.context, t, t, t, t };
};

TEST_F(RunTest, StartAndStop)
{
    t.built = false;
    run.OnStartCommand();
    EXPECT_FALSE(f.view.Idle);
    EXPECT_EQ(t.builds, std::vector<bool> { false }) << "a manual start may show boxes";
    EXPECT_EQ(t.runs, 1);
    EXPECT_EQ(t.gateCalls, std::vector<bool> { false });
    EXPECT_EQ(t.referenceTimes, std::vector<int64_t> { 0 });
    EXPECT_EQ(f.timers.running.at(MAIN_TICK_TIMER), 15u);
    EXPECT_EQ(f.timers.running.at(STATUS_TIMER), 30u);
    EXPECT_EQ(f.engine.SettleTime, 90u);
    EXPECT_EQ(f.engine.SlowCounter, 12001);
    EXPECT_EQ(f.shell.panes.at(kPaneCamera), "0");
    EXPECT_EQ(f.sound.played, std::vector<std::string> { "start.wav" });
    ASSERT_EQ(t.listening.size(), 1u);

    run.StartCapture(); // running: nothing happens
    EXPECT_EQ(t.runs, 1);

    f.engine.GateOpen = 1;
    run.OnStopCommand();
    EXPECT_TRUE(f.view.Idle);
    EXPECT_EQ(t.gateCalls.back(), false);
    EXPECT_EQ(t.graphStops, 1);
    EXPECT_FALSE(f.timers.IsTimerRunning(MAIN_TICK_TIMER));
    EXPECT_FALSE(f.timers.IsTimerRunning(STATUS_TIMER));
    EXPECT_EQ(f.engine.SettleTime, 200u) << "settle time back after the stop";
    EXPECT_EQ(f.engine.KeepDeviceFilter, 1);
    EXPECT_EQ(f.shell.panes.at(kPaneState), "OFF");
    EXPECT_EQ(f.sound.played.back(), "stop.wav");
    run.StopCapture();
    EXPECT_EQ(t.graphStops, 1) << "stopping while stopped does nothing";
}

TEST_F(RunTest, TimersAndSettleTimeByCamerasAndMode)
{
    struct Case
    {
        int cameras;
        bool priority, tv;
        uint32_t status, settle;
    };
    const Case cases[] = { { 1, false, false, 30, 90 },
                           { 1, false, true, 30, 14 },
                           { 2, true, false, 30, 200 },
                           { 2, false, false, 60, 200 } };
    for (const Case &c : cases) {
        test::ServerFixture g;
        RunControl r { g.context, g.topics, g.topics, g.topics, g.topics };
        g.engine.SettleTime = 200;
        g.engine.CameraCount = c.cameras;
        g.engine.CameraOnePriority = c.priority;
        g.engine.TvMode = c.tv;
        r.StartCapture();
        EXPECT_EQ(g.timers.running.at(STATUS_TIMER), c.status) << c.cameras << c.priority;
        EXPECT_EQ(g.engine.SettleTime, c.settle);
        r.StopCapture();
        EXPECT_EQ(g.engine.SettleTime, 200u);
    }
}

TEST_F(RunTest, ContinuousReminderAndSlowPeriod)
{
    f.settings.Config.ContinuousRecord = 1;
    run.StartCapture();
    ASSERT_EQ(f.shell.balloons.size(), 1u);
    EXPECT_EQ(f.shell.balloons[0].title, "Reminder");
    EXPECT_EQ(f.shell.balloons[0].text, "Continuous Record mode is set.\n\n");
    EXPECT_EQ(f.engine.SlowPeriod, 1000);
}

TEST_F(RunTest, AbortsRestartOnceThenStopWithinThirtySeconds)
{
    run.StartCapture();
    f.clock.ticks = 100000;
    t.events = { { GraphEvent::Kind::Abort, 0x80004005u, {} } };
    run.OnGraphEvent();
    EXPECT_TRUE(f.view.RestartPending);
    EXPECT_EQ(f.view.RestartStamp, 100000u);
    EXPECT_NE(Log().find("Abort during capture (restarting...), code = 80004005"),
              std::string::npos);
    // The same failure's next error, before the tick restarts: part of the abort already noted.
    f.clock.ticks = 100300;
    t.events = { { GraphEvent::Kind::Abort, 0x80040001u, {} } };
    run.OnGraphEvent();
    EXPECT_FALSE(f.view.Idle);
    EXPECT_EQ(f.view.RestartStamp, 100000u);
    EXPECT_EQ(Log().find("80040001"), std::string::npos) << Log();

    run.RestartCapture(); // what the tick does 500 ms later
    EXPECT_TRUE(f.view.Idle);
    EXPECT_EQ(f.timers.running.at(RESTART_TIMER), 3000u);
    EXPECT_EQ(f.engine.KeepDeviceFilter, 0) << "after an abort the device is rebuilt too";
    run.OnRestartTimer();
    EXPECT_FALSE(f.view.Idle);
    EXPECT_TRUE(f.view.RestartMark);
    EXPECT_EQ(t.builds.back(), false) << "a whole build, not a device probe";

    f.clock.ticks = 120000;
    t.events = { { GraphEvent::Kind::Abort, 1, {} } };
    run.OnGraphEvent();
    EXPECT_TRUE(f.view.Idle);
    ASSERT_EQ(f.notifier.entries.size(), 1u);
    EXPECT_EQ(f.notifier.entries[0].text, "Stopped due to serious error!");

    run.OnStartCommand();
    f.clock.ticks = 131000;
    t.events = { { GraphEvent::Kind::Abort, 2, {} } };
    run.OnGraphEvent();
    EXPECT_TRUE(f.view.RestartPending);
    EXPECT_FALSE(f.view.Idle);

    run.OnStopCommand();
    EXPECT_FALSE(f.view.RestartPending) << "a manual stop cancels the pending restart";
}

TEST_F(RunTest, DeviceLostStops)
{
    run.StartCapture();
    t.events = { { GraphEvent::Kind::Abort, 1, {} }, { GraphEvent::Kind::DeviceLost, 0, {} } };
    run.OnGraphEvent();
    EXPECT_TRUE(f.view.Idle);
    EXPECT_FALSE(f.view.RestartPending);
    EXPECT_EQ(f.notifier.entries.at(0).text, "Stopping capture... (device removed?)");
}

TEST_F(RunTest, StartWithoutFramesIsAFailedStart)
{
    // Manual start: stopped and reported.
    run.StartCapture();
    run.OnFirstFrameTimer();
    EXPECT_TRUE(f.view.Idle);
    ASSERT_EQ(f.notifier.entries.size(), 1u);
    EXPECT_EQ(f.notifier.entries[0].text.rfind("Could not connect device filters.", 0), 0u);

    // Automatic start: retried a few times, logged, never a box.
    f.notifier.entries.clear();
    run.RestartCapture();
    for (int i = 0; i < RunControl::kRestartRetries; ++i) {
        run.OnRestartTimer();
        ASSERT_FALSE(f.view.Idle);
        run.OnFirstFrameTimer();
        EXPECT_TRUE(f.timers.IsTimerRunning(RESTART_TIMER)) << "retry " << i;
    }
    run.OnRestartTimer();
    run.OnFirstFrameTimer();
    EXPECT_TRUE(f.view.Idle);
    EXPECT_FALSE(f.timers.IsTimerRunning(RESTART_TIMER)) << "then capture stays stopped";
    EXPECT_TRUE(f.notifier.entries.empty());

    // A graph that refuses to run, and one that delivers: running.
    t.runResult = false;
    run.OnStartCommand();
    EXPECT_TRUE(f.view.Idle);
    t.runResult = true;
    t.frames = 3;
    run.OnStartCommand();
    run.OnFirstFrameTimer();
    EXPECT_FALSE(f.view.Idle);
}

// Remote viewers stay connected through a restart (a rollover or an error's restart); a manual
// stop, or a restart that leaves capture stopped, lets them go.
TEST_F(RunTest, RestartKeepsTheRemoteLinkUntilCaptureStaysStopped)
{
    run.StartCapture();
    run.RestartCapture();
    run.OnRestartTimer();
    EXPECT_FALSE(f.view.Idle);
    EXPECT_EQ(t.listenStops, 0);
    EXPECT_EQ(t.listening.size(), 2u) << "the start hands the header over again";
    run.OnStopCommand();
    EXPECT_EQ(t.listenStops, 1);

    run.StartCapture();
    run.RestartCapture();
    run.OnStopCommand(); // while the restart waits
    EXPECT_EQ(t.listenStops, 2);

    run.StartCapture();
    run.RestartCapture();
    t.built = false;
    t.buildResults.assign(RunControl::kRestartRetries + 1, BuildResult::Failed);
    for (int i = 0; i <= RunControl::kRestartRetries; ++i) {
        EXPECT_EQ(t.listenStops, 2) << "kept while a retry is due, " << i;
        run.OnRestartTimer();
    }
    EXPECT_TRUE(f.view.Idle);
    EXPECT_FALSE(f.timers.IsTimerRunning(RESTART_TIMER));
    EXPECT_EQ(t.listenStops, 3);
}

TEST_F(RunTest, RestartWaitsForAnOpenDialog)
{
    run.StartCapture();
    run.RestartCapture();
    f.view.ConfigurationOpen = true;
    run.OnRestartTimer();
    EXPECT_TRUE(f.view.Idle);
    f.view.ConfigurationOpen = false;
    run.OnDialogClosed();
    EXPECT_FALSE(f.view.Idle);
    EXPECT_TRUE(f.view.RestartMark);
}

TEST_F(RunTest, ProbingDevices)
{
    struct Case
    {
        int startId;
        std::array<std::string, 4> names;
        std::vector<BuildResult> results;
        BuildResult expected;
        int finalId;
        size_t builds;
    };
    using R = BuildResult;
    const Case cases[] = {
        { 113, { "A", "B", "", "D" }, { R::Failed, R::Ok }, R::Ok, 115, 2 },
        { 114, { "A", "B", "", "D" }, {}, R::NoDevice, 114, 0 },
        { 112, { "A", "", "", "" }, { R::Error }, R::Error, 112, 1 },
        { 115,
          { "A", "B", "C", "D" },
          { R::Failed, R::Failed, R::Failed, R::Failed },
          R::Failed,
          115,
          4 },
    };
    for (const Case &c : cases) {
        test::ServerFixture g;
        RunControl r { g.context, g.topics, g.topics, g.topics, g.topics };
        g.view.DeviceCommandId = c.startId;
        g.view.VideoDeviceNames = c.names;
        g.topics.buildResults = c.results;
        g.settings.Config.DeviceName = "kept";
        EXPECT_EQ(r.OpenNextVideoDevice(), c.expected) << c.startId;
        EXPECT_EQ(g.view.DeviceCommandId, c.finalId) << c.startId;
        EXPECT_EQ(g.topics.builds.size(), c.builds) << c.startId;
        EXPECT_EQ(g.settings.Config.DeviceName, "kept");
        EXPECT_FALSE(g.topics.built) << "the probe leaves no graph behind";
    }
}

TEST_F(RunTest, ChangingDeviceLoadsItsSettings)
{
    // Device "Other Camera" has a file with three cameras and snapshot limit 77.
    f.view.VideoDeviceNames = { "Vorlund Test Camera", "Other Camera", "", "" };
    f.settings.Config.DeviceName = "Other Camera";
    f.settings.Config.Block.SnapshotLimit = 77;
    f.settings.Config.Block.CameraCount = 3;
    f.engine.CameraCount = 3;
    f.view.DeviceCommandId = 113;
    ASSERT_TRUE(SaveDeviceSettings(f.context));
    f.settings.ConfigSlot = -1;
    f.settings.Config.DeviceName = "Vorlund Test Camera";
    f.settings.Config.Block.SnapshotLimit = 5;
    f.view.DeviceCommandId = 112;

    run.ChangeVideoDevice(false);
    EXPECT_EQ(f.shell.cameraMenus, 1) << "an unchanged device only rebuilds the menus";
    EXPECT_EQ(f.settings.Config.Block.SnapshotLimit, 5);

    f.view.DeviceCommandId = 113;
    run.ChangeVideoDevice(true);
    EXPECT_EQ(f.settings.Config.DeviceName, "Other Camera");
    EXPECT_EQ(f.settings.Config.Block.SnapshotLimit, 77);
    EXPECT_EQ(t.detections, std::vector<bool> { false });
    EXPECT_EQ(f.engine.CameraCount, 1) << "no switcher answered: one camera";
    EXPECT_EQ(f.shell.balloons.at(0).title, "Changing Video Devices");
    EXPECT_EQ(t.remoteModes, 1);
    EXPECT_EQ(t.capturePages, std::vector<bool> { true });
}

} // namespace
