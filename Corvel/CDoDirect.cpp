#include "CDoDirect.h"

#include "Lookup.h"
#include "Messages.h"
#include "RelayFrames.h"
#include "SocketTransport.h"

#include <QObject>
#include <QPointer>
#include <QTcpSocket>
#include <QTimer>

#include <algorithm>
#include <cstring>
#include <map>

namespace vorlund {

namespace {

constexpr size_t kMaxLookupReply = 8192;
constexpr size_t kMaxHostLength = 27;

std::string FieldText(const char *field, size_t width)
{
    return std::string(field, strnlen(field, width - 1));
}

} // namespace

class CDoDirect::Impl : public QObject
{
public:
    Impl(IMessageSink &view, DirectOptions options)
        : m_view(view), m_options(std::move(options)),
          m_hub(m_options.clock ? *m_options.clock : SystemClock::Instance(), m_options.limits)
    {
        m_hub.onReoffer = [this] { m_view.PostMessage(WM_RELAY_RESUME); };
        m_poll.setParent(this);
        connect(&m_poll, &QTimer::timeout, this, [this] { m_hub.Poll(); });
        m_reconnect.setParent(this);
        m_reconnect.setSingleShot(true);
        connect(&m_reconnect, &QTimer::timeout, this,
                [this] { m_view.PostMessage(WM_RELAY_RECONNECT); });
        m_backoffMs = m_options.reconnectMinMs;
    }

    ~Impl() override
    {
        Stop();
        EndLookup(false);
    }

    // --- lookup ----------------------------------------------------------------------------
    void Lookup()
    {
        if (m_lookup)
            return;
        m_lookupLine.clear();
        m_lookupBytes = 0;
        m_lookupFound.clear();
        m_lookup = new QTcpSocket(this);
        QTcpSocket *socket = m_lookup;
        connect(socket, &QTcpSocket::connected, this, [this, socket] {
            const std::string request = relay::BuildLookupRequest(m_login, m_options.lookupHost);
            socket->write(request.data(), static_cast<qint64>(request.size()));
        });
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] {
            link::DrainSocket(
                *socket, [this](std::span<const uint8_t> bytes) { TakeLookupBytes(bytes); },
                [this, socket] { return m_lookup != socket; });
        });
        connect(socket, &QTcpSocket::disconnected, this, [this] { EndLookup(true); });
        connect(socket, &QTcpSocket::errorOccurred, this, [this](QAbstractSocket::SocketError e) {
            if (e != QAbstractSocket::RemoteHostClosedError)
                EndLookup(false);
        });
        QTimer::singleShot(m_options.lookupTimeoutMs, socket, [this, socket] {
            if (m_lookup == socket)
                EndLookup(false);
        });
        socket->connectToHost(QString::fromStdString(m_options.lookupHost), m_options.lookupPort);
    }

    void TakeLookupBytes(std::span<const uint8_t> bytes)
    {
        m_lookupBytes += bytes.size();
        if (m_lookupBytes > kMaxLookupReply) {
            EndLookup(false);
            return;
        }
        for (const uint8_t b : bytes) {
            m_lookupLine.push_back(static_cast<char>(b));
            if (m_lookupLine.size() >= 2 && m_lookupLine.ends_with("\r\n")) {
                m_lookupLine.resize(m_lookupLine.size() - 2);
                if (auto address = relay::FindAddress(m_lookupLine, kMaxHostLength))
                    m_lookupFound = *address;
                m_lookupLine.clear();
            }
        }
    }

    void EndLookup(bool closedByPeer)
    {
        if (!m_lookup)
            return;
        QTcpSocket *socket = m_lookup;
        m_lookup = nullptr;
        socket->disconnect(this);
        socket->abort();
        socket->deleteLater();
        if (closedByPeer && !m_lookupFound.empty()) {
            m_address = m_lookupFound;
            m_addressReady = 1;
            // The server connects on its reconnect message rather than on its next slow pass.
            m_view.PostMessage(WM_RELAY_RECONNECT);
            return;
        }
        SetError("Relay lookup failed", StatusLookupFailed);
        ScheduleReconnect();
    }

    // --- relay link ------------------------------------------------------------------------
    bool Start(const RelayConnInfo &oConn, const ImageHeader &header, const PtzFlags &ptz)
    {
        const std::string host = FieldText(oConn.RelayHost, sizeof oConn.RelayHost);
        const std::string login = FieldText(oConn.RelayLogin, sizeof oConn.RelayLogin);
        const std::string password = FieldText(oConn.RelayPassword, sizeof oConn.RelayPassword);
        if (host.empty() || login.empty() || oConn.Port < 1 || oConn.Port > 65535)
            return false;
        if (m_relay && host == m_host && login == m_login && oConn.Port == m_port)
            return true; // already connecting or connected
        Teardown();
        link::LinkSetup setup;
        setup.password = FieldText(oConn.RemotePassword, sizeof oConn.RemotePassword);
        setup.cameraOnePriority = oConn.CameraPriority != 0;
        setup.header = header;
        setup.ptzFlags = ptz;
        if (!m_hub.Configure(setup))
            return false;
        m_host = host;
        m_login = login;
        m_password = password;
        m_port = oConn.Port;
        m_stopped = false;
        m_refused = false;
        m_reconnect.stop();

        m_relay = new QTcpSocket(this);
        QTcpSocket *socket = m_relay;
        link::PrepareLinkSocket(*socket);
        connect(socket, &QTcpSocket::connected, this, [this] { SendLogin(); });
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] {
            link::DrainSocket(
                *socket, [this](std::span<const uint8_t> bytes) { TakeRelayBytes(bytes); },
                [this, socket] { return m_relay != socket; });
        });
        connect(socket, &QTcpSocket::disconnected, this, [this, socket] { Lost(socket); });
        connect(socket, &QTcpSocket::errorOccurred, this,
                [this, socket](QAbstractSocket::SocketError e) {
                    if (e != QAbstractSocket::RemoteHostClosedError)
                        Lost(socket);
                });
        m_state = LinkState::Connecting;
        socket->connectToHost(QString::fromStdString(host), static_cast<quint16>(m_port));
        m_poll.start(m_options.pollMs);
        return true;
    }

    void Stop()
    {
        m_stopped = true;
        m_reconnect.stop();
        Teardown();
        m_hub.Reset();
        m_host.clear();
    }

    void SendLogin()
    {
        m_state = LinkState::LoggingIn;
        std::vector<uint8_t> out(relay::kServerMarker.begin(), relay::kServerMarker.end());
        std::vector<uint8_t> payload(m_login.begin(), m_login.end());
        payload.push_back(0);
        payload.insert(payload.end(), m_password.begin(), m_password.end());
        relay::AppendFrame(out, relay::FrameType::Login, 0, payload);
        WriteRelay(out);
    }

    void WriteRelay(const std::vector<uint8_t> &bytes)
    {
        if (m_relay && m_relay->state() == QAbstractSocket::ConnectedState)
            m_relay->write(reinterpret_cast<const char *>(bytes.data()),
                           static_cast<qint64>(bytes.size()));
    }

    void TakeRelayBytes(std::span<const uint8_t> bytes)
    {
        QTcpSocket *socket = m_relay;
        while (!bytes.empty() && m_relay == socket) {
            bytes = bytes.subspan(m_reader.Append(bytes));
            relay::Frame frame;
            relay::ReadResult result;
            while (m_relay == socket && (result = m_reader.Next(frame)) == relay::ReadResult::Frame)
                Handle(frame);
            if (m_relay == socket && result == relay::ReadResult::Invalid) {
                Lost(socket);
                return;
            }
        }
    }

    void Handle(const relay::Frame &frame)
    {
        using relay::FrameType;
        switch (frame.type) {
        case FrameType::Accepted:
            m_state = LinkState::Ready;
            m_backoffMs = m_options.reconnectMinMs;
            return;
        case FrameType::Refused:
            m_refused = true;
            SetError("Relay login refused", StatusLoginRefused);
            Lost(m_relay);
            return;
        case FrameType::Open: {
            CloseChannel(frame.channel);
            auto transport = std::make_unique<ChannelTransport>(*this, frame.channel);
            const int id
                = m_hub.Open(*transport, std::string(frame.payload.begin(), frame.payload.end()));
            if (id == 0) {
                SendChannelClose(frame.channel);
                return;
            }
            m_channels[frame.channel] = Channel { id, std::move(transport) };
            return;
        }
        case FrameType::Data: {
            auto it = m_channels.find(frame.channel);
            if (it != m_channels.end())
                m_hub.Feed(it->second.session, frame.payload);
            return;
        }
        case FrameType::Close:
            CloseChannel(frame.channel);
            return;
        case FrameType::Pong:
            m_pingOutstanding = false;
            return;
        default:
            return;
        }
    }

    void CloseChannel(uint8_t channel)
    {
        auto it = m_channels.find(channel);
        if (it == m_channels.end())
            return;
        m_hub.Closed(it->second.session);
        m_retired.push_back(std::move(it->second.transport));
        m_channels.erase(it);
        ScheduleRetiredCleanup();
    }

    void SendChannelClose(uint8_t channel)
    {
        std::vector<uint8_t> out;
        relay::AppendFrame(out, relay::FrameType::Close, channel);
        WriteRelay(out);
    }

    // The hub dropped a session: tell the relay, forget the channel later (we may be inside
    // the transport's own call).
    void ChannelClosedByHub(uint8_t channel)
    {
        SendChannelClose(channel);
        auto it = m_channels.find(channel);
        if (it == m_channels.end())
            return;
        m_retired.push_back(std::move(it->second.transport));
        m_channels.erase(it);
        ScheduleRetiredCleanup();
    }

    void ScheduleRetiredCleanup()
    {
        QTimer::singleShot(0, this, [this] { m_retired.clear(); });
    }

    void Lost(QTcpSocket *socket)
    {
        if (!socket || socket != m_relay)
            return;
        const bool wasReady = m_state == LinkState::Ready;
        Teardown();
        if (m_refused || m_stopped)
            return;
        SetError(wasReady ? "Relay link lost" : "Relay not reached",
                 wasReady ? StatusLinkLost : StatusConnectFailed);
        ScheduleReconnect();
    }

    void Teardown()
    {
        if (m_relay) {
            QTcpSocket *socket = m_relay;
            m_relay = nullptr;
            socket->disconnect(this);
            socket->abort();
            socket->deleteLater();
        }
        // Sessions over the relay end with it; the setup stays for the next connection.
        std::vector<uint8_t> channels;
        for (const auto &[channel, c] : m_channels)
            channels.push_back(channel);
        for (uint8_t channel : channels)
            CloseChannel(channel);
        m_reader = relay::FrameReader();
        m_state = LinkState::Idle;
        m_pingOutstanding = false;
        m_poll.stop();
    }

    void ScheduleReconnect()
    {
        if (m_stopped || m_reconnect.isActive())
            return;
        m_reconnect.start(m_backoffMs);
        m_backoffMs = std::min(m_backoffMs * 2, m_options.reconnectMaxMs);
    }

    void Ping()
    {
        if (m_state != LinkState::Ready)
            return;
        if (m_pingOutstanding) { // the last one was never answered: the link is dead
            Lost(m_relay);
            return;
        }
        std::vector<uint8_t> out;
        relay::AppendFrame(out, relay::FrameType::Ping, 0);
        WriteRelay(out);
        m_pingOutstanding = true;
    }

    void SetError(const std::string &text, int32_t status)
    {
        m_errorText = text;
        m_status = status;
        m_errorFlag = 1;
    }

    class ChannelTransport : public link::ISessionTransport
    {
    public:
        ChannelTransport(Impl &owner, uint8_t channel) : m_owner(owner), m_channel(channel) { }
        void Write(std::span<const uint8_t> bytes) override
        {
            if (m_closed)
                return;
            std::vector<uint8_t> out;
            relay::AppendData(out, m_channel, bytes);
            m_owner.WriteRelay(out);
        }
        size_t Backlog() const override
        {
            return m_owner.m_relay ? static_cast<size_t>(m_owner.m_relay->bytesToWrite()) : 0;
        }
        void Close(bool) override
        {
            if (m_closed)
                return;
            m_closed = true;
            m_owner.ChannelClosedByHub(m_channel);
        }

    private:
        Impl &m_owner;
        uint8_t m_channel;
        bool m_closed = false;
    };

    struct Channel
    {
        int session = 0;
        std::unique_ptr<ChannelTransport> transport;
    };
    enum class LinkState {
        Idle,
        Connecting,
        LoggingIn,
        Ready,
    };

    IMessageSink &m_view;
    DirectOptions m_options;
    link::ViewerHub m_hub;
    QTimer m_poll;
    QTimer m_reconnect;
    int m_backoffMs = 1000;

    QTcpSocket *m_lookup = nullptr;
    std::string m_lookupLine;
    size_t m_lookupBytes = 0;
    std::string m_lookupFound;
    std::string m_address;
    uint8_t m_addressReady = 0;

    QTcpSocket *m_relay = nullptr;
    relay::FrameReader m_reader;
    LinkState m_state = LinkState::Idle;
    std::string m_host, m_login, m_password;
    int m_port = 0;
    bool m_stopped = true;
    bool m_refused = false;
    bool m_pingOutstanding = false;
    std::map<uint8_t, Channel> m_channels;
    std::vector<std::unique_ptr<ChannelTransport>> m_retired;

    uint8_t m_errorFlag = 0;
    std::string m_errorText;
    int32_t m_status = 0;
};

CDoDirect::CDoDirect(IMessageSink &view, DirectOptions options)
    : d(std::make_unique<Impl>(view, std::move(options)))
{ }

CDoDirect::~CDoDirect() = default;

void CDoDirect::GetHTTPData()
{
    d->Lookup();
}

uint8_t CDoDirect::AddressReady() const
{
    return d->m_addressReady;
}

const std::string &CDoDirect::Address() const
{
    return d->m_address;
}

bool CDoDirect::StartConnection(const RelayConnInfo &oConn, const ImageHeader &header,
                                const PtzFlags &ptzFlags)
{
    return d->Start(oConn, header, ptzFlags);
}

void CDoDirect::StopConnection()
{
    d->Stop();
}

int CDoDirect::GotDirector() const
{
    return d->m_state == Impl::LinkState::Ready ? 1 : 0;
}

int CDoDirect::GotPeer() const
{
    return d->m_hub.ReadyCount() > 0 ? 2 : 0;
}

int CDoDirect::GotConnection() const
{
    return d->m_state == Impl::LinkState::Ready ? d->m_hub.ReadyCount() : 0;
}

void CDoDirect::pingDirector()
{
    d->Ping();
}

int CDoDirect::CheckPTZQueue(int32_t &, int32_t &, int32_t &)
{
    return 0;
}

int8_t CDoDirect::CheckRequestQueue(uint8_t *buffer, size_t length)
{
    // All viewers share the one link: while the relay is not taking what was sent, requests
    // wait rather than pile more onto it (the relay drops a viewer that stalls it).
    if (d->m_relay
        && static_cast<size_t>(d->m_relay->bytesToWrite()) > d->m_options.holdRequestsAbove)
        return 0;
    return d->m_hub.CheckRequestQueue(buffer, length);
}

bool CDoDirect::SendImageOut(const uint8_t *frame, size_t length, int camera, const FrameId *id)
{
    return d->m_hub.SendImageOut(frame, length, camera, id);
}

bool CDoDirect::ResendImageOut(const FrameId &id, int camera)
{
    return d->m_hub.ResendImageOut(id, camera);
}

bool CDoDirect::SendStillOut(const std::string &path)
{
    return d->m_hub.SendStillOut(path);
}

int CDoDirect::LoginState() const
{
    return d->m_state == Impl::LinkState::LoggingIn || d->m_state == Impl::LinkState::Connecting
        ? 1
        : 0;
}

uint8_t CDoDirect::ErrorFlag() const
{
    return d->m_errorFlag;
}

void CDoDirect::ClearErrorFlag()
{
    d->m_errorFlag = 0;
}

const std::string &CDoDirect::ErrorText() const
{
    return d->m_errorText;
}

int32_t CDoDirect::Status() const
{
    return d->m_status;
}

} // namespace vorlund
