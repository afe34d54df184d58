#pragma once

// A temp working folder, the real state objects and recording fakes of every seam, so a topic
// test is a loop of `clock.Advance(15); tick.OnMainTick();`.

#include "DeviceSettings.h"
#include "Profile.h"
#include "ServerContext.h"

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <mutex>
#include <string>
#include <unistd.h>
#include <utility>
#include <vector>

namespace vorlund::test {

class RecordingSink : public IMessageSink
{
public:
    using IMessageSink::PostMessage;
    void PostMessage(uint32_t message, uintptr_t wParam) noexcept override
    {
        std::lock_guard lock(m_lock);
        posted.emplace_back(message, wParam);
    }
    int Count(uint32_t message) const
    {
        std::lock_guard lock(m_lock);
        int n = 0;
        for (const auto &p : posted)
            n += p.first == message;
        return n;
    }
    std::vector<std::pair<uint32_t, uintptr_t>> posted;

private:
    mutable std::mutex m_lock;
};

class FakeTimers : public ITimers
{
public:
    void SetTimer(int id, uint32_t ms) override { running[id] = ms; }
    void KillTimer(int id) override { running.erase(id); }
    bool IsTimerRunning(int id) const override { return running.count(id) != 0; }
    std::map<int, uint32_t> running;
};

class RecordingShell : public IViewShell
{
public:
    void ShowBalloon(const BalloonRequest &b) override { balloons.push_back(b); }
    void SetPaneText(int pane, std::string_view text) override { panes[pane] = std::string(text); }
    void UpdateLayout(int w, int h) override { layouts.emplace_back(w, h); }
    void Repaint(int camera) override { repaints.push_back(camera); }
    void RebuildCameraMenu() override { ++cameraMenus; }
    void RebuildCommandMenu() override { ++commandMenus; }
    void RebuildDeviceMenu() override { ++deviceMenus; }

    std::vector<BalloonRequest> balloons;
    std::map<int, std::string> panes;
    std::vector<std::pair<int, int>> layouts;
    std::vector<int> repaints;
    int cameraMenus = 0, commandMenus = 0, deviceMenus = 0;
};

class RecordingSound : public ISound
{
public:
    void PlaySound(std::string_view file) override { played.emplace_back(file); }
    std::vector<std::string> played;
};

// Every topic seam, recording what it is asked.
class FakeTopics : public ICaptureGraph,
                   public IDevicePages,
                   public ICameraSwitch,
                   public IRunControl,
                   public IRemoteLink,
                   public IMailer,
                   public IRecycler,
                   public IDiskGuard
{
public:
    bool IsBuilt() const override { return built; }
    void SetGateOpen(bool open) override { gateCalls.push_back(open); }
    std::filesystem::path RecordFile() const override { return recordFile; }
    int BuildCaptureGraph() override
    {
        ++builds;
        return buildResult;
    }
    void TearDownGraph() override { ++teardowns; }
    bool RunGraph() override
    {
        ++runs;
        return runResult;
    }
    void SetStamp(bool on, bool atTop) override { stamps.emplace_back(on, atTop); }
    std::vector<GraphEvent> TakeGraphEvents() override { return std::exchange(graphEvents, {}); }
    void ShowTvTunerPage(bool deviceOnly) override { tunerPages.push_back(deviceOnly); }
    void SwitchCamera(int camera) override { switches.push_back(camera); }
    void StartCapture() override { ++starts; }
    void StopCapture() override { ++stops; }
    void RestartCapture() override { ++restarts; }
    void ServeRemoteRequests(int camera) override { served.push_back(camera); }
    void KeepRelayAlive() override { ++relayPings; }
    void SendAlertMail(int code) override { mails.push_back(code); }
    void Start(const std::filesystem::path &folder, int64_t limit,
               const std::filesystem::path &current) override
    {
        recycles.push_back({ folder, limit, current });
    }
    void UpdateDiskSpace() override { ++diskChecks; }
    uint64_t RecordFileBytes() const override { return fileBytes; }

    struct Recycle
    {
        std::filesystem::path folder;
        int64_t limit;
        std::filesystem::path current;
    };
    bool built = true;
    int buildResult = 0;
    bool runResult = true;
    int builds = 0, teardowns = 0, runs = 0;
    std::vector<std::pair<bool, bool>> stamps;
    std::vector<GraphEvent> graphEvents;
    std::filesystem::path recordFile;
    uint64_t fileBytes = 0;
    std::vector<bool> gateCalls;
    std::vector<bool> tunerPages;
    std::vector<int> switches;
    int starts = 0, stops = 0, restarts = 0;
    std::vector<int> served;
    int relayPings = 0;
    std::vector<int> mails;
    std::vector<Recycle> recycles;
    int diskChecks = 0;
};

class TempFolder
{
public:
    TempFolder()
    {
        std::string pattern
            = (std::filesystem::temp_directory_path() / "vorlund-test-XXXXXX").string();
        if (char *made = mkdtemp(pattern.data()))
            path = made;
    }
    ~TempFolder()
    {
        std::error_code ec;
        std::filesystem::remove_all(path, ec);
    }
    TempFolder(const TempFolder &) = delete;
    TempFolder &operator=(const TempFolder &) = delete;
    std::filesystem::path path;
};

// The real state objects over a temp working folder, with every seam faked.
struct ServerFixture
{
    ServerFixture()
    {
        view.WorkingFolder = folder.path;
        view.VideoFolder = folder.path / "CaptureData";
        std::filesystem::create_directories(view.VideoFolder);
        view.VideoDeviceNames[0] = "Vorlund Test Camera";
        settings.Config.DeviceName = "Vorlund Test Camera";
        settings.Config.VideoFolder = view.VideoFolder.string();
    }

    TempFolder folder;
    FakeClock clock;
    RecordingNotifier notifier;
    ErrorLog log { folder.path / "vorlund.log", clock };
    EngineState engine;
    ViewState view;
    Profile profile { folder.path / "Vorlund.INI" };
    std::vector<std::string> settingsLog;
    DeviceSettings settings { folder.path, engine, notifier,
                              [this](std::string_view line) { settingsLog.emplace_back(line); } };
    RecordingSink sink;
    FakeTimers timers;
    RecordingShell shell;
    RecordingSound sound;
    FakeTopics topics;
    ServerContext context { engine, view, settings, profile, clock, notifier,
                            log,    sink, timers,   shell,   sound };
};

} // namespace vorlund::test
