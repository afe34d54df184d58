#include "LookupReply.h"

#include <gtest/gtest.h>

using namespace vorlund::viewer;

namespace {

std::string Read(const std::vector<std::string> &reads, std::string address = "previous")
{
    HttpLineState state;
    for (const auto &r : reads)
        ReadLookupReply(state, { reinterpret_cast<const uint8_t *>(r.data()), r.size() }, address);
    return address;
}

TEST(LookupReply, AddressFromTheLinesOfTheReply)
{
    const struct
    {
        const char *what;
        std::vector<std::string> reads;
        std::string address;
    } cases[] = {
        { "address ended by a colon",
          { "HTTP/1.1 200 OK\r\n\r\nServer at tor:10.1.2.3:443\r\n" },
          "10.1.2.3" },
        { "address ended by a question mark", { "tor:host.example?x=1\r\n" }, "host.example" },
        { "address to the end of the line", { "tor:192.168.1.20\r\n" }, "192.168.1.20" },
        { "at most 19 characters", { "tor:123456789012345678901234\r\n" }, "1234567890123456789" },
        { "empty address", { "tor::\r\n" }, "" },
        { "no line with the marker", { "HTTP/1.1 404 Not Found\r\n\r\nnothing\r\n" }, "previous" },
        { "an unfinished line is not searched", { "tor:10.0.0.1" }, "previous" },
        { "later matches replace earlier ones",
          { "tor:1.1.1.1:\r\nx\r\ntor:2.2.2.2:\r\n" },
          "2.2.2.2" },
        { "a line split across reads", { "xx to", "r:10.9", ".8.7:1\r", "\n" }, "10.9.8.7" },
        { "CR without LF stays in the line", { "a\rtor:5.5.5.5:\r\n" }, "5.5.5.5" },
        { "lone LF does not end a line", { "tor:1.2.3.4\ntor:9.9.9.9:\r\n" }, "1.2.3.4\ntor" },
        { "CR ending a read, no LF after it", { "tor:7.7.7.7\r", "x:\r\n" }, "7.7.7.7\rx" },
        { "byte by byte", { "t", "o", "r", ":", "4", ".", "4", ":", "\r", "\n" }, "4.4" },
    };
    for (const auto &c : cases)
        EXPECT_EQ(Read(c.reads), c.address) << c.what;
}

TEST(LookupReply, EndlessLineStaysBounded)
{
    HttpLineState state;
    std::string address = "kept";
    const std::string chunk(8192, 'a');
    for (int i = 0; i < 100; ++i)
        ReadLookupReply(state, { reinterpret_cast<const uint8_t *>(chunk.data()), chunk.size() },
                        address);
    EXPECT_EQ(state.line.size(), kMaxLookupLine);
    EXPECT_EQ(address, "kept");
}

} // namespace
