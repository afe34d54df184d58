// The core runs every dialog through the view's IViewDialogs: this test links the core alone,
// no dialog and no widget library.
#include "ConfigApply.h"
#include "DevicePageValues.h"
#include "ServerFixture.h"
#include "ViewCore.h"

#include <QCoreApplication>
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace vorlund {
namespace {

class NoPages : public IDevicePageDialogs
{
public:
    bool RunInputPage(InputPageValues &) override { return false; }
    bool RunCapturePage(CapturePageValues &) override { return false; }
    bool RunFormatPage(FormatPageValues &) override { return false; }
    bool RunTunerPage(TunerPageValues &) override { return false; }
    bool RunAudioDevice(AudioDeviceValues &) override { return false; }
};

// Records each run with what it was handed.
class RecordingDialogs : public IViewDialogs
{
public:
    IDevicePageDialogs &DevicePages() override { return pages; }
    std::unique_ptr<ICameraSettingsWindows> MakeCameraSettings(ServerContext &context,
                                                               MainTick &) override
    {
        calls.push_back("MakeCameraSettings");
        this->context = &context;
        return std::make_unique<Camera>(*this);
    }
    std::unique_ptr<ITimedZonesWindow> MakeTimedZones(TimedZoneEditor &editor) override
    {
        calls.push_back("MakeTimedZones");
        zones = &editor;
        return std::make_unique<Zones>(*this);
    }
    bool RunConfiguration(ServerContext &c, ConfigEnvironment &environment) override
    {
        calls.push_back("RunConfiguration");
        context = &c;
        graph = &environment.graph;
        remote = &environment.remote;
        hasCredentials = bool(environment.RunCredentials);
        hasTestMail = bool(environment.SendTestMail);
        return true;
    }
    bool ChooseVideoCodec(ServerContext &c, ICaptureGraph &g) override
    {
        calls.push_back("ChooseVideoCodec");
        context = &c;
        graph = &g;
        return true;
    }
    bool AskReviewKind(bool &) override
    {
        calls.push_back("AskReviewKind");
        return false;
    }
    void PlayVideo(const std::filesystem::path &videoFolder,
                   const std::filesystem::path &recordingNow, INotifier &n) override
    {
        calls.push_back("PlayVideo");
        folder = videoFolder;
        recording = recordingNow;
        notifier = &n;
    }

    std::vector<std::string> calls;
    NoPages pages;
    ServerContext *context = nullptr;
    ICaptureGraph *graph = nullptr;
    IRemoteLink *remote = nullptr;
    TimedZoneEditor *zones = nullptr;
    INotifier *notifier = nullptr;
    std::filesystem::path folder, recording;
    bool hasCredentials = false, hasTestMail = false;

private:
    class Camera : public ICameraSettingsWindows
    {
    public:
        explicit Camera(RecordingDialogs &d) : m_d(d) { }
        void OnCameraSettings(int id) override { Log("Camera.Open", id); }
        void ApplyLiveSetting(uintptr_t w) override { Log("Camera.Live", int(w)); }
        void OnSettingsDialogClosed(uintptr_t w) override { Log("Camera.Closed", int(w)); }

    private:
        void Log(const char *what, int n) { m_d.calls.push_back(what + (" " + std::to_string(n))); }
        RecordingDialogs &m_d;
    };
    class Zones : public ITimedZonesWindow
    {
    public:
        explicit Zones(RecordingDialogs &d) : m_d(d) { }
        void Show() override { m_d.calls.push_back("TimedZones.Show"); }

    private:
        RecordingDialogs &m_d;
    };
};

struct CoreFixture
{
    CoreFixture()
    {
        options.workingFolder = folder.path;
        options.makeGraph = [this](ServerContext &) {
            auto made = std::make_unique<test::FakeTopics>();
            made->built = false;
            made->recordFile = folder.path / "CaptureData" / "now.avi";
            fake = made.get();
            return std::unique_ptr<ICaptureGraph>(std::move(made));
        };
        core = std::make_unique<ViewCore>(profile, notifier, shell, dialogs, options);
        core->OnInitialUpdate();
    }

    test::TempFolder folder;
    Profile profile { folder.path / "Vorlund.INI" };
    RecordingNotifier notifier;
    test::RecordingShell shell;
    RecordingDialogs dialogs;
    ViewCore::Options options;
    test::FakeTopics *fake = nullptr;
    std::unique_ptr<ViewCore> core;
};

TEST(ViewCoreDialogs, EachCommandRunsItsDialogWithTheCoresData)
{
    struct Case
    {
        const char *name;
        std::function<void(CoreFixture &)> act;
        std::vector<std::string> calls;
        std::function<void(CoreFixture &)> check;
    };
    const Case cases[] = {
        { "configuration",
          [](CoreFixture &f) {
              f.core->RunCredentials = [](std::string &, std::string &) { return true; };
              f.core->OnCommand(Cmd::Configuration);
          },
          { "RunConfiguration" },
          [](CoreFixture &f) {
              EXPECT_EQ(f.dialogs.context, &f.core->Context());
              EXPECT_EQ(f.dialogs.graph, &f.core->Graph());
              EXPECT_EQ(f.dialogs.remote, &f.core->Remote());
              EXPECT_TRUE(f.dialogs.hasCredentials);
              EXPECT_TRUE(f.dialogs.hasTestMail);
          } },
        { "video compression",
          [](CoreFixture &f) { f.core->OnCommand(Cmd::VideoCompression); },
          { "ChooseVideoCodec" },
          [](CoreFixture &f) {
              EXPECT_EQ(f.dialogs.context, &f.core->Context());
              EXPECT_EQ(f.dialogs.graph, &f.core->Graph());
          } },
        { "play video",
          [](CoreFixture &f) { f.core->OnCommand(Cmd::PlayVideo); },
          { "PlayVideo" },
          [](CoreFixture &f) {
              EXPECT_EQ(f.dialogs.folder, f.folder.path / "CaptureData");
              EXPECT_EQ(f.dialogs.recording, f.folder.path / "CaptureData" / "now.avi");
              EXPECT_EQ(f.dialogs.notifier, &f.notifier);
          } },
        { "timed zones, made once and shown on each open",
          [](CoreFixture &f) {
              f.core->View().Idle = false;
              f.core->OnCommand(Cmd::TimedZones);
              f.core->OnCommand(Cmd::TimedZones);
          },
          { "MakeTimedZones", "TimedZones.Show", "TimedZones.Show" },
          [](CoreFixture &f) { EXPECT_NE(f.dialogs.zones, nullptr); } },
        { "review with time-lapse pictures asks which; Cancel stays live",
          [](CoreFixture &f) {
              f.core->Settings().Config.TimeLapseEnabled[1] = 1;
              f.core->OnCommand(Cmd::Review);
          },
          { "AskReviewKind" },
          [](CoreFixture &f) { EXPECT_EQ(f.core->Engine().ReviewMode, 0); } },
        { "camera settings messages",
          [](CoreFixture &f) {
              f.core->WindowProc(WM_CAMERA_SETTINGS, Cmd::Camera1 + 1);
              f.core->WindowProc(WM_LIVE_SETTING, 0x1234);
              f.core->WindowProc(WM_SETTINGS_CLOSED, 142);
          },
          { "Camera.Open 107", "Camera.Live 4660", "Camera.Closed 142" },
          [](CoreFixture &f) { EXPECT_EQ(f.dialogs.context, &f.core->Context()); } },
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        CoreFixture f;
        ASSERT_EQ(f.dialogs.calls, std::vector<std::string> { "MakeCameraSettings" });
        f.dialogs.calls.clear();
        c.act(f);
        EXPECT_EQ(f.dialogs.calls, c.calls);
        c.check(f);
    }
}

} // namespace
} // namespace vorlund

int main(int argc, char **argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    QCoreApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
