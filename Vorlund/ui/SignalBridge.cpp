#include "SignalBridge.h"

#include <QSocketNotifier>

#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace vorlund {

namespace {

// The only state a signal handler may touch.
std::atomic<int> g_writeEnd { -1 };

void OnSignal(int signal)
{
    const int saved = errno;
    const int fd = g_writeEnd.load(std::memory_order_relaxed);
    if (fd >= 0) {
        const char byte = static_cast<char>(signal);
        // A full pipe already holds enough wake-ups; the byte may go.
        [[maybe_unused]] const ssize_t n = ::write(fd, &byte, 1);
    }
    errno = saved;
}

} // namespace

SignalBridge::SignalBridge(Handlers handlers, QObject *parent)
    : QObject(parent), m_handlers(std::move(handlers))
{
    int expected = -1;
    if (::pipe2(m_pipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    if (!g_writeEnd.compare_exchange_strong(expected, m_pipe[1]))
        return;

    struct sigaction action
    {
    };
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (size_t i = 0; i < kSignals.size(); ++i)
        if (::sigaction(kSignals[i], &action, &m_old[i]) != 0) {
            Restore(i);
            g_writeEnd.store(-1);
            return;
        }
    m_notifier = new QSocketNotifier(m_pipe[0], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &SignalBridge::OnReadable);
    m_installed = true;
}

SignalBridge::~SignalBridge()
{
    if (m_installed) {
        Restore(kSignals.size());
        g_writeEnd.store(-1);
    }
    delete m_notifier;
    for (int fd : m_pipe)
        if (fd >= 0)
            ::close(fd);
}

void SignalBridge::Restore(size_t count)
{
    for (size_t i = 0; i < count; ++i)
        ::sigaction(kSignals[i], &m_old[i], nullptr);
}

void SignalBridge::OnReadable()
{
    char bytes[64];
    bool serviceClose = false;
    bool snapshot = false;
    bool terminate = false;
    for (;;) {
        const ssize_t n = ::read(m_pipe[0], bytes, sizeof bytes);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        for (ssize_t i = 0; i < n; ++i) {
            serviceClose |= bytes[i] == SIGUSR1;
            snapshot |= bytes[i] == SIGUSR2;
            terminate |= bytes[i] == SIGTERM || bytes[i] == SIGINT || bytes[i] == SIGHUP;
        }
    }
    // Signals that arrived together count once each; closing comes last.
    if (serviceClose && m_handlers.serviceClose)
        m_handlers.serviceClose();
    if (snapshot && m_handlers.snapshotRequest)
        m_handlers.snapshotRequest();
    if (terminate && m_handlers.terminate)
        m_handlers.terminate();
}

} // namespace vorlund
