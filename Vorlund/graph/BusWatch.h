// Reads a pipeline's bus on the UI thread without a polling timer: a socket notifier on the
// bus's poll descriptor calls back whenever messages are waiting.
#pragma once

#include "GstHandles.h"

#include <functional>
#include <memory>

class QSocketNotifier;

namespace vorlund {

class BusWatch
{
public:
    // `onMessages` runs on the thread that made the watch (it needs a Qt event loop) and must
    // drain the bus, or it is called again.
    BusWatch(GstBus *bus, std::function<void()> onMessages);
    ~BusWatch();
    BusWatch(const BusWatch &) = delete;
    BusWatch &operator=(const BusWatch &) = delete;

    // Off while the caller waits on the bus itself (the EOS wait of a stop).
    void SetEnabled(bool enabled);

private:
    BusRef m_bus;
    std::unique_ptr<QSocketNotifier> m_notifier;
};

} // namespace vorlund
