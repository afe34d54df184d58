#include "LinkMessageEvent.h"

#include <QCoreApplication>

namespace vorlund::viewer {

const QEvent::Type LinkMessageEvent::kType = static_cast<QEvent::Type>(QEvent::registerEventType());

void QueuedLinkSink::PostLinkMessage(const LinkMessage &message)
{
    if (m_receiver)
        QCoreApplication::postEvent(m_receiver, new LinkMessageEvent(message));
}

} // namespace vorlund::viewer
