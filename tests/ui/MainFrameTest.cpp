#include "MainFrame.h"
#include "AboutDlg.h"
#include "Commands.h"
#include "HelpBalloon.h"
#include "Launchers.h"
#include "Profile.h"
#include "SignalBridge.h"
#include "UiTestSupport.h"

#include <QAction>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QRegularExpression>
#include <QScreen>
#include <QStatusBar>
#include <QStyle>
#include <QTest>
#include <QToolBar>

#include <csignal>
#include <fstream>
#include <map>
#include <memory>
#include <set>
#include <unistd.h>
#include <vector>

namespace vorlund {
namespace {

class FakeClient : public IFrameClient
{
public:
    QWidget *Widget() override { return widget; }
    void OnCommand(int id) override { commands.push_back(id); }
    bool IsCommandEnabled(int id) const override { return enabled.count(id) != 0; }
    bool IsCommandChecked(int id) const override { return checked.count(id) != 0; }
    void OnServiceClose() override { ++serviceCloses; }
    void OnSnapshotRequest() override { ++snapshots; }
    void OnClose() override { ++closes; }

    QWidget *widget = nullptr; // the frame owns it
    std::vector<int> commands;
    std::set<int> enabled;
    std::set<int> checked;
    int serviceCloses = 0;
    int snapshots = 0;
    int closes = 0;
};

class NullDesktop : public IDesktop
{
public:
    bool OpenDocument(const std::filesystem::path &, std::function<void()>) override
    {
        return true;
    }
    bool StartDetached(const std::filesystem::path &, const std::filesystem::path &) override
    {
        return true;
    }
};

class MainFrameTest : public UiTest
{
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/vorlund-frame-XXXXXX";
        folder = ::mkdtemp(pattern);
        profile = std::make_unique<Profile>(folder / "Vorlund.INI");
        launchers = std::make_unique<ToolLaunchers>(folder, folder, notifier, desktop);
        Open();
    }
    void TearDown() override
    {
        frame.reset();
        std::filesystem::remove_all(folder);
        UiTest::TearDown();
    }
    void Open()
    {
        frame.reset();
        client = FakeClient();
        client.widget = new QWidget;
        client.widget->setMinimumSize(320, 240);
        frame = std::make_unique<CMainFrame>(*profile, *launchers);
        frame->SetClient(&client);
        frame->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(frame.get()));
    }
    QWidget *Button(int index) const
    {
        return frame->ToolBar()->widgetForAction(frame->ToolBar()->actions().at(index));
    }
    CHelpBalloon *OnlyBalloon() const
    {
        const auto shown = ShownBalloons();
        EXPECT_EQ(shown.size(), 1u);
        return shown.empty() ? nullptr : shown.front();
    }

    std::filesystem::path folder;
    std::unique_ptr<Profile> profile;
    RecordingNotifier notifier;
    NullDesktop desktop;
    std::unique_ptr<ToolLaunchers> launchers;
    FakeClient client;
    std::unique_ptr<CMainFrame> frame;
};

std::vector<int> Ids(const QList<QAction *> &actions)
{
    std::vector<int> ids;
    for (QAction *a : actions)
        ids.push_back(a->isSeparator() ? 0 : a->data().toInt());
    return ids;
}

TEST_F(MainFrameTest, MenusToolbarAndPanes)
{
    EXPECT_EQ(frame->windowTitle(), "Vorlund");
    QStringList titles;
    for (QAction *a : frame->menuBar()->actions())
        titles << a->text();
    EXPECT_EQ(titles, QStringList({ "&File", "&Command", "&Camera", "&View", "&Help" }));
    EXPECT_EQ(Ids(frame->Popup(0)->actions()),
              (std::vector<int> { 57600, 57601, 57603, 57604, 0, 57607, 57609, 57606, 0, 163, 166,
                                  0, 57665 }));
    EXPECT_EQ(Ids(frame->Popup(3)->actions()), (std::vector<int> { 59392, 59393, 165, 32784 }));
    EXPECT_EQ(Ids(frame->ToolBar()->actions()),
              (std::vector<int> { 132, 133, 162, 0, 141, 144, 155, 137, 0, 106, 107, 108, 109, 0,
                                  57664, 57669 }));
    EXPECT_EQ(frame->Action(57601)->shortcut(), QKeySequence("Ctrl+P"));
    EXPECT_EQ(frame->Action(57669)->shortcut(), QKeySequence("Shift+F1"));
    EXPECT_EQ(frame->Action(57670)->shortcut(), QKeySequence("F1"));
    EXPECT_EQ(frame->Action(132)->statusTip(), "Start detection");
    EXPECT_EQ(frame->Action(132)->toolTip(), "Start");

    // New, Save, Print, Print Setup and Print Preview can never be chosen.
    for (int id : { 57600, 57603, 57606, 57607, 57609 })
        EXPECT_FALSE(frame->Action(id)->isEnabled()) << id;
    for (int id : { 57601, 57604, 163, 166, 32784, 57664 })
        EXPECT_TRUE(frame->Action(id)->isEnabled()) << id;

    for (int pane : kStatusPanes)
        EXPECT_NE(frame->statusBar()->findChild<QWidget *>(QString::number(pane)), nullptr);
    frame->SetPaneText(102, "Cam2");
    EXPECT_EQ(frame->PaneText(102), "Cam2");
    EXPECT_EQ(frame->statusBar()->findChild<QLabel *>("0")->text(), "Ready");
    frame->SetIdlePrompt("Stopped - press Start");
    EXPECT_EQ(frame->statusBar()->findChild<QLabel *>("0")->text(), "Stopped - press Start");
}

TEST_F(MainFrameTest, CommandsReachTheViewAndTheViewDecidesTheirState)
{
    client.enabled = { 132, 165 };
    client.checked = { 165 };
    frame->UpdateCommandUI();
    EXPECT_TRUE(frame->Action(132)->isEnabled());
    EXPECT_FALSE(frame->Action(133)->isEnabled());
    EXPECT_TRUE(frame->Action(165)->isChecked());

    QTest::mouseClick(Button(0), Qt::LeftButton);
    frame->Action(57603)->trigger(); // disabled: nothing
    frame->Action(165)->trigger();
    EXPECT_EQ(client.commands, (std::vector<int> { 132, 165 }));
    EXPECT_TRUE(frame->Action(165)->isChecked()); // the view's flag, not the click, decides

    // The Toolbar item tells the view before the bar goes.
    frame->Action(59392)->trigger();
    EXPECT_EQ(client.commands.back(), 59392);
    EXPECT_FALSE(frame->IsToolbarShown());
    EXPECT_FALSE(frame->Action(59392)->isChecked());
    frame->Action(59393)->trigger();
    EXPECT_EQ(client.commands.back(), 59393);
    EXPECT_FALSE(frame->IsStatusBarShown());
}

TEST_F(MainFrameTest, PanesKeepTheirWidthAndAWindowOffTheScreenSkipsTheCommandRules)
{
    // Every text a pane shows fits it, and none moves the status bar.
    const std::map<int, std::vector<QString>> texts {
        { 101, { "5-Remote", "SvcClose", "ConRec", "Detect", "cal" } },
        { 102, { "-", "R", "r", "1", "4" } },
        { 103, { "z0", "z4" } },
    };
    for (const auto &[id, shown] : texts) {
        auto *pane = frame->statusBar()->findChild<QLabel *>(QString::number(id));
        ASSERT_NE(pane, nullptr);
        const int width = pane->width();
        for (const QString &text : shown) {
            frame->SetPaneText(id, text);
            QCoreApplication::sendPostedEvents();
            EXPECT_EQ(pane->width(), width) << id << " " << text.toStdString();
            EXPECT_LE(pane->sizeHint().width(), width) << id << " " << text.toStdString();
        }
    }

    client.enabled = { 132 };
    frame->UpdateCommandUI();
    client.enabled = { 133 };
    frame->showMinimized();
    ASSERT_TRUE(QTest::qWaitFor([&] { return frame->isMinimized(); }, 5000));
    QTest::qWait(200);
    frame->OnStatusTick();
    EXPECT_TRUE(frame->Action(132)->isEnabled());
    EXPECT_FALSE(frame->Action(133)->isEnabled());
    // A menu runs the rules itself.
    emit frame->Popup(1)->aboutToShow();
    EXPECT_TRUE(frame->Action(133)->isEnabled());

    client.enabled = { 132 };
    frame->showNormal();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(frame.get()));
    QTest::qWait(200);
    frame->OnStatusTick();
    EXPECT_TRUE(frame->Action(132)->isEnabled());
    EXPECT_FALSE(frame->Action(133)->isEnabled());
}

TEST_F(MainFrameTest, SignalsReachTheViewAndServiceCloseLeavesTheWindowOpen)
{
    SignalBridge bridge({ [this] { frame->OnServiceClose(); },
                          [this] { frame->OnSnapshotRequest(); }, [this] { frame->close(); } });
    ASSERT_TRUE(bridge.IsInstalled());
    // A second bridge cannot take the signals over.
    EXPECT_FALSE(SignalBridge({}).IsInstalled());

    ASSERT_EQ(::raise(SIGUSR1), 0);
    ASSERT_TRUE(QTest::qWaitFor([&] { return client.serviceCloses == 1; }, 5000));
    EXPECT_EQ(frame->PaneText(101), "SvcClose");
    EXPECT_TRUE(frame->isVisible());
    EXPECT_EQ(client.closes, 0);

    ASSERT_EQ(::raise(SIGUSR2), 0);
    ASSERT_TRUE(QTest::qWaitFor([&] { return client.snapshots == 1; }, 5000));
    EXPECT_EQ(client.serviceCloses, 1);

    // SIGTERM, and SIGHUP when the terminal goes, close the way the window closes: the view
    // stops first, the placement is kept.
    for (const int signal : { SIGTERM, SIGHUP }) {
        if (signal != SIGTERM)
            Open();
        ASSERT_EQ(::raise(signal), 0);
        ASSERT_TRUE(QTest::qWaitFor([&] { return !frame->isVisible(); }, 5000)) << signal;
        EXPECT_EQ(client.closes, 1) << signal;
        EXPECT_NE(Profile(folder / "Vorlund.INI").GetProfileInt("Frame", "Right", -1), -1);
    }
}

TEST_F(MainFrameTest, NeverMaximised)
{
    frame->setWindowState(Qt::WindowMaximized);
    EXPECT_TRUE(QTest::qWaitFor([&] { return !frame->isMaximized(); }, 5000));
    EXPECT_FALSE(frame->windowFlags() & Qt::WindowMaximizeButtonHint);
}

TEST_F(MainFrameTest, PlacementIsClampedOnOpeningAndStoredOnClosing)
{
    const QScreen *screen = QGuiApplication::primaryScreen();
    const QRect work = screen->availableGeometry();
    const int icon = frame->style()->pixelMetric(QStyle::PM_LargeIconSize);
    profile->SetProfileInt("Frame", "Top", 20);
    profile->SetProfileInt("Frame", "Left", 5000);
    profile->SetProfileInt("Frame", "Bottom", 420);
    profile->SetProfileInt("Frame", "Right", 5500);
    ASSERT_EQ(profile->Save(), 0);
    Open();
    EXPECT_EQ(frame->geometry(),
              QRect(screen->geometry().right() + 1 - icon, work.y() + 20, 500, 400));

    frame->setGeometry(work.x() + 40, work.y() + 30, 600, 450);
    frame->showMinimized(); // what is stored is the normal rectangle
    frame->close();
    EXPECT_EQ(ReadFramePlacement(*profile), (FramePlacement { 30, 40, 480, 640 }));
    Open();
    EXPECT_EQ(frame->geometry(), QRect(work.x() + 40, work.y() + 30, 600, 450));

    // Damaged values give the default size on screen.
    profile->SetProfileInt("Frame", "Left", -3000);
    ASSERT_EQ(profile->Save(), 0);
    Open();
    EXPECT_TRUE(work.contains(frame->geometry().topLeft()));
    EXPECT_EQ(frame->width(), 640);
}

TEST_F(MainFrameTest, F1ShowsTheContextHelpTopicAtItsButton)
{
    frame->OnCommand(Cmd::Help);
    CHelpBalloon *balloon = OnlyBalloon();
    ASSERT_TRUE(balloon);
    EXPECT_EQ(balloon->windowTitle(), "Vorlund Context Help");
    EXPECT_EQ(balloon->Content().toStdString(), ContextHelpFor(128).text);
    EXPECT_EQ(balloon->TimeoutMs(), 2000);
    // Always on top, delayed close, close on mouse movement (fading is the platform's choice).
    EXPECT_EQ(balloon->Options() & 0x1FFFu, 0x1140u | BalloonOption::DeleteSelf);
    EXPECT_TRUE(balloon->HasIcon());
    EXPECT_EQ(balloon->AnchorOnScreen(), Button(15)->mapToGlobal(Button(15)->rect().center()));
}

TEST_F(MainFrameTest, WhatsThisModeExplainsTheNextClickedButtonOrItem)
{
    // A disabled button still gets its help, and the command does not run.
    frame->OnCommand(Cmd::ContextHelp);
    ASSERT_TRUE(frame->InContextHelpMode());
    QTest::mouseClick(Button(1), Qt::LeftButton);
    EXPECT_FALSE(frame->InContextHelpMode());
    CHelpBalloon *balloon = OnlyBalloon();
    ASSERT_TRUE(balloon);
    EXPECT_EQ(balloon->windowTitle(), "Stop Mode");
    EXPECT_EQ(balloon->TimeoutMs(), 1000);
    EXPECT_EQ(balloon->AnchorOnScreen(), Button(1)->mapToGlobal(Button(1)->rect().center()));
    balloon->close();
    FlushDeletes();

    // A command without a button points at the view's centre.
    frame->OnCommand(Cmd::ContextHelp);
    frame->Action(Cmd::PlayVideo)->trigger();
    balloon = OnlyBalloon();
    ASSERT_TRUE(balloon);
    EXPECT_EQ(balloon->windowTitle(), "Play Video");
    EXPECT_EQ(balloon->AnchorOnScreen(),
              client.widget->mapToGlobal(client.widget->rect().center()));
    balloon->close();
    FlushDeletes();

    // Anything else gets the "no help" balloon; camera 3 has no text of its own.
    for (QWidget *target : { client.widget, Button(11) }) {
        frame->OnCommand(Cmd::ContextHelp);
        QTest::mouseClick(target, Qt::LeftButton);
        balloon = OnlyBalloon();
        ASSERT_TRUE(balloon);
        EXPECT_EQ(balloon->windowTitle(), "No Help on this item.");
        EXPECT_EQ(balloon->Content(), "Click on a button or menu item.");
        balloon->close();
        FlushDeletes();
    }
    EXPECT_TRUE(client.commands.empty());

    // Escape leaves the mode without a balloon.
    frame->OnCommand(Cmd::ContextHelp);
    QTest::keyClick(frame.get(), Qt::Key_Escape);
    EXPECT_FALSE(frame->InContextHelpMode());
    EXPECT_TRUE(ShownBalloons().empty());
}

TEST_F(MainFrameTest, WhatsThisModeOnADisabledMenuItem)
{
    QMenu *command = frame->Popup(1);
    frame->OnCommand(Cmd::ContextHelp);
    command->popup(frame->mapToGlobal(QPoint(10, 10)));
    ASSERT_TRUE(QTest::qWaitForWindowExposed(command));
    QAction *zones = frame->Action(Cmd::TimedZones);
    ASSERT_FALSE(zones->isEnabled());
    QTest::mouseClick(command, Qt::LeftButton, {}, command->actionGeometry(zones).center());
    EXPECT_FALSE(command->isVisible());
    CHelpBalloon *balloon = OnlyBalloon();
    ASSERT_TRUE(balloon);
    EXPECT_EQ(balloon->windowTitle(), "Mask Timed Zones");
    EXPECT_TRUE(client.commands.empty());
}

TEST_F(MainFrameTest, CameraCommandAndDeviceMenusFollowTheView)
{
    frame->RebuildCameraMenu(3);
    QStringList cams;
    for (QAction *a : frame->Popup(2)->actions())
        cams << a->text();
    EXPECT_EQ(cams, QStringList({ "Cam&1", "Cam&2", "Cam&3" }));
    frame->RebuildCameraMenu(1);
    EXPECT_EQ(frame->Popup(2)->actions().size(), 1);

    const std::vector<int> fixed { 132, 133, 162, 0, 141, 144, 155, 0, 137 };
    auto commandIds = [&] {
        std::vector<int> ids = Ids(frame->Popup(1)->actions());
        ids[7] = 0; // the Video Device popup
        return ids;
    };
    frame->RebuildCommandMenu(true, false, true, true);
    std::vector<int> expected = fixed;
    expected.insert(expected.end(), { 157, 119, 0, 125 });
    EXPECT_EQ(commandIds(), expected);
    frame->RebuildCommandMenu(false, true, false, false);
    expected = fixed;
    expected.push_back(158);
    EXPECT_EQ(commandIds(), expected);

    client.enabled = { 113 };
    client.checked = { 113 };
    frame->SetVideoDeviceMenu({ "USB & Camera", "Vorlund Test Camera", "a", "b", "five" });
    QMenu *devices = frame->Popup(1)->actions().at(7)->menu();
    ASSERT_NE(devices, nullptr);
    EXPECT_EQ(Ids(devices->actions()), (std::vector<int> { 112, 113, 114, 115 }));
    EXPECT_EQ(devices->actions().at(0)->text(), "USB && Camera");
    EXPECT_FALSE(frame->Action(112)->isEnabled());
    EXPECT_TRUE(frame->Action(113)->isChecked());
    frame->Action(113)->trigger();
    EXPECT_EQ(client.commands, (std::vector<int> { 113 }));
}

TEST_F(MainFrameTest, AboutBoxShowsBothVersions)
{
    CAboutDlg about(frame.get());
    EXPECT_EQ(about.objectName(), "100");
    EXPECT_EQ(about.findChild<QLabel *>("1036")->text(),
              QString("Vorlund Version ") + VORLUND_VERSION + ".0");
    EXPECT_TRUE(QRegularExpression("^Graphics Version \\d+\\.\\d+(\\.\\d+)?$")
                    .match(about.findChild<QLabel *>("1035")->text())
                    .hasMatch())
        << about.GraphicsText().toStdString();
    EXPECT_EQ(about.findChild<QLabel *>("1053")->text(), "");
}

} // namespace
} // namespace vorlund
