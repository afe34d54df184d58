#include "WorkerThread.h"

#include <system_error>

namespace vorlund {

bool WorkerControl::StopRequested() const
{
    std::lock_guard lock(m_shared->lock);
    return m_shared->stopRequested;
}

bool WorkerControl::WaitForStop(std::chrono::milliseconds wait) const
{
    std::unique_lock lock(m_shared->lock);
    return m_shared->wake.wait_for(lock, wait, [&] { return m_shared->stopRequested; });
}

void WorkerControl::SetMessage(std::string_view text) const
{
    std::lock_guard lock(m_shared->lock);
    m_shared->message.assign(text);
}

void WorkerControl::AppendMessage(std::string_view text) const
{
    std::lock_guard lock(m_shared->lock);
    m_shared->message.append(text);
}

CWorkerThread::CWorkerThread(IMessageSink *owner, uint32_t doneMessage,
                             std::chrono::milliseconds stopWait)
    : m_owner(owner), m_doneMessage(doneMessage), m_stopWait(stopWait),
      m_shared(std::make_shared<WorkerShared>())
{ }

CWorkerThread::~CWorkerThread()
{
    Stop();
}

void CWorkerThread::AppendMessage(std::string_view text)
{
    WorkerControl(m_shared).AppendMessage(text);
}

void CWorkerThread::SetMessage(std::string_view text)
{
    WorkerControl(m_shared).SetMessage(text);
}

std::string CWorkerThread::Message() const
{
    std::lock_guard lock(m_shared->lock);
    return m_shared->message;
}

bool CWorkerThread::IsRunning() const
{
    if (!m_thread.joinable())
        return false;
    std::lock_guard lock(m_shared->lock);
    return !m_shared->finished;
}

void CWorkerThread::Stop()
{
    if (!m_thread.joinable())
        return;
    // The worker never stops itself: it only marks itself finished, and the owner joins it.
    if (m_thread.get_id() == std::this_thread::get_id())
        return;
    bool finished;
    {
        std::unique_lock lock(m_shared->lock);
        m_shared->stopRequested = true;
        m_shared->wake.notify_all();
        finished = m_shared->wake.wait_for(lock, m_stopWait, [&] { return m_shared->finished; });
        if (!finished)
            m_shared->abandoned = true;
    }
    if (finished) {
        m_thread.join();
        return;
    }
    // No forced kill: the worker keeps its own state and reports to nobody.
    m_thread.detach();
    m_shared = std::make_shared<WorkerShared>();
    SetMessage("The redir thread is dead\r\n");
    OnAbandoned();
}

bool CWorkerThread::StartRoutine(Routine routine)
{
    Stop();
    auto shared = std::make_shared<WorkerShared>();
    {
        // The message carries over (the caller may have set it before starting).
        std::lock_guard lock(m_shared->lock);
        shared->message = m_shared->message;
    }
    m_shared = shared;
    IMessageSink *owner = m_owner;
    const uint32_t doneMessage = m_doneMessage;
    const std::chrono::milliseconds interval = m_interval;
    try {
        m_thread
            = std::thread([shared, owner, doneMessage, interval, routine = std::move(routine)]() {
                  const WorkerControl control(shared);
                  int result = routine(control);
                  while (result > 0 && !control.WaitForStop(interval))
                      result = routine(control);
                  std::lock_guard lock(shared->lock);
                  shared->finished = true;
                  shared->wake.notify_all();
                  if (owner && !shared->abandoned)
                      owner->PostMessage(doneMessage,
                                         static_cast<uintptr_t>(static_cast<intptr_t>(result)));
              });
    } catch (const std::system_error &e) {
        SetMessage("RecycleFiles error: " + e.code().message() + "\r\n");
        Stop();
        return false;
    }
    return true;
}

} // namespace vorlund
