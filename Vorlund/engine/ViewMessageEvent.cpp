#include "ViewMessageEvent.h"

#include <QCoreApplication>

namespace vorlund {

const QEvent::Type ViewMessageEvent::kType = static_cast<QEvent::Type>(QEvent::registerEventType());

std::atomic<bool> *QueuedEventSink::Pending(uint32_t message) noexcept
{
    if (message == WM_FRAME_GRABBED)
        return &m_frameGrabbedPending;
    if (message == WM_PLAY_SNAP)
        return &m_playSnapPending;
    return nullptr;
}

void QueuedEventSink::PostMessage(uint32_t message, uintptr_t wParam) noexcept
{
    if (!m_receiver)
        return;
    if (std::atomic<bool> *pending = Pending(message); pending && pending->exchange(true))
        return;
    QCoreApplication::postEvent(m_receiver, new ViewMessageEvent(message, wParam));
}

void QueuedEventSink::Delivered(uint32_t message) noexcept
{
    if (std::atomic<bool> *pending = Pending(message))
        pending->store(false);
}

} // namespace vorlund
