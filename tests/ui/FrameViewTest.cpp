// The frame over the real view core, as the program wires them: what menus and buttons show
// comes from the frame's own update path asking the view.
#include "CVorlundView.h"
#include "Launchers.h"
#include "MainFrame.h"
#include "Profile.h"
#include "ServerFixture.h"
#include "ViewClient.h"

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QMenu>
#include <QStatusBar>

#include <gtest/gtest.h>

namespace vorlund {
namespace {

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

class FrameViewTest : public ::testing::Test
{
protected:
    void Open(std::vector<std::string> devices)
    {
        options.workingFolder = folder.path;
        options.makeGraph = [this, devices](ServerContext &) {
            auto graph = std::make_unique<test::FakeTopics>();
            graph->built = false;
            graph->videoDevices = devices;
            fake = graph.get();
            return std::unique_ptr<ICaptureGraph>(std::move(graph));
        };
        view = new CVorlundView(profile, notifier, options); // the frame owns it
        client = std::make_unique<ViewClient>(*view, frame);
        ConnectViewToFrame(*view, frame);
        frame.SetClient(client.get());
        view->Core().OnInitialUpdate();
        frame.UpdateCommandUI();
    }
    void TearDown() override
    {
        if (view)
            view->Core().OnDestroy();
        frame.SetClient(nullptr);
        delete view;
    }
    bool On(int id) const
    {
        QAction *a = frame.Action(id);
        return a && a->isEnabled();
    }
    // The device popup's items as the user sees them: text, enabled, checked.
    std::vector<std::tuple<std::string, bool, bool>> DeviceItems() const
    {
        std::vector<std::tuple<std::string, bool, bool>> items;
        QMenu *devices = nullptr;
        for (QAction *a : frame.Popup(1)->actions())
            if (a->menu() && a->text() == "Video &Device")
                devices = a->menu();
        EXPECT_NE(devices, nullptr);
        if (devices)
            for (QAction *a : devices->actions())
                items.emplace_back(a->text().toStdString(), a->isEnabled(), a->isChecked());
        return items;
    }

    test::TempFolder folder;
    Profile profile { folder.path / "Vorlund.INI" };
    RecordingNotifier notifier;
    NullDesktop desktop;
    ToolLaunchers launchers { folder.path, folder.path, notifier, desktop };
    CMainFrame frame { profile, launchers };
    ViewCore::Options options;
    CVorlundView *view = nullptr;
    std::unique_ptr<ViewClient> client;
    test::FakeTopics *fake = nullptr;
};

// Cameras 106-109 follow the camera count and review mode; the device items are the
// enumerated names only, the current one checked, and only while stopped.
TEST_F(FrameViewTest, CameraAndDeviceItemsFollowTheView)
{
    Open({ "Vorlund Test Camera", "Second Camera" });
    ViewCore &core = view->Core();
    using Items = std::vector<std::tuple<std::string, bool, bool>>;
    struct Case
    {
        int cameras;
        bool running, review;
        std::array<bool, 4> cameraButtons;
        Items devices;
    };
    const Case cases[] = {
        { 1,
          false,
          false,
          { 1, 0, 0, 0 },
          { { "Vorlund Test Camera", true, true }, { "Second Camera", true, false } } },
        { 1,
          true,
          false,
          { 1, 0, 0, 0 },
          { { "Vorlund Test Camera", false, true }, { "Second Camera", false, false } } },
        { 4,
          false,
          false,
          { 1, 1, 1, 1 },
          { { "Vorlund Test Camera", true, true }, { "Second Camera", true, false } } },
        { 4,
          true,
          false,
          { 1, 1, 1, 1 },
          { { "Vorlund Test Camera", false, true }, { "Second Camera", false, false } } },
        { 4,
          true,
          true,
          { 0, 0, 0, 0 },
          { { "Vorlund Test Camera", false, true }, { "Second Camera", false, false } } },
        { 1,
          false,
          true,
          { 0, 0, 0, 0 },
          { { "Vorlund Test Camera", true, true }, { "Second Camera", true, false } } },
    };
    for (const Case &c : cases) {
        core.Engine().CameraCount = c.cameras;
        core.View().Idle = !c.running;
        core.Engine().ReviewMode = c.review ? 1 : 0;
        frame.UpdateCommandUI();
        const std::string where = std::to_string(c.cameras) + " cameras"
            + (c.running ? ", running" : ", stopped") + (c.review ? ", review" : "");
        for (int n = 1; n <= 4; ++n)
            EXPECT_EQ(On(Cmd::CameraCommand(n)), c.cameraButtons[size_t(n - 1)])
                << where << ", camera " << n;
        EXPECT_EQ(DeviceItems(), c.devices) << where;
    }

    // An empty slot has no item, and its id does nothing even when sent.
    core.View().Idle = true;
    core.Engine().ReviewMode = 0;
    EXPECT_EQ(frame.Action(Cmd::DeviceCommand(2)), nullptr);
    frame.OnCommand(Cmd::DeviceCommand(2));
    EXPECT_EQ(core.View().DeviceCommandId, Cmd::Device1);
    EXPECT_EQ(core.Settings().Config.DeviceName, "Vorlund Test Camera");
    // Nor does a listed device while capture runs.
    core.View().Idle = false;
    frame.OnCommand(Cmd::DeviceCommand(1));
    EXPECT_EQ(core.View().DeviceCommandId, Cmd::Device1);

    // Picked while stopped, the second device becomes the checked one and the idle prompt.
    core.View().Idle = true;
    frame.OnCommand(Cmd::DeviceCommand(1));
    EXPECT_EQ(core.View().DeviceCommandId, Cmd::DeviceCommand(1));
    frame.UpdateCommandUI();
    EXPECT_EQ(DeviceItems(),
              (Items { { "Vorlund Test Camera", true, false }, { "Second Camera", true, true } }));
    EXPECT_EQ(frame.IdlePrompt(), "Second Camera");
}

// The status bar's first pane shows the device's name while stopped, not "Ready".
TEST_F(FrameViewTest, IdlePromptIsTheDeviceName)
{
    Open({ "Vorlund Test Camera" });
    EXPECT_TRUE(view->Core().View().Idle);
    EXPECT_EQ(frame.IdlePrompt(), "Vorlund Test Camera");
    auto *prompt = frame.statusBar()->findChild<QLabel *>("0");
    ASSERT_NE(prompt, nullptr);
    EXPECT_EQ(prompt->text(), "Vorlund Test Camera");
}

} // namespace
} // namespace vorlund
