#include "RelayService.h"

#include "HandshakeRoom.h"
#include "Lookup.h"
#include "SocketTransport.h"
#include "ViewerProtocol.h"

#include <QDateTime>
#include <QHostAddress>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>

#include <algorithm>
#include <fstream>

namespace vorlund::relay {

namespace {

constexpr size_t kMaxLookupRequest = 2048;
constexpr qint64 kServerReadBuffer = 64 * 1024;
constexpr qint64 kViewerReadBuffer = 4096;
constexpr int kGracefulCloseMs = 5000;

void CloseGracefully(QTcpSocket *socket)
{
    QTimer::singleShot(kGracefulCloseMs, socket, [socket] { socket->abort(); });
    QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    socket->disconnectFromHost();
}

void Write(QTcpSocket *socket, std::span<const uint8_t> bytes)
{
    socket->write(reinterpret_cast<const char *>(bytes.data()), static_cast<qint64>(bytes.size()));
}

qint64 NowMs()
{
    return QDateTime::currentMSecsSinceEpoch();
}

} // namespace

struct RelayService::Pending
{
    std::string peer;
    uint64_t since = 0;
    std::vector<uint8_t> bytes;
    link::SessionParser parser;
    FrameReader reader;
};

struct RelayService::Server
{
    QTcpSocket *socket = nullptr;
    std::string login;
    FrameReader reader;
    std::map<uint8_t, QTcpSocket *> channels;
    bool paused = false;
};

struct RelayService::Viewer
{
    QTcpSocket *socket = nullptr;
    QTcpSocket *server = nullptr;
    uint8_t channel = 0;
    bool paused = false;
    qint64 stalledSince = 0;
};

bool LoadUsers(const std::string &path, std::map<std::string, std::string> &users,
               std::string &error)
{
    std::ifstream in(path);
    if (!in) {
        error = "cannot read " + path;
        return false;
    }
    std::string line;
    int number = 0;
    while (std::getline(in, line)) {
        ++number;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.empty() || line[0] == '#')
            continue;
        const size_t colon = line.find(':');
        if (colon == std::string::npos || colon == 0 || colon > kMaxCredential
            || line.size() - colon - 1 > kMaxCredential) {
            error = path + ":" + std::to_string(number) + ": expected login:password";
            return false;
        }
        users[line.substr(0, colon)] = line.substr(colon + 1);
    }
    return true;
}

RelayService::RelayService()
{
    m_stallTimer.setParent(this);
    connect(&m_stallTimer, &QTimer::timeout, this, [this] { CheckStalls(); });
}

RelayService::~RelayService()
{
    Stop();
}

bool RelayService::Start(const RelayConfig &config, std::string &error)
{
    Stop();
    m_config = config;
    if (m_config.publicAddress.empty() || m_config.publicAddress.size() > kMaxAddressLength
        || m_config.publicAddress.find_first_of(":?") != std::string::npos) {
        error = "the public address must be 1 to 19 characters without ':' or '?'";
        return false;
    }
    const QHostAddress bind = m_config.bindAddress.empty()
        ? QHostAddress(QHostAddress::Any)
        : QHostAddress(QString::fromStdString(m_config.bindAddress));
    m_lookup = std::make_unique<QTcpServer>();
    m_relay = std::make_unique<QTcpServer>();
    if (!m_lookup->listen(bind, m_config.lookupPort)) {
        error = "lookup port: " + m_lookup->errorString().toStdString();
        Stop();
        return false;
    }
    if (!m_relay->listen(bind, m_config.relayPort)) {
        error = "relay port: " + m_relay->errorString().toStdString();
        Stop();
        return false;
    }
    connect(m_lookup.get(), &QTcpServer::newConnection, this, [this] { AcceptLookup(); });
    connect(m_relay.get(), &QTcpServer::newConnection, this, [this] { AcceptRelay(); });
    m_stallTimer.start(std::max(100, m_config.stallTimeoutMs / 10));
    return true;
}

void RelayService::Stop()
{
    m_stallTimer.stop();
    std::vector<QTcpSocket *> sockets;
    for (auto &[s, p] : m_pending)
        sockets.push_back(s);
    for (auto &[s, p] : m_servers)
        sockets.push_back(s);
    for (auto &[s, p] : m_viewers)
        sockets.push_back(s);
    for (QTcpSocket *s : sockets) {
        s->disconnect(this);
        s->abort();
        s->deleteLater();
    }
    m_pending.clear();
    m_servers.clear();
    m_viewers.clear();
    m_lookup.reset();
    m_relay.reset();
}

uint16_t RelayService::LookupPort() const
{
    return m_lookup ? m_lookup->serverPort() : 0;
}

uint16_t RelayService::RelayPort() const
{
    return m_relay ? m_relay->serverPort() : 0;
}

int RelayService::ServerCount() const
{
    return static_cast<int>(m_servers.size());
}

int RelayService::ViewerCount() const
{
    return static_cast<int>(m_viewers.size());
}

// --- web lookup -----------------------------------------------------------------------------

void RelayService::AcceptLookup()
{
    while (QTcpSocket *socket = m_lookup->nextPendingConnection()) {
        socket->setParent(nullptr);
        QTimer::singleShot(m_config.handshakeTimeoutMs, socket, [socket] { socket->abort(); });
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        auto request = std::make_shared<std::string>();
        connect(socket, &QTcpSocket::readyRead, this, [this, socket, request] {
            if (request->size() > kMaxLookupRequest)
                return;
            request->append(socket->read(kMaxLookupRequest + 1 - request->size()).toStdString());
            const size_t end = request->find("\r\n\r\n");
            if (end == std::string::npos) {
                if (request->size() > kMaxLookupRequest)
                    socket->abort();
                return;
            }
            const std::string line = request->substr(0, request->find("\r\n"));
            request->resize(kMaxLookupRequest + 1); // nothing more is read
            std::string reply;
            if (ParseLookupLine(line))
                reply = BuildLookupReply(m_config.publicAddress);
            else
                reply = "HTTP/1.0 400 Bad Request\r\nConnection: close\r\n\r\n";
            socket->write(reply.data(), static_cast<qint64>(reply.size()));
            socket->disconnectFromHost();
        });
    }
}

// --- relay port: who is it ------------------------------------------------------------------

void RelayService::AcceptRelay()
{
    while (QTcpSocket *socket = m_relay->nextPendingConnection()) {
        socket->setParent(nullptr);
        std::string peer = link::AddressKey(socket->peerAddress().toString().toStdString());
        std::vector<link::Waiting> waiting;
        std::vector<QTcpSocket *> sockets;
        for (const auto &[s, p] : m_pending) {
            waiting.push_back({ &p->peer, p->since });
            sockets.push_back(s);
        }
        const link::Room room
            = link::MakeRoomFairly(waiting, peer,
                                   { size_t(std::max(m_config.maxPendingPerAddress, 0)),
                                     size_t(std::max(m_config.maxPending, 0)) });
        if (!room.fits) {
            if (room.evict < 0) {
                socket->abort();
                socket->deleteLater();
                continue;
            }
            Forget(sockets[size_t(room.evict)]);
        }
        link::PrepareLinkSocket(*socket);
        socket->setReadBufferSize(kViewerReadBuffer);
        auto pending = std::make_unique<Pending>();
        pending->peer = std::move(peer);
        pending->since = ++m_accepted;
        m_pending.emplace(socket, std::move(pending));
        // A refused socket closing gracefully may outlive the service: the timer goes with the
        // socket and looks the service up through a guard.
        QTimer::singleShot(m_config.handshakeTimeoutMs, socket,
                           [service = QPointer<RelayService>(this), socket] {
                               if (service && service->m_pending.count(socket))
                                   service->Forget(socket);
                           });
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { ReadPending(socket); });
        connect(socket, &QTcpSocket::disconnected, this, [this, socket] { Forget(socket); });
    }
}

void RelayService::ReadPending(QTcpSocket *socket)
{
    auto it = m_pending.find(socket);
    if (it == m_pending.end())
        return;
    Pending &p = *it->second;
    // Only the marker is read here; the rest goes to the parser that knows its shape.
    while (p.bytes.size() < 4) {
        char c;
        if (socket->read(&c, 1) != 1)
            return;
        p.bytes.push_back(static_cast<uint8_t>(c));
    }
    if (std::equal(p.bytes.begin(), p.bytes.end(), kServerMarker.begin()))
        BecomeServer(socket, p);
    else
        BecomeViewer(socket, p);
}

void RelayService::BecomeViewer(QTcpSocket *socket, Pending &p)
{
    if (p.parser.Buffered() == 0 && p.parser.Append(p.bytes) != p.bytes.size())
        return Forget(socket);
    char chunk[512];
    const qint64 n
        = socket->read(chunk, static_cast<qint64>(link::kMaxLoginLength - p.parser.Buffered()));
    if (n > 0)
        p.parser.Append(
            std::span(reinterpret_cast<const uint8_t *>(chunk), static_cast<size_t>(n)));
    link::ViewerRequest login;
    const link::ParseResult result = p.parser.Next(login);
    if (result == link::ParseResult::Invalid)
        return Forget(socket);
    if (result == link::ParseResult::NeedMore)
        return;

    auto server = std::find_if(m_servers.begin(), m_servers.end(), [&](const auto &e) {
        return !login.text.empty() && e.second->login == login.text;
    });
    if (server == m_servers.end())
        return Refuse(socket, link::kErrorRefused);
    Server &s = *server->second;
    uint8_t channel = 0;
    for (int c = 1; c <= 255 && !channel; ++c)
        if (!s.channels.count(static_cast<uint8_t>(c)))
            channel = static_cast<uint8_t>(c);
    if (!channel || s.channels.size() >= static_cast<size_t>(m_config.maxViewersPerServer))
        return Refuse(socket, link::kErrorInUse);

    // What is left of the viewer's bytes goes to the server with its login line.
    std::vector<uint8_t> forward { '5', '8', '6', '?', login.a, login.b };
    forward.insert(forward.end(), login.text.begin(), login.text.end());
    forward.push_back('\r');
    forward.push_back('\n');
    const auto rest = p.parser.BufferedBytes();
    forward.insert(forward.end(), rest.begin(), rest.end());
    std::vector<uint8_t> out;
    const std::string peer = socket->peerAddress().toString().toStdString();
    AppendFrame(out, FrameType::Open, channel,
                std::span(reinterpret_cast<const uint8_t *>(peer.data()), peer.size()));
    AppendData(out, channel, forward);
    m_pending.erase(socket);
    socket->disconnect(this);

    auto viewer = std::make_unique<Viewer>();
    viewer->socket = socket;
    viewer->server = s.socket;
    viewer->channel = channel;
    s.channels[channel] = socket;
    m_viewers.emplace(socket, std::move(viewer));
    socket->setReadBufferSize(kViewerReadBuffer);
    WriteServer(s, out);
    connect(socket, &QTcpSocket::readyRead, this, [this, socket] {
        auto v = m_viewers.find(socket);
        if (v != m_viewers.end())
            PumpViewer(*v->second);
    });
    connect(socket, &QTcpSocket::bytesWritten, this, [this, socket] {
        auto v = m_viewers.find(socket);
        if (v == m_viewers.end() || static_cast<size_t>(socket->bytesToWrite()) > m_config.lowWater)
            return;
        v->second->stalledSince = 0;
        auto srv = m_servers.find(v->second->server);
        if (srv != m_servers.end() && srv->second->paused) {
            srv->second->paused = false;
            PumpServer(*srv->second);
        }
    });
    connect(socket, &QTcpSocket::disconnected, this, [this, socket] { DropViewer(socket, true); });
    PumpViewer(*m_viewers[socket]);
}

void RelayService::BecomeServer(QTcpSocket *socket, Pending &p)
{
    uint8_t chunk[512];
    const qint64 n = socket->read(reinterpret_cast<char *>(chunk), sizeof chunk);
    if (n > 0)
        p.reader.Append(std::span<const uint8_t>(chunk, static_cast<size_t>(n)));
    Frame frame;
    const ReadResult result = p.reader.Next(frame);
    if (result == ReadResult::NeedMore)
        return;
    std::string login, password;
    if (result == ReadResult::Invalid || frame.type != FrameType::Login
        || !SplitLogin(frame.payload, login, password))
        return Forget(socket);
    auto user = m_config.users.find(login);
    const bool good
        = user != m_config.users.end() && link::SameSecret(password, user->second, kMaxCredential);
    if (!good) {
        m_pending.erase(socket);
        socket->disconnect(this);
        QTimer::singleShot(m_config.refusalDelayMs, socket, [socket] {
            std::vector<uint8_t> out;
            AppendFrame(out, FrameType::Refused, 0);
            Write(socket, out);
            CloseGracefully(socket);
        });
        return;
    }
    // A server that logs in again replaces its old link, which is likely dead.
    for (auto &[s, server] : m_servers) {
        if (server->login == login) {
            DropServer(s);
            break;
        }
    }
    auto server = std::make_unique<Server>();
    server->socket = socket;
    server->login = login;
    server->reader = std::move(p.reader);
    m_pending.erase(socket);
    socket->disconnect(this);
    socket->setReadBufferSize(kServerReadBuffer);
    Server &s = *server;
    m_servers.emplace(socket, std::move(server));
    std::vector<uint8_t> out;
    AppendFrame(out, FrameType::Accepted, 0);
    WriteServer(s, out);
    connect(socket, &QTcpSocket::readyRead, this, [this, socket] {
        auto it = m_servers.find(socket);
        if (it != m_servers.end())
            PumpServer(*it->second);
    });
    connect(socket, &QTcpSocket::bytesWritten, this, [this, socket] {
        if (static_cast<size_t>(socket->bytesToWrite()) > m_config.lowWater)
            return;
        std::vector<Viewer *> paused;
        for (auto &[vs, v] : m_viewers)
            if (v->server == socket && v->paused)
                paused.push_back(v.get());
        for (Viewer *v : paused) {
            v->paused = false;
            PumpViewer(*v);
        }
    });
    connect(socket, &QTcpSocket::disconnected, this, [this, socket] { DropServer(socket); });
    PumpServer(s);
}

void RelayService::Refuse(QTcpSocket *socket, uint8_t code)
{
    m_pending.erase(socket);
    socket->disconnect(this);
    Write(socket, link::BuildError(code));
    CloseGracefully(socket);
}

// --- passing bytes ----------------------------------------------------------------------------

void RelayService::WriteServer(Server &server, const std::vector<uint8_t> &bytes)
{
    Write(server.socket, bytes);
}

void RelayService::PumpServer(Server &server)
{
    QTcpSocket *socket = server.socket;
    // Frames already collected go first; false when the server was dropped meanwhile.
    auto drain = [&] {
        Frame frame;
        ReadResult result;
        while ((result = server.reader.Next(frame)) == ReadResult::Frame) {
            HandleServerFrame(server, frame);
            if (!m_servers.count(socket))
                return false;
        }
        if (result == ReadResult::Invalid) {
            DropServer(socket);
            return false;
        }
        return true;
    };
    if (!drain())
        return;
    uint8_t chunk[16384];
    while (!server.paused && socket->bytesAvailable() > 0) {
        const qint64 n = socket->read(reinterpret_cast<char *>(chunk), sizeof chunk);
        if (n <= 0)
            return;
        std::span<const uint8_t> bytes(chunk, static_cast<size_t>(n));
        while (!bytes.empty()) {
            bytes = bytes.subspan(server.reader.Append(bytes));
            if (!drain())
                return;
        }
    }
}

void RelayService::HandleServerFrame(Server &server, const Frame &frame)
{
    switch (frame.type) {
    case FrameType::Data: {
        auto channel = server.channels.find(frame.channel);
        if (channel == server.channels.end())
            return;
        QTcpSocket *viewer = channel->second;
        Write(viewer, frame.payload);
        if (static_cast<size_t>(viewer->bytesToWrite()) > m_config.highWater) {
            server.paused = true;
            auto v = m_viewers.find(viewer);
            if (v != m_viewers.end() && v->second->stalledSince == 0)
                v->second->stalledSince = NowMs();
        }
        return;
    }
    case FrameType::Close: {
        auto channel = server.channels.find(frame.channel);
        if (channel == server.channels.end())
            return;
        QTcpSocket *viewer = channel->second;
        DropViewer(viewer, false);
        return;
    }
    case FrameType::Ping: {
        std::vector<uint8_t> out;
        AppendFrame(out, FrameType::Pong, 0);
        WriteServer(server, out);
        return;
    }
    default:
        return;
    }
}

void RelayService::PumpViewer(Viewer &viewer)
{
    auto server = m_servers.find(viewer.server);
    if (server == m_servers.end())
        return;
    QTcpSocket *socket = viewer.socket;
    uint8_t chunk[4096];
    while (socket->bytesAvailable() > 0) {
        if (static_cast<size_t>(viewer.server->bytesToWrite()) > m_config.highWater) {
            viewer.paused = true;
            return;
        }
        const qint64 n = socket->read(reinterpret_cast<char *>(chunk), sizeof chunk);
        if (n <= 0)
            return;
        std::vector<uint8_t> out;
        AppendData(out, viewer.channel, std::span<const uint8_t>(chunk, static_cast<size_t>(n)));
        WriteServer(*server->second, out);
    }
}

void RelayService::CheckStalls()
{
    const qint64 now = NowMs();
    std::vector<QTcpSocket *> stalled;
    for (auto &[socket, v] : m_viewers)
        if (v->stalledSince != 0 && now - v->stalledSince >= m_config.stallTimeoutMs
            && static_cast<size_t>(socket->bytesToWrite()) > m_config.lowWater)
            stalled.push_back(socket);
    for (QTcpSocket *socket : stalled) {
        QTcpSocket *server = m_viewers[socket]->server;
        DropViewer(socket, true);
        auto it = m_servers.find(server);
        if (it != m_servers.end() && it->second->paused) {
            it->second->paused = false;
            PumpServer(*it->second);
        }
    }
}

// --- ends -------------------------------------------------------------------------------------

void RelayService::DropViewer(QTcpSocket *socket, bool tellServer)
{
    auto it = m_viewers.find(socket);
    if (it == m_viewers.end())
        return;
    const std::unique_ptr<Viewer> viewer = std::move(it->second);
    m_viewers.erase(it);
    socket->disconnect(this);
    auto server = m_servers.find(viewer->server);
    if (server != m_servers.end()) {
        server->second->channels.erase(viewer->channel);
        if (tellServer) {
            std::vector<uint8_t> out;
            AppendFrame(out, FrameType::Close, viewer->channel);
            WriteServer(*server->second, out);
        }
    }
    if (tellServer) {
        socket->abort();
        socket->deleteLater();
    } else {
        CloseGracefully(socket); // what the server sent last still goes out
    }
}

void RelayService::DropServer(QTcpSocket *socket)
{
    auto it = m_servers.find(socket);
    if (it == m_servers.end())
        return;
    const std::unique_ptr<Server> server = std::move(it->second);
    m_servers.erase(it);
    socket->disconnect(this);
    socket->abort();
    socket->deleteLater();
    for (auto &[channel, viewer] : server->channels) {
        auto v = m_viewers.find(viewer);
        if (v == m_viewers.end())
            continue;
        m_viewers.erase(v);
        viewer->disconnect(this);
        viewer->abort();
        viewer->deleteLater();
    }
}

void RelayService::Forget(QTcpSocket *socket)
{
    m_pending.erase(socket);
    socket->disconnect(this);
    socket->abort();
    socket->deleteLater();
}

} // namespace vorlund::relay
