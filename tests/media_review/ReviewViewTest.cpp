#include "CVorlundView.h"
#include "Review.h"

#include "ReviewPictures.h"
#include "ServerFixture.h"
#include "Snapshots.h"

#include <gtest/gtest.h>

using namespace vorlund;
using namespace vorlund::test;

// The stored picture, put in the frame buffer by review mode, is painted the right way up.
TEST(ReviewViewTest, PictureShownUprightInTheTile)
{
    ServerFixture f;
    f.settings.Config.Block.SnapshotCount[1] = 1;
    WritePicture(SnapshotPath(f.view.VideoFolder, 1, 1), 1, 200, 100);
    Review review(f.context);
    review.ToggleReviewMode();
    ASSERT_TRUE(f.notifier.entries.empty());
    std::vector<uint8_t> frame;
    f.engine.CopyLiveFrameOut(1, frame, size_t(f.view.DisplayWidth) * f.view.DisplayHeight * 3);
    const QImage tile = CVorlundView::FrameImage(frame, f.view.DisplayWidth, f.view.DisplayHeight);
    ASSERT_EQ(tile.size(), QSize(200, 100));
    const QRgb top = tile.pixel(100, 2), bottom = tile.pixel(100, 97);
    EXPECT_GT(qRed(top), 180);
    EXPECT_LT(qBlue(top), 80);
    EXPECT_NEAR(qRed(bottom), LevelOf(1), 4);
    EXPECT_NEAR(qBlue(bottom), LevelOf(1), 4);
}
