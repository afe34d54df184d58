#include "ViewMessageEvent.h"

#include <QCoreApplication>

namespace vorlund {

const QEvent::Type ViewMessageEvent::kType = static_cast<QEvent::Type>(QEvent::registerEventType());

void QueuedEventSink::PostMessage(uint32_t message) noexcept
{
    if (m_receiver)
        QCoreApplication::postEvent(m_receiver, new ViewMessageEvent(message));
}

} // namespace vorlund
