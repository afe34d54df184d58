#include "SignalBridge.h"

#include <QSocketNotifier>

#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace vorlund {

namespace {

constexpr char kServiceCloseByte = 1;
constexpr char kSnapshotByte = 2;

// The only state a signal handler may touch.
std::atomic<int> g_writeEnd { -1 };

void OnSignal(int signal)
{
    const int saved = errno;
    const int fd = g_writeEnd.load(std::memory_order_relaxed);
    if (fd >= 0) {
        const char byte = signal == SIGUSR1 ? kServiceCloseByte : kSnapshotByte;
        // A full pipe already holds enough wake-ups; the byte may go.
        [[maybe_unused]] const ssize_t n = ::write(fd, &byte, 1);
    }
    errno = saved;
}

} // namespace

SignalBridge::SignalBridge(std::function<void()> onServiceClose,
                           std::function<void()> onSnapshotRequest, QObject *parent)
    : QObject(parent), m_onServiceClose(std::move(onServiceClose)),
      m_onSnapshotRequest(std::move(onSnapshotRequest))
{
    if (g_writeEnd.load() >= 0 || ::pipe2(m_pipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    g_writeEnd.store(m_pipe[1]);

    struct sigaction action
    {
    };
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    if (::sigaction(SIGUSR1, &action, &m_oldUsr1) != 0) {
        g_writeEnd.store(-1);
        return;
    }
    if (::sigaction(SIGUSR2, &action, &m_oldUsr2) != 0) {
        ::sigaction(SIGUSR1, &m_oldUsr1, nullptr);
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
        ::sigaction(SIGUSR1, &m_oldUsr1, nullptr);
        ::sigaction(SIGUSR2, &m_oldUsr2, nullptr);
        g_writeEnd.store(-1);
    }
    delete m_notifier;
    for (int fd : m_pipe)
        if (fd >= 0)
            ::close(fd);
}

void SignalBridge::OnReadable()
{
    char bytes[64];
    bool serviceClose = false;
    bool snapshot = false;
    for (;;) {
        const ssize_t n = ::read(m_pipe[0], bytes, sizeof bytes);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        for (ssize_t i = 0; i < n; ++i) {
            serviceClose |= bytes[i] == kServiceCloseByte;
            snapshot |= bytes[i] == kSnapshotByte;
        }
    }
    // Signals that arrived together count once each.
    if (serviceClose && m_onServiceClose)
        m_onServiceClose();
    if (snapshot && m_onSnapshotRequest)
        m_onSnapshotRequest();
}

} // namespace vorlund
