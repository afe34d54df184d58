#include "Requests.h"
#include "ProtocolTestUtil.h"

#include <gtest/gtest.h>

using namespace vorlund::viewer;
using test::Bytes;

namespace {

struct RequestCase
{
    const char *what;
    std::optional<std::string> built;
    std::optional<std::string> expected;
};

TEST(Requests, AreExactBytes)
{
    const std::string fifteen = "abcdefghijklmno";
    const RequestCase cases[] = {
        { "login, Manual", LoginRequest(45, 32, ""), "586?" + Bytes({ 45, 32 }) + "\r\n" },
        { "login, Automatic", LoginRequest(90, 64, "me@example.org"),
          "586?" + Bytes({ 90, 64 }) + "me@example.org\r\n" },
        { "login id with CR", LoginRequest(45, 32, "a\rb"), std::nullopt },
        { "login id too long for the buffer", LoginRequest(45, 32, std::string(505, 'x')),
          std::nullopt },
        { "login id filling the buffer", LoginRequest(45, 32, std::string(504, 'x')),
          "586?" + Bytes({ 45, 32 }) + std::string(504, 'x') + "\r\n" },
        { "empty password", PasswordRequest(""), std::string(">p\r\n") },
        { "password", PasswordRequest(fifteen), ">p" + Bytes({ 15 }) + fifteen + "\r\n" },
        { "live", LiveFrameRequest(3, 45), ">c" + Bytes({ 3, 45 }) + "\r\n" },
        { "live with a size code", LiveFrameRequest(1, 64), ">c" + Bytes({ 1, 64 }) + "\r\n" },
        { "stored camera 0 goes as 1", StoredFrameRequest(0, kStepNewest),
          ">s" + Bytes({ 1 }) + "=\r\n" },
        { "stored ten back", StoredFrameRequest(4, kStepBackTen), ">s" + Bytes({ 4 }) + "(\r\n" },
        { "stored one forward", StoredFrameRequest(2, kStepForward),
          ">s" + Bytes({ 2 }) + "+\r\n" },
        { "PTZ stop keeps its zero", PtzRequest(0), ">k" + Bytes({ 0 }) + "\r\n" },
        { "click on camera 2", PtzRequest(0xFE), ">k" + Bytes({ 0xFE }) + "\r\n" },
        { "keep-alive", KeepAliveRequest(), std::string(">PN\r\n") },
        { "lookup", LookupRequest("me+cams@example.org", "lookup.test"),
          std::string(
              "GET /client.asp?id=me+cams@example.org HTTP/1.1\r\nHost: lookup.test\r\n\r\n") },
        { "lookup escapes blanks, %, controls and high bytes",
          LookupRequest("a b%c\r\n\x7F\xC3\xA9~!", "h"),
          std::string(
              "GET /client.asp?id=a%20b%25c%0D%0A%7F%C3%A9~! HTTP/1.1\r\nHost: h\r\n\r\n") },
        { "lookup host with a line end", LookupRequest("id", "h\r\nX: y"), std::nullopt },
    };
    for (const auto &c : cases)
        EXPECT_EQ(c.built, c.expected) << c.what;
}

} // namespace
