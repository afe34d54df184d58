#include "AudioDeviceDialog.h"
#include "DevicePageDialogs.h"
#include "TvCardDialog.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QSpinBox>
#include <QTest>
#include <QTimeEdit>

#include <gtest/gtest.h>

namespace vorlund {
namespace {

template <typename T> T *Find(QWidget &dialog, int id)
{
    T *control = dialog.findChild<T *>(QString::number(id));
    EXPECT_NE(control, nullptr) << id;
    return control;
}

// On the box itself: a check box stretched by its layout takes clicks only near its text.
void ClickBox(QCheckBox *box)
{
    QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(6, box->height() / 2));
}

class DialogTest : public ::testing::Test
{
protected:
    void TearDown() override
    {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        EXPECT_TRUE(QApplication::topLevelWidgets().isEmpty());
    }
};

TEST_F(DialogTest, AudioDeviceFillsRefillsAndReturnsTheChoice)
{
    CAudioDevice dialog;
    dialog.DeviceNames = { "USB Mic", "Sound Card", "", "" };
    dialog.LineTable[0] = { "Microphone" };
    dialog.LineTable[1] = { "Mic", "", "Line In" }; // a gap keeps the table's positions
    dialog.CurrentLines = dialog.LineTable[0];
    dialog.DeviceIndex = 0;
    dialog.LineIndex = 0;
    dialog.LevelIndex = 1;
    dialog.RecordAudio = 0;
    dialog.open();

    auto *devices = Find<QComboBox>(dialog, 1030);
    auto *lines = Find<QComboBox>(dialog, 1067);
    auto *levels = Find<QComboBox>(dialog, 1068);
    auto *record = Find<QCheckBox>(dialog, 1052);
    EXPECT_EQ(devices->count(), 2);
    EXPECT_EQ(lines->count(), 1);
    EXPECT_EQ(levels->currentText(), "Medium");
    // Sound off: the choices wait for "Record Audio".
    EXPECT_FALSE(devices->isEnabled());
    ClickBox(record);
    EXPECT_EQ(dialog.RecordAudio, 1);
    EXPECT_TRUE(devices->isEnabled() && lines->isEnabled() && levels->isEnabled());

    devices->setCurrentIndex(1);
    emit devices->activated(1);
    ASSERT_EQ(lines->count(), 2);
    EXPECT_EQ(lines->currentText(), "Mic");
    lines->setCurrentIndex(1);
    levels->setCurrentIndex(2);
    dialog.accept();
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(dialog.DeviceIndex, 1);
    EXPECT_EQ(dialog.LineIndex, 2); // "Line In" at its place in the device's row
    EXPECT_EQ(dialog.LevelIndex, 2);
}

// Opened with long names, every combo is wide enough for its longest text.
TEST_F(DialogTest, AudioDeviceIsWideEnoughForItsTexts)
{
    CAudioDevice dialog;
    const std::string longName = "Vorlund Test Camera Audio - Built-in Analog Stereo Input";
    dialog.DeviceNames = { "USB Mic", longName, "", "" };
    dialog.LineTable[1] = { "Front Microphone Jack (analog-input-front-mic)" };
    dialog.CurrentLines = dialog.LineTable[1];
    dialog.DeviceIndex = 1;
    dialog.RecordAudio = 1;
    dialog.open();
    QCoreApplication::processEvents();
    for (int id : { 1030, 1067 }) {
        auto *combo = Find<QComboBox>(dialog, id);
        const int text = combo->fontMetrics().horizontalAdvance(combo->currentText());
        EXPECT_GT(combo->width(), text) << id;
        EXPECT_LE(combo->geometry().right(), dialog.width()) << id;
    }
    EXPECT_GT(dialog.width(), 200);
    dialog.reject();
}

TEST_F(DialogTest, FormatPageOffersTheChosenFormatsSizesAndRates)
{
    CFormatPage page;
    page.Values.options = { { kSubtypeRgb24, "BGR", { { 320, 240 }, { 640, 480 } }, { 333333 } },
                            { kSubtypeMjpg, "MJPG", { { 720, 576 } }, { 400000, 666666 } } };
    page.Values.option = 0;
    page.Values.size = { 640, 480 };
    page.open();
    auto *format = Find<QComboBox>(page, 1000);
    auto *size = Find<QComboBox>(page, 1001);
    auto *rate = Find<QComboBox>(page, 1002);
    EXPECT_EQ(size->currentText(), "640 x 480");
    EXPECT_EQ(rate->currentText(), "Device default");

    format->setCurrentIndex(1);
    emit format->activated(1);
    EXPECT_EQ(size->count(), 1);
    EXPECT_EQ(rate->count(), 3);
    rate->setCurrentIndex(2);
    EXPECT_EQ(rate->currentText(), "15 fps");
    page.accept();
    EXPECT_EQ(page.Values.option, 1);
    EXPECT_EQ(page.Values.size, (FrameSize { 720, 576 }));
    EXPECT_EQ(page.Values.frameDuration, 666666);
}

TEST_F(DialogTest, TunerPageRefusesANumberThatIsNoChannel)
{
    CTunerPage page;
    page.Values.table = "us-bcast";
    page.Values.channel = 7;
    page.open();
    auto *channel = Find<QSpinBox>(page, 1000);
    EXPECT_EQ(Find<QLabel>(page, 1001)->text(), "175.25 MHz");
    channel->setValue(12);
    page.accept();
    EXPECT_EQ(page.Values.channel, 12);

    CTunerPage europe;
    europe.Values.table = "europe-west";
    europe.Values.channel = 5;
    europe.open();
    Find<QSpinBox>(europe, 1000)->setValue(15); // between the bands
    europe.accept();
    EXPECT_TRUE(europe.isVisible());
    EXPECT_EQ(europe.Values.channel, 5);
    europe.reject();
}

} // namespace
} // namespace vorlund
