// A recording gate's state by capture time. A change asked for with a time applies to the
// buffers captured from that time on, whenever they reach the gate: sound held up behind a full
// queue and pictures waiting in theirs are then judged alike, so the picture and sound gates
// pass the same span of capture time. Safe to use from the control and streaming threads.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>

namespace vorlund {

class GateSchedule
{
public:
    explicit GateSchedule(bool open = false) : m_settled(open) { }

    // The running time from which the next change applies; none: at once.
    void NextChangeAt(std::optional<std::int64_t> at)
    {
        std::lock_guard lock(m_lock);
        m_nextAt = at;
    }

    // The gate becomes `open` from the time given before (or for every buffer from now on).
    void Set(bool open)
    {
        std::lock_guard lock(m_lock);
        const std::optional<std::int64_t> at = m_nextAt;
        m_nextAt.reset();
        if (!at) {
            m_pending.clear();
            m_settled = open;
            return;
        }
        // A later request for an earlier time overrides what was planned after it.
        while (!m_pending.empty() && m_pending.back().at >= *at)
            m_pending.pop_back();
        m_pending.push_back({ *at, open });
        if (m_pending.size() > kMaxPending) {
            m_settled = m_pending.front().open;
            m_pending.pop_front();
        }
    }

    // The state for a buffer captured at `t`; changes that `t` has reached are settled (a
    // stream's times only grow). A buffer without a time gets the newest state.
    bool At(std::optional<std::int64_t> t)
    {
        std::lock_guard lock(m_lock);
        if (!t)
            return NewestLocked();
        while (!m_pending.empty() && *t >= m_pending.front().at) {
            m_settled = m_pending.front().open;
            m_pending.pop_front();
        }
        return m_settled;
    }

    // Where and how long the gate is open within [start, stop); changes up to `start` are
    // settled.
    struct Share
    {
        std::int64_t from = 0; // the first open moment; `stop` when never open
        std::int64_t length = 0; // the open time, however many pieces it is in
    };
    Share OpenWithin(std::int64_t start, std::int64_t stop)
    {
        std::lock_guard lock(m_lock);
        while (!m_pending.empty() && start >= m_pending.front().at) {
            m_settled = m_pending.front().open;
            m_pending.pop_front();
        }
        Share share { stop, 0 };
        std::int64_t from = start;
        bool state = m_settled;
        const auto add = [&](std::int64_t to) {
            if (state && to > from) {
                share.from = std::min(share.from, from);
                share.length += to - from;
            }
        };
        for (const Change &change : m_pending) {
            if (change.at >= stop)
                break;
            add(change.at);
            from = change.at;
            state = change.open;
        }
        add(stop);
        return share;
    }

    bool Newest() const
    {
        std::lock_guard lock(m_lock);
        return NewestLocked();
    }

private:
    bool NewestLocked() const { return m_pending.empty() ? m_settled : m_pending.back().open; }

    static constexpr std::size_t kMaxPending = 64;
    struct Change
    {
        std::int64_t at;
        bool open;
    };
    mutable std::mutex m_lock;
    bool m_settled;
    std::optional<std::int64_t> m_nextAt;
    std::deque<Change> m_pending;
};

// Passes whole buffers so that the time passed follows the time the gate was open for, never
// more than half a buffer apart, however the switches fall inside buffers.
class GateBalance
{
public:
    // `open` of the buffer's `length` lay inside an open period.
    bool Pass(std::int64_t open, std::int64_t length)
    {
        m_due += open;
        if (m_due - m_passed <= length / 2)
            return false;
        m_passed += length;
        return true;
    }

private:
    std::int64_t m_due = 0;
    std::int64_t m_passed = 0;
};

} // namespace vorlund
