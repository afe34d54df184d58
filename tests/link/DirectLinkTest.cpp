// The direct link on loopback, spoken to as raw bytes: what a viewer sees, and what a hostile
// one cannot do.
#include "CDoSocks.h"
#include "RawClient.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <gtest/gtest.h>

#include <cstring>
#include <memory>

namespace vorlund {
namespace {

using test::RawClient;
using Bytes = std::vector<uint8_t>;

constexpr int kWidth = 352;
constexpr int kHeight = 288;

class DirectLinkTest : public ::testing::Test
{
protected:
    void SetUp() override { frame = test::RedOverBlueFrame(kWidth, kHeight); }

    void Start(const char *password = "", int priority = 0, int cameras = 4, PtzFlags ptz = {})
    {
        LinkOptions options;
        options.bindAddress = "127.0.0.1";
        options.limits.passwordDelayMs = 20;
        options.limits.maxBacklog = 512 * 1024;
        options.pollMs = 10;
        if (fakeTime)
            options.clock = &clock;
        socks = std::make_unique<CDoSocks>(options);
        ConnInfo iConn;
        std::strncpy(iConn.RemotePassword, password, sizeof iConn.RemotePassword - 1);
        iConn.CameraPriority = priority;
        iConn.RemotePort = 0;
        ImageHeader header;
        header.Width = kWidth;
        header.Height = kHeight;
        header.BitCount = static_cast<uint16_t>(cameras);
        ASSERT_TRUE(socks->StartListening(iConn, header, ptz));
        ASSERT_NE(socks->ListeningPort(), 0);
    }

    // One pass of the server's tick: take one request and answer it as the server would.
    void Pump()
    {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 2);
        for (auto &crowd : crowds)
            crowd->Keep();
        uint8_t request[2] = {};
        const int8_t code = socks->CheckRequestQueue(request, sizeof request);
        if (code >= 1 && code <= 32) {
            socks->SendImageOut(frame.data(), frame.size(), code);
            ++served[request[0] & 1];
        } else if (code != 0) {
            ++others;
        }
    }

    std::unique_ptr<RawClient> Connect(int receiveBuffer = 0)
    {
        return std::make_unique<RawClient>(
            socks->ListeningPort(), [this] { Pump(); }, receiveBuffer);
    }

    std::unique_ptr<RawClient> LoggedIn(uint8_t sizeCode = 32)
    {
        auto client = Connect();
        Bytes hello;
        EXPECT_TRUE(client->Send(RawClient::Login(50, sizeCode)));
        EXPECT_TRUE(client->Read(22, hello));
        return client;
    }

    // Login, hello, password; the reply to the password (to the close when untilClosed).
    bool TryPassword(RawClient &client, const std::string &password, Bytes &reply,
                     bool untilClosed = false)
    {
        if (!client.Send(RawClient::Login(50, 32)) || !client.Read(22, reply)
            || !client.Send(RawClient::Password(password)))
            return false;
        return untilClosed ? client.ReadUntilClosed(reply) : client.Read(8, reply);
    }

    // A frame request answered; returns the decoded size and the camera byte.
    bool Frame(RawClient &client, uint8_t camera, uint8_t value, int &w, int &h, Bytes &bgr,
               size_t *jpegSize = nullptr)
    {
        uint8_t got = 0;
        Bytes jpeg;
        if (!client.Send(RawClient::Request('c', camera, value)) || !client.ReadFrame(got, jpeg))
            return false;
        if (jpegSize)
            *jpegSize = jpeg.size();
        return got == camera && test::DecodeJpeg(jpeg, w, h, bgr);
    }

    // Lets the link's poll timer run a few times, so it sees the clock's new time.
    void PumpFor(int ms)
    {
        QElapsedTimer t;
        t.start();
        while (!t.hasExpired(ms))
            Pump();
    }

    size_t Reopened() const
    {
        size_t n = 0;
        for (const auto &crowd : crowds)
            n += crowd->Reopened();
        return n;
    }

    FakeClock clock;
    bool fakeTime = false; // the link's time is `clock`'s
    std::vector<std::unique_ptr<test::IdleCrowd>> crowds;
    Bytes frame;
    std::unique_ptr<CDoSocks> socks;
    int served[2] = { 0, 0 };
    int others = 0;
};

TEST_F(DirectLinkTest, HelloAnnouncesTheSession)
{
    struct
    {
        const char *password;
        int priority, cameras;
        PtzFlags ptz;
        uint8_t sizeCode;
        int width, height;
    } cases[] = {
        { "", 0, 1, { 0, 0, 0, 0 }, 32, 320, 240 },
        { "pw", 1, 3, { 1, 0, 1, 0 }, 64, 640, 480 },
        { "", 1, 4, { 0, 0, 0, 1 }, 16, 160, 120 },
        { "", 0, 2, { 0, 0, 0, 0 }, 99, 640, 480 },
    };
    for (const auto &c : cases) {
        Start(c.password, c.priority, c.cameras, c.ptz);
        auto client = Connect();
        Bytes hello;
        ASSERT_TRUE(client->Send(RawClient::Login(50, c.sizeCode)));
        ASSERT_TRUE(client->Read(22, hello));
        EXPECT_EQ(0, std::memcmp(hello.data(), ">HEL", 4));
        EXPECT_NE(hello[4], 'N');
        EXPECT_NE(hello[4], 'P');
        EXPECT_EQ(hello[6] == '2', *c.password != 0);
        EXPECT_EQ(hello[7] == '1', c.priority != 0);
        EXPECT_EQ(hello[8] | hello[9] << 8, c.width);
        EXPECT_EQ(hello[12] | hello[13] << 8, c.height);
        EXPECT_EQ(hello[16] | hello[17] << 8, c.cameras);
        EXPECT_EQ(Bytes(hello.begin() + 18, hello.end()), Bytes(c.ptz.begin(), c.ptz.end()));
        EXPECT_EQ(socks->GotConnection(), *c.password ? 0 : 1);
    }
}

TEST_F(DirectLinkTest, PasswordWrongThenRight)
{
    Start("letmein");
    auto wrong = Connect();
    Bytes reply;
    ASSERT_TRUE(TryPassword(*wrong, "letmei", reply, true));
    EXPECT_EQ(reply, (Bytes { '>', 'E', 'R', 'R', 0, 0, 0, 1 }));

    auto right = Connect();
    ASSERT_TRUE(TryPassword(*right, "letmein", reply));
    EXPECT_EQ(0, std::memcmp(reply.data(), ">AOK", 4));
    EXPECT_EQ(socks->GotConnection(), 1);
    int w = 0, h = 0;
    Bytes bgr;
    EXPECT_TRUE(Frame(*right, 1, 50, w, h, bgr));
}

// A person who takes half a minute over the password gets in; one who never answers is told
// "logon refused" after minutes; a link that never logs in goes after the login stage's time.
TEST_F(DirectLinkTest, PasswordStageWaitsForAPerson)
{
    fakeTime = true;
    Start("letmein");
    auto slow = Connect();
    auto silent = Connect();
    auto idle = Connect();
    Bytes reply;
    ASSERT_TRUE(slow->Send(RawClient::Login(50, 32)));
    ASSERT_TRUE(slow->Read(22, reply));
    ASSERT_TRUE(silent->Send(RawClient::Login(50, 32)));
    ASSERT_TRUE(silent->Read(22, reply));
    PumpFor(30);
    clock.Advance(30000);
    PumpFor(50);
    EXPECT_TRUE(idle->Poll() == false) << "the idle link outlived the login stage";
    ASSERT_TRUE(slow->Send(RawClient::Password("letmein")));
    ASSERT_TRUE(slow->Read(8, reply));
    EXPECT_EQ(0, std::memcmp(reply.data(), ">AOK", 4));
    int w = 0, h = 0;
    Bytes bgr;
    EXPECT_TRUE(Frame(*slow, 1, 50, w, h, bgr));
    clock.Advance(link::LinkLimits {}.passwordTimeoutMs);
    ASSERT_TRUE(silent->ReadUntilClosed(reply));
    EXPECT_EQ(reply, (Bytes { '>', 'E', 'R', 'R', 0, 0, 0, 1 }));
    EXPECT_TRUE(Frame(*slow, 2, 50, w, h, bgr));
}

// Idle links held open from another address and from the viewer's own, each opened again as
// soon as it is dropped, keep no viewer out.
TEST_F(DirectLinkTest, IdleLinksKeepNoViewerOut)
{
    Start("pw");
    crowds.push_back(std::make_unique<test::IdleCrowd>(socks->ListeningPort(), "127.0.0.2", 50));
    crowds.push_back(std::make_unique<test::IdleCrowd>(socks->ListeningPort(), "127.0.0.1", 4));
    PumpFor(200);
    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE(round);
        auto viewer = Connect();
        Bytes reply;
        ASSERT_TRUE(TryPassword(*viewer, "pw", reply));
        EXPECT_EQ(0, std::memcmp(reply.data(), ">AOK", 4));
        int w = 0, h = 0;
        Bytes bgr;
        EXPECT_TRUE(Frame(*viewer, 1, 50, w, h, bgr));
        PumpFor(20);
    }
    EXPECT_GT(crowds[0]->Reopened(), 0u) << "the crowd never had to come back";
}

// Peers that never give the password hold the door: from 16 other addresses, each with more
// links than its places, or with 4 links from the viewer's own address; idle, or waiting after
// the login line; each link opened again as soon as it is dropped. A viewer who logs in and
// gives the password within 30 s gets in every time.
TEST_F(DirectLinkTest, DoorHoldersCostOnlyTheirOwnPlaces)
{
    fakeTime = true;
    for (const auto &p : test::kDoorHoldings) {
        SCOPED_TRACE(p.name);
        crowds.clear();
        Start("pw");
        test::AddDoorHolders(crowds, socks->ListeningPort(), p, RawClient::Login(50, 32));
        PumpFor(100);
        // The person types while the holders come and go.
        const auto typing = [&] {
            PumpFor(100);
            clock.Advance(30000);
            PumpFor(100);
        };
        for (int round = 0; round < 3; ++round) {
            SCOPED_TRACE(round);
            auto viewer = Connect();
            RawClient::Entry entry;
            const bool in
                = viewer->LogInAndTakeFrame(RawClient::Login(50, 32), typing, "pw", 1, 50, entry);
            ASSERT_EQ(entry.hello.size(), 22u);
            EXPECT_EQ(entry.hello[6], '2');
            ASSERT_EQ(entry.answer.size(), 8u);
            EXPECT_EQ(0, std::memcmp(entry.answer.data(), ">AOK", 4));
            ASSERT_TRUE(in);
            int w = 0, h = 0;
            Bytes bgr;
            EXPECT_EQ(entry.camera, 1);
            EXPECT_TRUE(test::DecodeJpeg(entry.jpeg, w, h, bgr));
            viewer->Abort();
            PumpFor(20);
        }
        EXPECT_GT(Reopened(), 0u) << "the holders never had to come back";
    }
}

TEST_F(DirectLinkTest, LiveFramesAreUprightAtTheSessionSize)
{
    Start();
    auto client = LoggedIn(32);
    struct
    {
        uint8_t camera, value;
        int width, height;
    } steps[] = {
        { 1, 50, 320, 240 }, // as announced
        { 2, 48, 480, 360 }, // a size change
        { 3, 90, 480, 360 }, // a quality change keeps the size
        { 4, 16, 160, 120 },
    };
    for (const auto &s : steps) {
        SCOPED_TRACE(s.value);
        int w = 0, h = 0;
        Bytes bgr;
        ASSERT_TRUE(Frame(*client, s.camera, s.value, w, h, bgr));
        ASSERT_EQ(w, s.width);
        ASSERT_EQ(h, s.height);
        const uint8_t *top = &bgr[(static_cast<size_t>(h / 8) * w + w / 2) * 3];
        const uint8_t *bottom = &bgr[(static_cast<size_t>(h * 7 / 8) * w + w / 2) * 3];
        EXPECT_GT(top[2], 200); // red on top
        EXPECT_LT(top[0], 60);
        EXPECT_GT(bottom[0], 200); // blue below
        EXPECT_LT(bottom[2], 60);
    }
    // Quality shows in the size of the file.
    size_t low = 0, high = 0;
    int w, h;
    Bytes bgr;
    frame.assign(frame.size(), 0);
    for (size_t i = 0; i < frame.size(); ++i)
        frame[i] = static_cast<uint8_t>((i * 7919) >> 3);
    ASSERT_TRUE(Frame(*client, 1, 10, w, h, bgr, &low));
    ASSERT_TRUE(Frame(*client, 1, 95, w, h, bgr, &high));
    EXPECT_LT(low * 2, high);
}

TEST_F(DirectLinkTest, ControlAndKeepAliveGetNoReply)
{
    Start();
    auto client = LoggedIn();
    ASSERT_TRUE(client->Send(RawClient::Request('k', 0xFF, 0)));
    ASSERT_TRUE(client->Send(RawClient::Request('P', 0, 0)));
    ASSERT_TRUE(client->Send(RawClient::Request('k', 0x02, 0)));
    // The next bytes are the frame's: nothing answered the three before it.
    int w = 0, h = 0;
    Bytes bgr;
    ASSERT_TRUE(Frame(*client, 2, 50, w, h, bgr));
    EXPECT_EQ(others, 2);
}

TEST_F(DirectLinkTest, ThirdViewerIsRefusedAndSlotsComeBack)
{
    Start();
    auto first = LoggedIn();
    auto second = LoggedIn();
    auto third = Connect();
    Bytes reply;
    ASSERT_TRUE(third->Send(RawClient::Login(50, 32)));
    ASSERT_TRUE(third->ReadUntilClosed(reply));
    EXPECT_EQ(reply, (Bytes { '>', 'E', 'R', 'R', 0, 0, 0, 2 }));
    EXPECT_EQ(socks->GotConnection(), 2);
    first->Abort();
    auto fourth = LoggedIn();
    while (socks->GotConnection() != 2)
        Pump();
    int w = 0, h = 0;
    Bytes bgr;
    EXPECT_TRUE(Frame(*fourth, 1, 50, w, h, bgr));
}

TEST_F(DirectLinkTest, HostileViewersAreCutOffAndOthersServed)
{
    Start("pw");
    auto good = Connect();
    Bytes reply;
    ASSERT_TRUE(TryPassword(*good, "pw", reply));
    ASSERT_EQ(0, std::memcmp(reply.data(), ">AOK", 4));

    const Bytes login = RawClient::Login(50, 32);
    auto withLogin = [&](Bytes tail) {
        Bytes out = login;
        out.insert(out.end(), tail.begin(), tail.end());
        return out;
    };
    Bytes overlong = { '5', '8', '6', '?', 50, 32 };
    overlong.resize(2000, 'a');
    struct
    {
        const char *name;
        Bytes bytes;
    } cases[] = {
        { "overlong login", overlong },
        { "request before login", { '>', 'c', 1, 50, '\r', '\n' } },
        { "password length 255", withLogin({ '>', 'p', 255, 'x', 'x', 'x', 'x' }) },
        { "request before password", withLogin({ '>', 'c', 1, 50, '\r', '\n' }) },
        { "garbage", Bytes(300, 0x0A) },
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        auto bad = Connect();
        bad->Send(c.bytes);
        EXPECT_TRUE(bad->ReadUntilClosed(reply));
        int w = 0, h = 0;
        Bytes bgr;
        ASSERT_TRUE(Frame(*good, 1, 50, w, h, bgr));
    }
    // Camera 9 from a logged-in viewer closes its link.
    auto nine = Connect();
    nine->Send(login);
    nine->Send(Bytes { '>', 'p', 2, 'p', 'w', '\r', '\n', '>', 'c', 9, 50, '\r', '\n' });
    ASSERT_TRUE(nine->ReadUntilClosed(reply));
    EXPECT_LE(reply.size(), 22u + 8u); // at most hello and ">AOK": no frame
    // Abrupt closes at every stage.
    for (size_t cut : { 0ul, 3ul, 22ul }) {
        auto abrupt = Connect();
        abrupt->Send(
            Bytes(login.begin(),
                  login.begin() + static_cast<std::ptrdiff_t>(std::min(cut, login.size()))));
        for (int i = 0; i < 5; ++i)
            Pump();
        abrupt->Abort();
    }
    int w = 0, h = 0;
    Bytes bgr;
    EXPECT_TRUE(Frame(*good, 2, 50, w, h, bgr));
}

TEST_F(DirectLinkTest, FloodingViewerThatNeverReadsIsDroppedWhileTheOtherIsServed)
{
    Start();
    // Large frames fill the buffers quickly.
    for (size_t i = 0; i < frame.size(); ++i)
        frame[i] = static_cast<uint8_t>((i * 2654435761u) >> 13);
    auto good = LoggedIn(64);
    auto flood = Connect(4096);
    Bytes reply;
    ASSERT_TRUE(flood->Send(RawClient::Login(100, 64)));
    ASSERT_TRUE(flood->Read(22, reply));
    Bytes burst;
    for (int i = 0; i < 1000; ++i) {
        const Bytes r = RawClient::Request('c', 1, 100);
        burst.insert(burst.end(), r.begin(), r.end());
    }
    int goodFrames = 0;
    bool floodOpen = true;
    while (goodFrames < 40 || floodOpen) {
        if (floodOpen)
            floodOpen = flood->Send(burst);
        floodOpen = floodOpen && socks->GotConnection() == 2;
        int w = 0, h = 0;
        Bytes bgr;
        ASSERT_TRUE(Frame(*good, 1, 100, w, h, bgr));
        ASSERT_EQ(w, 640);
        ++goodFrames;
        ASSERT_LT(goodFrames, 400) << "the flooding viewer was never dropped";
    }
    EXPECT_EQ(socks->GotConnection(), 1);
    // The thousand requests of each burst were answered at most once each.
    EXPECT_LE(served[1], goodFrames);
}

TEST_F(DirectLinkTest, StopListeningEndsEveryLink)
{
    Start();
    auto client = LoggedIn();
    socks->StopListening();
    Bytes rest;
    EXPECT_TRUE(client->ReadUntilClosed(rest));
    EXPECT_EQ(socks->GotConnection(), 0);
    EXPECT_EQ(socks->ListeningPort(), 0);
}

} // namespace
} // namespace vorlund
