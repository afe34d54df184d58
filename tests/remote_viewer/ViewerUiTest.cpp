#include "Dialogs.h"
#include "HostConnection.h"
#include "LinkMessageEvent.h"
#include "MainFrame.h"
#include "ViewTestServer.h"
#include "ViewerSettings.h"
#include "VorlundRemoteView.h"

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QStatusBar>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolBar>

#include <gtest/gtest.h>

#include <memory>

using namespace vorlund;
using namespace vorlund::viewer;

namespace {

class ViewerUi : public ::testing::Test
{
protected:
    void SetUp() override { QSettings().clear(); }
    void TearDown() override
    {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        EXPECT_TRUE(QApplication::topLevelWidgets().isEmpty());
    }
};

// Answers a modal dialog once it is up.
template <typename Dialog, typename F> void WhenShown(F f)
{
    QTimer::singleShot(0, [f] {
        for (QWidget *w : QApplication::topLevelWidgets())
            if (auto *d = qobject_cast<Dialog *>(w); d && d->isVisible())
                f(*d);
    });
}

TEST_F(ViewerUi, ConfigurationEnablesHostAndPortInManualModeOnly)
{
    RecordingNotifier notifier;
    CConfiguration dlg(notifier);
    dlg.m_HostList = { "a", "b", "" };
    dlg.m_Port = 49330;
    dlg.m_Quality = 45;
    dlg.m_Mode = 0;
    dlg.open();
    auto *manual = dlg.findChild<QRadioButton *>("1010");
    auto *automatic = dlg.findChild<QRadioButton *>("1009");
    const auto enabled = [&](const char *id) {
        bool all = true;
        for (QWidget *w : dlg.findChildren<QWidget *>(id))
            all = all && w->isEnabled();
        return all;
    };
    for (bool manualMode : { false, true, false }) {
        (manualMode ? manual : automatic)->click();
        for (const char *id : { "1000", "1005", "65535" })
            EXPECT_EQ(enabled(id), manualMode) << id;
        for (const char *id : { "1001", "1015", "1014" })
            EXPECT_TRUE(enabled(id)) << id;
    }
    EXPECT_EQ(dlg.findChild<QComboBox *>("1000")->count(), 2);
    dlg.reject();
}

TEST_F(ViewerUi, ConfigurationOkAppliesTheRules)
{
    const struct
    {
        const char *what;
        const char *host;
        const char *port;
        const char *quality;
        bool manual;
        bool accepted;
        std::array<QString, 3> hosts;
        int port_;
        int quality_;
    } cases[] = {
        { "quality 90 is stored as 60",
          "a",
          "49330",
          "90",
          false,
          true,
          { "a", "b", "c" },
          49330,
          60 },
        { "52 as 50", "a", "49330", "52", false, true, { "a", "b", "c" }, 49330, 50 },
        { "42 as 45", "a", "49330", "42", false, true, { "a", "b", "c" }, 49330, 45 },
        { "a new Manual host goes first",
          "d",
          "5000",
          "45",
          true,
          true,
          { "d", "a", "b" },
          5000,
          45 },
        { "the second host swaps with the first",
          "b",
          "5000",
          "45",
          true,
          true,
          { "b", "a", "c" },
          5000,
          45 },
        { "Automatic leaves host and port",
          "d",
          "5000",
          "45",
          false,
          true,
          { "a", "b", "c" },
          49330,
          45 },
        { "port 0 is refused", "a", "0", "45", true, false, { "a", "b", "c" }, 49330, 45 },
        { "quality 4 is refused", "a", "1", "4", true, false, { "a", "b", "c" }, 49330, 45 },
    };
    for (const auto &c : cases) {
        ViewerSettings settings;
        settings.hosts = { "a", "b", "c" };
        RecordingNotifier notifier;
        WhenShown<CConfiguration>([&](CConfiguration &dlg) {
            dlg.findChild<QRadioButton *>(c.manual ? "1010" : "1009")->click();
            dlg.findChild<QComboBox *>("1000")->setEditText(c.host);
            dlg.findChild<QLineEdit *>("1005")->setText(c.port);
            dlg.findChild<QLineEdit *>("1001")->setText(c.quality);
            dlg.accept();
            if (dlg.isVisible())
                dlg.reject();
        });
        EXPECT_EQ(RunConfiguration(settings, notifier, nullptr), c.accepted) << c.what;
        EXPECT_EQ(settings.hosts, c.hosts) << c.what;
        EXPECT_EQ(settings.port, c.port_) << c.what;
        EXPECT_EQ(settings.quality, c.quality_) << c.what;
        EXPECT_EQ(notifier.entries.size(), c.accepted ? 0U : 1U) << c.what;
    }
}

TEST_F(ViewerUi, PasswordDialogSendsItsTextToTheServer)
{
    QTcpServer server;
    ASSERT_TRUE(server.listen(QHostAddress::LocalHost, 0));
    QObject view;
    QueuedLinkSink sink(&view);
    RecordingNotifier notifier;
    std::vector<uint8_t> frame(size_t(921600));
    CHostConnection conn(sink, notifier, frame);
    conn.ConnectHost("127.0.0.1", server.serverPort(), 45, 32, "");
    ASSERT_TRUE(QTest::qWaitFor([&] { return server.hasPendingConnections(); }));
    QTcpSocket *peer = server.nextPendingConnection();

    CPassword dlg;
    dlg.open();
    QTest::keyClicks(dlg.findChild<QLineEdit *>("1006"), "letmein-and-more-than-15");
    dlg.accept();
    ASSERT_EQ(dlg.result(), QDialog::Accepted);
    EXPECT_EQ(dlg.m_Password, "letmein-and-mor");
    conn.SendPassword(dlg.m_Password.toStdString());

    QByteArray got;
    ASSERT_TRUE(QTest::qWaitFor([&] {
        got += peer->readAll();
        return got.size() >= 8 + 20;
    }));
    EXPECT_EQ(got.mid(8), QByteArray(">p\x0f") + "letmein-and-mor\r\n");
    conn.CloseLink();
}

TEST_F(ViewerUi, TextDialogsRefuseControlCharacters)
{
    CLogin login;
    login.m_LoginId = "me@example.org";
    login.open();
    auto *id = login.findChild<QLineEdit *>("1008");
    EXPECT_EQ(id->text(), "me@example.org");
    EXPECT_EQ(id->maxLength(), 51);
    id->setText("me@example.org\r\n>k");
    login.accept();
    EXPECT_TRUE(login.isVisible());
    id->setText("you@example.org");
    login.accept();
    EXPECT_EQ(login.m_LoginId, "you@example.org");

    CPassword password;
    password.open();
    password.findChild<QLineEdit *>("1006")->setText("a\x01");
    password.accept();
    EXPECT_TRUE(password.isVisible());
    password.reject();
}

class FakeView : public IRemoteView
{
public:
    QWidget *Widget() override { return widget; }
    void OnCommand(int id) override { commands.push_back(id); }
    bool IsCommandEnabled(int id) const override { return id == ID_HOST_CONNECT; }
    bool IsCommandChecked(int id) const override { return id == ID_CAM1 + 1; }
    void OnHostDisconnect() override { ++disconnects; }

    QWidget *widget = new QWidget; // the frame takes it
    std::vector<int> commands;
    int disconnects = 0;
};

TEST_F(ViewerUi, MainFrameRoutesCommandsAndRemembersItsRectangle)
{
    QSettings profile;
    auto view = std::make_unique<FakeView>();
    {
        CMainFrame frame(profile, *view);
        frame.show();
        EXPECT_EQ(frame.windowTitle(), "Vorlund-Remote");
        EXPECT_TRUE(frame.Action(ID_HOST_CONNECT)->isEnabled());
        EXPECT_FALSE(frame.Action(ID_HOST_DISCONNECT)->isEnabled());
        EXPECT_FALSE(frame.Action(57600)->isEnabled());
        EXPECT_TRUE(frame.Action(ID_CAM1 + 1)->isChecked());
        EXPECT_FALSE(frame.Action(ID_CAM1)->isChecked());
        frame.Action(ID_HOST_CONNECT)->trigger();
        frame.Action(ID_VIEW_TOOLBAR)->trigger();
        EXPECT_FALSE(frame.ToolBar()->isVisible());
        EXPECT_EQ(view->commands, (std::vector<int> { ID_HOST_CONNECT, ID_VIEW_TOOLBAR }));

        frame.SetStatusText("Live view");
        frame.SetRateText("12");
        frame.SetQualityText("Q45");
        frame.SetModeText("Manual");
        EXPECT_EQ(frame.PaneText(101), "Live view");
        EXPECT_EQ(frame.PaneText(102), "12");
        EXPECT_EQ(frame.PaneText(106), "Q45");
        EXPECT_EQ(frame.PaneText(0), "Manual");

        frame.showMaximized();
        EXPECT_TRUE(QTest::qWaitFor([&] { return !frame.isMaximized(); }));
        frame.showMinimized();
        EXPECT_TRUE(QTest::qWaitFor([&] { return frame.IsMinimised(); }));
        frame.showNormal();
        EXPECT_TRUE(QTest::qWaitFor([&] { return !frame.IsMinimised(); }));

        bool helpShown = false;
        WhenShown<CmyHelp>([&](CmyHelp &help) {
            helpShown = help.windowTitle() == "Vorlund-Remote Help";
            help.accept();
        });
        QTest::keyClick(&frame, Qt::Key_F1);
        EXPECT_TRUE(helpShown);

        frame.setGeometry(100, 120, 700, 560);
        frame.close();
        EXPECT_EQ(view->disconnects, 1);
    }
    const auto rect = LoadFrameRect(profile);
    ASSERT_TRUE(rect);
    EXPECT_EQ(rect->right - rect->left, 700);
    EXPECT_EQ(rect->bottom - rect->top, 560);
}

TEST_F(ViewerUi, ViewShowsEachCameraInItsQuadrant)
{
    using namespace vorlund::viewer::test;
    ViewTestServer server;
    const std::array<QColor, 4> colours { QColor(230, 20, 20), QColor(20, 230, 20),
                                          QColor(20, 20, 230), QColor(230, 230, 20) };
    server.picture = [&](int camera) {
        const QColor c = colours[size_t(camera - 1)];
        return SolidJpeg(320, 240, uint8_t(c.red()), uint8_t(c.green()), uint8_t(c.blue()));
    };
    QSettings profile;
    profile.setValue("Mode", 1);
    profile.setValue("Host Port", QString::number(server.Port()));
    RecordingNotifier notifier;
    QTemporaryDir folder;
    auto *view = new CVorlundRemoteView(profile, notifier, folder.path());
    {
        CMainFrame frame(profile, *view);
        frame.show();
        view->OnInitialUpdate(); // Manual mode: no login, no connection yet
        EXPECT_TRUE(frame.Action(ID_HOST_CONNECT)->isEnabled());
        frame.Action(ID_HOST_CONNECT)->trigger();
        ASSERT_TRUE(QTest::qWaitFor([&] { return server.framesSent >= 8; }, 10000));
        frame.UpdateCommandUi();
        EXPECT_FALSE(frame.Action(ID_HOST_CONNECT)->isEnabled());
        EXPECT_TRUE(frame.Action(ID_HOST_DISCONNECT)->isEnabled());
        EXPECT_TRUE(frame.Action(ID_CAM1 + 3)->isEnabled());
        EXPECT_EQ(frame.PaneText(0), "Manual");
        EXPECT_EQ(frame.PaneText(101), "Live view");
        EXPECT_EQ(frame.PaneText(106), "Q45");
        EXPECT_EQ(view->size(), QSize(640, 480));

        const auto quadrantsShow = [&](int w, int h) {
            const QImage shot = view->grab().toImage();
            bool all = true;
            for (int camera = 1; camera <= 4; ++camera) {
                const QPoint centre(((camera - 1) % 2) * w + w / 2, ((camera - 1) / 2) * h + h / 2);
                const QColor got = shot.pixelColor(centre);
                const QColor want = colours[size_t(camera - 1)];
                all = all && std::abs(got.red() - want.red()) < 10
                    && std::abs(got.green() - want.green()) < 10
                    && std::abs(got.blue() - want.blue()) < 10;
            }
            return all;
        };
        EXPECT_TRUE(quadrantsShow(320, 240));

        // A click takes camera 2 for PTZ; "w" makes the pictures 400 x 300 (the server still
        // sends 320 x 240, which the view resamples).
        QTest::mouseClick(view, Qt::LeftButton, {}, QPoint(400, 100));
        EXPECT_EQ(frame.PaneText(101), "PTZ On");
        QTest::mouseClick(view, Qt::LeftButton, {}, QPoint(400, 100));
        EXPECT_EQ(frame.PaneText(101), "Live view");
        QTest::keyClick(view, Qt::Key_W);
        ASSERT_TRUE(QTest::qWaitFor(
            [&] {
                for (const auto &r : server.requests)
                    if (r.size() == 6 && r[1] == 'c' && r[3] == 40)
                        return true;
                return false;
            },
            10000));
        const int sent = server.framesSent;
        ASSERT_TRUE(QTest::qWaitFor([&] { return server.framesSent >= sent + 8; }, 10000));
        EXPECT_EQ(view->size(), QSize(800, 600));
        EXPECT_TRUE(quadrantsShow(400, 300));
        size_t clicks = 0;
        for (const auto &r : server.requests)
            clicks += r == ">k\xFE\r\n";
        EXPECT_EQ(clicks, 2U);
        frame.close();
        EXPECT_EQ(frame.PaneText(101), "No Connection");
    }
    EXPECT_EQ(profile.value("Image/Width").toInt(), 400);
    EXPECT_TRUE(notifier.entries.empty());
}

} // namespace
