#pragma once

#include <QObject>

#include <array>
#include <csignal>
#include <functional>

class QSocketNotifier;

namespace vorlund {

// Turns signals into calls on the UI thread: SIGUSR1 (service close), SIGUSR2 (snapshot
// request), and SIGTERM, SIGINT or SIGHUP (close the program the way its window closes, so
// recordings end properly; SIGHUP comes when the terminal or login it was started from goes). The
// handler only writes one byte to a pipe whose reading end the event loop watches. One bridge per
// process; the old handlers come back when it goes.
class SignalBridge : public QObject
{
public:
    struct Handlers
    {
        std::function<void()> serviceClose;
        std::function<void()> snapshotRequest;
        std::function<void()> terminate;
    };

    explicit SignalBridge(Handlers handlers, QObject *parent = nullptr);
    ~SignalBridge() override;
    SignalBridge(const SignalBridge &) = delete;
    SignalBridge &operator=(const SignalBridge &) = delete;

    // False when the pipe or the handlers could not be set up (or another bridge holds them).
    bool IsInstalled() const { return m_installed; }

private:
    static constexpr std::array<int, 5> kSignals { SIGUSR1, SIGUSR2, SIGTERM, SIGINT, SIGHUP };

    void OnReadable();
    void Restore(size_t count);

    Handlers m_handlers;
    int m_pipe[2] = { -1, -1 };
    QSocketNotifier *m_notifier = nullptr;
    std::array<struct sigaction, kSignals.size()> m_old {};
    bool m_installed = false;
};

} // namespace vorlund
