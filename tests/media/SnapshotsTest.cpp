#include "Snapshots.h"

#include "MotionGrabber.h"
#include "ServerFixture.h"

#include <gtest/gtest.h>
#include <turbojpeg.h>

#include <chrono>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

using namespace vorlund;
namespace fs = std::filesystem;

namespace {

struct Decoded
{
    int width = 0;
    int height = 0;
    std::vector<uint8_t> rgb; // top-down
    bool RedAt(int x, int y) const
    {
        const uint8_t *p = rgb.data() + (size_t(y) * width + x) * 3;
        return p[0] > 180 && p[1] < 80 && p[2] < 80;
    }
};

Decoded Decode(const fs::path &file)
{
    std::ifstream in(file, std::ios::binary);
    std::vector<uint8_t> jpeg((std::istreambuf_iterator<char>(in)), {});
    Decoded d;
    tjhandle handle = tjInitDecompress();
    int subsampling = 0, colourspace = 0;
    if (!jpeg.empty()
        && tjDecompressHeader3(handle, jpeg.data(), jpeg.size(), &d.width, &d.height, &subsampling,
                               &colourspace)
            == 0) {
        d.rgb.resize(size_t(d.width) * d.height * 3);
        if (tjDecompress2(handle, jpeg.data(), jpeg.size(), d.rgb.data(), d.width, 0, d.height,
                          TJPF_RGB, 0)
            != 0)
            d = {};
    }
    tjDestroy(handle);
    return d;
}

class SnapshotsTest : public ::testing::Test
{
protected:
    SnapshotsTest()
    {
        f.engine.ViewWindow = &f.sink;
        f.view.Idle = false;
        f.clock.now = { 2006, 7, 4, 13, 5, 9, 2 };
        Format(320, 240);
    }

    // A grey frame with a red band along its top edge, bottom-up as the camera delivers it.
    void Format(int w, int h)
    {
        grabber.SetFormat(w, h, 0);
        frame.assign(size_t(w) * h * 3, 128);
        for (int y = h - 20; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                uint8_t *p = frame.data() + (size_t(y) * w + x) * 3;
                p[0] = 0;
                p[1] = 0;
                p[2] = 255;
            }
    }

    // The detector hands over the next frame of `camera` for the request in force.
    void Grab(int camera)
    {
        f.engine.CurrentCamera = camera;
        grabber.BufferCB(0.5, frame.data(), long(frame.size()));
    }
    int Motion(int camera)
    {
        f.engine.SnapshotRequest.RequestIfIdle(camera);
        Grab(camera);
        return snapshots.SaveSnapshot();
    }
    int TimeLapse()
    {
        f.engine.SnapshotRequest.Request(1, true);
        Grab(1);
        return snapshots.SaveSnapshot();
    }
    std::vector<std::string> Files(const fs::path &folder)
    {
        std::vector<std::string> names;
        for (const auto &entry : fs::directory_iterator(folder))
            names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    test::ServerFixture f;
    CMotionGrabber grabber { f.engine };
    Snapshots snapshots { f.context, f.topics };
    std::vector<uint8_t> frame;
};

TEST_F(SnapshotsTest, NamesCountAndWrapPerKind)
{
    f.settings.Config.Block.SnapshotLimit = 3;
    f.settings.Config.TimeLapseLimit[1] = 3;
    const fs::path video = f.view.VideoFolder;
    const struct
    {
        bool timeLapse;
        int camera;
        const char *file;
    } steps[] = {
        { false, 2, "cam2/p001.jpg" },           { false, 2, "cam2/p002.jpg" },
        { true, 1, "TimeLapse/cam1/p0001.jpg" }, { false, 2, "cam2/p003.jpg" },
        { false, 2, "cam2/p001.jpg" },           { true, 1, "TimeLapse/cam1/p0002.jpg" },
        { true, 1, "TimeLapse/cam1/p0003.jpg" }, { true, 1, "TimeLapse/cam1/p0001.jpg" },
        { false, 1, "cam1/p001.jpg" },
    };
    for (const auto &step : steps) {
        const fs::path file = video / step.file;
        fs::remove(file);
        EXPECT_EQ(step.timeLapse ? TimeLapse() : Motion(step.camera), 0) << step.file;
        EXPECT_TRUE(fs::is_regular_file(file)) << step.file;
        EXPECT_EQ(f.engine.SnapshotRequest.Camera(), 0);
        EXPECT_FALSE(f.engine.SnapshotRequest.IsTimeLapse());
    }
    EXPECT_EQ(f.settings.Config.Block.SnapshotCount[2], 1);
    EXPECT_EQ(f.settings.Config.Block.SnapshotCount[1], 1);
    EXPECT_EQ(f.settings.Config.TimeLapseCount[1], 1);
    // Written under a temporary name and renamed: nothing else is left in the folders.
    EXPECT_EQ(Files(video / "cam2"),
              (std::vector<std::string> { "p001.jpg", "p002.jpg", "p003.jpg" }));
    EXPECT_EQ(Files(video / "TimeLapse" / "cam1"),
              (std::vector<std::string> { "p0001.jpg", "p0002.jpg", "p0003.jpg" }));

    // From 1000 on the motion number simply grows; a limit lowered below the count wraps.
    f.settings.Config.Block.SnapshotLimit = 6000;
    f.settings.Config.Block.SnapshotCount[3] = 999;
    EXPECT_EQ(Motion(3), 0);
    EXPECT_TRUE(fs::exists(video / "cam3" / "p1000.jpg"));
    f.settings.Config.Block.SnapshotCount[3] = 6000;
    EXPECT_EQ(Motion(3), 0);
    EXPECT_TRUE(fs::exists(video / "cam3" / "p001.jpg"));
    EXPECT_EQ(NextPictureNumber(7000, 6000), 1);
    EXPECT_EQ(NextPictureNumber(-4, 6000), 1);
    EXPECT_EQ(NextPictureNumber(0, 6000), 1);
}

// A run killed between two saves of the settings leaves the stored number behind the pictures
// on disk: the next run must count on after the newest picture, not overwrite it.
TEST_F(SnapshotsTest, NumberingResumesAfterTheNewestPictureOnDisk)
{
    const fs::path video = f.view.VideoFolder;
    const auto base = fs::file_time_type::clock::now() - std::chrono::hours(1);
    const struct
    {
        const char *name;
        bool timeLapse;
        int32_t stored;
        std::vector<int> ages; // per number from 1, seconds after `base`; -1: no file
        const char *expected;
    } cases[] = {
        { "lagging by two", false, 2, { 1, 2, 3, 4 }, "cam1/p005.jpg" },
        { "lagging past the wrap", false, 5, { 7, 8, 0, -1, 5, 6 }, "cam1/p003.jpg" },
        { "older lap ahead", false, 2, { 5, 6, 1, 2 }, "cam1/p003.jpg" },
        { "stored picture missing", false, 3, { 1, 2, -1, 4 }, "cam1/p005.jpg" },
        { "counter never saved", false, 0, { 1, 2 }, "cam1/p003.jpg" },
        { "counter never saved, wrapped", false, 0, { 3, 4, 1, 2 }, "cam1/p003.jpg" },
        { "counter ahead of the folder", false, 5, { 1, 2 }, "cam1/p003.jpg" },
        { "equally new pictures", false, 1, { 2, 2, 2, 1 }, "cam1/p004.jpg" },
        { "empty folder", false, 4, {}, "cam1/p005.jpg" },
        { "time lapse lagging", true, 1, { 1, 2, 3 }, "TimeLapse/cam1/p0004.jpg" },
        { "time lapse never saved", true, 0, { 1, 2, 3 }, "TimeLapse/cam1/p0004.jpg" },
    };
    for (const auto &c : cases) {
        fs::remove_all(video / "cam1");
        fs::remove_all(video / "TimeLapse");
        f.settings.Config.Block.SnapshotLimit = 6;
        f.settings.Config.TimeLapseLimit[1] = 6;
        f.settings.Config.Block.SnapshotCount[1] = c.timeLapse ? 0 : c.stored;
        f.settings.Config.TimeLapseCount[1] = c.timeLapse ? c.stored : 0;
        std::vector<fs::file_time_type> before;
        for (size_t i = 0; i < c.ages.size(); ++i) {
            const int n = int(i) + 1;
            const fs::path file
                = c.timeLapse ? TimeLapsePath(video, 1, n) : SnapshotPath(video, 1, n);
            fs::create_directories(file.parent_path());
            if (c.ages[i] < 0)
                continue;
            std::ofstream(file) << "old";
            fs::last_write_time(file, base + std::chrono::seconds(c.ages[i]));
        }
        Snapshots fresh { f.context, f.topics }; // a new run
        if (c.timeLapse)
            f.engine.SnapshotRequest.Request(1, true);
        else
            f.engine.SnapshotRequest.RequestIfIdle(1);
        Grab(1);
        EXPECT_EQ(fresh.SaveSnapshot(), 0) << c.name;
        EXPECT_GT(fs::file_size(video / c.expected), 3u) << c.name;
    }
}

TEST_F(SnapshotsTest, PicturesKeepTheFrameSizeAndTurnOnlyForMotion)
{
    const struct
    {
        const char *rotate;
        bool timeLapse;
        int width, height;
        int redX, redY; // a pixel of the red band as saved
        int greyX, greyY;
    } cases[] = {
        { "", false, 320, 240, 160, 2, 160, 237 }, // top stays at the top
        { "L", false, 240, 320, 2, 160, 237, 160 }, // top edge turned to the left
        { "R", false, 240, 320, 237, 160, 2, 160 }, { "LR", false, 240, 320, 2, 160, 237, 160 },
        { "L", true, 320, 240, 160, 2, 160, 237 }, // time lapse never turns
    };
    for (const auto &c : cases) {
        f.view.Startup.ImageRotate = c.rotate;
        ASSERT_EQ(c.timeLapse ? TimeLapse() : Motion(1), 0);
        const fs::path file = c.timeLapse
            ? TimeLapsePath(f.view.VideoFolder, 1, f.settings.Config.TimeLapseCount[1])
            : SnapshotPath(f.view.VideoFolder, 1, f.settings.Config.Block.SnapshotCount[1]);
        const Decoded d = Decode(file);
        EXPECT_EQ(d.width, c.width) << c.rotate << c.timeLapse;
        EXPECT_EQ(d.height, c.height) << c.rotate << c.timeLapse;
        if (d.width == c.width && d.height == c.height) {
            EXPECT_TRUE(d.RedAt(c.redX, c.redY)) << c.rotate << c.timeLapse;
            EXPECT_FALSE(d.RedAt(c.greyX, c.greyY)) << c.rotate << c.timeLapse;
        }
    }
}

TEST_F(SnapshotsTest, StampIsDarkInTheCornerRowsOfTheSavedPicture)
{
    for (const int corner : { 0, 1 }) {
        f.view.Startup.TimeStampCorner = corner;
        std::fill(frame.begin(), frame.end(), 255);
        ASSERT_EQ(Motion(1), 0);
        const Decoded d
            = Decode(SnapshotPath(f.view.VideoFolder, 1, f.settings.Config.Block.SnapshotCount[1]));
        ASSERT_EQ(d.height, 240);
        auto darkInRows = [&](int from, int to) {
            int dark = 0;
            for (int y = std::max(from, 0); y <= std::min(to, d.height - 1); ++y)
                for (int x = 0; x < d.width; ++x)
                    dark += d.rgb[(size_t(y) * d.width + x) * 3] < 64;
            return dark;
        };
        const int lowest = corner ? 15 : 240 - 5;
        EXPECT_GT(darkInRows(lowest - 14, lowest), 100) << corner;
        // Away from the stamp (beyond JPEG's blocks around it) the picture stays white.
        EXPECT_EQ(darkInRows(corner ? 32 : 0, corner ? 239 : 207), 0) << corner;
    }
}

TEST_F(SnapshotsTest, RepeatedAnnouncementAndBadStillsSaveNothing)
{
    EXPECT_EQ(snapshots.SaveSnapshot(), 0) << "no still waiting";
    EXPECT_EQ(Motion(1), 0);
    EXPECT_EQ(snapshots.SaveSnapshot(), 0) << "the same still is not saved twice";
    EXPECT_EQ(f.settings.Config.Block.SnapshotCount[1], 1);

    // A still shorter than its geometry is not a valid image; the request is gone, the
    // counter stays.
    f.engine.SnapshotRequest.RequestIfIdle(1);
    f.engine.CurrentCamera = 1;
    grabber.BufferCB(0.5, frame.data(), 1000);
    EXPECT_EQ(snapshots.SaveSnapshot(), -1);
    ASSERT_EQ(f.notifier.entries.size(), 1u);
    EXPECT_EQ(f.notifier.entries[0].text, kImageNotValid);
    EXPECT_EQ(f.engine.SnapshotRequest.Camera(), 0);
    EXPECT_EQ(f.settings.Config.Block.SnapshotCount[1], 1);
}

TEST_F(SnapshotsTest, MotionPictureQueuesMailAndNamesTheCamera)
{
    f.engine.MailOnMotion[2] = 1;
    EXPECT_EQ(Motion(2), 0);
    EXPECT_EQ(Motion(2), 0);
    EXPECT_EQ(Motion(3), 0);
    ASSERT_EQ(f.topics.alerts.size(), 2u) << "camera 3 mails nothing";
    EXPECT_EQ(f.topics.alerts[1].first, 2);
    EXPECT_EQ(f.topics.alerts[1].second, f.view.VideoFolder / "cam2" / "p002.jpg");
    EXPECT_EQ(f.shell.panes[kPaneCamera], "3");

    f.engine.MailOnMotion[1] = 1;
    f.shell.panes.clear();
    EXPECT_EQ(TimeLapse(), 0);
    EXPECT_EQ(f.topics.alerts.size(), 2u) << "no mail for a time-lapse picture";
    EXPECT_TRUE(f.shell.panes.empty());
}

TEST_F(SnapshotsTest, FailedSaveIsReportedAndLogged)
{
    // The video folder lies under a plain file: no folder can be made, no picture written.
    std::ofstream(f.folder.path / "plain") << "x";
    f.view.VideoFolder = f.folder.path / "plain" / "video";
    f.engine.MailOnMotion[1] = 1;
    EXPECT_EQ(Motion(1), -1);
    EXPECT_EQ(TimeLapse(), -1);
    ASSERT_EQ(f.notifier.entries.size(), 2u);
    EXPECT_EQ(f.notifier.entries[0].text, "Save snapshot image failed:\n14 - Not a directory");
    EXPECT_EQ(f.notifier.entries[1].text, "Save time-lapse image failed:\n14 - Not a directory");
    EXPECT_EQ(f.settings.Config.Block.SnapshotCount[1], 1) << "the counter stays advanced";
    EXPECT_EQ(f.settings.Config.TimeLapseCount[1], 1);
    EXPECT_TRUE(f.topics.alerts.empty());

    std::ifstream in(f.log.Path());
    const std::string log((std::istreambuf_iterator<char>(in)), {});
    for (const char *text :
         { "error creating VideoPathCam directory.", "error creating VideoPathTimeLapse directory.",
           "error creating VideoPathTimeLapseCam directory." })
        EXPECT_NE(log.find(text), std::string::npos) << text;
}

TEST_F(SnapshotsTest, TimeLapseWindow)
{
    const struct
    {
        TimeWindow window;
        int hour, minute;
        bool open;
    } cases[] = {
        { { 22, 0, 6, 0 }, 23, 30, true },       { { 22, 0, 6, 0 }, 5, 59, true },
        { { 22, 0, 6, 0 }, 6, 0, true },         { { 22, 0, 6, 0 }, 6, 1, false },
        { { 22, 0, 6, 0 }, 21, 59, false },      { { 22, 0, 6, 0 }, 22, 0, true },
        { { 8, 30, 8, 10 }, 8, 20, false },      { { 8, 30, 8, 10 }, 8, 30, false },
        { { 8, 10, 8, 30 }, 8, 10, true },       { { 8, 10, 8, 30 }, 8, 30, true },
        { { 8, 10, 8, 30 }, 8, 9, false },       { { 8, 10, 8, 30 }, 8, 31, false },
        { { 255, 255, 255, 255 }, 0, 0, false },
    };
    for (const auto &c : cases) {
        f.engine.SnapshotRequest.Cancel();
        f.settings.Config.TimeLapseWindow[1] = c.window;
        f.clock.now.hour = c.hour;
        f.clock.now.minute = c.minute;
        snapshots.OnTimeLapseTimer(1);
        EXPECT_EQ(f.engine.SnapshotRequest.Camera(), c.open ? 1 : 0)
            << int(c.window.FromHour) << ":" << int(c.window.FromMinute) << " at " << c.hour << ":"
            << c.minute;
        EXPECT_EQ(f.engine.SnapshotRequest.IsTimeLapse(), c.open);
    }
}

TEST_F(SnapshotsTest, RequestSnapshotAndSound)
{
    f.engine.CurrentCamera = 3;
    f.engine.SnapshotRequest.Cancel();
    f.view.Idle = true;
    snapshots.RequestSnapshot();
    EXPECT_EQ(f.engine.SnapshotRequest.Camera(), 0) << "capture stopped";

    f.view.Idle = false;
    f.engine.SnapOnMotion[3] = 0;
    snapshots.RequestSnapshot();
    EXPECT_EQ(f.engine.SnapshotRequest.Camera(), 0) << "the current camera takes no snapshots";

    f.engine.SnapOnMotion[3] = 1;
    snapshots.RequestSnapshot();
    EXPECT_EQ(f.engine.SnapshotRequest.Camera(), 1) << "always camera 1";
    EXPECT_FALSE(f.engine.SnapshotRequest.IsTimeLapse());

    // It replaces a pending time-lapse request, kind and all: its still is no time-lapse one.
    f.engine.SnapshotRequest.Request(2, true);
    snapshots.RequestSnapshot();
    EXPECT_EQ(f.engine.SnapshotRequest.Camera(), 1);
    EXPECT_FALSE(f.engine.SnapshotRequest.IsTimeLapse());

    snapshots.PlaySnapSound();
    EXPECT_EQ(f.sound.played, (std::vector<std::string> { "snap.wav" }));
}

} // namespace
