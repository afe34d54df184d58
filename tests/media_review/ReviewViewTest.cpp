#include "CVorlundView.h"
#include "Review.h"

#include "ReviewPictures.h"
#include "ServerFixture.h"
#include "Snapshots.h"

#include <QImage>
#include <gtest/gtest.h>

using namespace vorlund;
using namespace vorlund::test;

// The stored picture, put in the frame buffer by review mode, is painted the right way up.
TEST(ReviewViewTest, PictureShownUprightInTheTile)
{
    TempFolder folder;
    Profile profile(folder.path / "Vorlund.INI");
    RecordingNotifier notifier;
    ViewCore::Options options;
    options.workingFolder = folder.path;
    options.makeGraph = [](ServerContext &) {
        auto graph = std::make_unique<FakeTopics>();
        graph->built = false;
        return std::unique_ptr<ICaptureGraph>(std::move(graph));
    };
    CVorlundView view(profile, notifier, options);
    ViewCore &core = view.Core();
    core.View().DisplayWidth = 200;
    core.View().DisplayHeight = 100;
    view.UpdateLayout(0, 0);
    core.Settings().Config.Block.SnapshotCount[1] = 1;
    WritePicture(SnapshotPath(core.View().VideoFolder, 1, 1), 1, 200, 100);
    Review review(core.Context());
    review.ToggleReviewMode();
    ASSERT_TRUE(notifier.entries.empty());

    const QImage shot = view.grab().toImage();
    ASSERT_GE(shot.width(), 200);
    ASSERT_GE(shot.height(), 100);
    // Camera 1's tile is the top left one; the picture's top rows are red.
    const QColor top = shot.pixelColor(100, 2), bottom = shot.pixelColor(100, 97);
    EXPECT_GT(top.red(), 180);
    EXPECT_LT(top.blue(), 80);
    EXPECT_NEAR(bottom.red(), LevelOf(1), 4);
    EXPECT_NEAR(bottom.blue(), LevelOf(1), 4);
}
