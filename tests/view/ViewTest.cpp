#include "CVorlundView.h"
#include "Desktop.h"
#include "IdleDlg.h"
#include "PlayVideo.h"
#include "ServerFixture.h"
#include "ServerNotifier.h"

#include <QApplication>
#include <QFileDialog>
#include <QHeaderView>
#include <QImage>
#include <QLabel>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPushButton>
#include <QSettings>
#include <QSpinBox>
#include <QStyleOptionViewItem>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTreeView>
#include <gtest/gtest.h>

#include <chrono>
#include <fcntl.h>
#include <fstream>
#include <sys/file.h>
#include <thread>
#include <unistd.h>

using namespace vorlund;

namespace {

struct ViewTest : ::testing::Test
{
    ViewTest()
    {
        options.workingFolder = folder.path;
        options.makeGraph = [this](ServerContext &) {
            auto graph = std::make_unique<test::FakeTopics>();
            graph->built = false;
            graph->videoDevices = devices;
            fake = graph.get();
            return std::unique_ptr<ICaptureGraph>(std::move(graph));
        };
    }
    std::unique_ptr<CVorlundView> MakeView()
    {
        return std::make_unique<CVorlundView>(*profile, notifier, options);
    }

    test::TempFolder folder;
    std::unique_ptr<Profile> profile = std::make_unique<Profile>(folder.path / "Vorlund.INI");
    RecordingNotifier notifier;
    ViewCore::Options options;
    std::vector<std::string> devices { "Vorlund Test Camera" };
    test::FakeTopics *fake = nullptr;
};

// Fills camera `camera`'s live frame with one colour and marks cells as hit.
void Paint(EngineState &engine, int camera, int width, int height, uint8_t grey)
{
    std::vector<uint8_t> frame(size_t(width) * height * 3, grey);
    engine.WriteLiveFrame(camera, frame.data(), frame.size());
}

TEST_F(ViewTest, StartupOpensTheDeviceOrSaysThereIsNone)
{
    auto view = MakeView();
    view->Core().OnInitialUpdate();
    EXPECT_TRUE(notifier.entries.empty());
    EXPECT_TRUE(view->Core().View().DeviceReady);
    EXPECT_EQ(view->Core().Settings().Config.DeviceName, "Vorlund Test Camera");
    EXPECT_TRUE(view->Core().IsCommandEnabled(132));
    EXPECT_TRUE(std::filesystem::is_directory(folder.path / "CaptureData"));
    // A fresh folder's first camera records, snaps and detects as a new view's settings say.
    EXPECT_TRUE(view->Core().Engine().SnapOnMotion[1]);
    EXPECT_TRUE(view->Core().Engine().RecordOnMotion[1]);
    EXPECT_TRUE(view->Core().Engine().MotionEnabled[1]);

    devices.clear();
    auto none = MakeView();
    none->Core().OnInitialUpdate();
    ASSERT_EQ(notifier.entries.size(), 1u);
    EXPECT_EQ(notifier.entries[0].caption, "Vorlund - no devices");
    EXPECT_FALSE(none->Core().IsCommandEnabled(132));
}

TEST_F(ViewTest, NoUsableWorkingFolderWritesNothing)
{
    options.workingFolder = "/";
    auto view = MakeView();
    ASSERT_EQ(notifier.entries.size(), 1u);
    EXPECT_EQ(notifier.entries[0].text, "Current working directory is invalid!");
    EXPECT_FALSE(std::filesystem::exists("/CaptureData"));
}

TEST_F(ViewTest, LayoutFollowsTheCameraCount)
{
    auto view = MakeView();
    view->Core().View().DisplayWidth = 320;
    view->Core().View().DisplayHeight = 240;
    const std::pair<int, QSize> cases[]
        = { { 1, { 320, 240 } }, { 2, { 640, 240 } }, { 3, { 640, 480 } }, { 4, { 640, 480 } } };
    for (auto [cameras, size] : cases) {
        view->Core().Engine().CameraCount = cameras;
        view->UpdateLayout(0, 0);
        EXPECT_EQ(view->size(), size) << cameras;
    }
}

// Repaints are asked for only while someone can see the window.
TEST_F(ViewTest, ShownOnlyWhileVisibleExposedAndNotMinimised)
{
    auto view = MakeView();
    // The window system answers in its own time: wait (bounded) for the state asked for.
    auto settles = [&](bool shown) {
        for (int i = 0; i < 200 && view->IsShown() != shown; ++i) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return view->IsShown() == shown;
    };
    EXPECT_FALSE(view->IsShown()); // never shown
    view->show();
    EXPECT_TRUE(settles(true));
    view->showMinimized();
    EXPECT_TRUE(settles(false));
    view->showNormal();
    EXPECT_TRUE(settles(true));
    view->hide();
    EXPECT_TRUE(settles(false));
}

TEST_F(ViewTest, TilesAndOverlaysWhereTheGridPutsThem)
{
    auto view = MakeView();
    ViewCore &core = view->Core();
    ViewState &state = core.View();
    EngineState &engine = core.Engine();
    state.Idle = false;
    state.DisplayWidth = 160;
    state.DisplayHeight = 120;
    state.Grid = ComputeZoneGrid(160, 120);
    engine.CameraCount = 2;
    view->UpdateLayout(0, 0);
    Paint(engine, 1, 160, 120, 40);
    Paint(engine, 2, 160, 120, 200);

    // A countdown shows the current camera's hit cells as white boxes.
    engine.CurrentCamera = 1;
    engine.RecordCountdown = 10;
    engine.HitMap[1][9] = 1;
    QImage shot = view->grab().toImage();
    const GridRect hit = state.Grid.cells[1][9];
    const GridRect quiet = state.Grid.cells[1][20];
    EXPECT_EQ(shot.pixelColor(hit.left, (hit.top + hit.bottom) / 2), QColor(Qt::white));
    EXPECT_EQ(shot.pixelColor(quiet.left + 1, (quiet.top + quiet.bottom) / 2).red(), 40);
    EXPECT_EQ(shot.pixelColor(240, 60).red(), 200) << "camera 2 drawn beside camera 1";

    // Timed Zones: an unwatched cell is crossed, a watched one boxed.
    engine.RecordCountdown = 0;
    state.TimedZonesOpen = true;
    state.EditZone = 2;
    ZoneMaskBytes mask;
    mask.fill(1);
    mask[20] = 0;
    engine.SetZoneMask(1, 2, mask);
    shot = view->grab().toImage();
    const QPoint centre((quiet.left + quiet.right) / 2, (quiet.top + quiet.bottom) / 2);
    EXPECT_EQ(shot.pixelColor(centre), QColor(Qt::white)) << "cross through the centre";
    const GridRect watched = state.Grid.cells[1][21];
    EXPECT_NE(
        shot.pixelColor((watched.left + watched.right) / 2, (watched.top + watched.bottom) / 2),
        QColor(Qt::white));
}

TEST_F(ViewTest, StoppedPictureIsDimmedInACopyAndUpright)
{
    auto view = MakeView();
    ViewCore &core = view->Core();
    core.View().DisplayWidth = 64;
    core.View().DisplayHeight = 48;
    view->UpdateLayout(0, 0);
    // Top rows red, the rest grey; rows are kept bottom-up.
    std::vector<uint8_t> frame(64 * 48 * 3, 100);
    for (int row = 40; row < 48; ++row)
        for (int x = 0; x < 64; ++x)
            frame[size_t(row * 64 + x) * 3 + 2] = 255, frame[size_t(row * 64 + x) * 3] = 0;
    core.Engine().WriteLiveFrame(1, frame.data(), frame.size());
    const QImage shot = view->grab().toImage();
    EXPECT_EQ(shot.pixelColor(1, 2), QColor(255, 100, 0)) << "red at the top";
    EXPECT_EQ(shot.pixelColor(0, 20), QColor(Qt::black)) << "every other pixel dimmed";
    EXPECT_EQ(shot.pixelColor(1, 20), QColor(100, 100, 100));
    std::vector<uint8_t> after;
    core.Engine().CopyLiveFrameOut(1, after, frame.size());
    EXPECT_EQ(after, frame) << "the live frame itself is untouched";

    // Written straight into a 32-bit target at an offset, or through a tile image into any
    // other: the same picture.
    QImage direct(80, 60, QImage::Format_RGB32), copied(80, 60, QImage::Format_RGB888);
    direct.fill(Qt::green);
    copied.fill(Qt::green);
    view->render(&direct, QPoint(10, 7));
    view->render(&copied, QPoint(10, 7));
    EXPECT_EQ(direct.convertToFormat(QImage::Format_RGB888), copied);
    EXPECT_EQ(direct.pixelColor(11, 9), QColor(255, 100, 0));
}

TEST_F(ViewTest, IntroPictureOfAnySizeIsClipped)
{
    QImage intro(800, 600, QImage::Format_RGB32);
    intro.fill(QColor(0, 0, 255));
    intro.save(QString::fromStdString((folder.path / "vl_intro1.bmp").string()), "BMP");
    auto view = MakeView();
    view->Core().OnInitialUpdate();
    EXPECT_EQ(view->Core().View().DisplayWidth, 720);
    EXPECT_EQ(view->Core().View().DisplayHeight, 576);
    EXPECT_EQ(view->size(), QSize(720, 576));
    EXPECT_EQ(view->grab().toImage().pixelColor(700, 500), QColor(0, 0, 255)) << "undimmed";
}

TEST_F(ViewTest, PlayVideoChecks)
{
    const auto make = [&](const char *name, size_t size) {
        const std::filesystem::path path = folder.path / name;
        std::filesystem::create_directories(path.parent_path());
        std::ofstream(path).close();
        std::filesystem::resize_file(path, size);
        return path;
    };
    const auto small = make("small.avi", 130564);
    const auto big = make("big.avi", 130565);
    make("noext.avi", 200000);
    const auto dotted = make("a.b/clip", 200000);
    const auto recording = make("v12-08-2026-2300.avi", 500000);

    struct Case
    {
        std::filesystem::path path;
        PlayVideoVerdict verdict;
        std::filesystem::path tried;
    };
    const Case cases[] = {
        { small, PlayVideoVerdict::NoVideo, small },
        { big, PlayVideoVerdict::Play, big },
        { folder.path.string() + "/noext", PlayVideoVerdict::Play, folder.path / "noext.avi" },
        { dotted, PlayVideoVerdict::Play, dotted }, // a dot in a folder name counts
        { recording, PlayVideoVerdict::InUse, recording },
        { folder.path / "missing.avi", PlayVideoVerdict::CannotOpen, {} },
    };
    for (const Case &c : cases) {
        std::filesystem::path path = c.path;
        EXPECT_EQ(CheckVideoToPlay(path, recording), c.verdict) << c.path;
        if (!c.tried.empty()) {
            EXPECT_EQ(path, c.tried);
        }
    }
    // A recorder holding its file locked (another open file description).
    const int fd = open(big.c_str(), O_RDONLY);
    ASSERT_EQ(flock(fd, LOCK_EX), 0);
    std::filesystem::path path = big;
    EXPECT_EQ(CheckVideoToPlay(path, {}), PlayVideoVerdict::InUse);
    close(fd);
    EXPECT_EQ(CheckVideoToPlay(path, {}), PlayVideoVerdict::Play);
}

// Play Video on a desktop without a player: the chosen recording is named in a box and the
// dialog stays open for the next one.
TEST_F(ViewTest, PlayVideoWithoutAPlayerSaysWhichFile)
{
    struct NoOpener : IDesktop
    {
        bool OpenDocument(const std::filesystem::path &file, std::function<void()>) override
        {
            opened.push_back(file);
            return false;
        }
        bool StartDetached(const std::filesystem::path &, const std::filesystem::path &) override
        {
            return false;
        }
        std::vector<std::filesystem::path> opened;
    } desktop;
    options.desktop = &desktop;
    auto view = MakeView();
    view->Core().OnInitialUpdate();
    const std::filesystem::path clip = view->Core().View().VideoFolder / "clip.avi";
    std::filesystem::create_directories(clip.parent_path());
    std::ofstream(clip).close();
    std::filesystem::resize_file(clip, 200000);
    bool stayedOpen = false;
    QTimer::singleShot(0, [&] {
        auto *dialog = qobject_cast<QFileDialog *>(QApplication::activeModalWidget());
        ASSERT_NE(dialog, nullptr);
        dialog->selectFile(QString::fromStdString(clip.string()));
        static_cast<QDialog *>(dialog)->accept(); // the product's own accept
        stayedOpen = dialog->isVisible();
        dialog->reject();
    });
    notifier.entries.clear();
    view->Core().OnCommand(Cmd::PlayVideo);
    EXPECT_TRUE(stayedOpen);
    ASSERT_EQ(desktop.opened.size(), 1u);
    EXPECT_EQ(desktop.opened[0], clip);
    ASSERT_EQ(notifier.entries.size(), 1u);
    EXPECT_EQ(notifier.entries[0].text, NoOpenerText(clip));
}

// The list's size, type and date columns show their whole text once the folder is listed.
TEST_F(ViewTest, PlayVideoColumnsFitTheirText)
{
    // The file dialog's remembered column widths, as on a first run.
    static QTemporaryDir settings; // for the rest of the run too
    for (const auto format : { QSettings::NativeFormat, QSettings::IniFormat })
        QSettings::setPath(format, QSettings::UserScope, settings.path());
    auto view = MakeView();
    view->Core().OnInitialUpdate();
    const std::filesystem::path clip = view->Core().View().VideoFolder / "v12-10-2026-0148.avi";
    std::filesystem::create_directories(clip.parent_path());
    std::ofstream(clip).close();
    std::filesystem::resize_file(clip, 274432); // "268.00 KiB"
    QStringList cut;
    bool listed = false;
    QTimer::singleShot(0, [&] {
        auto *dialog = qobject_cast<QFileDialog *>(QApplication::activeModalWidget());
        ASSERT_NE(dialog, nullptr);
        auto *list = dialog->findChild<QTreeView *>();
        ASSERT_NE(list, nullptr);
        const QAbstractItemModel *model = list->model();
        listed = QTest::qWaitFor(
            [&] {
                const QModelIndex root = list->rootIndex();
                return model->rowCount(root) > 0
                    && model->index(0, 1, root).data().toString().contains("KiB");
            },
            10000);
        QCoreApplication::processEvents();
        QStyleOptionViewItem option;
        option.initFrom(list);
        const QModelIndex root = list->rootIndex();
        for (int column = 1; column < list->header()->count(); ++column) {
            if (list->isColumnHidden(column))
                continue;
            for (int row = 0; row < model->rowCount(root); ++row) {
                const QModelIndex index = model->index(row, column, root);
                const int needed
                    = list->itemDelegateForIndex(index)->sizeHint(option, index).width();
                if (list->header()->sectionSize(column) < needed)
                    cut << index.data().toString();
            }
        }
        dialog->reject();
    });
    view->Core().OnCommand(Cmd::PlayVideo);
    EXPECT_TRUE(listed);
    EXPECT_TRUE(cut.isEmpty()) << cut.join(", ").toStdString();
}

TEST_F(ViewTest, TimedZonesDialogEditsAndCancelRestores)
{
    auto view = MakeView();
    ViewCore &core = view->Core();
    ViewState &state = core.View();
    EngineState &engine = core.Engine();
    state.Idle = false;
    state.DeviceReady = true;
    state.VideoDeviceNames[0] = "Vorlund Test Camera";
    state.DisplayWidth = 160;
    state.DisplayHeight = 120;
    state.Grid = ComputeZoneGrid(160, 120);
    engine.CurrentZone = 2;
    ZoneMaskBytes all;
    all.fill(1);
    engine.SetZoneMask(1, 2, all);
    engine.SetZoneMask(1, 3, all);
    view->UpdateLayout(0, 0);

    core.OnCommand(144);
    CIdleDlg *dialog = nullptr;
    for (QWidget *w : QApplication::topLevelWidgets())
        if (w->objectName() == "142" && w->isVisible())
            dialog = qobject_cast<CIdleDlg *>(w);
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(dialog->windowTitle(), "Masking\\Timed Zones"); // a caption, not a path
    EXPECT_TRUE(engine.ZoneEditing);
    EXPECT_EQ(qobject_cast<QSpinBox *>(dialog->Control(1005))->value(), 6);

    // A click on a cell centre in the view toggles it in the current zone.
    const GridRect cell = state.Grid.cells[1][12];
    QMouseEvent press(QEvent::MouseButtonPress,
                      QPointF((cell.left + cell.right) / 2.0, (cell.top + cell.bottom) / 2.0),
                      QPointF(), Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(view.get(), &press);
    EXPECT_EQ(engine.ZoneMask[1][2][12], 0);

    qobject_cast<QPushButton *>(dialog->Control(1007))->click();
    EXPECT_EQ(engine.CurrentZone, 3);
    EXPECT_EQ(qobject_cast<QLabel *>(dialog->Control(1004))->text(), "Zone 3");
    QApplication::sendEvent(view.get(), &press);
    EXPECT_EQ(engine.ZoneMask[1][3][12], 0);

    dialog->reject();
    EXPECT_EQ(engine.ZoneMask[1][2][12], 1);
    EXPECT_EQ(engine.ZoneMask[1][3][12], 1);
    EXPECT_FALSE(engine.ZoneEditing);
    EXPECT_FALSE(dialog->isVisible());
}

// The main tick and the pan/tilt/zoom steps (whose length is how far the camera turns) run on
// precise timers.
TEST(QtTimers, TimerTypes)
{
    EXPECT_EQ(TimerTypeFor(MAIN_TICK_TIMER), Qt::PreciseTimer);
    EXPECT_EQ(TimerTypeFor(PTZ_STEP_TIMER), Qt::PreciseTimer);
    EXPECT_EQ(TimerTypeFor(STATUS_TIMER), Qt::CoarseTimer);
}

TEST(ServerNotifier, MessagesNeverBlockAndAreNotRepeated)
{
    ServerNotifier notifier;
    notifier.ShowMessage("Stopped due to serious error!", kErrorBoxCaption);
    notifier.ShowMessage("Stopped due to serious error!", kErrorBoxCaption);
    notifier.ShowMessage("Timedzones are not set properly.", kErrorBoxCaption);
    EXPECT_EQ(notifier.OpenCount(), 2u) << "returned at once, the same text shown once";
    for (QWidget *w : QApplication::topLevelWidgets())
        if (auto *box = qobject_cast<QMessageBox *>(w))
            box->close();
    QCoreApplication::processEvents();
    EXPECT_EQ(notifier.OpenCount(), 0u);
    notifier.ShowMessage("Stopped due to serious error!", kErrorBoxCaption);
    EXPECT_EQ(notifier.OpenCount(), 1u) << "shown again once closed";
    for (QWidget *w : QApplication::topLevelWidgets())
        if (auto *box = qobject_cast<QMessageBox *>(w))
            box->close();
    QCoreApplication::processEvents();

    // Messages of one kind whose texts differ (a count of milliseconds) leave one box.
    const auto timedOut = [](int ms) {
        return "Problem sending email...\nOperation timed out after " + std::to_string(ms)
            + " milliseconds with 0 bytes received";
    };
    notifier.ShowMessageOfKind("mail error", timedOut(30001), kPlainCaption);
    notifier.ShowMessageOfKind("mail error", timedOut(30002), kPlainCaption);
    notifier.ShowMessageOfKind("mail error", timedOut(30004), kPlainCaption);
    EXPECT_EQ(notifier.OpenCount(), 1u);
    notifier.ShowMessage(timedOut(30005), kPlainCaption); // a text of no kind: its own box
    EXPECT_EQ(notifier.OpenCount(), 2u);
    int boxes = 0;
    for (QWidget *w : QApplication::topLevelWidgets())
        if (auto *box = qobject_cast<QMessageBox *>(w); box && box->isVisible()) {
            ++boxes;
            box->close();
        }
    EXPECT_EQ(boxes, 2);
    QCoreApplication::processEvents();
    notifier.ShowMessageOfKind("mail error", timedOut(30003), kPlainCaption);
    EXPECT_EQ(notifier.OpenCount(), 1u) << "shown again once closed";
    for (QWidget *w : QApplication::topLevelWidgets())
        if (auto *box = qobject_cast<QMessageBox *>(w))
            box->close();
    QCoreApplication::processEvents();
}

} // namespace
