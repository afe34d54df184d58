// Work handed to other threads, counted so that its owner can wait for it a bounded time. Held
// by shared pointer: a piece of work that outlives its owner still has a counter to finish on.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace vorlund {

class PendingCount
{
public:
    void Add()
    {
        std::lock_guard lock(m_lock);
        ++m_count;
    }
    void Done()
    {
        std::lock_guard lock(m_lock);
        --m_count;
        m_done.notify_all();
    }
    // True once nothing is pending; waits at most `bound`.
    bool WaitNone(std::chrono::milliseconds bound)
    {
        std::unique_lock lock(m_lock);
        return m_done.wait_for(lock, bound, [this] { return m_count == 0; });
    }

private:
    std::mutex m_lock;
    std::condition_variable m_done;
    int m_count = 0;
};

} // namespace vorlund
