#include "MainTick.h"

#include "DeviceSettings.h"
#include "Schedules.h"

#include <algorithm>
#include <string>
#include <utility>

namespace vorlund {

namespace {

constexpr uint32_t kPtzRestoreMs = 1500;
constexpr uint32_t kRestartDelayMs = 500;
constexpr int kCalibrationStart = 300;
constexpr int kCalibrationEnd = 700;
// The rollover is due in the first minutes of its hour; a slow pass that comes late (a busy
// machine, a suppressed pass) still catches it up to here.
constexpr int kRolloverLastMinute = 15;

// Date and hour as one number: year * 1000000 + month * 10000 + day * 100 + hour.
int64_t HourSlot(const LocalDateTime &t)
{
    return int64_t(t.year) * 1000000 + t.month * 10000 + t.day * 100 + t.hour;
}

} // namespace

MainTick::MainTick(ServerContext &context, ICaptureGraph &graph, IDevicePages &pages,
                   ICameraSwitch &cameras, IRunControl &run, IRemoteLink &remote, IMailer &mailer,
                   IRecycler &recycler, IDiskGuard &disk)
    : m_context(context), m_graph(graph), m_pages(pages), m_cameras(cameras), m_run(run),
      m_remote(remote), m_mailer(mailer), m_recycler(recycler), m_disk(disk)
{ }

void MainTick::SetGates(bool open)
{
    m_graph.SetGateOpen(open);
    m_context.engine.GateOpen = open ? 1 : 0;
}

void MainTick::ResetForStart()
{
    m_context.engine.SlowCounter = 12001;
    m_context.engine.CalibratedZone = 5;
    m_fileBegan = m_context.clock.Now(); // each start records into a new file
}

void MainTick::ClearHitMaps()
{
    m_context.engine.ClearHitMaps();
}

bool MainTick::RecordingWindowInForce() const
{
    const EngineState &e = m_context.engine;
    const DeviceConfig &config = m_context.settings.Config;
    if (m_context.view.TvTimerSet)
        return true;
    const LocalDateTime now = m_context.clock.Now();
    const int m = now.hour * 60 + now.minute;
    if (config.ContinuousRecord && !e.TvMode)
        return InsideWindow(config.RecordWindow, m);
    return e.TvMode && config.TvRecord && InsideWindow(config.TvWindow, m);
}

void MainTick::OnMainTick()
{
    // A nested event loop (a box opened by a collaborator) must not run a second tick inside
    // this one.
    if (m_inTick)
        return;
    m_inTick = true;
    struct Leave
    {
        bool &flag;
        ~Leave() { flag = false; }
    } leave { m_inTick };

    EngineState &e = m_context.engine;
    const uint32_t now = m_context.clock.TickCount();

    // 1. Settle time after a switch: viewers and queued mail are served only here.
    if (e.SwitchBusy) {
        if (now - e.SwitchTime > e.SettleTime) {
            e.SwitchBusy = 0;
        } else {
            m_remote.ServeRemoteRequests(0);
            m_mailer.SendAlertMail(0);
        }
    }

    // 2. Detection comes back a while after a pan/tilt/zoom move stopped.
    if (e.PtzStopped && now - e.PtzStopTime > kPtzRestoreMs) {
        for (int c = 1; c <= kMaxCameras; ++c)
            e.MotionEnabled[c] = e.SavedMotionEnabled[c].load();
        e.PtzStopped = 0;
    }

    const int camera = e.CurrentCamera;
    const int32_t countdown = e.RecordCountdown;
    if (countdown > 0) {
        // 3. Recording after motion.
        if (!e.GateOpen && !e.DialogCamera) {
            if (!IsCamera(camera) || !e.RecordOnMotion[camera]) {
                int32_t seen = countdown;
                e.RecordCountdown.compare_exchange_strong(seen, 0);
                return;
            }
            SetGates(true);
        }
        m_remote.ServeRemoteRequests(camera);
        // A countdown the detector re-arms meanwhile is decremented from its new value.
        if (EngineState::DecrementIfPositive(e.RecordCountdown) < 1) {
            e.HoldTicks = 0;
            if (e.GateOpen && !RecordingWindowInForce())
                SetGates(false);
            ClearHitMaps();
        }
    } else if (e.FrameDone.IsMarked()) {
        // 4. The detector is done with this camera: hold it, or switch to the next.
        const DeviceConfig &config = m_context.settings.Config;
        const bool keepOpen
            = m_context.view.TvTimerSet || config.ContinuousRecord || (e.TvMode && config.TvRecord);
        if (!keepOpen && e.GateOpen)
            SetGates(false);
        bool held = false;
        if ((e.CameraCount == 1 || e.SelectedCamera != 0) && e.HoldTicks > 0) {
            const int32_t left = EngineState::DecrementIfPositive(e.HoldTicks);
            m_remote.ServeRemoteRequests(camera);
            held = left != 0;
        } else {
            e.HoldTicks = 0;
        }
        if (!held) {
            e.SwitchBusy = 1;
            e.SwitchTime = m_context.clock.TickCount();
            m_cameras.SwitchCamera(0);
            e.FrameDone.Restart();
        }
    }

    // 5. Restart after a graph abort, at the first tick past the delay.
    ViewState &view = m_context.view;
    if (view.RestartPending && now - view.RestartStamp > kRestartDelayMs) {
        view.RestartPending = false;
        m_run.RestartCapture();
        return;
    }

    // 6. and 7. The slow counter and the calibration window after a zone change.
    const int32_t before = e.SlowCounter.fetch_add(1);
    if (before < e.SlowPeriod) {
        if (e.CurrentZone != e.CalibratedZone) {
            const int32_t n = before + 1;
            if (n == kCalibrationStart) {
                if (e.AutoCalibrate && !e.DialogCamera)
                    e.CalibrationMode = 1;
                ClearHitMaps();
            } else if (n > kCalibrationEnd) {
                e.CalibrationMode = 0;
                e.CalibratedZone = e.CurrentZone.load();
            }
        }
        return;
    }
    SlowWork();
}

void MainTick::Rollover(const LocalDateTime &now)
{
    const DeviceConfig &config = m_context.settings.Config;
    if (config.Block.RolloverOn) {
        if (m_context.engine.SuppressCount != 0 || now.minute >= kRolloverLastMinute
            || !RolloverHour(config.RolloverMode, now.hour))
            return;
        const int64_t slot = HourSlot(now);
        if (slot == m_lastRolloverSlot)
            return;
        m_lastRolloverSlot = slot;
        // A file begun inside this hour already starts the new period: cutting it would only
        // leave a hole.
        if (!m_fileBegan || HourSlot(*m_fileBegan) != slot)
            BeginNewFile(now);
        return;
    }
    if (config.RolloverMBytes > 0
        && m_disk.RecordFileBytes() >= uint64_t(config.RolloverMBytes) * 1000000ull)
        m_context.sink.PostMessage(WM_RESTART_CAPTURE);
}

bool MainTick::BeginNewFile(const LocalDateTime &now)
{
    // A file still without frames only takes the new name: a restart would leave a hole.
    if (m_graph.FramesRecorded() == 0 && m_graph.RenameRecordFile(now)) {
        m_fileBegan = now;
        return true;
    }
    m_context.sink.PostMessage(WM_RESTART_CAPTURE);
    return false;
}

void MainTick::ArmTimeLapse(uint32_t intervalMs)
{
    if (intervalMs == 0)
        return;
    const uint32_t now = m_context.clock.TickCount();
    uint32_t wait = intervalMs;
    if (m_timeLapseArmed) {
        // What was left of the interval when capture stopped; at once when it ran out meanwhile.
        const int32_t left = int32_t(m_timeLapseDue - now);
        if (left <= int32_t(intervalMs))
            wait = uint32_t(std::max(left, 1));
    }
    m_context.timers.SetTimer(TIMELAPSE_TIMER, wait);
    m_timeLapseArmed = true;
    m_timeLapseDue = now + wait;
}

void MainTick::OnTimeLapseTimer()
{
    const uint32_t ms = TimeLapseInterval(m_context.settings.Config.TimeLapseMinutes[1]);
    if (ms == 0)
        return;
    // Re-armed at each picture, so a shortened first wait goes back to whole intervals.
    m_context.timers.SetTimer(TIMELAPSE_TIMER, ms);
    m_timeLapseDue = m_context.clock.TickCount() + ms;
}

void MainTick::SlowWork()
{
    EngineState &e = m_context.engine;
    DeviceConfig &config = m_context.settings.Config;

    const LocalDateTime now = m_context.clock.Now();
    e.SlowCounter = 0;

    m_remote.KeepRelayAlive();
    m_disk.UpdateDiskSpace();

    if (!e.TvMode) {
        Rollover(now);
        if (config.RecycleEnabled && now.hour == 0 && now.minute >= 3 && now.minute <= 5)
            m_recycler.Start(m_context.view.VideoFolder, config.RecycleMBytes,
                             m_graph.RecordFile());
    }

    if (e.ZoneEditing)
        return;
    if (!e.TvMode)
        SaveDeviceSettings(m_context);

    if (!config.TimeLapseEnabled[1])
        m_timeLapseArmed = false;
    else if (!m_context.timers.IsTimerRunning(TIMELAPSE_TIMER))
        ArmTimeLapse(TimeLapseInterval(config.TimeLapseMinutes[1]));

    Schedules(now);
    TimedZones(now.hour);
    if (e.TvMode)
        return;

    m_context.shell.SetPaneText(kPaneZone, "z" + std::to_string(int(e.CurrentZone)));
    const int zone = e.CurrentZone;
    for (int c = 1; IsCamera(zone) && c <= e.CameraCount && c <= kMaxCameras; ++c) {
        if (e.ZoneSensitivityEnabled[c])
            e.Sensitivity[c] = e.ZoneSensitivity[c][zone].load();
    }
}

void MainTick::ApplySchedule(const TimeWindow &window, const LocalDateTime &now, bool tv)
{
    const int m = now.hour * 60 + now.minute;
    const bool wasInside = std::exchange(m_windowInside, InsideWindow(window, m));
    if (m_context.engine.GateOpen) {
        // The window's end starts a new file once. Gates that motion holds open later are the
        // countdown's to shut: a restart at every slow pass would cut each later recording
        // into pieces with holes between.
        if (WindowEnded(window, m) && (wasInside || m_context.engine.RecordCountdown <= 0)) {
            SetGates(false);
            m_context.sink.PostMessage(WM_RESTART_CAPTURE);
        }
        return;
    }
    if (!m_windowInside)
        return;
    // The scheduled recording begins in a file named for its start (unless it began just now).
    const bool begunNow = m_fileBegan && m_fileBegan->year == now.year
        && m_fileBegan->month == now.month && m_fileBegan->day == now.day
        && m_fileBegan->hour == now.hour && m_fileBegan->minute == now.minute;
    if (!m_context.view.RestartMark && !begunNow && !BeginNewFile(now))
        return;
    if (tv)
        m_pages.ShowTvTunerPage(true);
    SetGates(true);
}

void MainTick::Schedules(const LocalDateTime &now)
{
    const EngineState &e = m_context.engine;
    const DeviceConfig &config = m_context.settings.Config;
    if (config.ContinuousRecord && !e.TvMode)
        ApplySchedule(config.RecordWindow, now, false);
    else if (config.TvRecord && e.TvMode)
        ApplySchedule(config.TvWindow, now, true);
}

void MainTick::TimedZones(int hour)
{
    EngineState &e = m_context.engine;
    if (const std::optional<int> zone
        = ZoneForHour(m_context.settings.Config.Block.ZoneHours, hour)) {
        e.CurrentZone = uint8_t(*zone);
        return;
    }
    if (e.CurrentZone == 0) {
        e.CurrentZone = 1;
        ShowErrorBox(m_context.notifier, "Timedzones are not set properly.");
    }
}

} // namespace vorlund
