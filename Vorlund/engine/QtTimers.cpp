#include "QtTimers.h"

#include "Messages.h"

#include <algorithm>
#include <vector>

namespace vorlund {

Qt::TimerType TimerTypeFor(int id)
{
    // The main tick counts 15 ms steps; a pan/tilt/zoom step's length is how far the camera
    // turns. A coarse timer may fire 5 % late or early.
    return id == MAIN_TICK_TIMER || id == PTZ_STEP_TIMER ? Qt::PreciseTimer : Qt::CoarseTimer;
}

QtTimers::QtTimers(QObject *owner, std::function<void(int)> onTimer)
    : m_owner(owner), m_onTimer(std::move(onTimer))
{ }

QtTimers::Entry &QtTimers::Make(int id)
{
    Entry &entry = m_timers[id];
    if (!entry.timer) {
        // Owned here, not by the owner object, so destruction order never matters.
        entry.timer = std::make_unique<QTimer>();
        entry.timer->setTimerType(TimerTypeFor(id));
        QObject::connect(entry.timer.get(), &QTimer::timeout, m_owner, [this, id] {
            if (id == MAIN_TICK_TIMER)
                OnMainTick();
            else
                m_onTimer(id);
        });
    }
    return entry;
}

void QtTimers::Place(Entry &entry, bool restart)
{
    // Every wake-up of the UI thread costs more than the work of a tick: a timer that can fire
    // with the main tick takes none of its own.
    if (m_tick > 0 && entry.interval > 0 && entry.interval % m_tick == 0) {
        const int ticks = int(entry.interval / m_tick);
        if (restart || entry.ticks != ticks)
            entry.left = ticks;
        entry.ticks = ticks;
        entry.timer->stop();
        return;
    }
    if (restart || entry.ticks > 0) {
        entry.ticks = 0;
        entry.timer->start(int(std::min<uint32_t>(entry.interval, 0x7FFFFFFF)));
    }
}

void QtTimers::SetTimer(int id, uint32_t milliseconds)
{
    Entry &entry = Make(id);
    entry.interval = milliseconds;
    if (id != MAIN_TICK_TIMER) {
        Place(entry, true);
        return;
    }
    entry.timer->start(int(std::min<uint32_t>(milliseconds, 0x7FFFFFFF)));
    const bool changed = m_tick != milliseconds;
    m_tick = milliseconds;
    for (auto &[other, e] : m_timers)
        if (other != MAIN_TICK_TIMER && (e.ticks > 0 || e.timer->isActive()))
            Place(e, changed && e.ticks > 0);
}

void QtTimers::KillTimer(int id)
{
    auto it = m_timers.find(id);
    if (it == m_timers.end())
        return;
    it->second.timer->stop();
    it->second.ticks = 0;
    if (id != MAIN_TICK_TIMER)
        return;
    // The timers that rode the main tick go on by themselves, each from a whole interval.
    m_tick = 0;
    for (auto &[other, e] : m_timers)
        if (e.ticks > 0)
            Place(e, false);
}

bool QtTimers::IsTimerRunning(int id) const
{
    auto it = m_timers.find(id);
    return it != m_timers.end() && (it->second.ticks > 0 || it->second.timer->isActive());
}

bool QtTimers::RidesMainTick(int id) const
{
    auto it = m_timers.find(id);
    return it != m_timers.end() && it->second.ticks > 0;
}

void QtTimers::KillAll()
{
    for (auto &[id, entry] : m_timers) {
        entry.timer->stop();
        entry.ticks = 0;
    }
    m_tick = 0;
}

void QtTimers::OnMainTick()
{
    m_onTimer(MAIN_TICK_TIMER);
    std::vector<int> due;
    for (auto &[id, entry] : m_timers) {
        if (entry.ticks > 0 && --entry.left <= 0) {
            entry.left = entry.ticks;
            due.push_back(id);
        }
    }
    // A handler may stop or restart another timer: each fires only while it still rides.
    for (const int id : due)
        if (RidesMainTick(id))
            m_onTimer(id);
}

} // namespace vorlund
