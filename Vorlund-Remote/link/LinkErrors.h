#pragma once

#include <QAbstractSocket>

#include <optional>
#include <string>

namespace vorlund::viewer {

// The link reports socket failures by the WinSock codes its messages are keyed on.
inline constexpr int kNetworkDown = 10050;
inline constexpr int kNetworkUnreachable = 10051;
inline constexpr int kConnectionAborted = 10053;
inline constexpr int kConnectionReset = 10054;
inline constexpr int kTimedOut = 10060;
inline constexpr int kConnectionRefused = 10061;

// A failed connect: the code and its message.
int ConnectErrorCode(QAbstractSocket::SocketError error);
std::string ConnectErrorText(int code);

// A link that ends after it was up: 0 for a normal close by the peer (no message).
int CloseErrorCode(QAbstractSocket::SocketError error);
std::optional<std::string> CloseErrorText(int code);

// Qt reports a reset link as a normal close and has closed its descriptor by then. A second
// descriptor of the same socket keeps it, so its state still tells a reset (closed) from the
// peer's orderly close (close-wait). Released at the link's end, which also lets the socket go.
class ResetWatch
{
public:
    ResetWatch() = default;
    ~ResetWatch() { Release(); }
    ResetWatch(const ResetWatch &) = delete;
    ResetWatch &operator=(const ResetWatch &) = delete;

    void Watch(qintptr descriptor);
    bool WasReset() const;
    void Release();

private:
    int m_fd = -1;
};

} // namespace vorlund::viewer
