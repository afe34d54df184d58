#include "Review.h"

#include "ReviewPictures.h"
#include "ServerFixture.h"
#include "Snapshots.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

using namespace vorlund;
using namespace vorlund::test;

namespace {

constexpr int BS = kReviewKeyBackspace;
constexpr int SP = kReviewKeySpace;

struct Fixture : ServerFixture
{
    Fixture()
    {
        review.AskReviewKind = [this](bool &motion) {
            ++asked;
            motion = !answerTimeLapse;
            return answerOk;
        };
    }
    void Snapshot(int camera, int number, int w = 160, int h = 120)
    {
        WritePicture(SnapshotPath(view.VideoFolder, camera, number), number, w, h);
    }
    // The body level of camera `camera`'s picture and whether its top rows are the red band,
    // read from the bottom-up buffer at the display size.
    struct Shown
    {
        int level = -1;
        bool upright = false;
    };
    Shown Tile(int camera)
    {
        const int w = view.DisplayWidth, h = view.DisplayHeight;
        std::vector<uint8_t> frame;
        engine.CopyLiveFrameOut(camera, frame, size_t(w) * h * 3);
        const auto at = [&](int row) { return frame.data() + (size_t(row) * w + w / 2) * 3; };
        const uint8_t *top = at(h - 2), *bottom = at(1);
        return { bottom[1], top[2] > 180 && top[0] < 80 && top[1] < 80 && bottom[2] < 230 };
    }
    int Messages() const { return int(notifier.entries.size()); }

    Review review { context };
    int asked = 0;
    bool answerOk = true;
    bool answerTimeLapse = false;
};

bool Near(int level, int number)
{
    return std::abs(level - LevelOf(number)) <= 4;
}

// One key and what it leads to: the number, then the picture shown (0: "End of image list.").
struct Step
{
    int key;
    bool shift;
    int32_t number;
    int shown;
};

struct Scenario
{
    const char *name;
    int32_t limit;
    int32_t newest;
    std::vector<int> files;
    int enterShown;
    std::vector<Step> steps;
};

} // namespace

TEST(ReviewTest, StepsAndWrapsThroughTheSnapshots)
{
    // clang-format off
    const Scenario scenarios[] = {
        { "from 57: back, ten on to a picture not taken yet, back to it", 6000, 57, { 56, 57 }, 57,
          { { BS, false, 56, 56 }, { SP, true, 66, 0 }, { BS, false, 65, 0 }, { BS, true, 55, 0 },
            { SP, false, 56, 56 } } },
        { "before the first wraps to the limit, past it to 1", 6000, 1, { 1 }, 1,
          { { BS, false, 6000, 0 }, { SP, false, 1, 1 } } },
        { "small limit", 60, 58, { 1, 58, 60 }, 58,
          { { SP, false, 59, 0 }, { SP, false, 60, 60 }, { SP, false, 1, 1 },
            { BS, false, 60, 60 }, { SP, true, 1, 1 } } },
        { "no picture taken yet", 6000, 0, { 1 }, 0, { { SP, false, 1, 1 } } },
    };
    // clang-format on
    for (const Scenario &s : scenarios) {
        SCOPED_TRACE(s.name);
        Fixture f;
        f.settings.Config.Block.SnapshotLimit = s.limit;
        f.settings.Config.Block.SnapshotCount[1] = s.newest;
        for (int n : s.files)
            f.Snapshot(1, n);
        f.review.ToggleReviewMode();
        EXPECT_EQ(f.asked, 0) << "no camera takes time-lapse pictures: no question";
        EXPECT_EQ(f.engine.ReviewMode, 1);
        EXPECT_EQ(f.shell.panes[kPaneState], "Review");
        EXPECT_EQ(f.review.MenuText(), kCancelReviewMenuText);
        int messages = s.enterShown ? 0 : 1;
        ASSERT_EQ(f.Messages(), messages);
        if (s.enterShown) {
            EXPECT_TRUE(Near(f.Tile(1).level, s.enterShown));
        }
        for (const Step &step : s.steps) {
            SCOPED_TRACE(std::to_string(step.number));
            f.review.OnReviewKey(step.key, step.shift);
            EXPECT_EQ(f.review.PictureNumber(1), step.number);
            if (step.shown == 0) {
                ASSERT_EQ(f.Messages(), ++messages);
                EXPECT_EQ(f.notifier.entries.back().text, kEndOfImageList);
            } else {
                EXPECT_EQ(f.Messages(), messages);
                EXPECT_TRUE(Near(f.Tile(1).level, step.shown)) << f.Tile(1).level;
            }
        }
    }
}

TEST(ReviewTest, TimeLapseSetIsCameraOnesAndAskedFor)
{
    Fixture f;
    f.engine.CameraCount = 2;
    DeviceConfig &config = f.settings.Config;
    config.TimeLapseEnabled[1] = 1;
    config.TimeLapseLimit[1] = 3;
    config.TimeLapseCount[1] = 3;
    config.Block.SnapshotCount[1] = 9;
    config.Block.SnapshotCount[2] = 4;
    for (int n : { 1, 3 })
        WritePicture(TimeLapsePath(f.view.VideoFolder, 1, n), n, 160, 120);
    f.Snapshot(1, 9);
    f.Snapshot(2, 4);

    f.answerOk = false;
    f.review.ToggleReviewMode();
    EXPECT_EQ(f.asked, 1);
    EXPECT_EQ(f.engine.ReviewMode, 0) << "Cancel changes nothing";
    EXPECT_TRUE(f.shell.panes.empty());

    f.answerOk = true;
    f.answerTimeLapse = true;
    f.review.ToggleReviewMode();
    ASSERT_EQ(f.engine.ReviewMode, 1);
    EXPECT_TRUE(f.review.TimeLapseReview());
    EXPECT_TRUE(Near(f.Tile(1).level, 3)) << "camera 1: TimeLapse/cam1/p0003.jpg";
    EXPECT_TRUE(Near(f.Tile(2).level, 4)) << "camera 2: its snapshot cam2/p004.jpg";
    EXPECT_EQ(f.view.ReviewCamera, 2) << "the last camera shown";
    EXPECT_EQ(f.Messages(), 0);

    f.review.OnReviewKey(SP, false); // steps camera 2
    EXPECT_EQ(f.review.PictureNumber(2), 5);
    EXPECT_EQ(f.review.PictureNumber(1), 3);
    f.review.ShowReviewImages(1); // a click on camera 1's tile
    f.review.OnReviewKey(SP, false); // past the time-lapse limit of 3
    EXPECT_EQ(f.review.PictureNumber(1), 1);
    EXPECT_TRUE(Near(f.Tile(1).level, 1));

    f.review.ToggleReviewMode();
    f.answerTimeLapse = false;
    f.review.ToggleReviewMode();
    EXPECT_FALSE(f.review.TimeLapseReview());
    EXPECT_TRUE(Near(f.Tile(1).level, 9)) << "motion snapshots again";
}

TEST(ReviewTest, APictureThatDoesNotDecodeCopiesNothing)
{
    // What p057.jpg holds, made from a good p056.jpg; whether it is shown.
    const std::pair<const char *, std::string (*)(const std::string &)> files[] = {
        { "not a JPEG", [](const std::string &) { return std::string("GIF89a and more"); } },
        { "empty", [](const std::string &) { return std::string(); } },
        { "cut off: what decoded is shown",
          [](const std::string &good) { return good.substr(0, good.size() - good.size() / 8); } },
    };
    for (const auto &[name, make] : files) {
        SCOPED_TRACE(name);
        Fixture f;
        f.settings.Config.Block.SnapshotCount[1] = 56;
        f.Snapshot(1, 56);
        std::ifstream in(SnapshotPath(f.view.VideoFolder, 1, 56), std::ios::binary);
        const std::string good((std::istreambuf_iterator<char>(in)), {});
        std::ofstream(SnapshotPath(f.view.VideoFolder, 1, 57), std::ios::binary) << make(good);
        const bool shows = make == files[2].second;
        f.review.ToggleReviewMode();
        std::vector<uint8_t> before, after;
        f.engine.CopyLiveFrameOut(1, before, kFrameBufferSize);
        const size_t repaints = f.shell.repaints.size();
        f.review.OnReviewKey(SP, false);
        EXPECT_EQ(f.review.PictureNumber(1), 57);
        f.engine.CopyLiveFrameOut(1, after, kFrameBufferSize);
        if (shows) {
            EXPECT_EQ(f.Messages(), 0);
            EXPECT_TRUE(f.Tile(1).upright);
            EXPECT_NE(before, after);
            continue;
        }
        ASSERT_EQ(f.Messages(), 1);
        EXPECT_EQ(f.notifier.entries.back().text, kEndOfImageList);
        EXPECT_EQ(before, after);
        EXPECT_EQ(f.shell.repaints.size(), repaints);
    }
}

TEST(ReviewTest, PicturesTakeTheFrameLayoutAndAFittingSize)
{
    struct Case
    {
        const char *name;
        bool running;
        int cameras;
        int pictureWidth, pictureHeight;
        int displayWidth, displayHeight;
    };
    const Case cases[] = {
        { "running: scaled down to the capture size", true, 1, 640, 480, 320, 240 },
        { "running: scaled up to the capture size", true, 1, 176, 144, 320, 240 },
        { "stopped: its own size", false, 1, 176, 144, 176, 144 },
        { "stopped: too large, made to fit", false, 1, 1440, 1152, 720, 576 },
        { "stopped: turned, made to fit", false, 1, 576, 720, 461, 576 },
        { "stopped, two cameras: the tiles' size", false, 2, 640, 480, 320, 240 },
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Fixture f;
        f.view.Idle = !c.running;
        f.engine.FrameWidth = 320;
        f.engine.FrameHeight = 240;
        f.view.DisplayWidth = 320;
        f.view.DisplayHeight = 240;
        f.view.Grid = ComputeZoneGrid(320, 240);
        f.engine.CameraCount = c.cameras;
        for (int camera = 1; camera <= c.cameras; ++camera) {
            f.settings.Config.Block.SnapshotCount[camera] = 5;
            f.Snapshot(camera, 5, c.pictureWidth, c.pictureHeight);
        }
        f.review.ToggleReviewMode();
        ASSERT_EQ(f.Messages(), 0);
        EXPECT_EQ(f.view.DisplayWidth, c.displayWidth);
        EXPECT_EQ(f.view.DisplayHeight, c.displayHeight);
        EXPECT_EQ(f.view.Grid.tiles[1].right, c.displayWidth);
        EXPECT_EQ(f.engine.FrameWidth, 320) << "the capture geometry never changes";
        const Fixture::Shown shown = f.Tile(1);
        EXPECT_TRUE(shown.upright);
        EXPECT_TRUE(Near(shown.level, 5));
    }
}

TEST(ReviewTest, LeavingRestoresTheFrameSizeAndBlanksOneCamera)
{
    Fixture f;
    f.view.DisplayWidth = 640;
    f.view.DisplayHeight = 480;
    f.settings.Config.Block.SnapshotCount[1] = 2;
    f.Snapshot(1, 2);
    f.review.ToggleReviewMode();
    EXPECT_EQ(f.view.DisplayWidth, 160);
    ASSERT_FALSE(f.shell.layouts.empty());
    f.review.ToggleReviewMode();
    EXPECT_EQ(f.engine.ReviewMode, 0);
    EXPECT_EQ(f.review.MenuText(), kReviewMenuText);
    EXPECT_EQ(f.shell.panes[kPaneState], "OFF");
    EXPECT_EQ(f.shell.panes[kPaneCamera], "0");
    EXPECT_EQ(f.view.DisplayWidth, 640);
    EXPECT_EQ(f.view.DisplayHeight, 480);
    EXPECT_EQ(f.shell.layouts.back(), std::make_pair(0, 0));
    std::vector<uint8_t> frame;
    f.engine.CopyLiveFrameOut(1, frame, kFrameBufferSize);
    EXPECT_TRUE(std::all_of(frame.begin(), frame.end(), [](uint8_t b) { return b == 0; }));
}

TEST(ReviewTest, NothingWhileAnEditorIsOpenOrWhileCaptureRunsWithoutReview)
{
    Fixture f;
    f.Snapshot(1, 1);
    f.view.CamSettingsOpen = true;
    f.review.ToggleReviewMode();
    f.view.CamSettingsOpen = false;
    f.view.TimedZonesOpen = true;
    f.review.ToggleReviewMode();
    EXPECT_EQ(f.engine.ReviewMode, 0);
    f.view.TimedZonesOpen = false;

    f.view.Idle = false;
    f.review.OnReviewKey(SP, false);
    EXPECT_EQ(f.review.PictureNumber(1), 1) << "running, not reviewing: keys do nothing";
    f.view.Idle = true;
    f.review.OnReviewKey(BS, false);
    f.review.OnReviewKey(SP, false);
    EXPECT_EQ(f.Messages(), 1) << "stopped: the keys step";
    EXPECT_TRUE(Near(f.Tile(1).level, 1));
    EXPECT_TRUE(f.shell.panes.empty());
}
