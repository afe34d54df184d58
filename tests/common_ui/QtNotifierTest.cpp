#include "QtNotifier.h"
#include "UiTestSupport.h"

#include <QAbstractButton>
#include <QMessageBox>
#include <QTest>
#include <QTimer>

namespace vorlund {
namespace {

struct SeenBox
{
    QString caption;
    QString text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
};

// Answers the next message box that comes up with the given button.
void AnswerNextBox(QMessageBox::StandardButton answer, SeenBox &seen)
{
    auto *poll = new QTimer;
    QObject::connect(poll, &QTimer::timeout, [poll, answer, &seen] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box || !box->isVisible())
            return;
        poll->stop();
        poll->deleteLater();
        seen = { box->windowTitle(), box->text(), box->icon() };
        QTest::mouseClick(box->button(answer), Qt::LeftButton);
    });
    poll->start(10);
}

using QtNotifierTest = UiTest;

TEST_F(QtNotifierTest, ShowsTheTextUnderTheCaption)
{
    QtNotifier notifier;
    SeenBox seen;
    AnswerNextBox(QMessageBox::Ok, seen);
    ShowErrorBox(notifier, "Can't open device1.cfg");
    EXPECT_EQ(seen.caption, "Vorlund - Error!");
    EXPECT_EQ(seen.text, "Can't open device1.cfg");
}

TEST_F(QtNotifierTest, YesNoReturnsTheAnswer)
{
    QtNotifier notifier;
    SeenBox seen;
    AnswerNextBox(QMessageBox::Yes, seen);
    EXPECT_TRUE(notifier.AskYesNo("Delete the old files?", "Vorlund"));
    EXPECT_EQ(seen.icon, QMessageBox::Question);
    AnswerNextBox(QMessageBox::No, seen);
    EXPECT_FALSE(notifier.AskYesNo("Delete the old files?", "Vorlund"));
    EXPECT_EQ(seen.text, "Delete the old files?");
}

} // namespace
} // namespace vorlund
