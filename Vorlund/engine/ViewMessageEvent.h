#pragma once

#include "Messages.h"

#include <QEvent>
#include <QObject>

#include <atomic>

namespace vorlund {

// A private view message carried as a posted QEvent; the view's customEvent switches on
// message().
class ViewMessageEvent : public QEvent
{
public:
    static const QEvent::Type kType;

    explicit ViewMessageEvent(uint32_t message, uintptr_t wParam = 0, intptr_t lParam = 0)
        : QEvent(kType), m_message(message), m_wParam(wParam), m_lParam(lParam)
    { }
    uint32_t message() const { return m_message; }
    uintptr_t wParam() const { return m_wParam; }
    intptr_t lParam() const { return m_lParam; }

private:
    uint32_t m_message;
    uintptr_t m_wParam;
    intptr_t m_lParam;
};

// Posts messages from any thread to a QObject living on the UI thread. The receiver must
// outlive every sender (the pipeline is set to NULL before the view goes away).
class QueuedEventSink : public IMessageSink
{
public:
    explicit QueuedEventSink(QObject *receiver) : m_receiver(receiver) { }
    using IMessageSink::PostMessage;
    void PostMessage(uint32_t message, uintptr_t wParam) noexcept override;
    // The receiver calls this when it takes a coalesced message out of its queue.
    void Delivered(uint32_t message) noexcept;

private:
    // WM_FRAME_GRABBED and WM_PLAY_SNAP can be posted for every frame; one of each in the
    // queue is enough, so a slow UI thread never builds a backlog.
    std::atomic<bool> *Pending(uint32_t message) noexcept;

    QObject *m_receiver;
    std::atomic<bool> m_frameGrabbedPending { false };
    std::atomic<bool> m_playSnapPending { false };
};

} // namespace vorlund
