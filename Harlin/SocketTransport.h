#pragma once

#include "ViewerHub.h"

#include <QTcpSocket>

namespace vorlund::link {

// A viewer's TCP socket as a session transport.
class SocketTransport : public ISessionTransport
{
public:
    explicit SocketTransport(QTcpSocket *socket) : m_socket(socket) { }
    void Write(std::span<const uint8_t> bytes) override;
    size_t Backlog() const override;
    void Close(bool graceful) override;
    bool Closing() const { return m_closing; }

private:
    QTcpSocket *m_socket;
    bool m_closing = false;
};

// Gives a socket its options for a long-lived, small-request link.
void PrepareLinkSocket(QTcpSocket &socket);

// Reads what the socket holds in small pieces and hands each to feed; stops early when
// stop() turns true (the session was dropped meanwhile).
template <typename Feed, typename Stop> void DrainSocket(QTcpSocket &socket, Feed feed, Stop stop)
{
    char chunk[4096];
    while (!stop() && socket.bytesAvailable() > 0) {
        const qint64 n = socket.read(chunk, sizeof chunk);
        if (n <= 0)
            break;
        feed(std::span<const uint8_t>(reinterpret_cast<const uint8_t *>(chunk),
                                      static_cast<size_t>(n)));
    }
}

} // namespace vorlund::link
