// Every dialog the server and the viewer open, shown offscreen: it opens at least at the size
// its filled layout asks for (within the screen) and shows every label's text whole.

#include "AboutDlg.h"
#include "AdvancedDialog.h"
#include "AudioDeviceDialog.h"
#include "CIdentify.h"
#include "CamSettingsDialog.h"
#include "ConfigurationDialog.h"
#include "DevicePageDialogs.h"
#include "Dialogs.h"
#include "FolderBrowseDialog.h"
#include "ServerFixture.h"
#include "SmallDialogs.h"
#include "TimedZonesDialog.h"
#include "TvCardDialog.h"
#include "VideoCodecsDialog.h"

#include <QAbstractButton>
#include <QApplication>
#include <QFormLayout>
#include <QLabel>
#include <QLayout>
#include <QScreen>
#include <QScrollArea>
#include <QTest>

#include <gtest/gtest.h>

#include <functional>
#include <memory>

namespace vorlund {
namespace {

QString Name(const QWidget &w)
{
    return QString::fromLatin1(w.metaObject()->className()) + " \"" + w.objectName() + "\" \""
        + w.property("text").toString().left(30) + "\"";
}

// What the user would find cut or too small, one line each; empty when all is well.
QStringList Faults(const QWidget &dialog)
{
    QStringList faults;
    const QSize screen = dialog.screen()->availableGeometry().size();
    const QLayout *layout = dialog.layout();
    QSize hint = layout->sizeHint();
    // Word-wrapped text may take fewer lines at the width the window has.
    if (layout->hasHeightForWidth())
        hint.setHeight(std::min(hint.height(), layout->totalHeightForWidth(dialog.width())));
    hint = hint.boundedTo(screen);
    if (dialog.width() < hint.width() || dialog.height() < hint.height())
        faults << QString("window %1x%2 below its layout's %3x%4")
                      .arg(dialog.width())
                      .arg(dialog.height())
                      .arg(hint.width())
                      .arg(hint.height());
    if (dialog.width() > screen.width() || dialog.height() > screen.height())
        faults << "window larger than the screen";
    for (const QLabel *label : dialog.findChildren<QLabel *>()) {
        if (!label->isVisibleTo(&dialog) || label->text().isEmpty())
            continue;
        const bool cut = label->wordWrap() ? label->heightForWidth(label->width()) > label->height()
                                           : label->width() < label->minimumSizeHint().width()
                || label->height() < label->minimumSizeHint().height();
        if (cut)
            faults << "cut " + Name(*label);
    }
    for (const QAbstractButton *button : dialog.findChildren<QAbstractButton *>()) {
        if (!button->isVisibleTo(&dialog) || button->text().isEmpty())
            continue;
        if (button->width() < button->minimumSizeHint().width())
            faults << "cut " + Name(*button);
    }
    return faults;
}

std::vector<CodecProperty> ManyProperties(int count)
{
    std::vector<CodecProperty> properties;
    for (int i = 0; i < count; ++i) {
        CodecProperty p;
        p.name = "property-" + std::to_string(i);
        p.nick = "Property number " + std::to_string(i);
        p.kind = i % 3 == 0 ? CodecProperty::Kind::Boolean
            : i % 3 == 1    ? CodecProperty::Kind::Choice
                            : CodecProperty::Kind::Integer;
        p.choices = { "one", "two" };
        p.value = i % 3 == 0 ? "true" : i % 3 == 1 ? "two" : "1000";
        properties.push_back(p);
    }
    return properties;
}

struct DialogCase
{
    const char *name;
    std::function<std::unique_ptr<QDialog>(INotifier &, IMessageSink &)> make;
};

template <typename D, typename... Args> std::unique_ptr<QDialog> Make(Args &&...args)
{
    return std::make_unique<D>(std::forward<Args>(args)...);
}

const DialogCase kDialogs[] = {
    { "server About", [](INotifier &, IMessageSink &) { return Make<CAboutDlg>(); } },
    { "codec chooser", [](INotifier &n, IMessageSink &) { return Make<CVideoCodecs>(n); } },
    { "WMV9 settings", [](INotifier &n, IMessageSink &) { return Make<CConfigWM9>(n); } },
    { "codec properties",
      [](INotifier &n, IMessageSink &) {
          auto d = std::make_unique<CCodecProperties>(n, "Microsoft MPEG-4 Video Codec V3");
          d->Properties = ManyProperties(20);
          return std::unique_ptr<QDialog>(std::move(d));
      } },
    { "timed zones", [](INotifier &, IMessageSink &) { return Make<CTimedZones>(); } },
    { "configuration", [](INotifier &n, IMessageSink &) { return Make<CConfiguration>(n); } },
    { "advanced", [](INotifier &n, IMessageSink &) { return Make<CAdvanced>(n); } },
    { "password", [](INotifier &n, IMessageSink &) { return Make<CPassword>(n); } },
    { "e-mail", [](INotifier &n, IMessageSink &) { return Make<CSmtpEmail>(n); } },
    { "manual-mode notice",
      [](INotifier &, IMessageSink &) {
          auto d = std::make_unique<CNoticeBox>();
          d->Text = std::string(kManualModeNotice);
          return std::unique_ptr<QDialog>(std::move(d));
      } },
    { "review mode", [](INotifier &, IMessageSink &) { return Make<CSelectReviewMode>(); } },
    { "input page", [](INotifier &, IMessageSink &) { return Make<CInputPage>(); } },
    { "capture page", [](INotifier &, IMessageSink &) { return Make<CCapturePage>(); } },
    { "format page", [](INotifier &, IMessageSink &) { return Make<CFormatPage>(); } },
    { "tuner page", [](INotifier &, IMessageSink &) { return Make<CTunerPage>(); } },
    { "folder picker",
      [](INotifier &n, IMessageSink &) {
          return Make<CFolderBrowseDialog>("Video Directory", "Select the video folder",
                                           std::string("/tmp"), n);
      } },
    { "time lapse", [](INotifier &n, IMessageSink &) { return Make<CTimeLapse>(n); } },
    { "motion advanced", [](INotifier &n, IMessageSink &) { return Make<CMotionAdvanced>(n); } },
    { "camera settings", [](INotifier &n, IMessageSink &s) { return Make<CCamSettings>(s, n); } },
    { "TV card", [](INotifier &n, IMessageSink &) { return Make<CTVCard>(n); } },
    { "audio device", [](INotifier &, IMessageSink &) { return Make<CAudioDevice>(); } },
    { "remote credentials", [](INotifier &, IMessageSink &) { return Make<CIdentify>(); } },
    { "viewer configuration",
      [](INotifier &n, IMessageSink &) { return Make<viewer::CConfiguration>(n); } },
    { "viewer login", [](INotifier &, IMessageSink &) { return Make<viewer::CLogin>(); } },
    { "viewer password", [](INotifier &, IMessageSink &) { return Make<viewer::CPassword>(); } },
    { "viewer help", [](INotifier &, IMessageSink &) { return Make<viewer::CmyHelp>(); } },
    { "viewer About", [](INotifier &, IMessageSink &) { return Make<viewer::CAboutDlg>(); } },
};

TEST(DialogSizesTest, EveryDialogOpensAtItsLayoutsSizeWithEveryLabelWhole)
{
    RecordingNotifier notifier;
    test::RecordingSink sink;
    for (const DialogCase &c : kDialogs) {
        SCOPED_TRACE(c.name);
        std::unique_ptr<QDialog> dialog = c.make(notifier, sink);
        dialog->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(dialog.get()));
        QCoreApplication::processEvents();
        EXPECT_EQ(Faults(*dialog).join("\n").toStdString(), "");
        dialog->close();
    }
}

// Twenty settings: the first ten show without scrolling, and the title fits the window.
TEST(DialogSizesTest, CodecPropertiesShowTenRowsAndTheirTitle)
{
    RecordingNotifier notifier;
    for (const int count : { 3, 20 }) {
        CCodecProperties dialog(notifier, "Microsoft MPEG-4 Video Codec V3");
        dialog.Properties = ManyProperties(count);
        dialog.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
        QCoreApplication::processEvents();
        auto *scroll = dialog.findChild<QScrollArea *>();
        ASSERT_NE(scroll, nullptr);
        const int shown = std::min(count, 10);
        const QWidget *last = dialog.findChild<QWidget *>(
            QString::fromStdString(dialog.Properties[size_t(shown - 1)].name));
        ASSERT_NE(last, nullptr);
        const QPoint bottom = last->mapTo(scroll->viewport(), QPoint(0, last->height()));
        EXPECT_LE(bottom.y(), scroll->viewport()->height()) << count;
        EXPECT_GE(dialog.width(), dialog.fontMetrics().horizontalAdvance(dialog.windowTitle()));
        dialog.close();
    }
}

} // namespace
} // namespace vorlund
