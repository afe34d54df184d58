#include "ErrorLog.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace vorlund {
namespace {

struct TempLog
{
    TempLog()
    {
        char pattern[] = "/tmp/vorlund-log-XXXXXX";
        folder = ::mkdtemp(pattern);
    }
    ~TempLog() { std::filesystem::remove_all(folder); }
    std::string Read() const
    {
        std::ifstream in(folder / "vorlund.log", std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
    std::filesystem::path folder;
};

TEST(ErrorLog, EntriesHaveTheirStampAndNoLineEndAfterThem)
{
    TempLog dir;
    FakeClock clock;
    clock.now = { 2026, 3, 7, 9, 5, 2, 6 };
    ErrorLog log(dir.folder / "vorlund.log", clock);
    ASSERT_TRUE(log.AppendErrorLog("first"));
    ASSERT_TRUE(log.AppendErrorLog(std::string(300, 'x')));
    EXPECT_EQ(dir.Read(),
              "\r\n20260307-09:05:02 - first\r\n20260307-09:05:02 - " + std::string(255, 'x'));
    ErrorLog nowhere(dir.folder / "missing" / "vorlund.log", clock);
    EXPECT_FALSE(nowhere.AppendErrorLog("lost"));
}

TEST(ErrorLog, TwoThreadsWritingTogetherDamageNoEntry)
{
    TempLog dir;
    FakeClock clock;
    clock.now = { 2026, 12, 31, 23, 59, 59, 4 };
    const ErrorLog log(dir.folder / "vorlund.log", clock);
    constexpr int kEach = 1000;
    // Long entries, so that a torn write would show.
    auto message = [](char who, int i) {
        return std::string(1, who) + std::to_string(i) + std::string(200, who);
    };
    auto writer = [&](char who) {
        for (int i = 0; i < kEach; ++i)
            log.AppendErrorLog(message(who, i));
    };
    std::thread a(writer, 'a');
    std::thread b(writer, 'b');
    a.join();
    b.join();

    const std::string text = dir.Read();
    const std::string head = "\r\n20261231-23:59:59 - ";
    int next[2] = { 0, 0 };
    size_t at = 0;
    int entries = 0;
    while (at < text.size()) {
        ASSERT_EQ(text.compare(at, head.size(), head), 0) << "entry " << entries;
        at += head.size();
        const size_t end = std::min(text.find('\r', at), text.size());
        const std::string body = text.substr(at, end - at);
        ASSERT_FALSE(body.empty());
        const int who = body[0] == 'a' ? 0 : 1;
        // Each thread's entries arrive whole and in its own order.
        ASSERT_EQ(body, message(body[0], next[who])) << "entry " << entries;
        ++next[who];
        ++entries;
        at = end;
    }
    EXPECT_EQ(entries, 2 * kEach);
    EXPECT_EQ(next[0], kEach);
    EXPECT_EQ(next[1], kEach);
}

TEST(ErrorLog, TheCutNeverSplitsACharacter)
{
    const std::string pad253(253, 'p');
    const std::string pad254(254, 'p');
    struct Case
    {
        const char *name;
        std::string text;
        size_t kept;
    };
    const Case cases[] = {
        { "short text stays", "ok", 2 },
        { "ascii is cut at 255", std::string(300, 'x'), 255 },
        { "exactly 255", std::string(255, 'x'), 255 },
        { "two-byte char across the cut", pad254 + "\xC3\xA9" + "tail", 254 },
        { "two-byte char ending at the cut", pad253 + "\xC3\xA9" + "tail", 255 },
        { "three-byte char across the cut", pad253 + "\xE2\x82\xAC" + "tail", 253 },
        { "four-byte char across the cut", pad253 + "\xF0\x9F\x98\x80", 253 },
        { "four-byte char one byte in", pad254 + "\xF0\x9F\x98\x80", 254 },
        { "invalid bytes are cut plainly", std::string(300, '\xFF'), 255 },
        { "stray continuation bytes are cut plainly", std::string(300, '\x80'), 255 },
    };
    for (const Case &c : cases)
        EXPECT_EQ(CutAtCharacter(c.text, ErrorLog::kMaxMessageBytes).size(), c.kept) << c.name;
}

} // namespace
} // namespace vorlund
