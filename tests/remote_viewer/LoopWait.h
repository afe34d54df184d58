#pragma once

#include <QCoreApplication>
#include <QDeadlineTimer>

#include <functional>

namespace vorlund::viewer::test {

// Runs the event loop until `done`; the bound only keeps a broken build from hanging.
inline bool WaitUntil(const std::function<bool()> &done)
{
    QDeadlineTimer deadline(10000);
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return true;
}

} // namespace vorlund::viewer::test
