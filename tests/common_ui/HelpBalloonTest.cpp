#include "HelpBalloon.h"
#include "UiTestSupport.h"

#include <QCursor>
#include <QDesktopServices>
#include <QDialog>
#include <QImage>
#include <QLineEdit>
#include <QPointer>
#include <QScreen>
#include <QShortcut>
#include <QTest>
#include <QTimer>
#include <QToolTip>
#include <QUrl>
#include <QVBoxLayout>

#include <memory>

namespace vorlund {
namespace {

constexpr unsigned kNoFade = BalloonOption::NoFadeIn | BalloonOption::NoFadeOut;

// Records links the balloon opens instead of starting a browser.
class LinkCatcher : public QObject
{
    Q_OBJECT

public:
    QList<QUrl> opened;

public Q_SLOTS:
    void Open(const QUrl &url) { opened.append(url); }
};

class HelpBalloonTest : public UiTest
{
protected:
    void SetUp() override
    {
        host = std::make_unique<QWidget>();
        host->setObjectName("host");
        edit = new QLineEdit(host.get());
        auto *layout = new QVBoxLayout(host.get());
        layout->addWidget(edit);
        host->setGeometry(100, 100, 300, 200);
        host->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(host.get()));
    }
    void TearDown() override
    {
        host.reset();
        UiTest::TearDown();
    }

    // Launches one balloon anchored at a screen point and returns it.
    CHelpBalloon *Launch(unsigned options, int timeoutMs, QPoint anchor = QPoint(200, 150),
                         const QString &link = QString())
    {
        EXPECT_TRUE(LaunchBalloon("Title", "Some help text.", anchor, kBalloonIconInformation,
                                  options, nullptr, link, timeoutMs));
        const auto shown = ShownBalloons();
        EXPECT_EQ(shown.size(), 1u);
        return shown.empty() ? nullptr : shown.front();
    }

    void MoveMouseTo(QPoint global)
    {
        QWindow *window = host->windowHandle();
        QTest::mouseMove(window, global - window->position());
    }

    std::unique_ptr<QWidget> host;
    QLineEdit *edit = nullptr;
};

TEST_F(HelpBalloonTest, ClosesAndDeletesItselfOnTimeout)
{
    QPointer<CHelpBalloon> balloon = Launch(kNoFade, 100);
    ASSERT_TRUE(balloon);
    EXPECT_TRUE(balloon->Options() & BalloonOption::DeleteSelf);
    EXPECT_TRUE(balloon->HasIcon());
    EXPECT_EQ(balloon->windowTitle(), "Title");
    EXPECT_TRUE(QTest::qWaitFor([&] { return balloon.isNull(); }, 5000));
}

TEST_F(HelpBalloonTest, KeyClosesOnlyWhenAsked)
{
    // Timeout 0 and no close option: a key does nothing, nor does the mouse.
    QPointer<CHelpBalloon> stays = Launch(kNoFade, 0);
    QTest::keyClick(edit, Qt::Key_A);
    QTest::mouseClick(host->windowHandle(), Qt::LeftButton, {}, QPoint(10, 10));
    FlushDeletes();
    ASSERT_TRUE(stays);
    EXPECT_TRUE(stays->isVisible());
    stays->close();
    FlushDeletes();
    EXPECT_TRUE(stays.isNull());

    QPointer<CHelpBalloon> keyed = Launch(kNoFade | BalloonOption::CloseOnKey, 0);
    QTest::keyClick(host->windowHandle(), Qt::Key_Escape);
    EXPECT_TRUE(QTest::qWaitFor([&] { return keyed.isNull(); }, 5000));
}

TEST_F(HelpBalloonTest, ShortcutKeyClosesToo)
{
    // A key taken by a shortcut never arrives as a key press, but the user pressed a key.
    auto *refresh = new QShortcut(QKeySequence(Qt::Key_F5), host.get());
    int refreshed = 0;
    QObject::connect(refresh, &QShortcut::activated, [&] { ++refreshed; });
    QPointer<CHelpBalloon> keyed = Launch(kNoFade | BalloonOption::CloseOnKey, 0);
    edit->setFocus();
    QTest::keyClick(edit, Qt::Key_F5);
    EXPECT_EQ(refreshed, 1);
    EXPECT_TRUE(QTest::qWaitFor([&] { return keyed.isNull(); }, 2000));
}

TEST_F(HelpBalloonTest, DialogHelpWaitsForTheMouseThenTimesOut)
{
    const QPoint rest(250, 160);
    QCursor::setPos(rest);
    QPointer<CHelpBalloon> balloon = Launch(kNoFade | kDialogHelpOptions, kDialogHelpTimeoutMs);
    ASSERT_TRUE(balloon);

    // Within the tolerance of 3 pixels nothing happens.
    MoveMouseTo(rest + QPoint(3, -3));
    FlushDeletes();
    ASSERT_TRUE(balloon);
    EXPECT_TRUE(balloon->Options() & BalloonOption::DelayClose);

    // Beyond it the timeout starts; the balloon stays until it runs out.
    MoveMouseTo(rest + QPoint(4, 0));
    QCoreApplication::processEvents();
    ASSERT_TRUE(balloon);
    EXPECT_TRUE(balloon->isVisible());
    EXPECT_FALSE(balloon->Options() & BalloonOption::DelayClose);
    EXPECT_FALSE(balloon->Options() & BalloonOption::CloseOnMouseMove);
    MoveMouseTo(rest + QPoint(40, 40)); // further moves no longer count
    QCoreApplication::processEvents();
    ASSERT_TRUE(balloon);
    EXPECT_TRUE(QTest::qWaitFor([&] { return balloon.isNull(); }, 5000));
}

TEST_F(HelpBalloonTest, CloseButtonClosesAndMouseMovesDoNot)
{
    QCursor::setPos(QPoint(250, 160));
    QPointer<CHelpBalloon> balloon = Launch(kNoFade | BalloonOption::CloseButton, 5000);
    ASSERT_TRUE(balloon);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(balloon));
    const QRect button = balloon->CloseButtonRect();
    ASSERT_FALSE(button.isEmpty());
    EXPECT_TRUE(balloon->ClientRect().contains(button));

    MoveMouseTo(QPoint(10, 10));
    FlushDeletes();
    ASSERT_TRUE(balloon);

    // Pressed on the button but released elsewhere: stays.
    QTest::mousePress(balloon->windowHandle(), Qt::LeftButton, {}, button.center());
    QTest::mouseRelease(balloon->windowHandle(), Qt::LeftButton, {}, QPoint(12, 30));
    FlushDeletes();
    ASSERT_TRUE(balloon);

    QTest::mouseClick(balloon->windowHandle(), Qt::LeftButton, {}, button.center());
    FlushDeletes();
    EXPECT_TRUE(balloon.isNull());
}

TEST_F(HelpBalloonTest, LinkOpensOnAClickInTheClientAreaAndCloses)
{
    LinkCatcher catcher;
    QDesktopServices::setUrlHandler("vorlundtest", &catcher, "Open");
    QPointer<CHelpBalloon> balloon
        = Launch(kNoFade, 0, QPoint(200, 150), "vorlundtest://help/page");
    ASSERT_TRUE(balloon);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(balloon));

    // A click on the tail is outside the client area.
    const BalloonPoint tip = balloon->Placement().tailTip;
    QTest::mouseClick(balloon->windowHandle(), Qt::LeftButton, {}, QPoint(tip.x, tip.y + 2));
    FlushDeletes();
    ASSERT_TRUE(balloon);
    EXPECT_TRUE(catcher.opened.isEmpty());

    QTest::mouseClick(balloon->windowHandle(), Qt::LeftButton, {}, balloon->ClientRect().center());
    FlushDeletes();
    QDesktopServices::unsetUrlHandler("vorlundtest");
    EXPECT_TRUE(balloon.isNull());
    ASSERT_EQ(catcher.opened.size(), 1);
    EXPECT_EQ(catcher.opened.front(), QUrl("vorlundtest://help/page"));
}

TEST_F(HelpBalloonTest, PointsAtItsAnchorOnTheScreen)
{
    const QRect work = QGuiApplication::primaryScreen()->availableGeometry();
    for (const QPoint anchor :
         { QPoint(work.right() - 5, work.top() + 40), QPoint(work.left() + 3, work.bottom() - 3),
           QPoint(work.center()) }) {
        QPointer<CHelpBalloon> balloon = Launch(kNoFade, 0, anchor);
        ASSERT_TRUE(balloon);
        const BalloonPlacement &p = balloon->Placement();
        EXPECT_EQ(balloon->pos(), QPoint(p.position.x, p.position.y));
        EXPECT_EQ(balloon->pos() + QPoint(p.tailTip.x, 0), QPoint(anchor.x(), balloon->y()));
        EXPECT_GE(balloon->x(), work.left());
        EXPECT_LE(balloon->geometry().right(), work.right());
        EXPECT_LE(balloon->width() - 16, work.width() / 2 + 40); // text wraps at half the width
        balloon->close();
        FlushDeletes();
    }
}

TEST_F(HelpBalloonTest, FollowsItsAnchorWindowAndNeverTakesTheFocus)
{
    host->activateWindow();
    edit->setFocus();
    ASSERT_TRUE(QTest::qWaitForWindowActive(host.get()));
    ASSERT_EQ(QApplication::focusWidget(), edit);

    ASSERT_TRUE(
        LaunchBalloon("Follow", "me", QPoint(20, 20), 0, kNoFade, host.get(), QString(), 0));
    ASSERT_EQ(ShownBalloons().size(), 1u);
    QPointer<CHelpBalloon> balloon = ShownBalloons().front();
    EXPECT_FALSE(balloon->HasIcon());
    EXPECT_EQ(balloon->AnchorOnScreen(), host->mapToGlobal(QPoint(20, 20)));
    QCoreApplication::processEvents();
    EXPECT_EQ(QApplication::focusWidget(), edit);
    EXPECT_EQ(QApplication::activeWindow(), host.get());

    const QPoint before = balloon->pos();
    host->move(host->pos() + QPoint(40, 30));
    EXPECT_TRUE(QTest::qWaitFor([&] { return balloon->pos() == before + QPoint(40, 30); }, 5000))
        << balloon->pos().x() << "," << balloon->pos().y();
}

TEST_F(HelpBalloonTest, StaysClickableOverARunningModalDialog)
{
    // A notice anchored on the main window while a settings dialog runs.
    QDialog modal(host.get());
    bool closedByClick = false;
    QTimer::singleShot(0, &modal, [&] {
        EXPECT_TRUE(LaunchBalloon("Notice", "Camera 2 lost.", QPoint(30, 30), kBalloonIconWarning,
                                  kNoFade | BalloonOption::CloseButton, host.get(), QString(), 0));
        const auto shown = ShownBalloons();
        if (shown.size() == 1) {
            QPointer<CHelpBalloon> balloon = shown.front();
            QTest::mouseClick(balloon->windowHandle(), Qt::LeftButton, {},
                              balloon->CloseButtonRect().center());
            FlushDeletes();
            closedByClick = balloon.isNull();
        }
        modal.reject();
    });
    modal.exec();
    EXPECT_TRUE(closedByClick);
}

TEST_F(HelpBalloonTest, FadesInAndOutWhenTheSystemFades)
{
    QApplication::setEffectEnabled(Qt::UI_General, true);
    QApplication::setEffectEnabled(Qt::UI_AnimateTooltip, true);
    QApplication::setEffectEnabled(Qt::UI_FadeTooltip, true);
    QPointer<CHelpBalloon> balloon = Launch(0, 50);
    QApplication::setEffectEnabled(Qt::UI_FadeTooltip, false);
    ASSERT_TRUE(balloon);
    EXPECT_LT(balloon->windowOpacity(), 1.0);
    ASSERT_TRUE(balloon);
    EXPECT_FALSE(balloon->Options() & (BalloonOption::NoFadeIn | BalloonOption::NoFadeOut));
    EXPECT_TRUE(QTest::qWaitFor([&] { return balloon.isNull(); }, 5000));

    // With fading off in the system both fades are left out.
    QPointer<CHelpBalloon> plain = Launch(0, 0);
    ASSERT_TRUE(plain);
    EXPECT_TRUE(plain->Options() & BalloonOption::NoFadeIn);
    EXPECT_TRUE(plain->Options() & BalloonOption::NoFadeOut);
    QApplication::setEffectEnabled(Qt::UI_AnimateTooltip, false);
    QApplication::setEffectEnabled(Qt::UI_General, false);
}

TEST_F(HelpBalloonTest, NoOwnerMeansNoBalloon)
{
    host->hide();
    EXPECT_FALSE(LaunchBalloon("Nobody", "owns me", QPoint(10, 10), 0, 0, nullptr, QString(), 0));
    EXPECT_TRUE(ShownBalloons().empty());
}

TEST_F(HelpBalloonTest, PaintsFrameTitleAndText)
{
    QPointer<CHelpBalloon> balloon = Launch(
        kNoFade | BalloonOption::CloseButton | BalloonOption::Embossed, 0, QPoint(200, 150));
    ASSERT_TRUE(balloon);
    const QImage image = balloon->grab().toImage();
    if (const QByteArray path = qgetenv("VORLUND_BALLOON_PNG"); !path.isEmpty())
        image.save(QString::fromLocal8Bit(path));

    const QPalette tips = QToolTip::palette();
    const QRgb text = tips.color(QPalette::ToolTipText).rgb();
    const QRgb background = tips.color(QPalette::ToolTipBase).rgb();
    const BalloonPlacement &p = balloon->Placement();
    // The frame runs along the body's straight edges.
    EXPECT_EQ(image.pixel(p.body.Width() / 2, p.body.bottom - 1), text);
    EXPECT_EQ(image.pixel(0, (p.body.top + p.body.bottom) / 2), text);
    // The tail tip is drawn.
    EXPECT_EQ(image.pixel(p.tailTip.x, p.tailTip.y + 1), text);
    // Title and text leave ink in their rows, the margins stay plain.
    const QRect client = balloon->ClientRect();
    auto inkIn = [&](QRect r) {
        int ink = 0;
        for (int y = r.top(); y <= r.bottom(); ++y)
            for (int x = r.left(); x <= r.right(); ++x)
                ink += image.pixel(x, y) != background;
        return ink;
    };
    EXPECT_GT(inkIn(QRect(client.left() + 30, client.top(), client.width() - 60, 14)), 10);
    EXPECT_GT(inkIn(client.adjusted(0, client.height() / 2, 0, 0)), 10);
    EXPECT_EQ(inkIn(QRect(client.left(), client.bottom() + 2, client.width(), 3)), 0);
}

TEST_F(HelpBalloonTest, PaintsNothingOutsideItsRoundedShape)
{
    QPointer<CHelpBalloon> balloon
        = Launch(kNoFade | BalloonOption::CloseButton, 0, QPoint(200, 150));
    ASSERT_TRUE(balloon);
    const QImage image = balloon->grab().toImage().convertToFormat(QImage::Format_ARGB32);
    const BalloonPlacement &p = balloon->Placement();
    const QRgb background = QToolTip::palette().color(QPalette::ToolTipBase).rgb();
    // The body's four corners lie outside the rounded rectangle; the tail band beside the
    // tail is outside too. Inside, the body is filled.
    const QPoint outside[] = {
        { p.body.left, p.body.top },
        { p.body.right - 1, p.body.top },
        { p.body.left, p.body.bottom - 1 },
        { p.body.right - 1, p.body.bottom - 1 },
        { 1, p.tailOnTop ? 2 : image.height() - 3 },
    };
    for (const QPoint &at : outside)
        EXPECT_EQ(qAlpha(image.pixel(at)), 0) << at.x() << "," << at.y();
    const QRect client = balloon->ClientRect();
    EXPECT_EQ(image.pixel(client.left(), client.bottom()), background);
}

} // namespace
} // namespace vorlund

#include "HelpBalloonTest.moc"
