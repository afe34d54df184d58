#pragma once

#include "Seams.h"

#include <QObject>
#include <QTimer>

#include <functional>
#include <map>
#include <memory>

namespace vorlund {

// The 15 ms main tick and the pan/tilt/zoom steps run on precise timers, the others on coarse.
Qt::TimerType TimerTypeFor(int id);

// The view's timers by id, one QTimer each, calling `onTimer(id)` on the owner's thread. Setting
// a running id restarts it with the new interval.
class QtTimers : public ITimers
{
public:
    QtTimers(QObject *owner, std::function<void(int)> onTimer);

    void SetTimer(int id, uint32_t milliseconds) override;
    void KillTimer(int id) override;
    bool IsTimerRunning(int id) const override;
    void KillAll() override;

private:
    QObject *m_owner;
    std::function<void(int)> m_onTimer;
    std::map<int, std::unique_ptr<QTimer>> m_timers;
};

} // namespace vorlund
