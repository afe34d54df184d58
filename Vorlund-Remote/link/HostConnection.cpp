#include "HostConnection.h"
#include "LinkErrors.h"
#include "LookupReply.h"
#include "ReplyParser.h"
#include "Requests.h"

#include <QNetworkProxy>
#include <QTcpSocket>
#include <QTimer>

#include <sys/socket.h>

#include <array>
#include <cstdio>
#include <cstring>
#include <memory>

namespace vorlund::viewer {

// One TCP connection: to a server (replies cut by ReplyParser) or to the lookup server
// (lines searched for the address). Made per connect, deleted with deleteLater by CloseLink.
class CHostSocket : public QObject
{
public:
    static constexpr qint64 kReceiveBufferSize = 8192;
    // What the socket may hold that the parser has not read: a peer that sends unasked is
    // held back by TCP, not by the viewer's memory.
    static constexpr qint64 kReadBufferBound = 64 * 1024;

    CHostSocket(CHostConnection &owner, bool lookup, uint32_t link)
        : m_owner(owner), m_lookup(lookup), m_link(link), m_receive(new uint8_t[kReceiveBufferSize])
    {
        m_socket.setProxy(QNetworkProxy::NoProxy);
        m_socket.setReadBufferSize(kReadBufferBound);
        m_connectTimer.setSingleShot(true);
        connect(&m_socket, &QTcpSocket::connected, this, &CHostSocket::OnConnect);
        connect(&m_socket, &QTcpSocket::errorOccurred, this, &CHostSocket::OnError);
        connect(&m_socket, &QTcpSocket::readyRead, this, &CHostSocket::OnReceive);
        connect(&m_socket, &QTcpSocket::bytesWritten, this, &CHostSocket::OnSend);
        connect(&m_socket, &QTcpSocket::disconnected, this, [this] { OnClose(0); });
        connect(&m_connectTimer, &QTimer::timeout, this, &CHostSocket::OnConnectTimeout);
    }

    void Connect(const std::string &host, uint16_t port, int timeoutMs)
    {
        m_connectTimer.start(timeoutMs);
        m_socket.connectToHost(QString::fromStdString(host), port);
    }

    // Requests made before the link is up wait behind the login (which must go first) as far
    // as the buffer holds them; once up, each goes to the socket at once.
    void SetRequest(const std::string &request)
    {
        if (size_t(m_pending) + request.size() > m_send.size())
            return;
        std::memcpy(m_send.data() + m_pending, request.data(), request.size());
        m_pending += int(request.size());
        SelectWrite();
    }

    // Reading resumes now (a PTZ byte must not cut short a reply being read).
    void SelectRead()
    {
        m_reading = true;
        ReadAvailable();
    }

    void Close()
    {
        m_done = true;
        m_connectTimer.stop();
        m_socket.disconnect(this);
        m_socket.abort();
        m_reset.Release();
    }

    int PendingSendLength() const { return m_pending + int(m_socket.bytesToWrite()); }
    const HostInfo &Host() const { return m_parser.Host(); }

private:
    void SelectWrite()
    {
        if (!m_connected || m_done || m_pending == 0)
            return;
        const qint64 written
            = m_socket.write(reinterpret_cast<const char *>(m_send.data()), m_pending);
        m_pending = 0;
        if (written < 0) {
            char text[40];
            std::snprintf(text, sizeof text, "Send error: %d", ConnectErrorCode(m_socket.error()));
            Shutdown();
            m_owner.ShowThenPost(text, m_link, 0);
        }
    }

    void OnConnect()
    {
        m_connectTimer.stop();
        m_connected = true;
        m_reset.Watch(m_socket.socketDescriptor());
        m_owner.Post(m_link, WM_LINK_UP);
        SelectWrite();
    }

    void OnConnectTimeout()
    {
        if (m_connected || m_done)
            return;
        m_done = true;
        m_socket.abort();
        m_owner.ShowThenPost(ConnectErrorText(kTimedOut), m_link, WM_LINK_CLOSED);
    }

    void OnError(QAbstractSocket::SocketError error)
    {
        if (m_done)
            return;
        if (m_connected) {
            OnClose(CloseErrorCode(error));
            return;
        }
        m_done = true;
        m_connectTimer.stop();
        if (error == QAbstractSocket::HostNotFoundError) {
            m_owner.FailConnect(m_link);
            return;
        }
        m_owner.ShowThenPost(ConnectErrorText(ConnectErrorCode(error)), m_link, WM_LINK_CLOSED);
    }

    // The whole request is with the system: read the reply.
    void OnSend(qint64)
    {
        if (m_pending == 0 && m_socket.bytesToWrite() == 0)
            SelectRead();
    }

    void OnReceive()
    {
        if (m_reading)
            ReadAvailable();
    }

    void OnClose(int code)
    {
        if (m_done)
            return;
        // Whatever came before the close (a lookup reply, ">ERR") is taken first.
        if (m_reading)
            ReadAvailable();
        if (m_done)
            return;
        m_done = true;
        if (code == 0 && m_reset.WasReset())
            code = kConnectionReset;
        m_reset.Release();
        if (auto text = CloseErrorText(code))
            m_owner.ShowThenPost(*text, m_link, WM_LINK_CLOSED);
        else
            m_owner.Post(m_link, WM_LINK_CLOSED);
    }

    // One system read at a time, as the reply parser's rules about surplus bytes assume.
    void ReadAvailable()
    {
        while (m_reading && !m_done && m_socket.bytesAvailable() > 0) {
            const qint64 n
                = m_socket.read(reinterpret_cast<char *>(m_receive.get()), kReceiveBufferSize);
            if (n < 0) {
                Shutdown();
                m_owner.ShowThenPost("Receive error!", m_link, 0);
                return;
            }
            const std::span<const uint8_t> read(m_receive.get(), size_t(n));
            if (m_lookup)
                ReadLookupReply(m_line, read, m_owner.m_lookedUpAddress);
            else
                Act(m_parser.Feed(read));
        }
    }

    void Act(const ReplyResult &r)
    {
        if (!r.keepReading)
            m_reading = false;
        switch (r.kind) {
        case ReplyResult::Kind::None:
            break;
        case ReplyResult::Kind::Frame: {
            const auto frame = m_parser.Frame();
            if (frame.size() > m_owner.m_viewFrame.size()) {
                DropForLength(r.length);
                break;
            }
            std::memcpy(m_owner.m_viewFrame.data(), frame.data(), frame.size());
            m_owner.Post(m_link, WM_FRAME_READY, r.camera, r.length);
            break;
        }
        case ReplyResult::Kind::HostReady:
            m_owner.Post(m_link, WM_HOST_READY, 0, 0, &m_parser.Host());
            break;
        case ReplyResult::Kind::NeedPassword:
            m_owner.Post(m_link, WM_NEED_PASSWORD, 0, 0, &m_parser.Host());
            break;
        case ReplyResult::Kind::HostError:
            m_owner.Post(m_link, WM_HOST_ERROR, 0, r.errorCode);
            break;
        case ReplyResult::Kind::BadFrameLength:
            DropForLength(r.length);
            break;
        }
    }

    // A frame that cannot fit the buffers: the stream cannot be followed any further.
    void DropForLength(int32_t length)
    {
        m_done = true;
        m_socket.abort();
        m_reset.Release();
        char text[96];
        std::snprintf(text, sizeof text,
                      "The host sent a frame of %d bytes, which is not a valid size.\nThe "
                      "connection was closed.",
                      int(length));
        m_owner.ShowThenPost(text, m_link, WM_LINK_CLOSED);
    }

    // Both directions; the peer's close then ends the link.
    void Shutdown()
    {
        const auto fd = m_socket.socketDescriptor();
        if (fd >= 0)
            ::shutdown(int(fd), SHUT_RDWR);
    }

    CHostConnection &m_owner;
    const bool m_lookup;
    const uint32_t m_link;
    QTcpSocket m_socket { this };
    QTimer m_connectTimer { this };
    ResetWatch m_reset;
    std::unique_ptr<uint8_t[]> m_receive;
    std::array<uint8_t, kSendBufferSize> m_send {};
    int m_pending = 0;
    bool m_connected = false;
    bool m_reading = false;
    bool m_done = false; // the link's end has been reported (or it was closed)
    ReplyParser m_parser;
    HttpLineState m_line;
};

CHostConnection::CHostConnection(ILinkSink &sink, INotifier &notifier, std::span<uint8_t> viewFrame,
                                 LinkSettings settings)
    : m_sink(sink), m_notifier(notifier), m_viewFrame(viewFrame), m_settings(std::move(settings))
{ }

CHostConnection::~CHostConnection()
{
    if (m_socket) {
        m_socket->Close();
        delete m_socket;
    }
}

bool CHostConnection::Open(bool lookup, const std::string &host, uint16_t port,
                           const std::string *request)
{
    CloseLink();
    const uint32_t link = ++m_serial;
    if (!request) {
        ShowThenPost("The login id is too long or holds control characters.", link, WM_LINK_CLOSED);
        return false;
    }
    if (host.empty() || port == 0) {
        FailConnect(link);
        return false;
    }
    m_socket = new CHostSocket(*this, lookup, link);
    m_socket->SetRequest(*request);
    m_socket->Connect(host, port, m_settings.connectTimeoutMs);
    return true;
}

bool CHostConnection::ConnectHost(const std::string &host, uint16_t port, uint8_t quality,
                                  uint8_t sizeCode, std::string_view id)
{
    const auto request = LoginRequest(quality, sizeCode, id);
    return Open(false, host, port, request ? &*request : nullptr);
}

bool CHostConnection::LookupHost(std::string_view id)
{
    const auto request = LookupRequest(id, m_settings.lookupHost);
    return Open(true, m_settings.lookupHost, m_settings.lookupPort, request ? &*request : nullptr);
}

void CHostConnection::CloseLink()
{
    if (!m_socket)
        return;
    m_socket->Close();
    m_socket->deleteLater();
    m_socket = nullptr;
}

void CHostConnection::SendPassword(std::string_view text)
{
    if (!m_socket)
        return;
    if (const auto request = PasswordRequest(text))
        m_socket->SetRequest(*request);
}

void CHostConnection::RequestLiveFrame(uint8_t camera, uint8_t value)
{
    if (m_socket)
        m_socket->SetRequest(LiveFrameRequest(camera, value));
}

void CHostConnection::RequestStoredFrame(uint8_t camera, char step)
{
    if (m_socket)
        m_socket->SetRequest(StoredFrameRequest(camera, step));
}

void CHostConnection::SendKeepAlive()
{
    if (m_socket)
        m_socket->SetRequest(KeepAliveRequest());
}

void CHostConnection::SendPtzByte(uint8_t value)
{
    if (!m_socket)
        return;
    m_socket->SetRequest(PtzRequest(value));
    m_socket->SelectRead();
}

int CHostConnection::PendingSendLength() const
{
    return m_socket ? m_socket->PendingSendLength() : 0;
}

const HostInfo *CHostConnection::Host() const
{
    return m_socket ? &m_socket->Host() : nullptr;
}

void CHostConnection::Post(uint32_t link, uint32_t message, uintptr_t wParam, intptr_t lParam,
                           const HostInfo *host)
{
    LinkMessage m;
    m.message = message;
    m.wParam = wParam;
    m.lParam = lParam;
    if (host)
        m.host = *host;
    m.link = link;
    m_sink.PostLinkMessage(m);
}

void CHostConnection::ShowThenPost(std::string text, uint32_t link, uint32_t message)
{
    QMetaObject::invokeMethod(
        this,
        [this, text = std::move(text), link, message] {
            m_notifier.ShowMessage(text, kViewerCaption);
            if (message != 0 && link == m_serial)
                Post(link, message);
        },
        Qt::QueuedConnection);
}

void CHostConnection::FailConnect(uint32_t link)
{
    if (m_socket && link == m_serial)
        CloseLink();
    ShowThenPost("connect error", link, WM_LINK_CLOSED);
}

} // namespace vorlund::viewer
