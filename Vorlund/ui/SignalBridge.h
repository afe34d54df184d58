#pragma once

#include <QObject>

#include <csignal>
#include <functional>

class QSocketNotifier;

namespace vorlund {

// Turns SIGUSR1 (service close) and SIGUSR2 (snapshot request) into calls on the UI thread:
// the handler only writes one byte to a pipe, whose reading end the event loop watches.
// One bridge per process; the old handlers come back when it goes.
class SignalBridge : public QObject
{
public:
    SignalBridge(std::function<void()> onServiceClose, std::function<void()> onSnapshotRequest,
                 QObject *parent = nullptr);
    ~SignalBridge() override;
    SignalBridge(const SignalBridge &) = delete;
    SignalBridge &operator=(const SignalBridge &) = delete;

    // False when the pipe or the handlers could not be set up (or another bridge holds them).
    bool IsInstalled() const { return m_installed; }

private:
    void OnReadable();

    std::function<void()> m_onServiceClose;
    std::function<void()> m_onSnapshotRequest;
    int m_pipe[2] = { -1, -1 };
    QSocketNotifier *m_notifier = nullptr;
    struct sigaction m_oldUsr1
    {
    };
    struct sigaction m_oldUsr2
    {
    };
    bool m_installed = false;
};

} // namespace vorlund
