#include "MainTick.h"
#include "Schedules.h"
#include "ServerFixture.h"

#include <gtest/gtest.h>

#include <functional>

using namespace vorlund;

namespace {

// Remote serving is called inside the countdown before the decrement: a hook there acts as the
// detector writing between the tick's read and its write.
struct HookedTopics : test::FakeTopics
{
    void ServeRemoteRequests(int camera) override
    {
        FakeTopics::ServeRemoteRequests(camera);
        if (onServe)
            onServe();
    }
    std::function<void()> onServe;
};

struct TickTest : ::testing::Test
{
    TickTest()
    {
        f.engine.CameraCount = 1;
        f.engine.CurrentCamera = 1;
        f.engine.RecordOnMotion[1] = 1;
        f.engine.SlowCounter = 1; // no slow work unless a test asks for it
        f.engine.CurrentZone = 1;
        f.engine.CalibratedZone = 1;
        f.engine.FrameDone.Restart();
    }
    void Tick(int n = 1)
    {
        for (int i = 0; i < n; ++i) {
            f.clock.Advance(15);
            tick.OnMainTick();
        }
    }
    void SlowPass(int hour, int minute)
    {
        f.clock.now.hour = hour;
        f.clock.now.minute = minute;
        f.engine.SlowCounter = f.engine.SlowPeriod.load();
        tick.OnMainTick();
    }

    test::ServerFixture f;
    HookedTopics t;
    MainTick tick { f.context, t, t, t, t, t, t, t, t };
};

TEST_F(TickTest, CountdownOpensGatesOnFirstTickAndShutsThemOnTheLast)
{
    f.engine.RecordCountdown = 12 * 1000 / 15; // RecordSeconds 12
    f.engine.HitMap[2][5] = 1;
    Tick();
    EXPECT_EQ(t.gateCalls, std::vector<bool> { true });
    EXPECT_TRUE(f.engine.GateOpen);
    Tick(798);
    EXPECT_EQ(t.gateCalls.size(), 1u) << "still open after 799 ticks";
    Tick();
    EXPECT_EQ(t.gateCalls, (std::vector<bool> { true, false }));
    EXPECT_FALSE(f.engine.GateOpen);
    EXPECT_EQ(f.engine.HitMap[2][5], 0) << "hit maps cleared when the countdown ends";
    EXPECT_EQ(t.served.size(), 800u);
}

TEST_F(TickTest, CountdownRules)
{
    // Camera without recording: the countdown is cancelled, the gates stay shut.
    f.engine.RecordOnMotion[1] = 0;
    f.engine.RecordCountdown = 50;
    Tick();
    EXPECT_EQ(f.engine.RecordCountdown, 0);
    EXPECT_TRUE(t.gateCalls.empty());

    // With the Camera Settings dialog's camera set the countdown runs with the gates shut.
    f.engine.RecordOnMotion[1] = 1;
    f.engine.DialogCamera = 1;
    f.engine.RecordCountdown = 3;
    Tick(3);
    EXPECT_EQ(f.engine.RecordCountdown, 0);
    EXPECT_TRUE(t.gateCalls.empty());
    f.engine.DialogCamera = 0;

    // A re-arm by the detector between the tick's read and write is not lost.
    f.engine.RecordCountdown = 1;
    t.onServe = [&] { f.engine.RecordCountdown = 800; };
    Tick();
    t.onServe = nullptr;
    EXPECT_EQ(f.engine.RecordCountdown, 799);
    EXPECT_TRUE(f.engine.GateOpen);
}

TEST_F(TickTest, CountdownEndingInsideTheContinuousWindowKeepsTheGatesOpen)
{
    f.settings.Config.ContinuousRecord = 1;
    f.settings.Config.RecordWindow = { 22, 0, 6, 0 };
    f.clock.now.hour = 23;
    f.engine.RecordCountdown = 2;
    Tick(2);
    EXPECT_TRUE(f.engine.GateOpen);
    f.clock.now.hour = 7; // outside: the gates shut as usual
    f.engine.RecordCountdown = 1;
    Tick();
    EXPECT_FALSE(f.engine.GateOpen);
}

TEST_F(TickTest, SettleWindowServesViewersAndMailThenEnds)
{
    f.engine.SwitchBusy = 1;
    f.engine.SwitchTime = f.clock.TickCount();
    f.engine.SettleTime = 200;
    Tick(13); // 195 ms
    EXPECT_TRUE(f.engine.SwitchBusy);
    EXPECT_EQ(t.mails, std::vector<int>(13, 0));
    EXPECT_EQ(t.served, std::vector<int>(13, 0));
    Tick();
    EXPECT_FALSE(f.engine.SwitchBusy);
    EXPECT_EQ(t.mails.size(), 13u);
}

TEST_F(TickTest, HoldAndSwitch)
{
    // One camera with hold ticks: the camera stays until the hold runs out, then switches.
    f.engine.FrameDone.Mark();
    f.engine.HoldTicks = 3;
    Tick(2);
    EXPECT_TRUE(t.switches.empty());
    Tick();
    EXPECT_EQ(t.switches, std::vector<int> { 0 });
    EXPECT_TRUE(f.engine.SwitchBusy);
    EXPECT_FALSE(f.engine.FrameDone.IsMarked());

    // Several cameras cycling, none selected: the hold is dropped and the switch is at once.
    f.engine.CameraCount = 3;
    f.engine.FrameDone.Mark();
    f.engine.HoldTicks = 50;
    f.engine.SwitchBusy = 0;
    Tick();
    EXPECT_EQ(t.switches.size(), 2u);
    EXPECT_EQ(f.engine.HoldTicks, 0);
}

TEST_F(TickTest, RestartAfterAbortIsNeverLostToAStalledTick)
{
    f.view.RestartPending = true;
    f.view.RestartStamp = f.clock.TickCount();
    f.clock.Advance(400);
    tick.OnMainTick();
    EXPECT_EQ(t.restarts, 0);
    f.clock.Advance(1100); // the tick stalled past the old 500..1000 ms window
    tick.OnMainTick();
    EXPECT_EQ(t.restarts, 1);
    EXPECT_FALSE(f.view.RestartPending);
    Tick(100);
    EXPECT_EQ(t.restarts, 1);
}

TEST_F(TickTest, CalibrationWindowAfterAZoneChange)
{
    f.engine.AutoCalibrate = 1;
    f.engine.CurrentZone = 2;
    f.engine.CalibratedZone = 5;
    f.engine.SlowCounter = 0;
    f.engine.HitMap[1][0] = 1;
    Tick(299);
    EXPECT_FALSE(f.engine.CalibrationMode);
    Tick();
    EXPECT_TRUE(f.engine.CalibrationMode);
    EXPECT_EQ(f.engine.HitMap[1][0], 0);
    Tick(400);
    EXPECT_TRUE(f.engine.CalibrationMode) << "tick 700";
    Tick();
    EXPECT_FALSE(f.engine.CalibrationMode);
    EXPECT_EQ(f.engine.CalibratedZone, 2);
}

TEST_F(TickTest, TimeRolloverFiresOncePerSlot)
{
    struct Case
    {
        int mode;
        int hour, minute;
        bool fires;
    };
    const Case cases[] = {
        { 0, 0, 0, true },    { 0, 12, 0, false }, { 1, 12, 2, true }, { 1, 12, 14, true },
        { 1, 12, 15, false }, { 1, 6, 0, false },  { 2, 6, 10, true }, { 2, 18, 0, true },
        { 2, 13, 0, false },  { 7, 0, 0, false },
    };
    for (const Case &c : cases) {
        test::ServerFixture g;
        test::FakeTopics u;
        u.framesRecorded = 1;
        MainTick k(g.context, u, u, u, u, u, u, u, u);
        g.settings.Config.Block.RolloverOn = 1;
        g.settings.Config.RolloverMode = c.mode;
        g.clock.now.hour = c.hour;
        g.clock.now.minute = c.minute;
        for (int pass = 0; pass < 3; ++pass) {
            g.engine.SlowCounter = g.engine.SlowPeriod.load();
            k.OnMainTick();
        }
        EXPECT_EQ(g.sink.Count(WM_RESTART_CAPTURE), c.fires ? 1 : 0)
            << "mode " << c.mode << " at " << c.hour << ":" << c.minute;
    }

    // Suppressed passes don't use up the slot; the next day's midnight fires again.
    t.framesRecorded = 1;
    f.settings.Config.Block.RolloverOn = 1;
    f.engine.SuppressCount = 5;
    SlowPass(0, 0);
    EXPECT_EQ(f.sink.Count(WM_RESTART_CAPTURE), 0);
    f.engine.SuppressCount = 0;
    SlowPass(0, 1);
    SlowPass(0, 2);
    EXPECT_EQ(f.sink.Count(WM_RESTART_CAPTURE), 1);
    f.clock.now.day = 2;
    SlowPass(0, 0);
    EXPECT_EQ(f.sink.Count(WM_RESTART_CAPTURE), 2);
}

// A file begun inside the rollover hour is the new period's file already: it is not cut.
TEST_F(TickTest, TimeRolloverNeverCutsAFileBegunInItsHour)
{
    struct Case
    {
        const char *name;
        int startDay, startHour, startMinute; // the run's start (its file's)
        int day, hour, minute; // the slow pass
        uint64_t frames; // in the file by then
        bool fires; // a restart for a new file
        bool renamed; // the file takes the new name instead
    };
    const Case cases[] = {
        { "started at hh:05 of the rollover hour", 1, 12, 5, 1, 12, 6, 9, false, false },
        { "started at hh:00", 1, 12, 0, 1, 12, 14, 9, false, false },
        { "started before the hour", 1, 11, 58, 1, 12, 1, 9, true, false },
        { "started before the hour, no frame yet", 1, 11, 58, 1, 12, 1, 0, false, true },
        { "started the day before, same hour", 1, 12, 5, 2, 12, 0, 9, true, false },
        { "started at hh:05, next rollover hour", 1, 12, 5, 2, 0, 2, 9, true, false },
    };
    for (const Case &c : cases) {
        test::ServerFixture g;
        test::FakeTopics u;
        u.framesRecorded = c.frames;
        MainTick k(g.context, u, u, u, u, u, u, u, u);
        g.settings.Config.Block.RolloverOn = 1;
        g.settings.Config.RolloverMode = 1; // hours 0 and 12
        g.clock.now.day = c.startDay;
        g.clock.now.hour = c.startHour;
        g.clock.now.minute = c.startMinute;
        k.ResetForStart();
        k.OnMainTick(); // the start's own slow pass
        g.clock.now.day = c.day;
        g.clock.now.hour = c.hour;
        g.clock.now.minute = c.minute;
        g.engine.SlowCounter = g.engine.SlowPeriod.load();
        k.OnMainTick();
        EXPECT_EQ(g.sink.Count(WM_RESTART_CAPTURE), c.fires ? 1 : 0) << c.name;
        EXPECT_EQ(u.renames.size(), c.renamed ? 1u : 0u) << c.name;
    }
}

TEST_F(TickTest, SizeRolloverComparesIn64Bits)
{
    f.settings.Config.Block.RolloverOn = 0;
    f.settings.Config.RolloverMBytes = 5000; // 5 GB does not fit 32 bits
    t.fileBytes = 4'999'999'999ull;
    SlowPass(10, 0);
    EXPECT_EQ(f.sink.Count(WM_RESTART_CAPTURE), 0);
    t.fileBytes = 5'000'000'000ull;
    SlowPass(10, 1);
    EXPECT_EQ(f.sink.Count(WM_RESTART_CAPTURE), 1);
}

// Capture restarts (each rollover) kill the time-lapse timer; re-armed, it waits only what was
// left of the interval, so frequent rollovers cannot starve the time lapse.
TEST_F(TickTest, TimeLapseKeepsItsScheduleThroughRestarts)
{
    f.settings.Config.TimeLapseEnabled[1] = 1;
    f.settings.Config.TimeLapseMinutes[1] = 1.5f;
    const auto restartAfter = [&](uint32_t ms) {
        f.clock.ticks += ms;
        f.timers.KillTimer(TIMELAPSE_TIMER);
        SlowPass(10, 0);
        return f.timers.running.at(TIMELAPSE_TIMER);
    };
    f.clock.ticks = 1000;
    SlowPass(10, 0);
    EXPECT_EQ(f.timers.running.at(TIMELAPSE_TIMER), 90000u);
    EXPECT_EQ(restartAfter(60000), 30000u);
    EXPECT_EQ(restartAfter(20000), 10000u);
    f.clock.ticks += 10000;
    tick.OnTimeLapseTimer();
    EXPECT_EQ(f.timers.running.at(TIMELAPSE_TIMER), 90000u) << "then whole intervals again";
    EXPECT_EQ(restartAfter(200000), 1u) << "overdue after a long stop: at once";

    f.settings.Config.TimeLapseMinutes[1] = 0.5f; // a shorter interval set meanwhile
    f.clock.ticks += 1;
    tick.OnTimeLapseTimer();
    EXPECT_EQ(f.timers.running.at(TIMELAPSE_TIMER), 30000u);
    f.settings.Config.TimeLapseEnabled[1] = 0;
    SlowPass(10, 0);
    f.settings.Config.TimeLapseEnabled[1] = 1;
    EXPECT_EQ(restartAfter(5000), 30000u) << "switched off and on: a whole interval";
}

TEST_F(TickTest, SlowWorkOrderAndGuards)
{
    f.settings.Config.RecycleEnabled = 1;
    f.settings.Config.RecycleMBytes = 700;
    f.settings.Config.TimeLapseEnabled[1] = 1;
    f.settings.Config.TimeLapseMinutes[1] = 1.5f;
    t.recordFile = f.view.VideoFolder / "v01-01-2026-0000.avi";
    SlowPass(0, 4);
    EXPECT_EQ(t.relayPings, 1);
    EXPECT_EQ(t.diskChecks, 1);
    ASSERT_EQ(t.recycles.size(), 1u);
    EXPECT_EQ(t.recycles[0].limit, 700);
    EXPECT_EQ(t.recycles[0].current, t.recordFile);
    EXPECT_EQ(f.timers.running.at(TIMELAPSE_TIMER), 90000u);
    EXPECT_TRUE(std::filesystem::exists(f.folder.path / "device0.cfg")) << "settings saved";
    EXPECT_EQ(f.shell.panes.at(kPaneZone), "z1");
    EXPECT_EQ(f.engine.SlowCounter, 0);

    // A nonsensical time-lapse interval means off.
    for (float minutes : { 0.0f, -3.0f, 1000.0f }) {
        f.timers.running.clear();
        f.settings.Config.TimeLapseMinutes[1] = minutes;
        SlowPass(10, 0);
        EXPECT_FALSE(f.timers.IsTimerRunning(TIMELAPSE_TIMER)) << minutes;
    }

    // While zones are edited: no save, no schedules, no zones.
    std::filesystem::remove(f.folder.path / "device0.cfg");
    f.engine.ZoneEditing = 1;
    f.settings.Config.Block.ZoneHours = { 0, 24, 0, 0, 0, 0, 0, 0 };
    f.engine.CurrentZone = 3;
    SlowPass(10, 0);
    EXPECT_FALSE(std::filesystem::exists(f.folder.path / "device0.cfg"));
    EXPECT_EQ(f.engine.CurrentZone, 3);
}

TEST_F(TickTest, ContinuousScheduleAcrossMidnight)
{
    f.settings.Config.ContinuousRecord = 1;
    f.settings.Config.RecordWindow = { 22, 0, 6, 0 };
    f.view.RestartMark = true;
    SlowPass(23, 0);
    EXPECT_TRUE(f.engine.GateOpen) << "inside, started by the restart timer: gates open";
    SlowPass(23, 15);
    EXPECT_EQ(t.gateCalls.size(), 1u);
    EXPECT_EQ(f.sink.Count(WM_RESTART_CAPTURE), 0);
    SlowPass(6, 0);
    EXPECT_FALSE(f.engine.GateOpen);
    EXPECT_EQ(f.sink.Count(WM_RESTART_CAPTURE), 1) << "a new file at the window's end";
    // Later that day motion opens the gates: the slow pass leaves them to the countdown.
    f.engine.RecordCountdown = 100;
    f.engine.GateOpen = 1;
    SlowPass(9, 0);
    SlowPass(9, 15);
    EXPECT_TRUE(f.engine.GateOpen);
    EXPECT_EQ(f.sink.Count(WM_RESTART_CAPTURE), 1) << "no restart in the middle of a recording";
    f.engine.RecordCountdown = 0;
    f.engine.GateOpen = 0;
    // A window that ends while motion records still starts its new file, once.
    f.settings.Config.RecordWindow = { 22, 0, 9, 30 };
    SlowPass(9, 20);
    f.engine.RecordCountdown = 100;
    f.engine.GateOpen = 1;
    SlowPass(9, 30);
    EXPECT_FALSE(f.engine.GateOpen);
    EXPECT_EQ(f.sink.Count(WM_RESTART_CAPTURE), 2) << "the window's end, during motion";
    f.settings.Config.RecordWindow = { 22, 0, 6, 0 };
    f.engine.RecordCountdown = 0;

    f.view.RestartMark = false;
    t.framesRecorded = 40;
    SlowPass(22, 30);
    EXPECT_FALSE(f.engine.GateOpen);
    EXPECT_EQ(f.sink.Count(WM_RESTART_CAPTURE), 3) << "inside without the mark: restart first";

    // A manual start's file has no frames yet: it becomes the new file, named for the
    // window's start, so no restart (and no hole) for it.
    f.engine.GateOpen = 0;
    t.framesRecorded = 0;
    SlowPass(22, 45);
    EXPECT_TRUE(f.engine.GateOpen);
    EXPECT_EQ(f.sink.Count(WM_RESTART_CAPTURE), 3);
    ASSERT_EQ(t.renames.size(), 1u);
    EXPECT_EQ(t.renames[0].hour, 22);
    EXPECT_EQ(t.renames[0].minute, 45);

    // A frameless file that cannot take the name is replaced.
    SlowPass(6, 0);
    EXPECT_EQ(f.sink.Count(WM_RESTART_CAPTURE), 4);
    t.renameResult = false;
    SlowPass(22, 50);
    EXPECT_FALSE(f.engine.GateOpen);
    EXPECT_EQ(f.sink.Count(WM_RESTART_CAPTURE), 5);
}

// A window that opens over a run started just before it: the night's recording must not carry
// the earlier minute's name, and the rollover hour's file that the window took over is not cut.
TEST_F(TickTest, WindowOpeningOverAFramelessFileNamesItForTheWindow)
{
    f.settings.Config.ContinuousRecord = 1;
    f.settings.Config.RecordWindow = { 0, 0, 0, 2 };
    f.settings.Config.Block.RolloverOn = 1;
    f.settings.Config.RolloverMode = 0; // midnight
    f.clock.now.hour = 23;
    f.clock.now.minute = 59;
    tick.ResetForStart();
    tick.OnMainTick();
    EXPECT_FALSE(f.engine.GateOpen);
    f.clock.now.day = 2;
    SlowPass(0, 0);
    EXPECT_TRUE(f.engine.GateOpen);
    ASSERT_EQ(t.renames.size(), 1u);
    EXPECT_EQ(t.renames[0].day, 2);
    EXPECT_EQ(t.renames[0].hour, 0);
    EXPECT_EQ(f.sink.Count(WM_RESTART_CAPTURE), 0) << "neither a restart nor a rollover cut";
    SlowPass(0, 1);
    EXPECT_EQ(f.sink.Count(WM_RESTART_CAPTURE), 0);
}

TEST_F(TickTest, TvScheduleTunesBeforeOpening)
{
    f.engine.TvMode = 1;
    f.settings.Config.TvRecord = 1;
    f.settings.Config.TvWindow = { 20, 0, 21, 0 };
    f.view.RestartMark = true;
    f.shell.panes.clear();
    SlowPass(20, 30);
    EXPECT_EQ(t.tunerPages, std::vector<bool> { true });
    EXPECT_TRUE(f.engine.GateOpen);
    EXPECT_TRUE(f.shell.panes.empty()) << "TV mode ends the slow work before the zone pane";
    EXPECT_FALSE(std::filesystem::exists(f.folder.path / "device0.cfg"));
}

TEST_F(TickTest, TimedZonesSetZoneAndSensitivity)
{
    f.engine.CameraCount = 2;
    f.engine.ZoneSensitivityEnabled[2] = 1;
    for (int z = 1; z <= 4; ++z)
        f.engine.ZoneSensitivity[2][z] = uint8_t(10 * z);
    SlowPass(5, 0);
    EXPECT_EQ(f.engine.CurrentZone, 1);
    EXPECT_EQ(f.engine.Sensitivity[2], 10);
    SlowPass(6, 0);
    EXPECT_EQ(f.engine.CurrentZone, 2);
    EXPECT_EQ(f.engine.Sensitivity[2], 20);
    EXPECT_EQ(f.shell.panes.at(kPaneZone), "z2");

    // No zone covers the hour: a set zone stays; a never-set zone becomes 1 with the message.
    f.settings.Config.Block.ZoneHours = { 1, 2, 1, 2, 1, 2, 1, 2 };
    SlowPass(10, 0);
    EXPECT_EQ(f.engine.CurrentZone, 2);
    EXPECT_TRUE(f.notifier.entries.empty());
    f.engine.CurrentZone = 0;
    SlowPass(10, 0);
    EXPECT_EQ(f.engine.CurrentZone, 1);
    ASSERT_EQ(f.notifier.entries.size(), 1u);
    EXPECT_EQ(f.notifier.entries[0].text, "Timedzones are not set properly.");
}

TEST(Schedules, Windows)
{
    struct Case
    {
        TimeWindow w;
        int hour, minute;
        bool inside, ended;
    };
    const Case cases[] = {
        { { 22, 0, 6, 0 }, 23, 0, true, false },
        { { 22, 0, 6, 0 }, 5, 59, true, false },
        { { 22, 0, 6, 0 }, 6, 0, false, true },
        { { 22, 0, 6, 0 }, 21, 59, false, true },
        { { 10, 30, 10, 15 }, 10, 20, false, true },
        { { 10, 30, 10, 15 }, 10, 40, false, true },
        { { 10, 30, 10, 15 }, 9, 0, false, false },
        { { 8, 0, 17, 30 }, 17, 29, true, false },
        { { 8, 0, 17, 30 }, 7, 0, false, false },
        { { 255, 255, 255, 255 }, 12, 0, false, false },
        { { 0, 0, 23, 59 }, 23, 59, true, false }, // all day: no break before midnight
        { { 0, 0, 23, 59 }, 0, 0, true, false },
        { { 20, 0, 23, 59 }, 23, 59, true, false },
        { { 20, 0, 23, 59 }, 19, 59, false, false },
    };
    for (const Case &c : cases) {
        const int m = c.hour * 60 + c.minute;
        EXPECT_EQ(InsideWindow(c.w, m), c.inside) << c.hour << ":" << c.minute;
        EXPECT_EQ(WindowEnded(c.w, m), c.ended) << c.hour << ":" << c.minute;
    }
    const std::array<int32_t, 8> hours { 19, 6, 6, 10, 10, 14, 14, 19 };
    const std::pair<int, int> zones[]
        = { { 5, 1 }, { 6, 2 }, { 9, 2 }, { 10, 3 }, { 14, 4 }, { 18, 4 }, { 19, 1 }, { 0, 1 } };
    for (auto [hour, zone] : zones)
        EXPECT_EQ(ZoneForHour(hours, hour), zone) << hour;
}

} // namespace
