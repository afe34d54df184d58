// The window: the repair command with two chosen files, off the UI thread, with the status
// lines in the view; cancelled dialogs; the capture folder; closing waits for a repair.
#include "AviRepair.h"
#include "AviTestFiles.h"
#include "LockKeys.h"
#include "MainFrame.h"
#include "MendrelView.h"
#include "Notifier.h"
#include "StrictAvi.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QMenuBar>
#include <QSet>
#include <QTest>
#include <QToolBar>
#include <QToolButton>

#include <gtest/gtest.h>

#include <deque>

namespace mendrel::test {
namespace {

class ScriptedChooser : public IFileChooser
{
public:
    std::optional<QString> ChooseAvi(QWidget *, const QString &title,
                                     const QString &folder) override
    {
        asked.push_back({ title, folder });
        if (answers.empty())
            return std::nullopt;
        const QString next = answers.front();
        answers.pop_front();
        return next;
    }
    std::deque<QString> answers; // the files chosen, in turn; then the dialog is cancelled
    std::vector<std::pair<QString, QString>> asked;
};

class MendrelShell : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_oldCwd = QDir::currentPath();
        QDir::setCurrent(QString::fromStdString(m_tmp.Path().string()));
        fs::create_directory(m_tmp / "CaptureData");
        WriteFixedFile(m_tmp / "CaptureData/good.avi", FixedSpec { .frames = 30 });
        WriteFixedFile(m_tmp / "CaptureData/damaged.avi",
                       { .finishedSegments = 0, .finished = false });
    }
    void TearDown() override
    {
        QDir::setCurrent(m_oldCwd);
        QCoreApplication::processEvents();
        EXPECT_TRUE(QApplication::topLevelWidgets().isEmpty());
    }
    QString Path(const std::string &name) const
    {
        return QString::fromStdString((m_tmp / name).string());
    }

    TempFolder m_tmp;
    QString m_oldCwd;
    vorlund::RecordingNotifier m_notifier;
    ScriptedChooser m_chooser;
};

TEST_F(MendrelShell, RepairCommandRepairsAndShowsTheStatusLines)
{
    CMainFrame frame(m_notifier, m_chooser);
    EXPECT_EQ(frame.windowTitle(), "Mendrel");
    QAction *repair = frame.Command(57601);
    ASSERT_NE(repair, nullptr);
    EXPECT_EQ(repair->shortcuts(),
              (QList<QKeySequence> { QKeySequence("Ctrl+R"), QKeySequence("Ctrl+O") }));
    EXPECT_FALSE(frame.Command(57616)->isEnabled()); // "Recent File" stays a disabled item
    EXPECT_EQ(frame.View()->StatusText(), "Ready.\n");

    // The name without extension gets ".avi".
    m_chooser.answers = { Path("CaptureData/damaged"), Path("CaptureData/good.avi") };
    repair->trigger();
    ASSERT_EQ(m_chooser.asked.size(), 2u);
    EXPECT_EQ(m_chooser.asked[0], std::make_pair(QString("Repair Avi File"), Path("CaptureData")));
    EXPECT_EQ(m_chooser.asked[1],
              std::make_pair(QString("Select good Avi File"), Path("CaptureData/damaged.avi")));
    ASSERT_EQ(m_notifier.entries.size(), 1u);
    EXPECT_EQ(m_notifier.entries[0].text, kSelectGood);

    ASSERT_TRUE(
        QTest::qWaitFor([&] { return frame.View()->StatusText().endsWith("Finished.\n"); }, 20000));
    EXPECT_EQ(frame.View()->StatusText(),
              "Ready.\nWorking.\nBuilding frame index...\nframes = 60\nFinished.\n");
    ASSERT_TRUE(QTest::qWaitFor([&] { return repair->isEnabled(); }, 20000));
    const StrictResult strict = StrictCheck(m_tmp / "CaptureData/damaged.avi", FixedLayoutExpect());
    EXPECT_TRUE(strict.problems.empty());
    EXPECT_EQ(m_notifier.entries.size(), 1u);
}

TEST_F(MendrelShell, ARefusedRepairShowsItsBox)
{
    // Two index chunks list the same frames: the repair writes nothing and says why.
    WriteFixedFile(m_tmp / "CaptureData/damaged.avi", FramesIndexedTwice());
    const std::vector<uint8_t> before = ReadAll(m_tmp / "CaptureData/damaged.avi");
    CMainFrame frame(m_notifier, m_chooser);
    m_chooser.answers = { Path("CaptureData/damaged.avi"), Path("CaptureData/good.avi") };
    frame.Command(57601)->trigger();
    ASSERT_TRUE(QTest::qWaitFor([&] { return m_notifier.entries.size() == 2; }, 20000));
    EXPECT_EQ(m_notifier.entries[1].text, kIndexMismatch);
    EXPECT_EQ(frame.View()->StatusText(), "Ready.\nWorking.\nBuilding frame index...\nFinished.\n");
    EXPECT_EQ(ReadAll(m_tmp / "CaptureData/damaged.avi"), before);
}

struct FakeLockKeys : ILockKeys
{
    explicit FakeLockKeys(LockKeyState &state) : state(state) { }
    LockKeyState Query() override { return state; }
    LockKeyState &state;
};

TEST_F(MendrelShell, StatusBarShowsTheMessageAndTheThreeLockKeys)
{
    LockKeyState keys { .caps = true, .scroll = true };
    CMainFrame frame(m_notifier, m_chooser, std::make_unique<FakeLockKeys>(keys));
    auto panes = [&] {
        return frame.PaneText(0) + "|" + frame.PaneText(CMainFrame::kCapsPane) + "|"
            + frame.PaneText(CMainFrame::kNumPane) + "|" + frame.PaneText(CMainFrame::kScrollPane);
    };
    EXPECT_EQ(panes(), "Ready|CAPS||SCRL");
    // A command's prompt goes to the message pane, its second line to the tooltip.
    EXPECT_EQ(frame.Command(57601)->statusTip(), "Open an existing document");
    EXPECT_EQ(frame.Command(57601)->toolTip(), "Open");
    // The panes follow the keys by themselves.
    keys = { .num = true };
    EXPECT_TRUE(QTest::qWaitFor([&] { return panes() == "Ready||NUM|"; }));
}

// Whether a picture has something to see: opaque pixels in more than one colour.
bool ShowsSomething(const QImage &image)
{
    QSet<QRgb> colours;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            if (qAlpha(image.pixel(x, y)) > 128)
                colours.insert(image.pixel(x, y));
        }
    }
    return colours.size() > 1;
}

bool IsGrey(const QImage &image)
{
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QRgb c = image.pixel(x, y);
            if (qAlpha(c) > 128
                && (std::abs(qRed(c) - qGreen(c)) > 24 || std::abs(qGreen(c) - qBlue(c)) > 24))
                return false;
        }
    }
    return true;
}

TEST_F(MendrelShell, ToolbarButtonsShowPicturesAndNoWords)
{
    CMainFrame frame(m_notifier, m_chooser);
    frame.show();
    auto *bar = frame.findChild<QToolBar *>(QStringLiteral("128"));
    ASSERT_NE(bar, nullptr);
    EXPECT_EQ(bar->toolButtonStyle(), Qt::ToolButtonIconOnly);
    const std::pair<int, const char *> buttons[]
        = { { 57600, "New" },  { 57601, "Open" },  { 57603, "Save" },  { 57635, "Cut" },
            { 57634, "Copy" }, { 57637, "Paste" }, { 57607, "Print" }, { 57664, "About" } };
    QList<QAction *> onBar;
    for (QAction *a : bar->actions()) {
        if (!a->isSeparator())
            onBar.push_back(a);
    }
    ASSERT_EQ(onBar.size(), qsizetype(std::size(buttons)));
    for (size_t i = 0; i < std::size(buttons); ++i) {
        const auto [id, tip] = buttons[i];
        SCOPED_TRACE(id);
        QAction *a = onBar[qsizetype(i)];
        EXPECT_EQ(a, frame.Command(id));
        EXPECT_EQ(a->toolTip(), tip);
        auto *button = qobject_cast<QToolButton *>(bar->widgetForAction(a));
        ASSERT_NE(button, nullptr);
        EXPECT_EQ(button->toolButtonStyle(), Qt::ToolButtonIconOnly);
        const QImage normal = a->icon().pixmap(16, 16).toImage();
        EXPECT_TRUE(ShowsSomething(normal));
        // A command without a handler shows its picture greyed.
        const QImage disabled = a->icon().pixmap(16, 16, QIcon::Disabled).toImage();
        EXPECT_TRUE(ShowsSomething(disabled));
        if (!a->isEnabled()) {
            EXPECT_TRUE(IsGrey(button->grab().toImage()));
        }
    }
    EXPECT_FALSE(frame.Command(57635)->isEnabled());
    EXPECT_TRUE(frame.Command(57601)->isEnabled());
    EXPECT_FALSE(IsGrey(bar->widgetForAction(frame.Command(57601))->grab().toImage()));
}

TEST_F(MendrelShell, CancelledDialogsDoNothing)
{
    const std::vector<uint8_t> before = ReadAll(m_tmp / "CaptureData/damaged.avi");
    for (const int cancelAt : { 0, 1 }) {
        SCOPED_TRACE(cancelAt);
        CMainFrame frame(m_notifier, m_chooser);
        m_notifier.entries.clear();
        m_chooser.asked.clear();
        m_chooser.answers.clear();
        if (cancelAt == 1)
            m_chooser.answers = { Path("CaptureData/damaged.avi") };
        frame.Command(57601)->trigger();
        QCoreApplication::processEvents();
        EXPECT_EQ(m_chooser.asked.size(), size_t(cancelAt + 1));
        EXPECT_EQ(m_notifier.entries.size(), size_t(cancelAt));
        EXPECT_EQ(frame.View()->StatusText(), "Ready.\n");
        EXPECT_TRUE(frame.Command(57601)->isEnabled());
    }
    EXPECT_EQ(ReadAll(m_tmp / "CaptureData/damaged.avi"), before);
}

TEST_F(MendrelShell, ClosingWaitsForARunningRepair)
{
    WriteFixedFile(m_tmp / "CaptureData/damaged.avi",
                   { .frames = 3000, .finishedSegments = 0, .finished = false });
    {
        CMainFrame frame(m_notifier, m_chooser);
        frame.show();
        m_chooser.answers = { Path("CaptureData/damaged.avi"), Path("CaptureData/good.avi") };
        frame.Command(57601)->trigger();
        QCoreApplication::sendPostedEvents(frame.View(), QEvent::Type(WM_REPAIR_START));
        EXPECT_FALSE(frame.Command(57601)->isEnabled());
        frame.close();
        EXPECT_TRUE(frame.View()->StatusText().endsWith("Finished.\n"));
    }
    EXPECT_TRUE(
        StrictCheck(m_tmp / "CaptureData/damaged.avi", FixedLayoutExpect()).problems.empty());
}

TEST(MendrelShellFolders, WorkingFolderAndCaptureFolder)
{
    TempFolder tmp;
    const QString dir = QString::fromStdString(tmp.Path().string());
    const std::pair<QString, QString> cases[] = {
        { dir, dir }, { dir + "/", dir }, { dir + "//", dir },
        { "/", "/" }, { "", "" },         { dir + "/missing", "" },
    };
    for (const auto &[cwd, want] : cases)
        EXPECT_EQ(CMendrelView::WorkingFolderFrom(cwd), want) << cwd.toStdString();

    // Started in a folder, the first dialog opens in its CaptureData.
    const QString old = QDir::currentPath();
    QDir::setCurrent(dir);
    vorlund::RecordingNotifier notifier;
    ScriptedChooser chooser;
    CMendrelView view(notifier, chooser);
    EXPECT_EQ(view.CaptureFolder(), dir + "/CaptureData");
    EXPECT_TRUE(notifier.entries.empty());

    // A folder that is gone cannot be the working folder.
    fs::create_directory(tmp / "gone");
    QDir::setCurrent(dir + "/gone");
    fs::remove(tmp / "gone");
    CMendrelView lost(notifier, chooser);
    EXPECT_TRUE(lost.CaptureFolder().isEmpty());
    ASSERT_EQ(notifier.entries.size(), 1u);
    EXPECT_EQ(notifier.entries[0].text, "Current working directory is invalid!");
    QDir::setCurrent(old);
}

} // namespace
} // namespace mendrel::test
