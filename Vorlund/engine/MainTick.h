#pragma once

#include "DeviceConfig.h"
#include "ServerContext.h"

#include <cstdint>
#include <optional>

namespace vorlund {

// The engine's 15 ms clock (timer 130, UI thread): settle time, recording countdown and gates,
// hold and switch, restart after an abort, calibration window and the slow work.
class MainTick
{
public:
    MainTick(ServerContext &context, ICaptureGraph &graph, IDevicePages &pages,
             ICameraSwitch &cameras, IRunControl &run, IRemoteLink &remote, IMailer &mailer,
             IRecycler &recycler, IDiskGuard &disk);

    void OnMainTick();

    // Opens or shuts both record gates and keeps GateOpen in step.
    void SetGates(bool open);

    // A new run: the first tick does the slow work at once and time rollover may fire again.
    void ResetForStart();

    // The time-lapse timer fired: the next picture is one interval on.
    void OnTimeLapseTimer();

private:
    void SlowWork();
    void Rollover(const LocalDateTime &now);
    // The recording goes on in a file named for `now`: the current one renamed when it has
    // no frames yet (true), else a restart is asked for (false).
    bool BeginNewFile(const LocalDateTime &now);
    void Schedules(const LocalDateTime &now);
    void ApplySchedule(const TimeWindow &window, const LocalDateTime &now, bool tv);
    void TimedZones(int hour);
    bool RecordingWindowInForce() const;
    void ClearHitMaps();
    void ArmTimeLapse(uint32_t intervalMs);

    ServerContext &m_context;
    ICaptureGraph &m_graph;
    IDevicePages &m_pages;
    ICameraSwitch &m_cameras;
    IRunControl &m_run;
    IRemoteLink &m_remote;
    IMailer &m_mailer;
    IRecycler &m_recycler;
    IDiskGuard &m_disk;

    bool m_inTick = false;
    // Date and hour of the last time rollover (year * 1000000 + month * 10000 + day * 100 +
    // hour), so one slot rolls over once.
    int64_t m_lastRolloverSlot = -1;
    // When the current recording file began (its run's start, or a schedule's that took it
    // over); none before the first start.
    std::optional<LocalDateTime> m_fileBegan;
    bool m_windowInside = false; // the schedule's window was in force at the last slow pass
    // When the next time-lapse picture is due, kept through capture restarts: a rollover must
    // not push the picture back by a whole interval each time.
    bool m_timeLapseArmed = false;
    uint32_t m_timeLapseDue = 0;
};

} // namespace vorlund
