#pragma once

#include "Messages.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

namespace vorlund {

// What a worker and its owner share. It lives as long as either of them: a worker the owner
// gave up waiting for keeps it and finishes on it alone.
struct WorkerShared
{
    std::mutex lock;
    std::condition_variable wake; // stop requested, or the worker finished
    bool stopRequested = false;
    bool finished = false;
    bool abandoned = false; // the owner stopped waiting: report to nobody
    std::string message;
};

// The worker's side: the stop request and the report text.
class WorkerControl
{
public:
    explicit WorkerControl(std::shared_ptr<WorkerShared> shared) : m_shared(std::move(shared)) { }
    bool StopRequested() const;
    // Waits up to `wait` for a stop request; true when one came.
    bool WaitForStop(std::chrono::milliseconds wait) const;
    void SetMessage(std::string_view text) const;
    void AppendMessage(std::string_view text) const;

private:
    std::shared_ptr<WorkerShared> m_shared;
};

// A worker thread that runs one routine, stops cooperatively and reports to the view with a
// posted message. The routine must own everything it touches (no pointer back to this
// object), because a worker that does not stop in time is left to finish on its own.
class CWorkerThread
{
public:
    // A pass: 0 done, -1 failed; above 0 would run again after `interval` unless stopped.
    using Routine = std::function<int(const WorkerControl &)>;

    // `owner` gets `doneMessage` with the result when a pass ends; it may be null.
    CWorkerThread(IMessageSink *owner, uint32_t doneMessage,
                  std::chrono::milliseconds stopWait = std::chrono::milliseconds(5000));
    virtual ~CWorkerThread();
    CWorkerThread(const CWorkerThread &) = delete;
    CWorkerThread &operator=(const CWorkerThread &) = delete;

    virtual void AppendMessage(std::string_view text);
    virtual void SetMessage(std::string_view text);
    // The report of the last pass or the last error.
    std::string Message() const;

    // Asks the worker to stop and waits up to the stop wait for it. A worker that does not
    // stop in time is left running without an owner.
    virtual void Stop();

    bool IsRunning() const;

protected:
    // Stop, then run `routine` on a new thread. False (with the error in the message) when
    // the thread cannot be created.
    bool StartRoutine(Routine routine);
    // Called by Stop when the worker did not stop in time (its report will never come).
    virtual void OnAbandoned() { }

    std::chrono::milliseconds m_interval { 100 };

private:
    IMessageSink *m_owner;
    uint32_t m_doneMessage;
    std::chrono::milliseconds m_stopWait;
    std::shared_ptr<WorkerShared> m_shared;
    std::thread m_thread;
};

} // namespace vorlund
