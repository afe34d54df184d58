#include "SocketTransport.h"

#include <QTimer>

namespace vorlund::link {

namespace {
constexpr int kGracefulCloseMs = 5000;
}

void SocketTransport::Write(std::span<const uint8_t> bytes)
{
    if (!m_closing)
        m_socket->write(reinterpret_cast<const char *>(bytes.data()),
                        static_cast<qint64>(bytes.size()));
}

size_t SocketTransport::Backlog() const
{
    return static_cast<size_t>(m_socket->bytesToWrite());
}

void SocketTransport::Close(bool graceful)
{
    if (m_closing)
        return;
    m_closing = true;
    if (graceful) {
        // The reply goes first; a peer that never takes it is cut off.
        QTcpSocket *socket = m_socket;
        QTimer::singleShot(kGracefulCloseMs, socket, [socket] { socket->abort(); });
        socket->disconnectFromHost();
    } else {
        m_socket->abort();
    }
}

void PrepareLinkSocket(QTcpSocket &socket)
{
    socket.setSocketOption(QAbstractSocket::LowDelayOption, 1);
    socket.setSocketOption(QAbstractSocket::KeepAliveOption, 1);
}

} // namespace vorlund::link
