#include "CDoSocks.h"

#include "SocketTransport.h"

#include <QHostAddress>
#include <QObject>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <cstring>
#include <map>

namespace vorlund {

using link::SocketTransport;

class CDoSocks::Impl : public QObject
{
public:
    explicit Impl(LinkOptions options)
        : m_options(std::move(options)),
          m_hub(m_options.clock ? *m_options.clock : SystemClock::Instance(), m_options.limits)
    {
        m_poll.setParent(this);
        connect(&m_poll, &QTimer::timeout, this, [this] { m_hub.Poll(); });
        connect(&m_server, &QTcpServer::newConnection, this, [this] { Accept(); });
    }

    ~Impl() override { Stop(); }

    bool Start(const ConnInfo &iConn, const ImageHeader &header, const PtzFlags &ptz)
    {
        Stop();
        if (iConn.RemotePort < 0 || iConn.RemotePort > 65535)
            return false;
        link::LinkSetup setup;
        setup.password.assign(iConn.RemotePassword,
                              strnlen(iConn.RemotePassword, sizeof iConn.RemotePassword - 1));
        setup.cameraOnePriority = iConn.CameraPriority != 0;
        setup.header = header;
        setup.ptzFlags = ptz;
        if (!m_hub.Configure(setup))
            return false;
        const QHostAddress address = m_options.bindAddress.empty()
            ? QHostAddress(QHostAddress::Any)
            : QHostAddress(QString::fromStdString(m_options.bindAddress));
        if (!m_server.listen(address, static_cast<quint16>(iConn.RemotePort))) {
            m_hub.Reset();
            return false;
        }
        m_poll.start(m_options.pollMs);
        return true;
    }

    void Stop()
    {
        m_poll.stop();
        m_server.close();
        for (auto &[id, link] : m_links)
            link.socket->disconnect(this);
        m_hub.Reset();
        for (auto &[id, link] : m_links)
            link.socket->deleteLater();
        m_links.clear();
    }

    link::ViewerHub &Hub() { return m_hub; }
    const link::ViewerHub &Hub() const { return m_hub; }
    uint16_t Port() const { return m_server.isListening() ? m_server.serverPort() : 0; }

private:
    struct Link
    {
        QTcpSocket *socket;
        std::unique_ptr<SocketTransport> transport;
    };

    void Accept()
    {
        while (QTcpSocket *socket = m_server.nextPendingConnection()) {
            link::PrepareLinkSocket(*socket);
            auto transport = std::make_unique<SocketTransport>(socket);
            const int id = m_hub.Open(*transport, socket->peerAddress().toString().toStdString());
            if (id == 0) {
                socket->abort();
                socket->deleteLater();
                continue;
            }
            m_links.emplace(id, Link { socket, std::move(transport) });
            connect(socket, &QTcpSocket::readyRead, this, [this, id] { Read(id); });
            connect(socket, &QTcpSocket::disconnected, this, [this, id] { Gone(id); });
            if (socket->bytesAvailable() > 0)
                Read(id);
        }
    }

    void Read(int id)
    {
        auto it = m_links.find(id);
        if (it == m_links.end())
            return;
        SocketTransport *transport = it->second.transport.get();
        link::DrainSocket(
            *it->second.socket, [&](std::span<const uint8_t> bytes) { m_hub.Feed(id, bytes); },
            [transport] { return transport->Closing(); });
    }

    // The socket may be inside a call of its own transport: both go away later.
    void Gone(int id)
    {
        auto it = m_links.find(id);
        if (it == m_links.end())
            return;
        m_hub.Closed(id);
        it->second.socket->disconnect(this);
        it->second.socket->deleteLater();
        QTimer::singleShot(0, this, [this, id] { m_links.erase(id); });
    }

    LinkOptions m_options;
    link::ViewerHub m_hub;
    QTcpServer m_server;
    QTimer m_poll;
    std::map<int, Link> m_links;
};

CDoSocks::CDoSocks(LinkOptions options) : d(std::make_unique<Impl>(std::move(options))) { }

CDoSocks::~CDoSocks() = default;

bool CDoSocks::StartListening(const ConnInfo &iConn, const ImageHeader &header,
                              const PtzFlags &ptzFlags)
{
    return d->Start(iConn, header, ptzFlags);
}

void CDoSocks::StopListening()
{
    d->Stop();
}

int CDoSocks::GotConnection() const
{
    return d->Hub().ReadyCount();
}

int8_t CDoSocks::CheckRequestQueue(uint8_t *buffer, size_t length)
{
    return d->Hub().CheckRequestQueue(buffer, length);
}

bool CDoSocks::SendImageOut(const uint8_t *frame, size_t length, int camera, const FrameId *id)
{
    return d->Hub().SendImageOut(frame, length, camera, id);
}

bool CDoSocks::ResendImageOut(const FrameId &id, int camera)
{
    return d->Hub().ResendImageOut(id, camera);
}

bool CDoSocks::SendStillOut(const std::string &path)
{
    return d->Hub().SendStillOut(path);
}

uint16_t CDoSocks::ListeningPort() const
{
    return d->Port();
}

} // namespace vorlund
