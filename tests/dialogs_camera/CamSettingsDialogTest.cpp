#include "CamSettingsDialog.h"
#include "CameraSettings.h"
#include "MainTick.h"
#include "ServerFixture.h"
#include "TvCardDialog.h"

#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>

#include <gtest/gtest.h>

using namespace vorlund;

namespace {

struct CamDialogTest : ::testing::Test
{
    CamDialogTest()
    {
        f.engine.CurrentZone = 2;
        for (int c = 1; c <= 4; ++c) {
            f.engine.Sensitivity[c] = 25;
            f.engine.MotionDistance[c] = 12;
            f.engine.SavedMotionEnabled[c] = 1;
            f.engine.RecordOnMotion[c] = 1;
            f.engine.SnapOnMotion[c] = 1;
            f.engine.RecordSeconds[c] = 1;
            for (int z = 1; z <= 4; ++z)
                f.engine.ZoneSensitivity[c][z] = 25;
        }
    }
    ~CamDialogTest() override
    {
        if (cs.Dialog())
            cs.Dialog()->hide();
    }
    // The view's dispatch of what the dialog posted.
    void Pump()
    {
        const auto posted = std::exchange(f.sink.posted, {});
        for (const auto &[message, wParam] : posted) {
            if (message == WM_LIVE_SETTING)
                cs.ApplyLiveSetting(wParam);
            else if (message == WM_SETTINGS_CLOSED)
                cs.OnSettingsDialogClosed(wParam);
        }
    }
    template <typename T = QWidget> T *Get(QWidget *dialog, int id)
    {
        T *w = dialog->findChild<T *>(QString::number(id));
        EXPECT_NE(w, nullptr) << id;
        return w;
    }
    CCamSettings &Open(int camera)
    {
        cs.OnCameraSettings(105 + camera, nullptr);
        EXPECT_NE(cs.Dialog(), nullptr);
        EXPECT_TRUE(cs.Dialog()->isVisible());
        return *cs.Dialog();
    }

    test::ServerFixture f;
    test::FakeTopics t;
    MainTick tick { f.context, t, t, t, t, t, t, t, t };
    CameraSettings cs { f.context, tick };
};

TEST_F(CamDialogTest, BarMovesApplyLiveWithoutValidatingAndCancelRestores)
{
    f.engine.RecordCountdown = 300;
    CCamSettings &d = Open(2);
    EXPECT_EQ(f.engine.RecordCountdown, 0) << "the countdown is cleared on open";
    EXPECT_EQ(Get<QLabel>(&d, 1011)->text(), "Camera 2");
    EXPECT_EQ(Get<QLineEdit>(&d, 1013)->text(), "25");
    EXPECT_TRUE(f.sink.posted.empty()) << "filling the bars posts nothing";

    Get<QLineEdit>(&d, 1038)->setText("5"); // unreadable quality: bars must not complain
    auto *bar = Get<QScrollBar>(&d, 1014);
    bar->setValue(59);
    bar->triggerAction(QAbstractSlider::SliderSingleStepAdd);
    Get<QCheckBox>(&d, 1069)->click();
    Get<QScrollBar>(&d, 1070)->setValue(40);
    Pump();
    EXPECT_TRUE(f.notifier.entries.empty()) << "no message per scroll step";
    EXPECT_EQ(Get<QLineEdit>(&d, 1013)->text(), "60");
    EXPECT_EQ(f.engine.Sensitivity[2], 60) << "before OK";
    EXPECT_EQ(f.engine.MotionDistance[2], 40);
    EXPECT_EQ(f.engine.MotionDistanceEnabled[2], 1);

    cs.OnCameraSettings(108, nullptr); // a second camera: brought forward, still camera 2
    EXPECT_EQ(Get<QLabel>(&d, 1011)->text(), "Camera 2");
    EXPECT_EQ(f.engine.DialogCamera, 2);

    d.reject();
    Pump();
    EXPECT_FALSE(d.isVisible());
    EXPECT_EQ(f.engine.Sensitivity[2], 25);
    EXPECT_EQ(f.engine.MotionDistance[2], 12);
    EXPECT_EQ(f.engine.MotionDistanceEnabled[2], 0);
    EXPECT_EQ(f.engine.DialogCamera, 0);
}

TEST_F(CamDialogTest, OkWithPerZoneSensitivity)
{
    CCamSettings &d = Open(1);
    int nested = 0;
    d.RunNestedDialog = [&](QDialog &dialog) {
        ++nested;
        dialog.show();
        Get<QCheckBox>(&dialog, 1052)->setChecked(true);
        const int ids[4] = { 1029, 1062, 1086, 1087 };
        for (int z = 0; z < 4; ++z)
            Get<QLineEdit>(&dialog, ids[z])->setText(QString::number(10 * (z + 1)));
        Get<QLineEdit>(&dialog, 1087)->setText("300");
        dialog.accept();
        EXPECT_EQ(dialog.result(), QDialog::Rejected) << "300 does not fit a zone";
        Get<QLineEdit>(&dialog, 1087)->setText("255");
        dialog.accept();
        return dialog.result();
    };
    Get<QPushButton>(&d, 1097)->click();
    EXPECT_EQ(nested, 1);
    ASSERT_EQ(f.notifier.entries.size(), 1u);
    EXPECT_EQ(f.notifier.entries[0].text, "Please enter an integer between 1 and 255.");
    EXPECT_EQ(Get<QScrollBar>(&d, 1014)->value(), 20) << "zone 2's value on the bar";
    EXPECT_TRUE(f.sink.posted.empty()) << "no live record from the per-zone dialog";

    Get<QScrollBar>(&d, 1014)->setValue(60); // also zone 2's value now
    Get<QPushButton>(&d, 1)->click();
    Pump();
    EXPECT_FALSE(d.isVisible());
    EXPECT_EQ(f.engine.ZoneSensitivityEnabled[1], 1);
    EXPECT_EQ(f.engine.ZoneSensitivity[1][1], 10);
    EXPECT_EQ(f.engine.ZoneSensitivity[1][2], 60);
    EXPECT_EQ(f.engine.ZoneSensitivity[1][4], 255);
    EXPECT_EQ(f.engine.Sensitivity[1], 60);
    EXPECT_EQ(f.settings.Config.ZoneSensitivityEnabled, 1) << "saved";
}

TEST_F(CamDialogTest, FieldValidationAndEnableRules)
{
    f.engine.SnapOnMotion[3] = 0;
    f.engine.RecordOnMotion[3] = 0;
    CCamSettings &d = Open(3);
    EXPECT_TRUE(Get<QCheckBox>(&d, 1025)->isChecked())
        << "motion on, neither record nor snapshot: the sound box shows a tick";
    EXPECT_FALSE(Get<QWidget>(&d, 1015)->isEnabled()) << "seconds need Record";
    Get<QCheckBox>(&d, 1021)->click();
    EXPECT_TRUE(Get<QWidget>(&d, 1038)->isEnabled());
    EXPECT_FALSE(Get<QWidget>(&d, 1050)->isEnabled()) << "no alert recipient configured";
    EXPECT_TRUE(d.OnHelpInfo(Get<QWidget>(&d, 1014)));
    EXPECT_FALSE(d.OnHelpInfo(Get<QWidget>(&d, 1011))) << "no entry, no balloon";
    Get<QCheckBox>(&d, 1018)->click();
    EXPECT_FALSE(Get<QWidget>(&d, 1014)->isEnabled()) << "motion off disables the bar";
    Get<QCheckBox>(&d, 1018)->click();

    struct Case
    {
        int id;
        const char *text;
        const char *message;
    };
    const Case refused[] = {
        { 1038, "5", "Please enter an integer between 10 and 100." },
        { 1038, "250", "Please enter an integer between 10 and 100." },
        { 1015, "0", "Please enter an integer between 1 and 86400." },
        { 1015, "86401", "Please enter an integer between 1 and 86400." },
    };
    for (const Case &k : refused) {
        Get<QLineEdit>(&d, 1015)->setText("12");
        Get<QLineEdit>(&d, 1038)->setText("50");
        Get<QLineEdit>(&d, k.id)->setText(k.text);
        f.notifier.entries.clear();
        Get<QPushButton>(&d, 1)->click();
        ASSERT_EQ(f.notifier.entries.size(), 1u) << k.text;
        EXPECT_EQ(f.notifier.entries[0].text, k.message);
        EXPECT_TRUE(d.isVisible()) << k.text;
        EXPECT_TRUE(f.sink.posted.empty()) << k.text;
    }
    Get<QLineEdit>(&d, 1015)->setText("12");
    Get<QLineEdit>(&d, 1038)->setText("75");
    Get<QPushButton>(&d, 1)->click();
    Pump();
    EXPECT_EQ(f.settings.Config.Block.JpegQuality[3], 75);
    EXPECT_EQ(f.engine.RecordSeconds[3], 12);
    EXPECT_EQ(f.engine.SoundOnMotion[3], 1);
    EXPECT_EQ(f.engine.SnapOnMotion[3], 1);
}

TEST_F(CamDialogTest, TimeLapseWindowClearedIsStoredUnset)
{
    f.settings.Config.TimeLapseWindow[1] = { 8, 0, 18, 30 };
    CCamSettings &d = Open(1);
    d.RunNestedDialog = [&](QDialog &dialog) {
        dialog.show();
        EXPECT_EQ(Get<QLineEdit>(&dialog, 1062)->text(), "5000");
        for (int id : { 1060, 1061 })
            Get<QWidget>(&dialog, id)->findChild<QCheckBox *>()->setChecked(false);
        Get<QLineEdit>(&dialog, 1029)->setText("0.5");
        dialog.accept();
        return dialog.result();
    };
    Get<QCheckBox>(&d, 1052)->click();
    Get<QPushButton>(&d, 1059)->click();
    Get<QPushButton>(&d, 1)->click();
    Pump();
    EXPECT_EQ(f.settings.Config.TimeLapseWindow[1], (TimeWindow { 255, 255, 255, 255 }));
    EXPECT_EQ(f.settings.Config.TimeLapseMinutes[1], 0.5f);
    EXPECT_EQ(f.settings.Config.TimeLapseEnabled[1], 1);
}

TEST_F(CamDialogTest, TvModeRunsTheTimerDialogAndRecordNowUsesTheGates)
{
    f.engine.TvMode = 1;
    f.settings.Config.TvWindow = { 20, 0, 255, 255 };
    cs.OnCameraSettings(106, nullptr);
    EXPECT_EQ(cs.Dialog(), nullptr);
    CTVCard *tv = cs.TvDialog();
    ASSERT_NE(tv, nullptr);
    EXPECT_TRUE(tv->isVisible());
    EXPECT_FALSE(Get<QWidget>(tv, 1060)->isEnabled()) << "times need TV recording";
    Get<QCheckBox>(tv, 1052)->setChecked(true);
    Get<QLineEdit>(tv, 1029)->setText("7");
    tv->accept();
    EXPECT_EQ(t.gateCalls, std::vector<bool>({ true }));
    EXPECT_EQ(f.engine.GateOpen, 1);
    EXPECT_TRUE(f.view.TvTimerSet);
    EXPECT_EQ(f.settings.Config.TvChannel, 7);
    EXPECT_EQ(f.settings.Config.TvWindow, (TimeWindow { 20, 0, 255, 255 }));
}

} // namespace
