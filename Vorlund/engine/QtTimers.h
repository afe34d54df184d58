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

// The view's timers by id, calling `onTimer(id)` on the owner's thread. Setting a running id
// restarts it with the new interval. While the main tick runs, a timer whose interval is a
// whole number of main ticks fires from the main tick's own wake-ups, right after it, every so
// many ticks, instead of waking the thread by itself; otherwise each has a QTimer of its own.
class QtTimers : public ITimers
{
public:
    QtTimers(QObject *owner, std::function<void(int)> onTimer);

    void SetTimer(int id, uint32_t milliseconds) override;
    void KillTimer(int id) override;
    bool IsTimerRunning(int id) const override;
    void KillAll() override;

    // Whether the timer fires from the main tick's wake-ups now.
    bool RidesMainTick(int id) const;

private:
    struct Entry
    {
        std::unique_ptr<QTimer> timer;
        uint32_t interval = 0;
        int ticks = 0; // main ticks per firing while it rides them, else 0
        int left = 0; // main ticks until it fires next
    };
    Entry &Make(int id);
    // Puts a running timer on the main tick when its interval allows, else on its own QTimer
    // (restarted only when it rode before, with what was left of its interval).
    void Place(Entry &entry, bool restart);
    void OnMainTick();

    QObject *m_owner;
    std::function<void(int)> m_onTimer;
    std::map<int, Entry> m_timers;
    uint32_t m_tick = 0; // the main tick's interval while it runs, else 0
};

} // namespace vorlund
