#include "HostConnection.h"
#include "LinkMessageEvent.h"
#include "LoopWait.h"
#include "ProtocolTestUtil.h"
#include "ReplyParser.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QTcpServer>
#include <QTcpSocket>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <functional>
#include <memory>

using namespace vorlund;
using namespace vorlund::viewer;
using namespace vorlund::viewer::test;

namespace {

class View : public QObject
{
public:
    std::vector<LinkMessage> messages;
    std::vector<uint32_t> Numbers() const
    {
        std::vector<uint32_t> n;
        for (const auto &m : messages)
            n.push_back(m.message);
        return n;
    }
    bool Has(uint32_t number) const
    {
        for (const auto &m : messages)
            if (m.message == number)
                return true;
        return false;
    }

protected:
    void customEvent(QEvent *e) override
    {
        if (e->type() == LinkMessageEvent::kType)
            messages.push_back(static_cast<LinkMessageEvent *>(e)->message());
    }
};

// Records each box together with how many messages the view had been posted by then.
class Notifier : public RecordingNotifier
{
public:
    explicit Notifier(const View &view) : m_view(view) { }
    void ShowMessage(std::string_view text, std::string_view caption) override
    {
        RecordingNotifier::ShowMessage(text, caption);
        postedBefore.push_back(m_view.messages.size());
    }
    std::vector<size_t> postedBefore;

private:
    const View &m_view;
};

// A one-client server on an ephemeral loopback port.
class TestServer
{
public:
    TestServer()
    {
        EXPECT_TRUE(server.listen(QHostAddress::LocalHost, 0));
        QObject::connect(&server, &QTcpServer::newConnection, [this] {
            client = server.nextPendingConnection();
            QObject::connect(client, &QTcpSocket::readyRead,
                             [this] { received += client->readAll().toStdString(); });
        });
    }
    uint16_t Port() const { return server.serverPort(); }
    // Waits for exactly `bytes` from the viewer and takes them.
    std::string Take(size_t bytes)
    {
        WaitUntil([&] { return received.size() >= bytes; });
        std::string got = received.substr(0, bytes);
        received.erase(0, got.size());
        return got;
    }
    void Send(const std::string &bytes)
    {
        client->write(bytes.data(), qint64(bytes.size()));
        client->flush();
    }

    QTcpServer server;
    QTcpSocket *client = nullptr;
    std::string received;
};

struct Fixture
{
    View view;
    Notifier notifier { view };
    QueuedLinkSink sink { &view };
    std::vector<uint8_t> frame = std::vector<uint8_t>(size_t(kMaxFrameLength));
    CHostConnection conn { sink, notifier, frame };

    bool WaitForMessage(uint32_t number)
    {
        return WaitUntil([&] { return view.Has(number); });
    }
    std::string FrameText(size_t length) const
    {
        return { frame.begin(), frame.begin() + long(length) };
    }
};

TEST(HostConnection, ServerLinkSendsEveryRequestByteForByte)
{
    TestServer server;
    Fixture f;
    ASSERT_TRUE(f.conn.ConnectHost("127.0.0.1", server.Port(), 45, 32, ""));
    EXPECT_EQ(server.Take(8), "586?" + Bytes({ 45, 32 }) + "\r\n");
    ASSERT_TRUE(f.WaitForMessage(WM_LINK_UP));

    server.Send(Hello('A', '0', '1', 320, 240, 4, Bytes({ 1, 0, 0, 1 })));
    ASSERT_TRUE(f.WaitForMessage(WM_HOST_READY));
    const HostInfo &host = f.view.messages.back().host;
    EXPECT_EQ(host.width, 320);
    EXPECT_EQ(host.height, 240);
    EXPECT_EQ(host.cameraCount, 4);
    EXPECT_TRUE(host.rotationScheme);
    EXPECT_EQ(host.ptzFlags, (std::array<uint8_t, 4> { 1, 0, 0, 1 }));

    const std::string jpeg = Body(20000, 9);
    f.conn.RequestLiveFrame(2, 45);
    EXPECT_EQ(server.Take(6), ">c" + Bytes({ 2, 45 }) + "\r\n");
    server.Send(FrameReply(2, jpeg));
    ASSERT_TRUE(f.WaitForMessage(WM_FRAME_READY));
    EXPECT_EQ(f.view.messages.back().wParam, 2U);
    EXPECT_EQ(f.view.messages.back().lParam, 20000);
    EXPECT_EQ(f.FrameText(jpeg.size()), jpeg);
    EXPECT_EQ(f.conn.PendingSendLength(), 0);

    f.conn.RequestStoredFrame(0, '=');
    EXPECT_EQ(server.Take(6), ">s" + Bytes({ 1 }) + "=\r\n");
    f.conn.SendPtzByte(0);
    EXPECT_EQ(server.Take(5), ">k" + Bytes({ 0 }) + "\r\n");
    f.conn.SendKeepAlive();
    EXPECT_EQ(server.Take(5), ">PN\r\n");
    f.conn.SendPassword("secret");
    EXPECT_EQ(server.Take(11), ">p\x06secret\r\n");
    server.Send(">ERR" + Bytes({ 0, 0, 0, 2 }));
    ASSERT_TRUE(f.WaitForMessage(WM_HOST_ERROR));
    EXPECT_EQ(f.view.messages.back().lParam, 2);

    server.client->disconnectFromHost();
    ASSERT_TRUE(f.WaitForMessage(WM_LINK_CLOSED));
    EXPECT_EQ(f.view.Numbers(),
              (std::vector<uint32_t> { WM_LINK_UP, WM_HOST_READY, WM_FRAME_READY, WM_HOST_ERROR,
                                       WM_LINK_CLOSED }));
    EXPECT_TRUE(f.notifier.entries.empty()) << "a normal close shows nothing";
    for (const auto &m : f.view.messages)
        EXPECT_TRUE(f.conn.IsCurrentLink(m.link));
    f.conn.CloseLink();
    EXPECT_FALSE(f.conn.HasSocket());
}

TEST(HostConnection, AutomaticLoginCarriesTheIdAndAPasswordIsAccepted)
{
    TestServer server;
    Fixture f;
    ASSERT_TRUE(f.conn.ConnectHost("127.0.0.1", server.Port(), 90, 64, "me+cams@example.org"));
    f.conn.SendKeepAlive(); // while the connect is pending: goes after the login
    EXPECT_EQ(server.Take(27), "586?" + Bytes({ 90, 64 }) + "me+cams@example.org\r\n");
    EXPECT_EQ(server.Take(5), ">PN\r\n");
    server.Send(Hello('N', '2', '0', 640, 480, 2, Bytes({ 0, 1, 0, 0 })));
    ASSERT_TRUE(f.WaitForMessage(WM_NEED_PASSWORD));
    f.conn.SendPassword("");
    EXPECT_EQ(server.Take(4), ">p\r\n");
    server.Send(">AOK0000");
    ASSERT_TRUE(f.WaitForMessage(WM_HOST_READY));
    EXPECT_EQ(f.view.messages.back().host.videoStandard, 'N');
    EXPECT_EQ(f.view.messages.back().host.ptzFlags, (std::array<uint8_t, 4> { 0, 1, 0, 0 }));
}

// Connected, the hello taken and a live frame asked for: the server's reply is next.
void AskFirstFrame(TestServer &server, Fixture &f)
{
    ASSERT_TRUE(f.conn.ConnectHost("127.0.0.1", server.Port(), 45, 32, ""));
    server.Take(8);
    server.Send(Hello('A', '0', '0', 160, 120, 1, Bytes({ 0, 0, 0, 0 })));
    ASSERT_TRUE(f.WaitForMessage(WM_HOST_READY));
    f.conn.RequestLiveFrame(1, 45);
    server.Take(6);
}

TEST(HostConnection, FrameLengthOutOfRangeDropsTheLinkWithAMessage)
{
    TestServer server;
    Fixture f;
    ASSERT_NO_FATAL_FAILURE(AskFirstFrame(server, f));
    server.Send(FrameHeader(1, kMaxFrameLength + 1) + "xxxx");
    ASSERT_TRUE(f.WaitForMessage(WM_LINK_CLOSED));
    ASSERT_EQ(f.notifier.entries.size(), 1U);
    EXPECT_EQ(f.notifier.entries[0].text,
              "The host sent a frame of 921601 bytes, which is not a valid size.\nThe "
              "connection was closed.");
    EXPECT_FALSE(f.view.Has(WM_FRAME_READY));
    EXPECT_TRUE(
        WaitUntil([&] { return server.client->state() == QAbstractSocket::UnconnectedState; }));
}

// A port that nothing listens on: a listener's, closed again.
uint16_t ClosedPort()
{
    QTcpServer s;
    s.listen(QHostAddress::LocalHost, 0);
    const uint16_t port = s.serverPort();
    s.close();
    return port;
}

// A loopback listener whose accept queue is full, so a further connect stays pending.
class FullListener
{
public:
    FullListener()
    {
        m_fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a {};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        ::bind(m_fd, reinterpret_cast<sockaddr *>(&a), len);
        ::listen(m_fd, 0);
        ::getsockname(m_fd, reinterpret_cast<sockaddr *>(&a), &len);
        port = ntohs(a.sin_port);
        for (int i = 0; i < 4; ++i) {
            const int c = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
            ::connect(c, reinterpret_cast<sockaddr *>(&a), len);
            m_fillers.push_back(c);
        }
    }
    ~FullListener()
    {
        for (int c : m_fillers)
            ::close(c);
        ::close(m_fd);
    }
    uint16_t port = 0;

private:
    int m_fd = -1;
    std::vector<int> m_fillers;
};

TEST(HostConnection, FailedConnectsShowTheirMessageThenClose)
{
    FullListener full;
    const struct
    {
        const char *what;
        std::string host;
        uint16_t port;
        bool started;
        std::string text;
    } cases[] = {
        { "refused", "127.0.0.1", ClosedPort(), true,
          "The attempt to connect was forcefully rejected.\n" },
        { "still pending at the timeout", "127.0.0.1", full.port, true,
          "The attempt to connect timed.\nMake sure the host IP address\nand port are "
          "correct.\n" },
        { "no port", "127.0.0.1", 0, false, "connect error" },
        { "no host", "", 80, false, "connect error" },
    };
    for (const auto &c : cases) {
        Fixture f;
        LinkSettings settings;
        settings.connectTimeoutMs = 300;
        f.conn.SetSettings(settings);
        EXPECT_EQ(f.conn.ConnectHost(c.host, c.port, 45, 32, ""), c.started) << c.what;
        ASSERT_TRUE(f.WaitForMessage(WM_LINK_CLOSED)) << c.what;
        ASSERT_EQ(f.notifier.entries.size(), 1U) << c.what;
        EXPECT_EQ(f.notifier.entries[0].text, c.text) << c.what;
        EXPECT_EQ(f.notifier.entries[0].caption, kViewerCaption);
        EXPECT_EQ(f.notifier.postedBefore[0], 0U) << c.what << ": the box comes first";
        EXPECT_EQ(f.view.Numbers(), std::vector<uint32_t> { WM_LINK_CLOSED }) << c.what;
    }
}

TEST(HostConnection, LookupSendsTheGetLineAndTakesTheAddress)
{
    TestServer lookup;
    TestServer relay;
    Fixture f;
    LinkSettings settings;
    settings.lookupHost = "127.0.0.1";
    settings.lookupPort = lookup.Port();
    settings.relayPort = relay.Port();
    f.conn.SetSettings(settings);
    f.conn.SetLookedUpAddress("old");
    ASSERT_TRUE(f.conn.LookupHost("me+cams@example.org"));
    const std::string get
        = "GET /client.asp?id=me+cams@example.org HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
    EXPECT_EQ(lookup.Take(get.size()), get);
    EXPECT_TRUE(f.WaitForMessage(WM_LINK_UP));

    // Lines arrive in pieces; the later match wins.
    for (const std::string piece : { "HTTP/1.1 200 OK\r\n\r\nServer tor:10.0.0.1:", "443\r",
                                     "\nServer tor:127.0", ".0.1?x\r\n" }) {
        lookup.Send(piece);
        QCoreApplication::processEvents();
    }
    lookup.client->disconnectFromHost();
    ASSERT_TRUE(f.WaitForMessage(WM_LINK_CLOSED));
    EXPECT_EQ(f.conn.LookedUpAddress(), "127.0.0.1");
    EXPECT_TRUE(f.notifier.entries.empty());

    // The view's hand-over: the looked-up address on the relay port, with the id.
    f.conn.CloseLink();
    ASSERT_TRUE(f.conn.ConnectHost(f.conn.LookedUpAddress(), f.conn.Settings().relayPort, 45, 32,
                                   "me+cams@example.org"));
    EXPECT_EQ(relay.Take(27), "586?" + Bytes({ 45, 32 }) + "me+cams@example.org\r\n");
}

TEST(HostConnection, ClosedLinkReportsNothingMore)
{
    TestServer server;
    Fixture f;
    ASSERT_TRUE(f.conn.ConnectHost("127.0.0.1", server.Port(), 45, 32, ""));
    server.Take(8);
    ASSERT_TRUE(f.WaitForMessage(WM_LINK_UP));
    f.conn.CloseLink();
    f.conn.RequestLiveFrame(1, 45); // no socket: nothing happens
    EXPECT_EQ(f.conn.PendingSendLength(), 0);
    EXPECT_EQ(f.conn.Host(), nullptr);
    ASSERT_TRUE(
        WaitUntil([&] { return server.client->state() == QAbstractSocket::UnconnectedState; }));
    QCoreApplication::processEvents();
    EXPECT_EQ(f.view.Numbers(), std::vector<uint32_t> { WM_LINK_UP });
    EXPECT_TRUE(server.received.empty());
}

// How the link ends halfway through a frame: a reset is told apart from the server's orderly
// close (which Qt reports the same way), and nothing more is read after either.
TEST(HostConnection, ResetAndCloseAreToldApart)
{
    const struct
    {
        bool reset;
        std::vector<std::string> texts;
    } cases[] = {
        { true, { "The connection was reset from host.\n" } },
        { false, {} },
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.reset);
        TestServer server;
        Fixture f;
        ASSERT_NO_FATAL_FAILURE(AskFirstFrame(server, f));
        server.Send(FrameHeader(1, 4000) + Body(2000, 3));
        ASSERT_TRUE(WaitUntil([&] { return server.client->bytesToWrite() == 0; }));
        if (c.reset) {
            const linger hard { 1, 0 };
            ::setsockopt(int(server.client->socketDescriptor()), SOL_SOCKET, SO_LINGER, &hard,
                         sizeof hard);
            server.client->abort();
        } else {
            server.client->disconnectFromHost();
        }
        ASSERT_TRUE(f.WaitForMessage(WM_LINK_CLOSED));
        QCoreApplication::processEvents();
        std::vector<std::string> shown;
        for (const auto &e : f.notifier.entries)
            shown.push_back(e.text);
        EXPECT_EQ(shown, c.texts);
        EXPECT_FALSE(f.view.Has(WM_FRAME_READY));
    }
}

// A server that sends frames nobody asked for: between replies the viewer reads nothing, and
// what its socket holds is bounded, so the server is held back by TCP. What the server manages
// to send stays within the system's socket buffers, however long it tries.
TEST(HostConnection, UnaskedFramesAreHeldBackByTcp)
{
    const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
    sockaddr_in a {};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr *>(&a), len), 0);
    ASSERT_EQ(::listen(listener, 1), 0);
    ::getsockname(listener, reinterpret_cast<sockaddr *>(&a), &len);
    Fixture f;
    ASSERT_TRUE(f.conn.ConnectHost("127.0.0.1", ntohs(a.sin_port), 45, 32, ""));
    int peer = -1;
    ASSERT_TRUE(WaitUntil(
        [&] { return (peer = ::accept4(listener, nullptr, nullptr, SOCK_NONBLOCK)) >= 0; }));
    const std::string hello = Hello('A', '0', '0', 160, 120, 1, Bytes({ 0, 0, 0, 0 }));
    ASSERT_EQ(::send(peer, hello.data(), hello.size(), 0), ssize_t(hello.size()));
    ASSERT_TRUE(f.WaitForMessage(WM_HOST_READY));
    f.conn.RequestLiveFrame(1, 45);
    const std::string frame = FrameReply(1, Body(60000, 5));
    size_t sent = 0;
    QDeadlineTimer flood(600);
    while (!flood.hasExpired()) {
        for (;;) {
            const ssize_t n
                = ::send(peer, frame.data() + sent % frame.size(),
                         frame.size() - sent % frame.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
            if (n <= 0)
                break;
            sent += size_t(n);
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    EXPECT_TRUE(f.view.Has(WM_FRAME_READY)); // the one asked for
    // Both ends' buffers grow to a few megabytes at most on loopback; unbounded reading took
    // hundreds of megabytes in this time.
    EXPECT_LT(sent, size_t(32) << 20);
    ::close(peer);
    ::close(listener);
}

} // namespace
