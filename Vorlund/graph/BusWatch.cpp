#include "BusWatch.h"

#include <QCoreApplication>
#include <QSocketNotifier>

namespace vorlund {

BusWatch::BusWatch(GstBus *bus, std::function<void()> onMessages) : m_bus(bus, RefMode::NeedsRef)
{
    // Without an event loop there is nothing to wake; the owner drains the bus itself.
    if (!bus || !QCoreApplication::instance())
        return;
    GPollFD fd {};
    gst_bus_get_pollfd(bus, &fd);
    if (fd.fd < 0)
        return;
    m_notifier = std::make_unique<QSocketNotifier>(fd.fd, QSocketNotifier::Read);
    QObject::connect(m_notifier.get(), &QSocketNotifier::activated,
                     [callback = std::move(onMessages)] { callback(); });
}

BusWatch::~BusWatch() = default;

void BusWatch::SetEnabled(bool enabled)
{
    if (m_notifier)
        m_notifier->setEnabled(enabled);
}

} // namespace vorlund
