#include "CameraSettingsApply.h"
#include "FrameTestUtil.h"
#include "MainTick.h"
#include "MotionGrabber.h"
#include "ServerFixture.h"
#include "TimedZones.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace vorlund;

namespace {

// The real state and tick over fakes, with the camera settings on top.
struct Rig
{
    test::ServerFixture f;
    test::FakeTopics t;
    MainTick tick { f.context, t, t, t, t, t, t, t, t };
    CameraSettingsApply apply { f.context, tick };
};

struct CamSettingsTest : ::testing::Test, Rig
{
    CamSettingsTest()
    {
        f.engine.CurrentZone = 1;
        for (int c = 1; c <= 4; ++c) {
            f.engine.Sensitivity[c] = 25;
            f.engine.MotionDistance[c] = 12;
        }
    }
    CamSettingsValues Open(int camera)
    {
        CamSettingsValues v;
        EXPECT_EQ(apply.OnCameraSettings(105 + camera, v), CameraSettingsApply::OpenAction::Open);
        return v;
    }
    void Live(LiveSetting type, int camera, int value)
    {
        apply.ApplyLiveSetting(PackLiveSetting({ type, uint8_t(camera), uint8_t(value),
                                                 type == LiveSetting::Sensitivity ? 0 : value }));
    }
    void Close(CloseOutcome outcome, const CamSettingsValues &v)
    {
        EXPECT_TRUE(apply.OnSettingsDialogClosed(PackSettingsClosed(143, outcome, v.camera), v));
    }
};

TEST_F(CamSettingsTest, LiveChangesReachTheEngineAndCancelPutsAllThreeBack)
{
    f.engine.RecordCountdown = 400;
    const CamSettingsValues v = Open(2);
    EXPECT_EQ(v.Label(), "Camera 2");
    EXPECT_EQ(v.sensitivity, 25);
    EXPECT_EQ(f.engine.RecordCountdown, 0) << "opening ends a running post-motion recording";
    EXPECT_EQ(f.engine.DialogCamera, 2);
    EXPECT_TRUE(f.view.CamSettingsOpen);
    EXPECT_EQ(f.shell.panes.at(kPaneCamera), "2");

    Live(LiveSetting::Sensitivity, 2, 60);
    Live(LiveSetting::MotionDistance, 2, 40);
    Live(LiveSetting::MotionDistanceOnOff, 2, 1);
    Live(LiveSetting(9), 2, 5); // unknown type: nothing
    Live(LiveSetting::Sensitivity, 7, 5); // no such camera: nothing
    EXPECT_EQ(f.engine.Sensitivity[2], 60) << "before OK";
    EXPECT_EQ(f.engine.MotionDistance[2], 40);
    EXPECT_EQ(f.engine.MotionDistanceEnabled[2], 1);

    // A second camera command only brings the open dialog forward.
    CamSettingsValues other;
    EXPECT_EQ(apply.OnCameraSettings(108, other), CameraSettingsApply::OpenAction::BringForward);
    EXPECT_EQ(f.engine.DialogCamera, 2);

    Close(CloseOutcome::Cancel, v);
    EXPECT_EQ(f.engine.Sensitivity[2], 25);
    EXPECT_EQ(f.engine.MotionDistance[2], 12);
    EXPECT_EQ(f.engine.MotionDistanceEnabled[2], 0) << "a Cancel also undoes the box";
    EXPECT_EQ(f.engine.Sensitivity[3], 25) << "the second command changed nothing";
    EXPECT_EQ(f.engine.DialogCamera, 0);
    EXPECT_FALSE(f.view.CamSettingsOpen);
    EXPECT_FALSE(apply.IsOpen());
    EXPECT_FALSE(apply.OnSettingsDialogClosed(142, v)) << "the zone editor's close is not ours";
}

TEST_F(CamSettingsTest, OkAppliesClampsAndSaves)
{
    f.settings.Config.MailTo = "me@example.com";
    f.clock.now.hour = 12; // zone 3 of the default hours
    f.engine.CurrentZone = 0;
    CamSettingsValues v = Open(1);
    EXPECT_EQ(v.currentZone, 3) << "a zone never set is taken from the time of day";
    EXPECT_TRUE(v.mailConfigured);
    Live(LiveSetting::Sensitivity, 1, 60);

    v.motionEnabled = true;
    v.record = false;
    v.snapshot = true;
    v.sound = true;
    v.mail = true;
    v.distanceEnabled = true;
    v.recordSeconds = 86400;
    v.snapshotQuality = 250;
    v.zoneSensitivity = { 10, 20, 60, 300 };
    v.zoneSensitivityEnabled = true;
    v.timeLapseEnabled = true;
    v.timeLapseMinutes = 2.5f;
    v.timeLapseLimit = 0; // ignored
    v.timeLapseWindow = MakeWindow(std::nullopt, std::nullopt);
    Close(CloseOutcome::Ok, v);

    const DeviceConfig &c = f.settings.Config;
    EXPECT_EQ(f.engine.RecordOnMotion[1], 0);
    EXPECT_EQ(f.engine.SnapOnMotion[1], 1);
    EXPECT_EQ(f.engine.MailOnMotion[1], 1);
    EXPECT_EQ(f.engine.RecordSeconds[1], 86400);
    EXPECT_EQ(c.Block.JpegQuality[1], 100) << "250 is applied as 100";
    EXPECT_EQ(f.engine.ZoneSensitivity[1][4], 255) << "never cut to 8 bits";
    EXPECT_EQ(f.engine.Sensitivity[1], 60) << "per-zone on: the current zone's value";
    EXPECT_EQ(c.TimeLapseMinutes[1], 2.5f);
    EXPECT_EQ(c.TimeLapseLimit[1], 5000);
    EXPECT_EQ(c.TimeLapseWindow[1], (TimeWindow { 255, 255, 255, 255 }));
    EXPECT_TRUE(std::filesystem::exists(f.settings.SlotPath(f.settings.ConfigSlot))) << "OK saves";
    EXPECT_EQ(c.MotionDistanceEnabled, 1) << "saved with camera 1's flag";
    EXPECT_EQ(f.engine.DialogCamera, 0);
}

TEST_F(CamSettingsTest, OkDuringACameraMoveKeepsTheOtherCamerasMotionEnables)
{
    CamSettingsValues v = Open(1);
    for (int c = 1; c <= 4; ++c) {
        f.engine.SavedMotionEnabled[c] = 1;
        f.engine.MotionEnabled[c] = 0; // a pan/tilt/zoom move cleared them
    }
    f.engine.PtzStopped = 1;
    v.motionEnabled = true;
    Close(CloseOutcome::Ok, v);
    for (int c = 2; c <= 4; ++c)
        EXPECT_EQ(f.engine.SavedMotionEnabled[c], 1) << c;

    v = Open(2);
    f.engine.PtzStopped = 0;
    f.engine.MotionEnabled[3] = 0;
    v.motionEnabled = false;
    Close(CloseOutcome::Ok, v);
    EXPECT_EQ(f.engine.SavedMotionEnabled[2], 0);
    EXPECT_EQ(f.engine.SavedMotionEnabled[3], 0) << "outside a move the four current values";
}

TEST_F(CamSettingsTest, TimeLapseTimerAndValues)
{
    struct Case
    {
        int camera;
        bool running, enabled;
        float minutes;
        int limit;
        bool timerLeft;
        float storedMinutes;
        int storedLimit;
    };
    const Case cases[] = {
        { 1, true, true, 15.0f, 7, true, 15.0f, 7 }, // nothing changed: the timer runs on
        { 1, true, false, 15.0f, 7, false, 15.0f, 7 }, // switched off
        { 1, true, true, 1.0f, 7, false, 1.0f, 7 }, // a new interval
        { 1, true, true, 0.0f, -3, true, 15.0f, 5000 }, // zero and below are ignored
        { 2, true, false, 1.0f, 7, true, 1.0f, 7 }, // camera 1's timer is not camera 2's
    };
    for (const Case &k : cases) {
        auto rig = std::make_unique<Rig>();
        test::ServerFixture &g = rig->f;
        CameraSettingsApply &a = rig->apply;
        if (k.running)
            g.timers.SetTimer(TIMELAPSE_TIMER, 900000);
        CamSettingsValues v;
        ASSERT_EQ(a.OnCameraSettings(105 + k.camera, v), CameraSettingsApply::OpenAction::Open);
        v.timeLapseEnabled = k.enabled;
        v.timeLapseMinutes = k.minutes;
        v.timeLapseLimit = k.limit;
        a.OnSettingsDialogClosed(PackSettingsClosed(143, CloseOutcome::Ok, k.camera), v);
        EXPECT_EQ(g.timers.IsTimerRunning(TIMELAPSE_TIMER), k.timerLeft) << k.minutes;
        EXPECT_EQ(g.settings.Config.TimeLapseMinutes[k.camera], k.storedMinutes);
        EXPECT_EQ(g.settings.Config.TimeLapseLimit[k.camera], k.storedLimit);
        EXPECT_EQ(g.settings.Config.TimeLapseEnabled[k.camera], k.enabled ? 1 : 0);
    }
}

TEST_F(CamSettingsTest, ContinuousRecordingAndTvModeOpenNoCameraDialog)
{
    CamSettingsValues v;
    f.settings.Config.ContinuousRecord = 1;
    EXPECT_EQ(apply.OnCameraSettings(106, v), CameraSettingsApply::OpenAction::ContinuousMessage);
    ASSERT_EQ(f.notifier.entries.size(), 1u);
    EXPECT_EQ(f.notifier.entries[0].text,
              " You have set Continuous Recording mode.\nAll motion "
              "detection settings are disabled.");
    f.engine.TvMode = 1;
    EXPECT_EQ(apply.OnCameraSettings(106, v), CameraSettingsApply::OpenAction::TvDialog);
    EXPECT_EQ(f.engine.DialogCamera, 0);
}

TEST_F(CamSettingsTest, TvRecordingTimer)
{
    const std::string ended
        = "Recording finished. You should\nStop Vorlund now to close the file.\n\n";
    const std::string armed = "TV Recording timer set. \nBe sure to Start Vorlund.\n\n";
    struct Before
    {
        bool recordNow, record, gateOpen, idle;
        int frameWidth;
    };
    struct After
    {
        std::vector<bool> gateCalls;
        uint32_t settle;
        int restarts;
        std::vector<std::string> balloons;
    };
    struct Case
    {
        const char *name;
        Before before;
        TvSettingsValues entered;
        After after;
    };
    const Case cases[] = {
        { "record now on, wide picture",
          { false, false, false, false, 640 },
          { true, false, {}, 5 },
          { { true }, 150, 0, {} } },
        { "record now on, narrow picture",
          { false, false, false, false, 320 },
          { true, false, {}, 5 },
          { { true }, 200, 0, {} } },
        { "record now already on",
          { true, false, true, false, 640 },
          { true, false, {}, 5 },
          { {}, 150, 0, {} } },
        { "record now off",
          { true, false, true, false, 640 },
          { false, false, {}, 5 },
          { { false }, 200, 0, { ended } } },
        { "only the channel changes during a scheduled recording",
          { false, true, true, false, 640 },
          { false, true, {}, 9 },
          { {}, 200, 0, {} } },
        { "scheduled recording switched off while it runs",
          { false, true, true, false, 640 },
          { false, false, {}, 5 },
          { { false }, 200, 1, {} } },
        { "schedule switched off as Record Now starts: the recording goes on",
          { false, true, true, false, 640 },
          { true, false, {}, 5 },
          { { true }, 150, 0, {} } },
        { "timer set while stopped",
          { false, false, false, true, 640 },
          { false, true, {}, 5 },
          { {}, 200, 0, { armed } } },
    };
    for (const Case &k : cases) {
        auto rig = std::make_unique<Rig>();
        test::ServerFixture &g = rig->f;
        CameraSettingsApply &a = rig->apply;
        g.engine.TvMode = 1;
        g.engine.SettleTime = 200;
        g.engine.FrameWidth = k.before.frameWidth;
        g.engine.GateOpen = k.before.gateOpen;
        g.view.Idle = k.before.idle;
        g.settings.Config.TvRecord = k.before.record;
        if (k.before.recordNow) {
            // Switched on earlier through the same dialog.
            a.ApplyTvSettings({ true, k.before.record, {}, 5 });
            rig->t.gateCalls.clear();
        }
        EXPECT_EQ(a.TvValues().recordNow, k.before.recordNow) << k.name;
        a.ApplyTvSettings(k.entered);
        EXPECT_EQ(rig->t.gateCalls, k.after.gateCalls) << k.name;
        if (!k.after.gateCalls.empty()) {
            EXPECT_EQ(g.engine.GateOpen, k.after.gateCalls.back() ? 1 : 0) << k.name;
        }
        EXPECT_EQ(g.engine.SettleTime, k.after.settle) << k.name;
        EXPECT_EQ(g.sink.Count(WM_RESTART_CAPTURE), k.after.restarts) << k.name;
        std::vector<std::string> texts;
        for (const BalloonRequest &b : g.shell.balloons) {
            EXPECT_EQ(b.title, "Reminder");
            texts.push_back(b.text);
        }
        EXPECT_EQ(texts, k.after.balloons) << k.name;
        EXPECT_EQ(g.view.TvTimerSet, k.entered.recordNow) << k.name;
        EXPECT_EQ(g.settings.Config.TvChannel, k.entered.channel) << k.name;
    }
}

TEST_F(CamSettingsTest, AStopEndsRecordNowWithItsSavedSettleTime)
{
    f.engine.TvMode = 1;
    f.engine.FrameWidth = 640;
    f.engine.SettleTime = 14; // a one-camera run
    apply.ApplyTvSettings({ true, false, {}, 5 });
    EXPECT_EQ(f.engine.SettleTime, 150);
    // The stop clears the timer and puts the configured settle time back.
    f.view.TvTimerSet = false;
    f.engine.SettleTime = 200;
    apply.ApplyTvSettings({ false, false, {}, 5 });
    EXPECT_EQ(f.engine.SettleTime, 200) << "the ended run's value is not put back";
    EXPECT_TRUE(t.gateCalls == std::vector<bool>({ true })) << "and no gate is shut";
}

TEST(CamSettingsWindows, PickersAndStoredBytes)
{
    EXPECT_FALSE(WindowStart({ 255, 255, 7, 30 }));
    ASSERT_TRUE(WindowEnd({ 255, 255, 7, 30 }));
    EXPECT_EQ(WindowEnd({ 255, 255, 7, 30 })->minute, 30);
    EXPECT_FALSE(WindowEnd({ 0, 0, 24, 0 }));
    EXPECT_EQ(MakeWindow(TimeOfDay { 22, 5 }, std::nullopt), (TimeWindow { 22, 5, 255, 255 }));
    EXPECT_EQ(MakeWindow(TimeOfDay { 25, 0 }, TimeOfDay { 6, 0 }), (TimeWindow { 255, 255, 6, 0 }));
    const LiveSettingRecord r { LiveSetting::MotionDistance, 4, 200, -7 };
    const LiveSettingRecord back = UnpackLiveSetting(PackLiveSetting(r));
    EXPECT_EQ(back.type, r.type);
    EXPECT_EQ(back.camera, 4);
    EXPECT_EQ(back.byteValue, 200);
    EXPECT_EQ(back.intValue, -7);
    EXPECT_EQ(SettingsDialogOf(PackSettingsClosed(143, CloseOutcome::Cancel, 2)), 143);
}

// With the dialog open, motion on its camera counts down and sounds but neither records nor
// takes a snapshot, and a click toggles a mask cell.
TEST_F(CamSettingsTest, DetectionAndClicksWhileTheDialogIsOpen)
{
    EngineState &e = f.engine;
    e.ViewWindow = &f.sink;
    e.CameraCount = 1;
    e.CurrentCamera = 1;
    e.RecordOnMotion[1] = 0;
    e.SnapOnMotion[1] = 1;
    e.SoundOnMotion[1] = 0;
    e.RecordSeconds[1] = 12;
    e.MotionEnabled[1] = 1;
    ZoneMaskBytes all;
    all.fill(1);
    e.SetZoneMask(1, 1, all);
    e.Armed.Arm();
    e.SuppressCount = 0;
    e.FrameDone.Restart();
    e.SlowCounter = 1;
    e.CalibratedZone = 1;
    CMotionGrabber grabber(e);
    grabber.SetFormat(320, 240, 0);
    test::Frame base(320, 240, 100);
    std::memcpy(e.ReferenceFrame(1), base.bytes.data(), base.bytes.size());
    test::Frame moved = base;
    moved.Shift(10, 10, 20, 10, 100);

    const CamSettingsValues v = Open(1);
    grabber.BufferCB(1.0, moved.bytes.data(), long(moved.bytes.size()));
    EXPECT_EQ(e.RecordCountdown, 800) << "the dialog's camera counts down with recording off";
    EXPECT_EQ(f.sink.Count(WM_PLAY_SNAP), 1) << "and sounds with sound off";
    EXPECT_EQ(e.SnapshotRequest.Camera(), 0) << "but takes no snapshot";
    for (int i = 0; i < 5; ++i) {
        f.clock.Advance(15);
        tick.OnMainTick();
    }
    EXPECT_EQ(e.RecordCountdown, 795);
    EXPECT_TRUE(t.gateCalls.empty()) << "the gates stay shut";

    f.view.Grid = ComputeZoneGrid(160, 120);
    TimedZoneEditor zones(f.context);
    const GridRect r = f.view.Grid.cells[1][3];
    ASSERT_EQ(e.ZoneMask[1][1][3], 1);
    zones.OnLButtonDown((r.left + r.right) / 2, (r.top + r.bottom) / 2);
    EXPECT_EQ(e.ZoneMask[1][1][3], 0);
    Close(CloseOutcome::Cancel, v);
    e.ViewWindow = nullptr;
}

} // namespace
