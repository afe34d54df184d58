#include "LinkErrors.h"

#include <cerrno>
#include <cstdio>

#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

namespace vorlund::viewer {

int ConnectErrorCode(QAbstractSocket::SocketError error)
{
    switch (error) {
    case QAbstractSocket::ConnectionRefusedError:
        return kConnectionRefused;
    case QAbstractSocket::NetworkError: // unreachable network or host
        return kNetworkUnreachable;
    case QAbstractSocket::SocketTimeoutError:
        return kTimedOut;
    case QAbstractSocket::AddressInUseError:
        return 10048;
    case QAbstractSocket::SocketAddressNotAvailableError:
        return 10049;
    case QAbstractSocket::SocketResourceError:
        return 10055;
    case QAbstractSocket::UnsupportedSocketOperationError:
        return 10047;
    case QAbstractSocket::SocketAccessError:
        return 10013;
    default:
        return 10000 + int(error);
    }
}

std::string ConnectErrorText(int code)
{
    switch (code) {
    case 10014:
        return "The lpSockAddrLen argument is incorrect.\n";
    case 10022:
        return "The socket is already bound to an address.\n";
    case 10024:
        return "No more file descriptors are available.\n";
    case 10038:
        return "The descriptor is a file, not a socket.\n";
    case 10039:
        return "A destination address is required.\n";
    case 10047:
        return "Addresses in the specified family cannot be used with this socket.\n";
    case 10048:
        return "The specified address is already in use.\n";
    case 10049:
        return "The specified address is not available from the local machine.\n";
    case kNetworkUnreachable:
        return "The network cannot be reached from this host at this time.\n";
    case 10055:
        return "No buffer space is available. The socket cannot be connected.\n";
    case 10056:
        return "The socket is already connected.\n";
    case 10057:
        return "The socket is not connected.\n";
    case kTimedOut:
        return "The attempt to connect timed.\nMake sure the host IP address\nand port are "
               "correct.\n";
    case kConnectionRefused:
        return "The attempt to connect was forcefully rejected.\n";
    default: {
        char text[40];
        std::snprintf(text, sizeof text, "OnConnect error: %d", code);
        return text;
    }
    }
}

int CloseErrorCode(QAbstractSocket::SocketError error)
{
    switch (error) {
    case QAbstractSocket::RemoteHostClosedError:
        return 0;
    case QAbstractSocket::NetworkError:
        return kNetworkDown;
    case QAbstractSocket::SocketTimeoutError:
        return kConnectionAborted;
    default:
        return kConnectionReset;
    }
}

std::optional<std::string> CloseErrorText(int code)
{
    switch (code) {
    case kNetworkDown:
        return "The network subsystem failed.\n";
    case kConnectionAborted:
        return "The connection was closed or timed out.\n";
    case kConnectionReset:
        return "The connection was reset from host.\n";
    default:
        return std::nullopt;
    }
}

void ResetWatch::Watch(qintptr descriptor)
{
    Release();
    if (descriptor >= 0)
        m_fd = ::fcntl(int(descriptor), F_DUPFD_CLOEXEC, 0);
}

bool ResetWatch::WasReset() const
{
    if (m_fd < 0)
        return false;
    int error = 0;
    socklen_t length = sizeof error;
    if (::getsockopt(m_fd, SOL_SOCKET, SO_ERROR, &error, &length) == 0 && error == ECONNRESET)
        return true;
    tcp_info info {};
    length = sizeof info;
    return ::getsockopt(m_fd, IPPROTO_TCP, TCP_INFO, &info, &length) == 0
        && info.tcpi_state == TCP_CLOSE;
}

void ResetWatch::Release()
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}

} // namespace vorlund::viewer
