#pragma once

#include "LinkMessages.h"

#include <QEvent>
#include <QObject>

namespace vorlund::viewer {

// A link message carried as a posted QEvent; the view's customEvent switches on
// message().message.
class LinkMessageEvent : public QEvent
{
public:
    static const QEvent::Type kType;

    explicit LinkMessageEvent(const LinkMessage &message) : QEvent(kType), m_message(message) { }
    const LinkMessage &message() const { return m_message; }

private:
    LinkMessage m_message;
};

// Posts link messages to a QObject on the user-interface thread; the receiver must outlive
// the connection.
class QueuedLinkSink : public ILinkSink
{
public:
    explicit QueuedLinkSink(QObject *receiver) : m_receiver(receiver) { }
    void PostLinkMessage(const LinkMessage &message) override;

private:
    QObject *m_receiver;
};

} // namespace vorlund::viewer
