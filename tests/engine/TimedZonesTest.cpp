#include "TimedZones.h"
#include "FrameTestUtil.h"
#include "MotionGrabber.h"
#include "ServerFixture.h"

#include <gtest/gtest.h>

using namespace vorlund;

namespace {

struct ZonesTest : ::testing::Test
{
    ZonesTest()
    {
        f.view.Grid = ComputeZoneGrid(160, 120);
        f.engine.CurrentZone = 1;
        ZoneMaskBytes all;
        all.fill(1);
        for (int c = 1; c <= 4; ++c)
            for (int z = 1; z <= 4; ++z)
                f.engine.SetZoneMask(c, z, all);
    }
    void Click(int camera, int cell)
    {
        const GridRect r = f.view.Grid.cells[camera][size_t(cell)];
        editor.OnLButtonDown((r.left + r.right) / 2, (r.top + r.bottom) / 2);
    }
    test::ServerFixture f;
    TimedZoneEditor editor { f.context };
};

TEST_F(ZonesTest, ClicksToggleCellsOfTheCurrentZoneWhileEditing)
{
    Click(1, 10);
    EXPECT_EQ(f.engine.ZoneMask[1][1][10], 1) << "not editing: no change";
    editor.Open();
    Click(1, 10);
    EXPECT_EQ(f.engine.ZoneMask[1][1][10], 0);
    Click(1, 10);
    EXPECT_EQ(f.engine.ZoneMask[1][1][10], 1) << "toggled back";
    f.engine.ZoneMask[1][1][11] = 7;
    Click(1, 11);
    EXPECT_EQ(f.engine.ZoneMask[1][1][11], 0) << "any other value becomes 0";
    editor.OnLButtonDown(5000, 5000); // outside every tile: nothing
}

TEST_F(ZonesTest, NextShiftCopyAndCancelRestoresEverything)
{
    const auto hoursBefore = f.settings.Config.Block.ZoneHours;
    f.engine.CurrentZone = 4;
    TimedZoneEditor::Hours h = editor.Open();
    EXPECT_EQ(h.begin, 14);
    EXPECT_EQ(h.end, 19);
    Click(2, 5); // camera 2, zone 4: cell 5 off
    h = editor.NextZone(true, { 15, 20 });
    EXPECT_EQ(f.engine.CurrentZone, 1) << "4 wraps to 1";
    EXPECT_EQ(f.engine.ZoneMask[2][1][5], 0) << "Shift copied zone 4's masks into zone 1";
    EXPECT_EQ(f.settings.Config.Block.ZoneHours[6], 15);
    EXPECT_EQ(f.shell.panes.at(kPaneZone), "z1");
    editor.NextZone(false, h);
    Click(3, 0);
    editor.Open(); // a second open keeps the first backup
    editor.Close(false, { 0, 0 });
    EXPECT_EQ(f.settings.Config.Block.ZoneHours, hoursBefore);
    for (int c = 1; c <= 4; ++c)
        for (int z = 1; z <= 4; ++z)
            for (int cell = 0; cell < 64; ++cell)
                ASSERT_EQ(f.engine.ZoneMask[c][z][cell], 1) << c << " " << z << " " << cell;
    EXPECT_EQ(f.engine.CurrentZone, 2) << "the zone stays until the tick recomputes it";
    EXPECT_FALSE(f.engine.ZoneEditing);
    EXPECT_EQ(f.engine.SlowCounter, 12001);
    EXPECT_FALSE(std::filesystem::exists(f.folder.path / "device0.cfg")) << "Cancel saves nothing";

    editor.Open();
    editor.Close(true, { 3, 9 });
    EXPECT_EQ(f.settings.Config.Block.ZoneHours[2], 3);
    EXPECT_TRUE(std::filesystem::exists(f.folder.path / "device0.cfg")) << "OK saves";
}

TEST_F(ZonesTest, UnsetZoneIsTakenFromTheTimeOfDay)
{
    f.engine.CurrentZone = 0;
    f.clock.now.hour = 11;
    const TimedZoneEditor::Hours h = editor.Open();
    EXPECT_EQ(f.engine.CurrentZone, 3);
    EXPECT_EQ(h.begin, 10);
    ASSERT_EQ(f.notifier.entries.size(), 1u);
    EXPECT_EQ(f.notifier.entries[0].text, "Timed Zones not set. err3a");
}

TEST_F(ZonesTest, ClickPicksTheReviewCameraWhenStoppedOrReviewing)
{
    int shown = 0;
    editor.ShowReviewImages = [&](int camera) { shown = camera; };
    f.view.Idle = false;
    Click(3, 0);
    EXPECT_EQ(shown, 0) << "running, not reviewing: nothing";
    f.view.Idle = true;
    Click(3, 0);
    EXPECT_EQ(shown, 3);
    EXPECT_EQ(f.view.ReviewCamera, 3);
    EXPECT_EQ(f.shell.panes.at(kPaneCamera), "3");
    EXPECT_EQ(f.sound.played.back(), "clickerx.wav");
}

TEST_F(ZonesTest, DetectorHonoursAnEditedMaskOnTheNextFrame)
{
    f.view.Grid = ComputeZoneGrid(64, 64);
    CMotionGrabber grabber(f.engine);
    grabber.SetFormat(64, 64, 0);
    f.engine.MotionEnabled[1] = 1;
    f.engine.RecordOnMotion[1] = 1;
    f.engine.RecordSeconds[1] = 1;
    test::Frame moving(64, 64, 0);
    moving.Shift(1, 1, 6, 7, 200); // inside cell 0, band 0 at the bottom

    editor.Open();
    Click(1, 0); // cell 0 no longer watched
    f.engine.Armed.Arm();
    grabber.BufferCB(0, moving.bytes.data(), long(moving.bytes.size()));
    EXPECT_EQ(f.engine.RecordCountdown, 0);

    Click(1, 0); // watched again
    test::Frame still(64, 64, 0);
    grabber.BufferCB(0, still.bytes.data(), long(still.bytes.size()));
    f.engine.Armed.Arm();
    grabber.BufferCB(0, moving.bytes.data(), long(moving.bytes.size()));
    EXPECT_GT(f.engine.RecordCountdown, 0);
}

} // namespace
