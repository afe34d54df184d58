#include "ReplyParser.h"
#include "ProtocolTestUtil.h"

#include <gtest/gtest.h>

#include <climits>

using namespace vorlund::viewer;
using namespace vorlund::viewer::test;
using Kind = ReplyResult::Kind;

namespace {

struct Event
{
    Kind kind;
    int camera = 0;
    int32_t length = 0;
    int code = 0;
    std::string body {};
    HostInfo host {}; // hello replies; PTZ flags as far as they had come

    bool operator==(const Event &) const = default;
};

std::span<const uint8_t> AsBytes(const std::string &s)
{
    return { reinterpret_cast<const uint8_t *>(s.data()), s.size() };
}

// Feeds every chunk as one read, as the socket does once each reply's next request has gone.
std::vector<Event> FeedReads(ReplyParser &parser, const std::vector<std::string> &reads)
{
    std::vector<Event> events;
    for (const auto &read : reads) {
        const ReplyResult r = parser.Feed(AsBytes(read));
        EXPECT_EQ(r.keepReading, r.kind == Kind::None) << "reading stops exactly on a reply";
        if (r.kind == Kind::None)
            continue;
        Event e { r.kind, r.camera, r.length, r.errorCode };
        if (r.kind == Kind::Frame) {
            const auto f = parser.Frame();
            e.body.assign(reinterpret_cast<const char *>(f.data()), f.size());
        }
        if (r.kind == Kind::HostReady || r.kind == Kind::NeedPassword)
            e.host = parser.Host();
        events.push_back(e);
    }
    return events;
}

HostInfo Host(char standard, bool scheme, int w, int h, int count, std::array<uint8_t, 4> ptz)
{
    HostInfo host;
    host.videoStandard = standard;
    host.rotationScheme = scheme;
    host.width = w;
    host.height = h;
    host.cameraCount = int16_t(count);
    host.ptzFlags = ptz;
    return host;
}

struct Scenario
{
    const char *name;
    std::vector<std::string> replies; // one per request; each is split below
    std::vector<Event> expected;
    std::array<uint8_t, 4> finalPtz;
};

// Every reply split into two reads at every point, and into single bytes; the others whole.
std::vector<std::vector<std::string>> Splits(const std::vector<std::string> &replies)
{
    std::vector<std::vector<std::string>> all { replies };
    for (size_t t = 0; t < replies.size(); ++t) {
        const auto &reply = replies[t];
        auto around = [&](std::vector<std::string> middle) {
            std::vector<std::string> reads(replies.begin(), replies.begin() + long(t));
            reads.insert(reads.end(), middle.begin(), middle.end());
            reads.insert(reads.end(), replies.begin() + long(t) + 1, replies.end());
            return reads;
        };
        for (size_t cut = 1; cut < reply.size(); ++cut)
            all.push_back(around({ reply.substr(0, cut), reply.substr(cut) }));
        std::vector<std::string> single;
        for (char c : reply)
            single.emplace_back(1, c);
        all.push_back(around(single));
    }
    return all;
}

TEST(ReplyParser, ConversationsSplitAtEveryPoint)
{
    const std::string body300 = Body(300, 7);
    const std::string body1 = Body(1, 3);
    const std::string ptz = Bytes({ 1, 0, 1, 0 });
    const HostInfo live = Host('A', true, 320, 240, 4, { 0, 0, 0, 0 });
    const HostInfo withPassword = Host('P', false, 640, 480, 1, { 0, 0, 0, 0 });

    const Scenario scenarios[] = {
        { "hello with its PTZ flags, two frames, an error",
          { Hello('A', '0', '1', 320, 240, 4, ptz), FrameReply(2, body300), FrameReply(4, body1),
            ">ERR" + Bytes({ 0, 0, 0, 2 }) },
          { { Kind::HostReady, 0, 0, 0, "", live },
            { Kind::Frame, 2, 300, 0, body300 },
            { Kind::Frame, 4, 1, 0, body1 },
            { Kind::HostError, 0, 0, 2 } },
          { 1, 0, 1, 0 } },
        { "password, accept, frame",
          { Hello('P', '2', '0', 640, 480, 1, Bytes({ 0, 0, 0, 0 })), ">AOK1234",
            FrameReply(1, body300) },
          { { Kind::NeedPassword, 0, 0, 0, "", withPassword },
            { Kind::HostReady, 0, 0, 0, "", withPassword },
            { Kind::Frame, 1, 300, 0, body300 } },
          { 0, 0, 0, 0 } },
        { "error before any hello",
          { ">ERR" + Bytes({ 9, 9, 9, 1 }) },
          { { Kind::HostError, 0, 0, 1 } },
          { 0, 0, 0, 0 } },
        { "PTZ flags in the read of the next reply",
          { Hello('A', '0', '1', 320, 240, 4, ""), ptz + FrameReply(3, body300) },
          { { Kind::HostReady, 0, 0, 0, "", live }, { Kind::Frame, 3, 300, 0, body300 } },
          { 1, 0, 1, 0 } },
        { "no PTZ flags at all",
          { Hello('A', '0', '1', 320, 240, 4, ""), FrameReply(3, body300), ">AOK0000" },
          { { Kind::HostReady, 0, 0, 0, "", live },
            { Kind::Frame, 3, 300, 0, body300 },
            { Kind::HostReady, 0, 0, 0, "", live } },
          { 0, 0, 0, 0 } },
        { "bytes that are no reply are skipped",
          { Hello('A', '0', '1', 320, 240, 4, ptz), "garbage!", FrameReply(1, body1) },
          { { Kind::HostReady, 0, 0, 0, "", live }, { Kind::Frame, 1, 1, 0, body1 } },
          { 1, 0, 1, 0 } },
    };

    for (const auto &s : scenarios) {
        for (const auto &reads : Splits(s.replies)) {
            ReplyParser parser;
            auto events = FeedReads(parser, reads);
            ASSERT_EQ(events.size(), s.expected.size()) << s.name;
            for (size_t i = 0; i < events.size(); ++i) {
                // A hello's flags are in its message only when they came in the same read;
                // the parser's hello has them once they come.
                auto got = events[i];
                for (size_t k = 0; k < 4; ++k)
                    EXPECT_TRUE(got.host.ptzFlags[k] == 0 || got.host.ptzFlags[k] == s.finalPtz[k])
                        << s.name;
                got.host.ptzFlags = s.expected[i].host.ptzFlags;
                EXPECT_EQ(got, s.expected[i]) << s.name << ", reply " << i;
            }
            EXPECT_EQ(parser.Host().ptzFlags, s.finalPtz) << s.name;
        }
    }
}

TEST(ReplyParser, SurplusAfterAReplyIsDroppedWithItsRead)
{
    ReplyParser parser;
    const std::string body = Body(100, 1);
    const auto events
        = FeedReads(parser,
                    { Hello('A', '0', '0', 160, 120, 2, Bytes({ 0, 0, 0, 0 })) + ":HE\x01surplus",
                      FrameReply(2, body).substr(0, 50),
                      FrameReply(2, body).substr(50) + ">ERR1234", ">AOK1234extra" });
    ASSERT_EQ(events.size(), 3U);
    EXPECT_EQ(events[0].kind, Kind::HostReady);
    EXPECT_EQ(events[1], (Event { Kind::Frame, 2, 100, 0, body }));
    EXPECT_EQ(events[2].kind, Kind::HostReady);
    EXPECT_EQ(parser.HeaderSize(), 8);
}

TEST(ReplyParser, FrameLengthsOutsideTheBufferDropTheLink)
{
    const struct
    {
        int32_t length;
        bool accepted;
    } cases[] = {
        { 0, false },         { -1, false }, { kMaxFrameLength + 1, false }, { INT32_MAX, false },
        { INT32_MIN, false }, { 1, true },   { kMaxFrameLength, true }
    };
    for (const auto &c : cases) {
        ReplyParser parser;
        FeedReads(parser, { Hello('A', '0', '0', 160, 120, 1, Bytes({ 0, 0, 0, 0 })) });
        ReplyResult r = parser.Feed(AsBytes(FrameHeader(1, c.length)));
        if (!c.accepted) {
            EXPECT_EQ(r.kind, Kind::BadFrameLength) << c.length;
            EXPECT_EQ(r.length, c.length);
            EXPECT_FALSE(r.keepReading);
            continue;
        }
        const std::string body = Body(size_t(c.length), 5);
        for (size_t at = 0; at < body.size(); at += 8192) {
            EXPECT_EQ(r.kind, Kind::None) << c.length;
            r = parser.Feed(AsBytes(body.substr(at, 8192)));
        }
        ASSERT_EQ(r.kind, Kind::Frame) << c.length;
        EXPECT_EQ(r.length, c.length);
        const auto frame = parser.Frame();
        EXPECT_EQ(std::string(frame.begin(), frame.end()), body);
    }
}

} // namespace
