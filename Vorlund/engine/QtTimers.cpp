#include "QtTimers.h"

#include "Messages.h"

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

void QtTimers::SetTimer(int id, uint32_t milliseconds)
{
    std::unique_ptr<QTimer> &timer = m_timers[id];
    if (!timer) {
        // Owned here, not by the owner object, so destruction order never matters.
        timer = std::make_unique<QTimer>();
        timer->setTimerType(TimerTypeFor(id));
        QObject::connect(timer.get(), &QTimer::timeout, m_owner, [this, id] { m_onTimer(id); });
    }
    timer->start(int(std::min<uint32_t>(milliseconds, 0x7FFFFFFF)));
}

void QtTimers::KillTimer(int id)
{
    if (auto it = m_timers.find(id); it != m_timers.end())
        it->second->stop();
}

bool QtTimers::IsTimerRunning(int id) const
{
    auto it = m_timers.find(id);
    return it != m_timers.end() && it->second->isActive();
}

void QtTimers::KillAll()
{
    for (auto &[id, timer] : m_timers)
        timer->stop();
}

} // namespace vorlund
