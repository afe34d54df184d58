// The relay end to end on loopback: the lookup, a server logged in through CDoDirect, raw
// viewers asking for it by id, and the server finding the relay again after a restart.
#include "CDoDirect.h"
#include "Lookup.h"
#include "Messages.h"
#include "RawClient.h"
#include "RelayService.h"

#include <QCoreApplication>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <memory>

namespace vorlund {
namespace {

using test::RawClient;
using Bytes = std::vector<uint8_t>;

constexpr char kLogin[] = "me@example.org";
constexpr char kPassword[] = "relay pw";

class RecordingSink : public IMessageSink
{
public:
    using IMessageSink::PostMessage;
    void PostMessage(uint32_t message, uintptr_t) noexcept override { messages.push_back(message); }
    std::vector<uint32_t> messages;
};

class RelayTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(folder.isValid());
        frame = test::RedOverBlueFrame(320, 240);
        StartRelay(0, 0);
        MakeDirect();
    }

    // Sockets the relay closes gracefully outlive it until their peers hang up: let the peers
    // go first and the relay see it, so the sockets are deleted before the test ends.
    void TearDown() override
    {
        crowds.clear();
        direct.reset();
        const auto start = std::chrono::steady_clock::now();
        while (std::chrono::steady_clock::now() - start < std::chrono::milliseconds(200))
            QCoreApplication::processEvents(QEventLoop::AllEvents, 2);
        relay.reset();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    void MakeDirect()
    {
        DirectOptions options;
        options.lookupHost = "127.0.0.1";
        options.lookupPort = relay->LookupPort();
        options.reconnectMinMs = 20;
        options.reconnectMaxMs = 200;
        options.pollMs = 10;
        if (fakeTime)
            options.clock = &clock;
        direct = std::make_unique<CDoDirect>(sink, options);
    }

    void StartRelay(uint16_t lookupPort, uint16_t relayPort, int stallTimeoutMs = 5000)
    {
        relay::RelayConfig config;
        config.bindAddress = "127.0.0.1";
        config.lookupPort = lookupPort;
        config.relayPort = relayPort;
        config.publicAddress = "127.0.0.1";
        config.users = { { kLogin, kPassword }, { "other@example.org", "x" } };
        config.refusalDelayMs = 10;
        config.stallTimeoutMs = stallTimeoutMs;
        relay = std::make_unique<relay::RelayService>();
        std::string error;
        ASSERT_TRUE(relay->Start(config, error)) << error;
    }

    // The server's tick: answer requests; on WM_RELAY_RECONNECT connect again.
    void Pump()
    {
        const bool addressKnown = direct->AddressReady() != 0;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 2);
        for (auto &crowd : crowds)
            crowd->Keep();
        if (relay)
            mostChannels = std::max(mostChannels, relay->ViewerCount());
        for (uint32_t m : std::exchange(sink.messages, {})) {
            seen.push_back(m);
            if (m == WM_RELAY_RECONNECT && addressKnown)
                ++laterPasses;
            if (m == WM_RELAY_RECONNECT && !stopReconnecting)
                ConnectRelay();
        }
        uint8_t request[2] = {};
        const int8_t code = direct->CheckRequestQueue(request, sizeof request);
        if (code >= 1 && code <= 32) {
            if (holdBack > 0)
                --holdBack; // as the server's relay throttle does
            else
                direct->SendImageOut(frame.data(), frame.size(), code);
        }
    }

    template <typename Pred> bool PumpUntil(Pred pred)
    {
        const auto start = std::chrono::steady_clock::now();
        while (!pred()) {
            if (std::chrono::steady_clock::now() - start > std::chrono::seconds(30))
                return false;
            Pump();
        }
        return true;
    }

    // What the server's ConnectRelay does: look the relay up, or connect once it is known.
    bool ConnectRelay()
    {
        if (!direct->AddressReady()) {
            direct->GetHTTPData();
            return true;
        }
        std::strncpy(oConn.RelayHost, direct->Address().c_str(), sizeof oConn.RelayHost - 1);
        return direct->StartConnection(oConn, header);
    }

    void Setup(const char *password, const char *viewerPassword = "")
    {
        std::strncpy(oConn.RelayLogin, kLogin, sizeof oConn.RelayLogin - 1);
        std::strncpy(oConn.RelayPassword, password, sizeof oConn.RelayPassword - 1);
        std::strncpy(oConn.RemotePassword, viewerPassword, sizeof oConn.RemotePassword - 1);
        oConn.Port = relay->RelayPort();
        header.Width = 320;
        header.Height = 240;
        header.BitCount = 2;
    }

    bool Connect(const char *password = kPassword, const char *viewerPassword = "")
    {
        Setup(password, viewerPassword);
        direct->GetHTTPData();
        if (!PumpUntil([&] { return direct->AddressReady() != 0; }))
            return false;
        return ConnectRelay();
    }

    void PumpFor(int ms)
    {
        const auto start = std::chrono::steady_clock::now();
        while (std::chrono::steady_clock::now() - start < std::chrono::milliseconds(ms))
            Pump();
    }

    std::unique_ptr<RawClient> Viewer(int receiveBuffer = 0)
    {
        return std::make_unique<RawClient>(
            relay->RelayPort(), [this] { Pump(); }, receiveBuffer);
    }

    // A viewer logs in, gives the password, takes a frame of camera 2 and leaves.
    void ViewerGetsIn(const Bytes &login, const std::function<void()> &typing,
                      RawClient::Entry &entry)
    {
        auto viewer = Viewer();
        const bool in = viewer->LogInAndTakeFrame(login, typing, "pw", 2, 50, entry);
        viewer->Abort();
        PumpFor(20);
        ASSERT_EQ(entry.answer.size(), 8u);
        EXPECT_EQ(0, std::memcmp(entry.answer.data(), ">AOK", 4));
        ASSERT_TRUE(in);
        EXPECT_EQ(entry.camera, 2);
    }

    bool ViewerGetsFrames(RawClient &viewer, int frames)
    {
        Bytes hello;
        if (!viewer.Send(RawClient::Login(50, 32, kLogin)) || !viewer.Read(22, hello)
            || std::memcmp(hello.data(), ">HEL", 4) != 0 || (hello[16] | hello[17] << 8) != 2)
            return false;
        for (int i = 0; i < frames; ++i) {
            uint8_t camera = 0;
            Bytes jpeg, bgr;
            int w = 0, h = 0;
            if (!viewer.Send(RawClient::Request('c', 2, 50)) || !viewer.ReadFrame(camera, jpeg)
                || camera != 2 || !test::DecodeJpeg(jpeg, w, h, bgr) || w != 320 || h != 240)
                return false;
        }
        return true;
    }

    QTemporaryDir folder;
    FakeClock clock;
    bool fakeTime = false; // the link's time is `clock`'s
    std::vector<std::unique_ptr<test::IdleCrowd>> crowds;
    RecordingSink sink;
    std::vector<uint32_t> seen;
    // Reconnect messages that came in a pump which began with the relay's address known: a
    // reconnect pass, not the lookup's answer (which turns the address ready as it posts).
    int laterPasses = 0;
    bool stopReconnecting = false;
    int holdBack = 0;
    int mostChannels = 0; // the most viewers the relay carried at once
    std::unique_ptr<relay::RelayService> relay;
    std::unique_ptr<CDoDirect> direct;
    RelayConnInfo oConn;
    ImageHeader header;
    Bytes frame;
};

TEST_F(RelayTest, LookupAnswersTheViewersRequest)
{
    struct
    {
        std::string request;
        bool answered;
    } cases[] = {
        { "GET /client.asp?id=me@example.org HTTP/1.1\r\nHost: relay\r\n\r\n", true },
        { "GET /client.asp?id=me%40example.org HTTP/1.1\r\nHost: relay\r\n\r\n", true },
        { "GET /client.asp?id=my name HTTP/1.1\r\nHost: relay\r\n\r\n", true },
        { "GET /client.asp?id=%0D%0A HTTP/1.1\r\nHost: relay\r\n\r\n", false },
        { "GET /client.asp?id=%4 HTTP/1.1\r\nHost: relay\r\n\r\n", false },
        { "GET /other HTTP/1.1\r\n\r\n", false },
        { "POST /client.asp?id=a HTTP/1.1\r\n\r\n", false },
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.request);
        RawClient client(relay->LookupPort(), [this] { Pump(); });
        ASSERT_TRUE(client.Send(c.request));
        Bytes reply;
        ASSERT_TRUE(client.ReadUntilClosed(reply));
        const std::string text(reply.begin(), reply.end());
        std::optional<std::string> address;
        size_t start = 0;
        for (size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2)
            if (auto found = relay::FindAddress(text.substr(start, end - start), 19))
                address = found;
        EXPECT_EQ(address.has_value(), c.answered);
        if (c.answered) {
            EXPECT_EQ(*address, "127.0.0.1");
        }
    }
}

TEST_F(RelayTest, ViewerReachesTheServerByIdAndUnknownIdsAreRefused)
{
    ASSERT_TRUE(Connect());
    EXPECT_TRUE(direct->LoginState() == 1 || direct->GotDirector() == 1);
    ASSERT_TRUE(PumpUntil([&] { return direct->GotDirector() == 1; }));
    EXPECT_EQ(direct->LoginState(), 0);
    EXPECT_EQ(relay->ServerCount(), 1);

    auto viewer = Viewer();
    ASSERT_TRUE(ViewerGetsFrames(*viewer, 5));
    EXPECT_EQ(direct->GotPeer(), 2);
    EXPECT_EQ(direct->GotConnection(), 1);

    for (const char *id : { "nobody@example.org", "other@example.org", "" }) {
        SCOPED_TRACE(id);
        auto stranger = Viewer();
        Bytes reply;
        ASSERT_TRUE(stranger->Send(RawClient::Login(50, 32, id)));
        ASSERT_TRUE(stranger->ReadUntilClosed(reply));
        EXPECT_EQ(reply, (Bytes { '>', 'E', 'R', 'R', 0, 0, 0, 1 }));
    }
    // A login and a request in one write both reach the server.
    auto eager = Viewer();
    Bytes both = RawClient::Login(50, 16, kLogin);
    const Bytes request = RawClient::Request('c', 1, 50);
    both.insert(both.end(), request.begin(), request.end());
    ASSERT_TRUE(eager->Send(both));
    Bytes hello, jpeg;
    uint8_t camera = 0;
    ASSERT_TRUE(eager->Read(22, hello));
    ASSERT_TRUE(eager->ReadFrame(camera, jpeg));
    EXPECT_EQ(camera, 1);
    eager->Abort();
    viewer->Abort();
    ASSERT_TRUE(PumpUntil([&] { return direct->GotPeer() == 0 && relay->ViewerCount() == 0; }));
}

// The server's first pass only asks for the relay's address; the answer brings the link up at
// once, without waiting for the next pass.
TEST_F(RelayTest, LookupBringsTheLinkUpAtOnce)
{
    Setup(kPassword);
    ASSERT_TRUE(ConnectRelay());
    ASSERT_TRUE(PumpUntil([&] { return direct->GotDirector() == 1; }));
    EXPECT_EQ(std::count(seen.begin(), seen.end(), WM_RELAY_RECONNECT), 1);
    EXPECT_EQ(laterPasses, 0);
    auto viewer = Viewer();
    EXPECT_TRUE(ViewerGetsFrames(*viewer, 1));
}

// Over the relay too: half a minute over the password is fine, minutes without one end with
// "logon refused", and idle links at the relay's door keep no viewer out.
TEST_F(RelayTest, PasswordStageWaitsAndIdleLinksKeepNoViewerOut)
{
    fakeTime = true;
    MakeDirect();
    ASSERT_TRUE(Connect(kPassword, "pw"));
    ASSERT_TRUE(PumpUntil([&] { return direct->GotDirector() == 1; }));
    crowds.push_back(std::make_unique<test::IdleCrowd>(relay->RelayPort(), "127.0.0.2", 50));
    crowds.push_back(std::make_unique<test::IdleCrowd>(relay->RelayPort(), "127.0.0.1", 4));
    PumpFor(200);
    const Bytes right = RawClient::Password("pw");
    auto slow = Viewer();
    auto silent = Viewer();
    Bytes reply;
    for (auto *v : { slow.get(), silent.get() }) {
        ASSERT_TRUE(v->Send(RawClient::Login(50, 32, kLogin)));
        ASSERT_TRUE(v->Read(22, reply));
        EXPECT_EQ(reply[6], '2');
    }
    PumpFor(30);
    clock.Advance(30000);
    PumpFor(50);
    ASSERT_TRUE(slow->Send(right));
    ASSERT_TRUE(slow->Read(8, reply));
    EXPECT_EQ(0, std::memcmp(reply.data(), ">AOK", 4));
    uint8_t camera = 0;
    Bytes jpeg;
    ASSERT_TRUE(slow->Send(RawClient::Request('c', 1, 50)));
    ASSERT_TRUE(slow->ReadFrame(camera, jpeg));
    clock.Advance(link::LinkLimits {}.passwordTimeoutMs);
    ASSERT_TRUE(silent->ReadUntilClosed(reply));
    EXPECT_EQ(reply, (Bytes { '>', 'E', 'R', 'R', 0, 0, 0, 1 }));
    slow->Abort();
    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE(round);
        RawClient::Entry entry;
        ASSERT_NO_FATAL_FAILURE(ViewerGetsIn(RawClient::Login(50, 32, kLogin), {}, entry));
    }
    EXPECT_GT(crowds[0]->Reopened(), 0u) << "the crowd never had to come back";
}

// The relay keeps the direct link's promise: peers that never give the password, from 16 other
// addresses with more links than their places or with 4 from the viewer's own, idle at the
// relay or logged in to the server, each opened again when dropped, keep out no viewer who gives
// the password within 30 s; the relay's channels never run out before the server makes room.
TEST_F(RelayTest, DoorHoldersCostOnlyTheirOwnPlaces)
{
    fakeTime = true;
    MakeDirect();
    ASSERT_TRUE(Connect(kPassword, "pw"));
    ASSERT_TRUE(PumpUntil([&] { return direct->GotDirector() == 1; }));
    const Bytes login = RawClient::Login(50, 32, kLogin);
    const auto typing = [&] {
        PumpFor(100);
        clock.Advance(30000);
        PumpFor(100);
    };
    for (const auto &p : test::kDoorHoldings) {
        SCOPED_TRACE(p.name);
        crowds.clear();
        PumpFor(50);
        test::AddDoorHolders(crowds, relay->RelayPort(), p, login);
        PumpFor(200);
        size_t reopened = 0;
        for (int round = 0; round < 3; ++round) {
            SCOPED_TRACE(round);
            RawClient::Entry entry;
            ASSERT_NO_FATAL_FAILURE(ViewerGetsIn(login, typing, entry));
            ASSERT_EQ(entry.hello.size(), 22u);
            ASSERT_EQ(0, std::memcmp(entry.hello.data(), ">HEL", 4));
        }
        for (const auto &crowd : crowds)
            reopened += crowd->Reopened();
        // Only the other addresses hold more links than their places; the viewer's own four fit.
        if (p.addresses > 0) {
            EXPECT_GT(reopened, 0u) << "the holders never had to come back";
        }
    }
    EXPECT_LT(mostChannels, relay::RelayConfig {}.maxViewersPerServer);
    // The server's sessions and the relay's connections not yet placed fit in its channels.
    EXPECT_LT(DirectOptions::RelayLimits().MostSessions()
                  + size_t(relay::RelayConfig {}.maxPending),
              size_t(relay::RelayConfig {}.maxViewersPerServer));
}

TEST_F(RelayTest, WrongRelayPasswordIsReportedAndNotRetried)
{
    ASSERT_TRUE(Connect("wrong"));
    ASSERT_TRUE(PumpUntil([&] { return direct->ErrorFlag() != 0; }));
    EXPECT_EQ(direct->Status(), CDoDirect::StatusLoginRefused);
    EXPECT_EQ(direct->GotDirector(), 0);
    // The lookup's own reconnect came before the refusal; none comes after it.
    const auto refusedAt = static_cast<std::ptrdiff_t>(seen.size());
    for (int i = 0; i < 50; ++i)
        Pump();
    EXPECT_EQ(std::count(seen.begin() + refusedAt, seen.end(), WM_RELAY_RECONNECT), 0);
}

TEST_F(RelayTest, ServerFindsTheRelayAgainAfterARestart)
{
    ASSERT_TRUE(Connect());
    ASSERT_TRUE(PumpUntil([&] { return direct->GotDirector() == 1; }));
    const uint16_t lookupPort = relay->LookupPort();
    const uint16_t relayPort = relay->RelayPort();
    relay.reset();
    ASSERT_TRUE(PumpUntil([&] { return direct->GotDirector() == 0 && direct->ErrorFlag() != 0; }));
    EXPECT_EQ(direct->Status(), CDoDirect::StatusLinkLost);
    direct->ClearErrorFlag();
    // Down for a while: the server keeps asking, further apart.
    ASSERT_TRUE(
        PumpUntil([&] { return std::count(seen.begin(), seen.end(), WM_RELAY_RECONNECT) >= 3; }));
    StartRelay(lookupPort, relayPort);
    ASSERT_TRUE(PumpUntil([&] { return direct->GotDirector() == 1; }));
    auto viewer = Viewer();
    EXPECT_TRUE(ViewerGetsFrames(*viewer, 3));
}

TEST_F(RelayTest, HeldBackRequestIsOfferedAgainWithResume)
{
    ASSERT_TRUE(Connect());
    ASSERT_TRUE(PumpUntil([&] { return direct->GotDirector() == 1; }));
    auto viewer = Viewer();
    Bytes hello;
    ASSERT_TRUE(viewer->Send(RawClient::Login(50, 32, kLogin)));
    ASSERT_TRUE(viewer->Read(22, hello));
    holdBack = 1;
    ASSERT_TRUE(viewer->Send(RawClient::Request('c', 1, 50)));
    ASSERT_TRUE(PumpUntil([&] { return holdBack == 0; }));
    ASSERT_TRUE(
        PumpUntil([&] { return std::count(seen.begin(), seen.end(), WM_RELAY_RESUME) > 0; }));
    uint8_t camera = 0;
    Bytes jpeg;
    ASSERT_TRUE(viewer->ReadFrame(camera, jpeg));
    EXPECT_EQ(camera, 1);
}

TEST_F(RelayTest, ViewerThatNeverReadsIsDroppedAndTheOtherGoesOn)
{
    direct.reset();
    relay.reset();
    StartRelay(0, 0, 300);
    MakeDirect();
    for (size_t i = 0; i < frame.size(); ++i)
        frame[i] = static_cast<uint8_t>((i * 2654435761u) >> 13); // large JPEGs
    ASSERT_TRUE(Connect());
    ASSERT_TRUE(PumpUntil([&] { return direct->GotDirector() == 1; }));
    auto good = Viewer();
    ASSERT_TRUE(ViewerGetsFrames(*good, 1));
    auto stuck = Viewer(4096);
    Bytes hello;
    ASSERT_TRUE(stuck->Send(RawClient::Login(100, 64, kLogin)));
    ASSERT_TRUE(stuck->Read(22, hello));
    int frames = 0;
    while (relay->ViewerCount() == 2) {
        stuck->Send(RawClient::Request('c', 1, 100));
        uint8_t camera = 0;
        Bytes jpeg;
        ASSERT_TRUE(good->Send(RawClient::Request('c', 2, 50)));
        ASSERT_TRUE(good->ReadFrame(camera, jpeg));
        ASSERT_LT(++frames, 1000) << "the stuck viewer was never dropped";
    }
    for (int i = 0; i < 20; ++i) {
        uint8_t camera = 0;
        Bytes jpeg;
        ASSERT_TRUE(good->Send(RawClient::Request('c', 2, 50)));
        ASSERT_TRUE(good->ReadFrame(camera, jpeg));
    }
    EXPECT_TRUE(PumpUntil([&] { return direct->GotConnection() == 1; }));
}

TEST_F(RelayTest, ServiceProgramRunsOnFreePorts)
{
    const QString users = folder.filePath("users");
    std::ofstream(users.toStdString()) << "# relay logins\n" << kLogin << ":" << kPassword << "\n";
    QProcess process;
    process.start(QStringLiteral(VORLUND_RELAY_PROGRAM),
                  { "--users", users, "--address", "127.0.0.1", "--lookup-port", "0",
                    "--relay-port", "0", "--bind", "127.0.0.1" });
    ASSERT_TRUE(process.waitForStarted());
    QByteArray out;
    while (out.count('\n') < 2 && process.waitForReadyRead(30000))
        out += process.readAllStandardOutput();
    const QList<QByteArray> lines = out.split('\n');
    ASSERT_GE(lines.size(), 2);
    const uint16_t lookupPort = lines[0].split(' ').last().toUShort();
    ASSERT_NE(lookupPort, 0);
    RawClient client(lookupPort, [] { QCoreApplication::processEvents(); });
    ASSERT_TRUE(client.Send(relay::BuildLookupRequest(kLogin, "relay")));
    Bytes reply;
    ASSERT_TRUE(client.ReadUntilClosed(reply));
    EXPECT_NE(std::string(reply.begin(), reply.end()).find("tor:127.0.0.1:\r\n"),
              std::string::npos);
    process.terminate();
    ASSERT_TRUE(process.waitForFinished());

    QProcess bad;
    bad.start(QStringLiteral(VORLUND_RELAY_PROGRAM),
              { "--users", folder.filePath("none"), "--address", "x" });
    ASSERT_TRUE(bad.waitForFinished());
    EXPECT_EQ(bad.exitCode(), 2);
}

} // namespace
} // namespace vorlund
