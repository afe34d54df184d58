#pragma once

// A temp working folder, the real state objects and recording fakes of every seam, so a topic
// test is a loop of `clock.Advance(15); tick.OnMainTick();`.

#include "DeviceSettings.h"
#include "Profile.h"
#include "ServerContext.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <functional>
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
    void KillAll() override { running.clear(); }
    std::map<int, uint32_t> running;
};

// Timers in virtual time: Advance moves the clock on and fires each timer when its time comes,
// in time order, as a QTimer would (periodic, re-armed before its handler runs).
class VirtualTimers : public ITimers
{
public:
    VirtualTimers(FakeClock &clock, std::function<void(int)> onTimer)
        : m_clock(clock), m_onTimer(std::move(onTimer))
    { }
    void SetTimer(int id, uint32_t ms) override { m_timers[id] = { ms, m_clock.ticks + ms }; }
    void KillTimer(int id) override { m_timers.erase(id); }
    bool IsTimerRunning(int id) const override { return m_timers.count(id) != 0; }
    void KillAll() override { m_timers.clear(); }
    void Advance(uint32_t ms)
    {
        const uint32_t end = m_clock.ticks + ms;
        for (;;) {
            auto next = m_timers.end();
            for (auto it = m_timers.begin(); it != m_timers.end(); ++it)
                if (int32_t(it->second.due - end) <= 0
                    && (next == m_timers.end() || int32_t(it->second.due - next->second.due) < 0))
                    next = it;
            if (next == m_timers.end())
                break;
            m_clock.ticks = next->second.due;
            next->second.due += std::max<uint32_t>(next->second.period, 1);
            m_onTimer(next->first);
        }
        m_clock.ticks = end;
    }

private:
    struct Timer
    {
        uint32_t period;
        uint32_t due;
    };
    FakeClock &m_clock;
    std::function<void(int)> m_onTimer;
    std::map<int, Timer> m_timers;
};

class RecordingShell : public IViewShell
{
public:
    void ShowBalloon(const BalloonRequest &b) override { balloons.push_back(b); }
    void SetPaneText(int pane, std::string_view text) override { panes[pane] = std::string(text); }
    void UpdateLayout(int w, int h) override { layouts.emplace_back(w, h); }
    void Repaint(int camera) override { repaints.push_back(camera); }
    bool IsShown() const override { return shown; }
    void RebuildCameraMenu() override { ++cameraMenus; }
    void RebuildCommandMenu() override { ++commandMenus; }
    void RebuildDeviceMenu() override { ++deviceMenus; }
    void ShowNotice(std::string_view text) override
    {
        notices.emplace_back(text);
        noticeOpen = true;
    }
    void CloseNotice() override
    {
        noticeOpen = false;
        ++noticeCloses;
    }

    std::vector<BalloonRequest> balloons;
    std::map<int, std::string> panes;
    std::vector<std::pair<int, int>> layouts;
    std::vector<int> repaints;
    bool shown = true;
    int cameraMenus = 0, commandMenus = 0, deviceMenus = 0;
    std::vector<std::string> notices;
    bool noticeOpen = false;
    int noticeCloses = 0;
};

class RecordingSound : public ISound
{
public:
    void PlaySound(std::string_view file) override { played.emplace_back(file); }
    std::vector<std::string> played;
};

// Every topic seam, recording what it is asked.
class FakeTopics : public ICaptureGraph,
                   public IInputRouter,
                   public IDevicePages,
                   public ICameraSwitch,
                   public IRunControl,
                   public IRemoteLink,
                   public IPtzControl,
                   public IMailer,
                   public IRecycler,
                   public IDiskGuard
{
public:
    bool IsBuilt() const override { return built; }
    BuildResult BuildCaptureGraph(bool probe) override
    {
        builds.push_back(probe);
        const BuildResult r = buildResults.empty() ? BuildResult::Ok : buildResults.front();
        if (!buildResults.empty())
            buildResults.erase(buildResults.begin());
        built = r == BuildResult::Ok;
        return r;
    }
    void TearDownGraph() override
    {
        ++teardowns;
        built = false;
    }
    bool RunGraph() override
    {
        ++runs;
        return runResult;
    }
    void StopGraph() override { ++graphStops; }
    void SetGateOpen(bool open) override { gateCalls.push_back(open); }
    void SetStamp(bool enabled, bool atTop) override { stamp = { enabled, atTop }; }
    void SetAudioReferenceTime(int64_t time) override { referenceTimes.push_back(time); }
    std::vector<GraphEvent> TakeGraphEvents() override { return std::exchange(events, {}); }
    uint64_t FramesDelivered() const override { return frames; }
    uint64_t FramesRecorded() const override { return framesRecorded; }
    std::filesystem::path RecordFile() const override { return recordFile; }
    bool RenameRecordFile(const LocalDateTime &now) override
    {
        renames.push_back(now);
        return renameResult;
    }
    std::vector<std::string> ListVideoDevices() override { return videoDevices; }
    std::vector<std::string> ListAudioDevices() override { return audioDevices; }
    void RouteVideoInput(int input) override { routes.push_back(input); }
    void ShowTvTunerPage(bool deviceOnly) override { tunerPages.push_back(deviceOnly); }
    void ShowCrossbarPage(bool deviceOnly) override { crossbarPages.push_back(deviceOnly); }
    void ShowVideoCapturePage(bool deviceOnly) override { capturePages.push_back(deviceOnly); }
    void ShowVideoFormatPage() override { ++formatPages; }
    void ChooseAudioInput() override { ++audioChoices; }
    bool HasCrossbar() const override { return hasCrossbar; }
    void SwitchCamera(int camera) override { switches.push_back(camera); }
    void DetectSwitcher(bool quiet) override
    {
        detections.push_back(quiet);
        if (switcherAnswers)
            *switcherPresent = true;
    }
    void StartCapture() override { ++starts; }
    void StopCapture() override { ++stops; }
    void RestartCapture() override { ++restarts; }
    void ApplyRemoteMode() override { ++remoteModes; }
    void StartListening(const RemoteHeader &header) override { listening.push_back(header); }
    void StopListening() override { ++listenStops; }
    void ResetStillCounters() override { ++stillResets; }
    void ServeRemoteRequests(int camera) override { served.push_back(camera); }
    void KeepRelayAlive() override { ++relayPings; }
    void ConnectRelay() override { ++relayConnects; }
    int DirectViewerCount() const override { return viewers; }
    RelayState GetRelayState() const override { return relay; }
    std::optional<std::string> TakeRelayError() override { return std::exchange(relayError, {}); }
    void ReleaseSelectedCamera() override { ++releases; }
    void SelectCamera(int camera) override { selections.push_back(camera); }
    void SendHomeCommand() override { ++homeCommands; }
    void SendPtzCommand(int code) override { ptzCommands.push_back(code); }
    void StartPtzMove(int x, int y, int zoom) override { ptzMoves.push_back({ x, y, zoom }); }
    void SendAlertMail(int code) override { mails.push_back(code); }
    void QueueAlert(int camera, const std::filesystem::path &picture) override
    {
        alerts.emplace_back(camera, picture);
    }
    void QueueLowDiskMail(int freePercent) override { lowDiskMails.push_back(freePercent); }
    void SendTestMail(const TestMailValues &values) override { testMails.push_back(values); }
    void Start(const std::filesystem::path &folder, int64_t limit,
               const std::filesystem::path &current) override
    {
        recycles.push_back({ folder, limit, current });
    }
    void UpdateDiskSpace() override { ++diskChecks; }
    void GuardDiskSpace() override { ++diskGuards; }
    uint64_t RecordFileBytes() const override { return fileBytes; }

    struct Recycle
    {
        std::filesystem::path folder;
        int64_t limit;
        std::filesystem::path current;
    };
    bool built = true;
    std::vector<BuildResult> buildResults; // consumed one per build; Ok when empty
    std::vector<bool> builds;
    int teardowns = 0, runs = 0, graphStops = 0;
    bool runResult = true;
    std::pair<bool, bool> stamp {};
    std::vector<int64_t> referenceTimes;
    std::vector<GraphEvent> events;
    uint64_t frames = 0;
    uint64_t framesRecorded = 0;
    std::vector<std::string> videoDevices { "Vorlund Test Camera" };
    std::vector<std::string> audioDevices { "Vorlund Test Audio" };
    std::vector<bool> crossbarPages, capturePages;
    int formatPages = 0, audioChoices = 0;
    bool hasCrossbar = false;
    std::vector<bool> detections;
    bool switcherAnswers = false;
    bool *switcherPresent = nullptr; // set by the fixture
    int remoteModes = 0, listenStops = 0, stillResets = 0;
    std::vector<RemoteHeader> listening;
    std::filesystem::path recordFile;
    std::vector<LocalDateTime> renames;
    bool renameResult = true;
    uint64_t fileBytes = 0;
    std::vector<bool> gateCalls;
    std::vector<int> routes;
    std::vector<bool> tunerPages;
    std::vector<int> switches;
    int starts = 0, stops = 0, restarts = 0;
    std::vector<int> served;
    int relayPings = 0;
    int relayConnects = 0;
    int viewers = 0;
    RelayState relay = RelayState::NoRelay;
    std::optional<std::string> relayError;
    int releases = 0;
    std::vector<int> selections;
    int homeCommands = 0;
    std::vector<int> ptzCommands;
    std::vector<std::array<int, 3>> ptzMoves;
    std::vector<int> mails;
    std::vector<std::pair<int, std::filesystem::path>> alerts;
    std::vector<int> lowDiskMails;
    std::vector<TestMailValues> testMails;
    std::vector<Recycle> recycles;
    int diskChecks = 0;
    int diskGuards = 0;
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
    FakeTopics topics = [this] {
        FakeTopics t;
        t.switcherPresent = &view.SwitcherPresent;
        return t;
    }();
    ServerContext context { engine, view, settings, profile, clock, notifier,
                            log,    sink, timers,   shell,   sound };
};

} // namespace vorlund::test
