// The viewer protocol and the sessions without sockets: parser, hello, request mapping,
// passwords, limits. Runs in the sanitizer builds.
#include "BgrScaler.h"
#include "JpegCodec.h"
#include "RawClient.h"
#include "ViewerHub.h"
#include "ViewerProtocol.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <deque>
#include <filesystem>
#include <fstream>
#include <random>
#include <unistd.h>

namespace vorlund::link {
namespace {

using Bytes = std::vector<uint8_t>;
using Kind = ViewerRequest::Kind;

Bytes B(std::initializer_list<int> values)
{
    Bytes out;
    for (int v : values)
        out.push_back(static_cast<uint8_t>(v));
    return out;
}

Bytes Cat(Bytes a, std::string_view text, Bytes tail = {})
{
    a.insert(a.end(), text.begin(), text.end());
    a.insert(a.end(), tail.begin(), tail.end());
    return a;
}

struct ParseCase
{
    ParseCase(const char *n, ParseStage s, Bytes in, bool ok, Kind k = Kind::KeepAlive,
              uint8_t a_ = 0, uint8_t b_ = 0, std::string t = {})
        : name(n), stage(s), bytes(std::move(in)), valid(ok), kind(k), a(a_), b(b_),
          text(std::move(t))
    { }
    const char *name;
    ParseStage stage;
    Bytes bytes;
    bool valid;
    Kind kind = Kind::KeepAlive;
    uint8_t a = 0;
    uint8_t b = 0;
    std::string text;
};

TEST(SessionParser, CutsRequestsByStructureWholeOrByteByByte)
{
    const Bytes login = B({ '5', '8', '6', '?' });
    const std::vector<ParseCase> cases = {
        { "login", ParseStage::Login, Cat(login, "", B({ 50, 32, 13, 10 })), true, Kind::Login, 50,
          32, "" },
        { "login id", ParseStage::Login,
          Cat(Cat(login, "", B({ 10, 64 })), "me@example.org", B({ 13, 10 })), true, Kind::Login,
          10, 64, "me@example.org" },
        { "quality CR size LF", ParseStage::Login, Cat(login, "", B({ 13, 10, 13, 10 })), true,
          Kind::Login, 13, 10, "" },
        { "bad marker", ParseStage::Login, B({ '5', '8', '6', '!', 50, 32, 13, 10 }), false },
        { "control byte in id", ParseStage::Login,
          Cat(login, "", B({ 50, 32, 'a', 1, 'b', 13, 10 })), false },
        { "overlong login", ParseStage::Login,
          Cat(Cat(login, "", B({ 50, 32 })), std::string(600, 'a')), false },
        { "request before login", ParseStage::Login, B({ '>', 'c', 1, 50, 13, 10 }), false },
        { "password", ParseStage::Password, Cat(B({ '>', 'p', 6 }), "a\r\nb\n\r", B({ 13, 10 })),
          true, Kind::Password, 0, 0, "a\r\nb\n\r" },
        { "empty password", ParseStage::Password, B({ '>', 'p', 13, 10 }), true, Kind::Password, 0,
          0, "" },
        { "password 16", ParseStage::Password,
          Cat(B({ '>', 'p', 16 }), std::string(16, 'x'), B({ 13, 10 })), false },
        { "password length 255", ParseStage::Password, B({ '>', 'p', 255, 'x', 'x' }), false },
        { "password without line end", ParseStage::Password,
          Cat(B({ '>', 'p', 2 }), "ab", B({ 'x', 'y' })), false },
        { "live", ParseStage::Requests, B({ '>', 'c', 1, 50, 13, 10 }), true, Kind::Live, 1, 50 },
        { "live quality CR", ParseStage::Requests, B({ '>', 'c', 2, 13, 13, 10 }), true, Kind::Live,
          2, 13 },
        { "stored", ParseStage::Requests, B({ '>', 's', 3, '-', 13, 10 }), true, Kind::Stored, 3,
          '-' },
        { "control", ParseStage::Requests, B({ '>', 'k', 0xFF, 13, 10 }), true, Kind::Control, 0,
          0xFF },
        { "control LF", ParseStage::Requests, B({ '>', 'k', 10, 13, 10 }), true, Kind::Control, 0,
          10 },
        { "keep-alive", ParseStage::Requests, B({ '>', 'P', 'N', 13, 10 }), true, Kind::KeepAlive },
        { "bad keep-alive", ParseStage::Requests, B({ '>', 'P', 'X', 13, 10 }), false },
        { "bad trailer", ParseStage::Requests, B({ '>', 'c', 1, 50, 'x', 'x' }), false },
        { "unknown", ParseStage::Requests, B({ '>', 'z', 1, 50, 13, 10 }), false },
        { "no tag", ParseStage::Requests, B({ '<', 'c', 1, 50, 13, 10 }), false },
        { "password after login", ParseStage::Requests, B({ '>', 'p', 13, 10 }), false },
    };
    for (const ParseCase &c : cases) {
        for (const bool byteByByte : { false, true }) {
            SCOPED_TRACE(std::string(c.name) + (byteByByte ? " byte by byte" : ""));
            SessionParser parser;
            parser.SetStage(c.stage);
            ViewerRequest request;
            ParseResult result = ParseResult::NeedMore;
            for (size_t i = 0; i < c.bytes.size() && result == ParseResult::NeedMore;) {
                const size_t n = byteByByte ? 1 : c.bytes.size() - i;
                i += parser.Append(std::span(c.bytes).subspan(i, n));
                result = parser.Next(request);
            }
            if (!c.valid) {
                EXPECT_EQ(result, ParseResult::Invalid);
                continue;
            }
            ASSERT_EQ(result, ParseResult::Request);
            EXPECT_EQ(request.kind, c.kind);
            EXPECT_EQ(request.a, c.a);
            EXPECT_EQ(request.b, c.b);
            EXPECT_EQ(request.text, c.text);
            EXPECT_EQ(parser.Buffered(), 0u);
        }
    }
}

TEST(ViewerProtocol, SizeCodesAndHello)
{
    struct
    {
        int code, width, height;
        bool isCode;
    } sizes[] = { { 16, 160, 120, true },  { 32, 320, 240, true },  { 40, 400, 300, true },
                  { 64, 640, 480, true },  { 8, 160, 120, false },  { 45, 450, 337, false },
                  { 72, 640, 480, false }, { 255, 640, 480, false } };
    for (const auto &s : sizes) {
        SCOPED_TRACE(s.code);
        EXPECT_EQ(SizeFromCode(s.code).width, s.width);
        EXPECT_EQ(SizeFromCode(s.code).height, s.height);
        EXPECT_EQ(IsSizeCode(s.code), s.isCode);
    }
    EXPECT_EQ(ClampQuality(0), kMinQuality);
    EXPECT_EQ(ClampQuality(250), kMaxQuality);

    HelloFields fields;
    fields.passwordWanted = true;
    fields.cameraOnePriority = true;
    fields.width = 640;
    fields.height = 480;
    fields.cameraCount = 3;
    fields.ptzFlags = { 0, 1, 0, 1 };
    const auto hello = BuildHello(fields);
    const Bytes expected = {
        '>', 'H', 'E', 'L', kVideoStandardLetter, '0', '2', '1', 0x80, 2, 0, 0, 0xE0, 1, 0, 0, 3, 0,
        0,   1,   0,   1
    };
    EXPECT_EQ(Bytes(hello.begin(), hello.end()), expected);
    EXPECT_NE(hello[4], 'N');
    EXPECT_NE(hello[4], 'P');
    fields.passwordWanted = false;
    fields.cameraOnePriority = false;
    EXPECT_EQ(BuildHello(fields)[6], '0');
    EXPECT_EQ(BuildHello(fields)[7], '0');
    const auto error = BuildError(2);
    EXPECT_EQ(Bytes(error.begin(), error.end()), B({ '>', 'E', 'R', 'R', 0, 0, 0, 2 }));
}

// --- the sessions -----------------------------------------------------------------------------

class FakeTransport : public ISessionTransport
{
public:
    void Write(std::span<const uint8_t> bytes) override
    {
        written.insert(written.end(), bytes.begin(), bytes.end());
    }
    size_t Backlog() const override { return backlog + written.size() * countWritten; }
    void Close(bool graceful) override
    {
        closed = true;
        closedGracefully = graceful;
    }
    Bytes Take()
    {
        Bytes out;
        out.swap(written);
        return out;
    }

    Bytes written;
    size_t backlog = 0;
    size_t countWritten = 0;
    bool closed = false;
    bool closedGracefully = false;
};

class HubTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        limits.passwordDelayMs = 100;
        limits.maxPasswordDelayMs = 1000;
        limits.handshakeTimeoutMs = 5000;
        Configure("");
    }
    void Configure(const std::string &password, LinkLimits l = {})
    {
        if (l.reofferAfterMs)
            limits = l;
        hub = std::make_unique<ViewerHub>(clock, limits);
        LinkSetup setup;
        setup.password = password;
        setup.header.Width = 352;
        setup.header.Height = 288;
        setup.header.BitCount = 4;
        ASSERT_TRUE(hub->Configure(setup));
        frame = test::RedOverBlueFrame(352, 288);
    }
    int Open(FakeTransport &t, const std::string &peer = "10.0.0.1")
    {
        const int id = hub->Open(t, peer);
        return id;
    }
    int Login(FakeTransport &t, uint8_t sizeCode = 32, const std::string &peer = "10.0.0.1")
    {
        const int id = Open(t, peer);
        hub->Feed(id, test::RawClient::Login(50, sizeCode));
        return id;
    }
    int8_t Next(uint8_t &viewer, uint8_t &arg)
    {
        uint8_t buffer[2] = { 0xAA, 0xAA };
        const int8_t code = hub->CheckRequestQueue(buffer, sizeof buffer);
        viewer = buffer[0];
        arg = buffer[1];
        return code;
    }

    FakeClock clock;
    LinkLimits limits;
    std::unique_ptr<ViewerHub> hub;
    Bytes frame;
};

TEST_F(HubTest, WrongPasswordIsAnsweredLateAndLaterEachTime)
{
    Configure("secret");
    const Bytes wrong = Cat(B({ '>', 'p', 5 }), "wrong", B({ 13, 10 }));
    for (const uint32_t delay : { 100u, 200u, 400u }) {
        SCOPED_TRACE(delay);
        FakeTransport t;
        const int id = Login(t);
        EXPECT_EQ(t.Take()[6], '2');
        hub->Feed(id, wrong);
        clock.Advance(delay - 1);
        hub->Poll();
        EXPECT_TRUE(t.written.empty());
        EXPECT_FALSE(t.closed);
        clock.Advance(1);
        hub->Poll();
        EXPECT_EQ(t.Take(), B({ '>', 'E', 'R', 'R', 0, 0, 0, 1 }));
        EXPECT_TRUE(t.closed && t.closedGracefully);
    }
    // Another address is not slowed down; the right password clears the address's record.
    FakeTransport other;
    hub->Feed(Login(other, 32, "10.0.0.2"), wrong);
    clock.Advance(100);
    hub->Poll();
    EXPECT_TRUE(other.closed);

    FakeTransport good;
    const int id = Login(good);
    good.Take();
    hub->Feed(id, Cat(B({ '>', 'p', 6 }), "secret", B({ 13, 10 })));
    EXPECT_EQ(good.Take(), B({ '>', 'A', 'O', 'K', 0, 0, 0, 0 }));
    EXPECT_EQ(hub->ReadyCount(), 1);
    FakeTransport again;
    hub->Feed(Login(again), wrong);
    clock.Advance(100);
    hub->Poll();
    EXPECT_TRUE(again.closed);
}

TEST_F(HubTest, DelayedRefusalsNeitherBlockNewViewersNorPileUp)
{
    Configure("secret");
    const Bytes wrong = Cat(B({ '>', 'p', 1 }), "x", B({ 13, 10 }));
    std::vector<FakeTransport> t(17);
    for (size_t i = 0; i < t.size(); ++i)
        hub->Feed(Login(t[i], 32, "10.0.1." + std::to_string(i)), wrong);
    for (size_t i = 0; i < 16; ++i)
        EXPECT_FALSE(t[i].closed);
    EXPECT_TRUE(t[16].closed);
    EXPECT_FALSE(t[16].closedGracefully);
    FakeTransport next;
    EXPECT_NE(Open(next), 0);
}

TEST_F(HubTest, LoginStageAlwaysMakesRoomAndTimesOut)
{
    limits.maxHandshaking = 6;
    limits.maxHandshakingPerAddress = 3;
    Configure("");
    // Each row opens one more idle link from `peer`; `dropped` is the one that made room.
    struct
    {
        const char *peer;
        int dropped; // index into t, -1 = none
    } steps[] = {
        { "10.0.0.9", -1 }, { "10.0.0.9", -1 }, { "10.0.0.9", -1 },
        { "10.0.0.9", 0 }, // its own address's oldest goes
        { "10.0.0.8", -1 }, { "10.0.0.8", -1 }, { "10.0.0.1", -1 }, // six: the table is full
        { "10.0.0.1", 1 }, // the busiest address (10.0.0.9, three) gives its oldest
        { "10.0.0.1", 2 }, // all three hold two: the oldest place of them goes
    };
    std::vector<FakeTransport> t(std::size(steps));
    std::vector<bool> closed(t.size(), false);
    for (size_t i = 0; i < t.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_NE(Open(t[i], steps[i].peer), 0);
        clock.Advance(10);
        if (steps[i].dropped >= 0)
            closed[size_t(steps[i].dropped)] = true;
        for (size_t k = 0; k <= i; ++k)
            EXPECT_EQ(t[k].closed, closed[k]) << k;
        EXPECT_LE(hub->SessionCount(), 6);
    }
    EXPECT_TRUE(t[0].written.empty()) << "an idle link is dropped without a word";
    // A link that logs in leaves the login stage at once.
    FakeTransport viewer;
    const int id = Open(viewer, "10.0.0.1");
    hub->Feed(id, test::RawClient::Login(50, 32));
    EXPECT_EQ(viewer.Take().size(), kHelloLength);
    clock.Advance(limits.handshakeTimeoutMs);
    hub->Poll();
    for (size_t k = 0; k < t.size(); ++k)
        EXPECT_TRUE(t[k].closed) << k;
    EXPECT_FALSE(viewer.closed);
    EXPECT_EQ(hub->SessionCount(), 1);
}

TEST_F(HubTest, PasswordStageWaitsForAPersonWithPlacesOfItsOwn)
{
    limits.handshakeTimeoutMs = 10000;
    limits.passwordTimeoutMs = 180000;
    limits.maxPasswordWaiting = 4;
    limits.maxPasswordWaitingPerAddress = 2;
    Configure("pw");
    const Bytes right = Cat(B({ '>', 'p', 2 }), "pw", B({ 13, 10 }));
    // A person who takes half a minute gets in; the login stage's time-out does not apply.
    FakeTransport slow;
    const int slowId = Login(slow);
    EXPECT_EQ(slow.Take()[6], '2');
    for (int s = 0; s < 30; ++s) {
        clock.Advance(1000);
        hub->Poll();
    }
    EXPECT_FALSE(slow.closed);
    hub->Feed(slowId, right);
    EXPECT_EQ(slow.Take(), B({ '>', 'A', 'O', 'K', 0, 0, 0, 0 }));
    // One who never answers is told so at the end, and the link closes gracefully.
    FakeTransport gone;
    Login(gone);
    gone.Take();
    clock.Advance(limits.passwordTimeoutMs - 1);
    hub->Poll();
    EXPECT_FALSE(gone.closed);
    clock.Advance(1);
    hub->Poll();
    EXPECT_EQ(gone.Take(), B({ '>', 'E', 'R', 'R', 0, 0, 0, 1 }));
    EXPECT_TRUE(gone.closed && gone.closedGracefully);

    // Places: two per address, four in all. Every login gets one: over its address's two it
    // takes that address's oldest, over the total the busiest address's oldest.
    struct
    {
        const char *peer;
        int dropped; // index into t told ">ERR" 2 to make room, -1 = none
    } steps[] = {
        { "10.0.0.5", -1 }, { "10.0.0.5", -1 },
        { "10.0.0.5", 0 }, // its address's two are taken: its oldest goes
        { "10.0.0.6", -1 }, { "10.0.0.7", -1 }, // four: full
        { "10.0.0.8", 1 }, // 10.0.0.5 holds the most: its oldest goes
        { "10.0.0.8", 2 }, // every address holds one: the oldest place goes
    };
    std::vector<FakeTransport> t(std::size(steps));
    std::vector<int> ids(t.size());
    for (size_t i = 0; i < t.size(); ++i) {
        SCOPED_TRACE(i);
        ids[i] = Login(t[i], 32, steps[i].peer);
        clock.Advance(10);
        EXPECT_EQ(t[i].Take().size(), kHelloLength);
        EXPECT_FALSE(t[i].closed);
        if (steps[i].dropped >= 0) {
            EXPECT_EQ(t[size_t(steps[i].dropped)].Take(), B({ '>', 'E', 'R', 'R', 0, 0, 0, 2 }));
            EXPECT_TRUE(t[size_t(steps[i].dropped)].closed);
        }
    }
    // Idle links in the login stage take none of these places: one that goes frees one.
    std::vector<FakeTransport> idle(40);
    for (auto &i : idle)
        Open(i, "10.0.0.2");
    hub->Closed(ids[4]);
    FakeTransport late;
    Login(late, 32, "10.0.0.6");
    EXPECT_EQ(late.Take().size(), kHelloLength);
    for (const size_t k : { 3, 5, 6 })
        EXPECT_FALSE(t[k].closed) << k;
}

TEST(AddressKey, CountsPeersAsPeopleHaveThem)
{
    const struct
    {
        std::string peer, key;
    } cases[] = {
        { "127.0.0.2", "127.0.0.2" },
        { "::ffff:127.0.0.2", "127.0.0.2" }, // an IPv4 peer on a listener of both kinds
        { "::FFFF:10.1.2.3", "10.1.2.3" },
        { "2001:db8:1:2::1", "2001:db8:1:2::/64" },
        { "2001:0db8:0001:0002:aaaa:bbbb:cccc:dddd", "2001:db8:1:2::/64" },
        { "2001:db8:1:3::1", "2001:db8:1:3::/64" },
        { "fe80::1%eth0", "fe80::/64" },
        { "::1", "::/64" },
        { "::", "::/64" },
        { "no address", "no address" },
        { "1.2.3.4%x", "1.2.3.4" },
        { std::string("1.2.3.4\0z", 9), std::string("1.2.3.4\0z", 9) },
        { std::string(100, '7'), std::string(64, '7') },
        { "", "" },
    };
    for (const auto &c : cases)
        EXPECT_EQ(AddressKey(c.peer), c.key) << c.peer;
}

TEST_F(HubTest, PeersCountByIpv4AddressOrIpv6Slash64InEveryStage)
{
    limits.maxHandshaking = limits.maxPasswordWaiting = 100;
    limits.maxHandshakingPerAddress = limits.maxPasswordWaitingPerAddress = 2;
    Configure("pw");
    // Three peers of one address: with two places an address, the third takes the first's.
    const std::vector<std::vector<std::string>> sameAddress = {
        { "2001:db8:5:6::1", "2001:db8:5:6:ffff::9", "2001:db8:5:6::abcd" },
        { "::ffff:10.0.0.1", "10.0.0.1", "::ffff:10.0.0.1" },
        { "fe80::1%eth0", "fe80::2%lo", "fe80::3" },
    };
    // Each of these is an address of its own.
    const std::vector<std::string> apart
        = { "2001:db8:5:7::1", "2001:db8:5::1", "::ffff:10.0.0.2", "10.0.0.3", "::ffff:10.0.1.1" };
    for (const bool loggedIn : { false, true }) {
        SCOPED_TRACE(loggedIn ? "password stage" : "login stage");
        auto open = [&](FakeTransport &t, const std::string &peer) {
            clock.Advance(1);
            return loggedIn ? Login(t, 32, peer) : Open(t, peer);
        };
        std::deque<FakeTransport> others(apart.size());
        for (size_t i = 0; i < apart.size(); ++i)
            EXPECT_NE(open(others[i], apart[i]), 0);
        std::deque<std::deque<FakeTransport>> groups; // the hub keeps them till its Reset
        for (const auto &group : sameAddress) {
            SCOPED_TRACE(group[0]);
            std::deque<FakeTransport> &t = groups.emplace_back(group.size());
            for (size_t i = 0; i < group.size(); ++i)
                EXPECT_NE(open(t[i], group[i]), 0);
            EXPECT_TRUE(t[0].closed);
            EXPECT_FALSE(t[1].closed || t[2].closed);
            if (loggedIn) { // told after its hello that the place is gone
                const Bytes got = t[0].Take();
                ASSERT_EQ(got.size(), kHelloLength + 8);
                EXPECT_EQ(Bytes(got.begin() + kHelloLength, got.end()),
                          B({ '>', 'E', 'R', 'R', 0, 0, 0, 2 }));
            }
        }
        for (auto &o : others)
            EXPECT_FALSE(o.closed);
        hub->Reset();
        Configure("pw");
    }
    // Wrong passwords from one /64 slow each other down; the next /64 starts afresh.
    const Bytes wrong = Cat(B({ '>', 'p', 1 }), "x", B({ 13, 10 }));
    const struct
    {
        const char *peer;
        uint32_t delay;
    } guesses[] = { { "2001:db8::1", 100 },
                    { "2001:db8::2:3", 200 },
                    { "2001:db8:0:1::1", 100 },
                    { "::ffff:10.9.9.9", 100 },
                    { "10.9.9.9", 200 } };
    for (const auto &g : guesses) {
        SCOPED_TRACE(g.peer);
        FakeTransport t;
        hub->Feed(Login(t, 32, g.peer), wrong);
        clock.Advance(g.delay - 1);
        hub->Poll();
        EXPECT_FALSE(t.closed);
        clock.Advance(1);
        hub->Poll();
        EXPECT_TRUE(t.closed);
    }
}

TEST_F(HubTest, ThirdViewerIsToldTheLinkIsInUse)
{
    FakeTransport a, b, c;
    Login(a);
    Login(b);
    Login(c);
    EXPECT_EQ(a.Take().size(), kHelloLength);
    EXPECT_EQ(b.Take().size(), kHelloLength);
    EXPECT_EQ(c.Take(), B({ '>', 'E', 'R', 'R', 0, 0, 0, 2 }));
    EXPECT_TRUE(c.closed);
    EXPECT_EQ(hub->ReadyCount(), 2);
}

TEST_F(HubTest, ViewerNumbersGoOnlyToViewersThatGotIn)
{
    Configure("pw");
    const Bytes right = Cat(B({ '>', 'p', 2 }), "pw", B({ 13, 10 }));
    FakeTransport t[3];
    int ids[3];
    for (int i = 0; i < 3; ++i) {
        ids[i] = Login(t[i]);
        EXPECT_EQ(t[i].Take().size(), kHelloLength);
    }
    hub->Feed(ids[0], right);
    hub->Feed(ids[1], right);
    hub->Feed(ids[2], right);
    EXPECT_EQ(t[0].Take(), B({ '>', 'A', 'O', 'K', 0, 0, 0, 0 }));
    EXPECT_EQ(t[1].Take(), B({ '>', 'A', 'O', 'K', 0, 0, 0, 0 }));
    EXPECT_EQ(t[2].Take(), B({ '>', 'E', 'R', 'R', 0, 0, 0, 2 }));
    EXPECT_TRUE(t[2].closed);
    EXPECT_EQ(hub->ReadyCount(), 2);
}

TEST_F(HubTest, RequestsMapToCodes)
{
    struct
    {
        Bytes request;
        int8_t code;
        uint8_t arg;
        bool closes;
    } cases[] = {
        { B({ '>', 'c', 3, 50, 13, 10 }), 3, 0, false },
        { B({ '>', 's', 2, '=', 13, 10 }), 34, '=', false },
        { B({ '>', 's', 4, ')', 13, 10 }), 36, ')', false },
        { B({ '>', 'k', 0xFE, 13, 10 }), -1, 0xFE, false },
        { B({ '>', 'k', 0, 13, 10 }), -1, 0, false },
        { B({ '>', 'P', 'N', 13, 10 }), 0, 0xAA, false },
        { B({ '>', 'c', 9, 50, 13, 10 }), 0, 0xAA, true },
        { B({ '>', 'c', 0, 50, 13, 10 }), 0, 0xAA, true },
        { B({ '>', 's', 5, '=', 13, 10 }), 0, 0xAA, true },
    };
    for (const auto &c : cases) {
        FakeTransport first, second;
        Login(first);
        const int id = Login(second);
        hub->Feed(id, c.request);
        uint8_t viewer = 0, arg = 0;
        EXPECT_EQ(Next(viewer, arg), c.code);
        if (c.code != 0) {
            EXPECT_EQ(viewer, 1);
        }
        EXPECT_EQ(arg, c.arg);
        EXPECT_EQ(second.closed, c.closes);
        hub = nullptr;
        Configure("");
    }
}

TEST_F(HubTest, PipelinedRequestsKeepOnePlaceInTheQueue)
{
    FakeTransport flood, calm;
    const int floodId = Login(flood);
    const int calmId = Login(calm);
    Bytes many;
    for (int i = 0; i < 1000; ++i) {
        const Bytes r = B({ '>', 'c', static_cast<uint8_t>(1 + i % 4), 50, 13, 10 });
        many.insert(many.end(), r.begin(), r.end());
    }
    hub->Feed(floodId, many);
    hub->Feed(calmId, B({ '>', 'c', 2, 50, 13, 10 }));
    uint8_t viewer = 0, arg = 0;
    EXPECT_EQ(Next(viewer, arg), 4); // the newest of the thousand, in the first one's place
    EXPECT_EQ(viewer, 0);
    EXPECT_EQ(Next(viewer, arg), 2);
    EXPECT_EQ(viewer, 1);
    EXPECT_EQ(Next(viewer, arg), 0);
    // Controls are kept, but only the newest few.
    for (int i = 0; i < 100; ++i)
        hub->Feed(floodId, B({ '>', 'k', static_cast<uint8_t>(i), 13, 10 }));
    int controls = 0;
    uint8_t last = 0;
    while (Next(viewer, arg) == -1) {
        ++controls;
        last = arg;
    }
    EXPECT_EQ(controls, static_cast<int>(limits.maxControlsQueued));
    EXPECT_EQ(last, 99);
}

TEST_F(HubTest, AnswersGoToTheRequesterAtItsSize)
{
    struct
    {
        const char *name;
        int camera;
        size_t length;
        bool picture;
    } cases[] = {
        { "frame", 2, 352 * 288 * 3, true },
        { "no stored picture", 0, 352 * 288 * 3, true },
        { "short frame", 1, 352 * 288 * 3 - 1, false },
        { "bad camera", 9, 352 * 288 * 3, false },
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        FakeTransport t;
        const int id = Login(t, 16);
        t.Take();
        hub->Feed(id, B({ '>', 'c', 2, 40, 13, 10 })); // and the size becomes 400 × 300
        uint8_t viewer, arg;
        ASSERT_EQ(Next(viewer, arg), 2);
        EXPECT_EQ(hub->SendImageOut(frame.data(), c.length, c.camera), c.picture);
        const Bytes sent = t.Take();
        ASSERT_GT(sent.size(), 8u);
        EXPECT_EQ(sent[3], c.picture ? c.camera : 0);
        EXPECT_EQ(GetLe32(&sent[4]), sent.size() - 8);
        int w = 0, h = 0;
        Bytes bgr;
        ASSERT_TRUE(test::DecodeJpeg(Bytes(sent.begin() + 8, sent.end()), w, h, bgr));
        EXPECT_EQ(w, 400);
        EXPECT_EQ(h, 300);
        // Nothing is sent without a request.
        EXPECT_FALSE(hub->SendImageOut(frame.data(), frame.size(), 1));
        EXPECT_TRUE(t.written.empty());
        hub->Closed(id);
    }
}

TEST_F(HubTest, StoredPicturesAreReencodedOrReplaced)
{
    const auto folder
        = std::filesystem::temp_directory_path() / ("harlin-" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder);
    JpegCodec codec;
    Bytes big;
    ASSERT_TRUE(
        codec.EncodeFrame(test::RedOverBlueFrame(720, 576).data(), 720, 576, 720, 576, 90, big));
    auto write = [&](const char *name, const Bytes &bytes) {
        std::ofstream(folder / name, std::ios::binary)
            .write(reinterpret_cast<const char *>(bytes.data()),
                   static_cast<std::streamsize>(bytes.size()));
        return (folder / name).string();
    };
    Bytes truncated(big.begin(), big.begin() + 100);
    struct
    {
        std::string path;
        bool picture;
    } cases[] = {
        { write("p001.jpg", big), true },
        { write("p002.jpg", Bytes(5000, 0x55)), false },
        { write("p003.jpg", truncated), false },
        { write("p004.jpg", Bytes(limits.maxStillBytes + 1, 0xFF)), false },
        { (folder / "missing.jpg").string(), false },
        { folder.string(), false },
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.path);
        FakeTransport t;
        const int id = Login(t, 24);
        t.Take();
        hub->Feed(id, B({ '>', 's', 3, '=', 13, 10 }));
        uint8_t viewer, arg;
        ASSERT_EQ(Next(viewer, arg), 35);
        EXPECT_EQ(hub->SendStillOut(c.path), c.picture);
        const Bytes sent = t.Take();
        ASSERT_GT(sent.size(), 8u);
        EXPECT_EQ(sent[3], c.picture ? 3 : 0);
        int w = 0, h = 0;
        Bytes bgr;
        ASSERT_TRUE(test::DecodeJpeg(Bytes(sent.begin() + 8, sent.end()), w, h, bgr));
        EXPECT_EQ(w, 240);
        EXPECT_EQ(h, 180);
        hub->Closed(id);
    }
    std::filesystem::remove_all(folder);
}

TEST_F(HubTest, UnansweredRequestIsOfferedAgainWhenAsked)
{
    LinkLimits relayLimits = limits;
    relayLimits.reofferAfterMs = 1500;
    Configure("", relayLimits);
    int offers = 0;
    hub->onReoffer = [&] { ++offers; };
    FakeTransport t;
    const int id = Login(t);
    hub->Feed(id, B({ '>', 'c', 1, 50, 13, 10 }));
    uint8_t viewer, arg;
    ASSERT_EQ(Next(viewer, arg), 1); // held back by the server
    clock.Advance(1499);
    hub->Poll();
    EXPECT_EQ(offers, 0);
    clock.Advance(1);
    hub->Poll();
    EXPECT_EQ(offers, 1);
    ASSERT_EQ(Next(viewer, arg), 1);
    EXPECT_TRUE(hub->SendImageOut(frame.data(), frame.size(), 1));
    // A stored-picture request comes back with its step.
    hub->Feed(id, B({ '>', 's', 2, '-', 13, 10 }));
    ASSERT_EQ(Next(viewer, arg), 34);
    clock.Advance(1500);
    hub->Poll();
    EXPECT_EQ(offers, 2);
    ASSERT_EQ(Next(viewer, arg), 34);
    EXPECT_EQ(arg, '-');
    hub->SendStillOut("/nonexistent/p001.jpg");
    clock.Advance(5000);
    hub->Poll();
    EXPECT_EQ(offers, 2);
}

// A live frame is encoded once per size and quality: asked again for the same captured frame,
// the hub sends what it kept, under the camera it is asked to label it with.
TEST_F(HubTest, KeptEncodingGoesAgainOnlyForTheSameFrameSizeAndQuality)
{
    FakeTransport a, b;
    const int ida = Login(a, 32);
    const int idb = Login(b, 64);
    a.Take();
    b.Take();
    auto ask = [&](int session, uint8_t value) {
        hub->Feed(session, B({ '>', 'c', 1, value, 13, 10 }));
        uint8_t viewer, arg;
        return Next(viewer, arg);
    };
    auto body = [](const Bytes &reply) { return Bytes(reply.begin() + 8, reply.end()); };
    const FrameId frame7 { 1, 7 };
    ASSERT_EQ(ask(ida, 50), 1);
    EXPECT_FALSE(hub->ResendImageOut(frame7, 1)); // nothing kept yet
    ASSERT_TRUE(hub->SendImageOut(frame.data(), frame.size(), 1, &frame7));
    const Bytes first = a.Take();
    ASSERT_GT(first.size(), 8u);
    // The same frame for the same viewer: the kept bytes, labelled as asked.
    ASSERT_EQ(ask(ida, 50), 1);
    ASSERT_TRUE(hub->ResendImageOut(frame7, 3));
    const Bytes again = a.Take();
    EXPECT_EQ(again[3], 3);
    EXPECT_EQ(body(again), body(first));
    // Anything else differs: the request stays and is answered by a fresh encoding.
    const struct
    {
        const char *what;
        int session;
        uint8_t value;
        FrameId id;
    } misses[] = {
        { "next frame", ida, 50, { 1, 8 } },          { "other camera", ida, 50, { 2, 7 } },
        { "other quality", ida, 60, { 1, 7 } },       { "other size", ida, 48, { 1, 7 } },
        { "other viewer's size", idb, 50, { 1, 7 } },
    };
    for (const auto &m : misses) {
        SCOPED_TRACE(m.what);
        ASSERT_EQ(ask(m.session, m.value), 1);
        EXPECT_FALSE(hub->ResendImageOut(m.id, 1));
        EXPECT_TRUE(a.written.empty() && b.written.empty());
        ASSERT_TRUE(hub->SendImageOut(frame.data(), frame.size(), 1, &m.id));
        EXPECT_FALSE((m.session == ida ? a : b).Take().empty());
    }
    // Each of those was kept beside the first.
    ASSERT_EQ(ask(ida, 48), 1);
    EXPECT_TRUE(hub->ResendImageOut({ 1, 7 }, 1));
    ASSERT_EQ(ask(idb, 50), 1);
    EXPECT_TRUE(hub->ResendImageOut({ 1, 7 }, 1));
    // A new setup forgets them.
    ASSERT_TRUE(hub->Configure(LinkSetup { "", false, { 40, 352, 288, 0, 4 }, {} }));
    ASSERT_EQ(ask(idb, 50), 1);
    EXPECT_FALSE(hub->ResendImageOut({ 1, 7 }, 1));
}

TEST_F(HubTest, ViewerFarBehindIsDropped)
{
    FakeTransport slow;
    slow.backlog = limits.maxBacklog - 100;
    slow.countWritten = 1;
    const int id = Login(slow);
    EXPECT_FALSE(slow.closed);
    hub->Feed(id, B({ '>', 'c', 1, 50, 13, 10 }));
    uint8_t viewer, arg;
    ASSERT_EQ(Next(viewer, arg), 1);
    EXPECT_FALSE(hub->SendImageOut(frame.data(), frame.size(), 1));
    EXPECT_TRUE(slow.closed);
    EXPECT_FALSE(slow.closedGracefully);
    EXPECT_EQ(hub->SessionCount(), 0);
}

// The two-pass scaler against the one-pass reference: every byte the same, at the session
// sizes from the capture sizes, up and down, odd sizes and both row orders, on random pictures
// and on flat ones (where every sum is at its largest); at 2:1 every weight is a half, and some
// rows end inside a block. One scaler goes through all the sizes, so its plans are made again.
TEST(BgrScaler, SameToTheBitAsTheOnePassScaler)
{
    struct
    {
        int srcWidth, srcHeight, width, height;
    } cases[] = {
        { 720, 576, 160, 120 }, { 720, 576, 240, 180 }, { 720, 576, 320, 240 },
        { 720, 576, 400, 300 }, { 720, 576, 480, 360 }, { 720, 576, 560, 420 },
        { 720, 576, 640, 480 }, { 352, 288, 640, 480 }, { 176, 144, 320, 240 },
        { 640, 480, 639, 479 }, { 7, 5, 33, 17 },       { 33, 17, 7, 5 },
        { 1, 1, 16, 16 },       { 16, 16, 1, 1 },       { 11, 3, 11, 3 },
        { 1919, 3, 161, 2 },    { 4096, 2, 160, 1 },    { 640, 480, 320, 240 },
        { 720, 576, 330, 100 }, { 100, 40, 33, 7 },
    };
    std::mt19937 rng(47);
    std::uniform_int_distribution<int> byte(0, 255);
    BgrScaler best, portable(BgrScaler::Kernel::Portable);
    EXPECT_FALSE(portable.Vectorised());
    for (const auto &c : cases) {
        for (const bool flat : { false, true }) {
            for (const bool bottomUp : { true, false }) {
                SCOPED_TRACE(testing::Message()
                             << c.srcWidth << "x" << c.srcHeight << " -> " << c.width << "x"
                             << c.height << " flat " << flat << " bottom-up " << bottomUp);
                Bytes src(size_t(c.srcWidth) * c.srcHeight * 3);
                for (auto &b : src)
                    b = flat ? 255 : uint8_t(byte(rng));
                const size_t n = size_t(c.width) * c.height * 3;
                Bytes want(n), fast(n, 0xEE), plain(n, 0xEE);
                ResampleBgr(src.data(), c.srcWidth, c.srcHeight, bottomUp, want.data(), c.width,
                            c.height);
                best.Scale(src.data(), c.srcWidth, c.srcHeight, bottomUp, fast.data(), c.width,
                           c.height);
                portable.Scale(src.data(), c.srcWidth, c.srcHeight, bottomUp, plain.data(), c.width,
                               c.height);
                ASSERT_EQ(fast, want);
                ASSERT_EQ(plain, want);
            }
        }
    }
}

TEST(JpegCodec, FramesAreUprightInTheirColoursAtEverySize)
{
    struct
    {
        int srcWidth, srcHeight, width, height;
    } cases[] = { { 720, 576, 160, 120 },
                  { 640, 480, 640, 480 },
                  { 176, 144, 640, 480 },
                  { 320, 240, 400, 300 } };
    JpegCodec codec;
    for (const auto &c : cases) {
        SCOPED_TRACE(c.srcWidth);
        Bytes jpeg, bgr;
        ASSERT_TRUE(codec.EncodeFrame(test::RedOverBlueFrame(c.srcWidth, c.srcHeight).data(),
                                      c.srcWidth, c.srcHeight, c.width, c.height, 90, jpeg));
        int w = 0, h = 0;
        ASSERT_TRUE(test::DecodeJpeg(jpeg, w, h, bgr));
        ASSERT_EQ(w, c.width);
        ASSERT_EQ(h, c.height);
        const uint8_t *top = &bgr[(static_cast<size_t>(h / 8) * w + w / 2) * 3];
        const uint8_t *bottom = &bgr[(static_cast<size_t>(h * 7 / 8) * w + w / 2) * 3];
        EXPECT_GT(top[2], 200);
        EXPECT_LT(top[0], 60);
        EXPECT_GT(bottom[0], 200);
        EXPECT_LT(bottom[2], 60);
    }
}

} // namespace
} // namespace vorlund::link
