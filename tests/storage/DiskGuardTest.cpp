#include "DiskGuard.h"
#include "ServerFixture.h"
#include "StorageTestUtil.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <sched.h>
#include <sys/mount.h>
#include <sys/statvfs.h>

using namespace vorlund;

namespace {

constexpr std::string_view kFullText
    = "WARNING: Disk space is too low!\nPlease free some disk space.\nStopping Vorlund!";

struct Reading
{
    uint64_t freeBytes;
    uint64_t totalBytes;
    bool ok = true;
};

class DiskGuardTest : public ::testing::Test
{
protected:
    DiskGuardTest()
    {
        f.topics.recordFile = f.view.VideoFolder / "v12-09-2026-0003.avi";
        f.settings.Config.LowDiskMail = 1;
    }
    DiskGuard MakeGuard()
    {
        return DiskGuard(f.context, f.topics, f.topics, f.topics,
                         [this](const std::filesystem::path &folder) -> std::optional<DiskFigures> {
                             asked.push_back(folder);
                             if (!reading.ok)
                                 return std::nullopt;
                             return DiskFigures { reading.freeBytes, reading.totalBytes };
                         });
    }
    test::ServerFixture f;
    Reading reading { 50, 100 };
    std::vector<std::filesystem::path> asked;
};

} // namespace

TEST_F(DiskGuardTest, ThresholdsOncePerRun)
{
    const struct
    {
        const char *what;
        std::vector<Reading> readings; // one slow pass and one status tick each
        bool lowDiskMail;
        std::vector<int> mails;
        int stops;
        int lastPercent;
    } cases[] = {
        { "plenty of space", { { 50, 100 }, { 7, 100 } }, true, {}, 0, 7 },
        { "5 %: one mail", { { 5, 100 }, { 5, 100 }, { 3, 100 } }, true, { 5 }, 0, 3 },
        { "5 % without the mail setting", { { 5, 100 }, { 4, 100 } }, false, {}, 0, 4 },
        { "1 % at the first reading: stop, no mail", { { 1, 100 }, { 1, 100 } }, true, {}, 1, 1 },
        { "7 %, 5 %, 1 %", { { 7, 100 }, { 5, 100 }, { 1, 100 }, { 0, 100 } }, true, { 5 }, 1, 0 },
        { "percent truncates: 5.99 % mails", { { 599, 10000 } }, true, { 5 }, 0, 5 },
        { "1.99 % stops", { { 199, 10000 } }, true, {}, 1, 1 },
        { "a failed query changes nothing",
          { { 5, 100 }, { 0, 0, false }, { 0, 0, false } },
          true,
          { 5 },
          0,
          5 },
        { "a total of 0 is not a measurement", { { 0, 0 }, { 0, 0 } }, true, {}, 0, -1 },
        { "huge disks do not overflow",
          { { 0xFFFFFFFFFFFFFFull, 0xFFFFFFFFFFFFFFFull } },
          true,
          {},
          0,
          6 },
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        f.topics.lowDiskMails.clear();
        f.topics.stops = 0;
        f.notifier.entries.clear();
        f.view.DiskWarnedLevel = 0;
        f.settings.Config.LowDiskMail = c.lowDiskMail;
        DiskGuard guard = MakeGuard();
        for (const Reading &r : c.readings) {
            reading = r;
            guard.UpdateDiskSpace();
            guard.GuardDiskSpace();
        }
        EXPECT_EQ(guard.FreePercent(), c.lastPercent);
        EXPECT_EQ(f.topics.lowDiskMails, c.mails);
        EXPECT_EQ(f.topics.stops, c.stops);
        ASSERT_EQ(f.notifier.entries.size(), size_t(c.stops));
        if (c.stops) {
            EXPECT_EQ(f.notifier.entries[0].text, kFullText);
            EXPECT_EQ(f.notifier.entries[0].caption, "Vorlund");
        }
    }
}

TEST_F(DiskGuardTest, ARestartWarnsAgainAndNoFileMeansNoReading)
{
    DiskGuard guard = MakeGuard();
    f.topics.recordFile.clear();
    guard.UpdateDiskSpace();
    guard.GuardDiskSpace();
    EXPECT_TRUE(asked.empty());
    EXPECT_EQ(guard.FreePercent(), -1);

    f.topics.recordFile = f.view.VideoFolder / "v12-09-2026-0003.avi";
    ASSERT_TRUE(test::MakeSparseFile(f.topics.recordFile, 5000000000, 1700000000));
    reading = { 5, 100 };
    guard.UpdateDiskSpace();
    guard.GuardDiskSpace();
    guard.GuardDiskSpace();
    EXPECT_EQ(asked, std::vector<std::filesystem::path> { f.view.VideoFolder });
    EXPECT_EQ(guard.RecordFileBytes(), 5000000000u);
    EXPECT_EQ(f.topics.lowDiskMails.size(), 1u);

    f.view.DiskWarnedLevel = 0; // StartCapture
    guard.GuardDiskSpace();
    EXPECT_EQ(f.topics.lowDiskMails.size(), 2u);
    reading = { 1, 100 };
    guard.UpdateDiskSpace();
    guard.GuardDiskSpace();
    EXPECT_EQ(f.topics.stops, 1);
    f.view.DiskWarnedLevel = 0;
    guard.GuardDiskSpace();
    EXPECT_EQ(f.topics.stops, 2);

    std::filesystem::remove(f.topics.recordFile);
    guard.UpdateDiskSpace();
    EXPECT_EQ(guard.RecordFileBytes(), 0u);
}

TEST(DiskFigures, StatvfsOfARealFolder)
{
    test::TempFolder folder;
    const std::optional<DiskFigures> figures = QueryDiskFigures(folder.path);
    ASSERT_TRUE(figures);
    struct statvfs fs
    {
    };
    ASSERT_EQ(::statvfs(folder.path.c_str(), &fs), 0);
    EXPECT_EQ(figures->totalBytes, uint64_t(fs.f_blocks) * fs.f_frsize);
    EXPECT_GT(figures->totalBytes, 0u);
    EXPECT_LE(figures->freeBytes, figures->totalBytes);
    EXPECT_FALSE(QueryDiskFigures(folder.path / "missing"));
}

namespace {

bool AppendBytes(const std::filesystem::path &file, uint64_t bytes)
{
    const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0)
        return false;
    std::vector<char> block(65536, 'x');
    bool ok = true;
    while (bytes > 0 && ok) {
        const size_t n = bytes < block.size() ? size_t(bytes) : block.size();
        const ssize_t w = ::write(fd, block.data(), n);
        ok = w == ssize_t(n);
        bytes -= n;
    }
    return ::close(fd) == 0 && ok;
}

} // namespace

// A real, nearly full file system: a 64 MB tmpfs in a private mount namespace.
TEST_F(DiskGuardTest, SmallTmpfsCrossesTheThresholds)
{
    if (::unshare(CLONE_NEWNS) != 0)
        GTEST_SKIP() << "no private mount namespace here: " << std::strerror(errno);
    if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
        GTEST_SKIP() << "mounts cannot be made private: " << std::strerror(errno);
    const std::filesystem::path disk = f.folder.path / "disk";
    std::filesystem::create_directory(disk);
    if (::mount("tmpfs", disk.c_str(), "tmpfs", 0, "size=64m") != 0)
        GTEST_SKIP() << "tmpfs cannot be mounted: " << std::strerror(errno);
    struct Unmount
    {
        std::filesystem::path at;
        ~Unmount() { ::umount2(at.c_str(), MNT_DETACH); }
    } unmount { disk };

    const std::optional<DiskFigures> empty = QueryDiskFigures(disk);
    ASSERT_TRUE(empty);
    const uint64_t total = empty->totalBytes;
    // Filled to 4 % free; the recording then takes 3 % more.
    ASSERT_TRUE(AppendBytes(disk / "filler", empty->freeBytes - total * 4 / 100));
    f.topics.recordFile = disk / "v12-09-2026-0003.avi";
    ASSERT_TRUE(AppendBytes(f.topics.recordFile, 4096));

    DiskGuard guard(f.context, f.topics, f.topics, f.topics);
    guard.UpdateDiskSpace();
    guard.GuardDiskSpace();
    EXPECT_GE(guard.FreePercent(), 2);
    EXPECT_LT(guard.FreePercent(), 6);
    EXPECT_EQ(f.topics.lowDiskMails.size(), 1u);
    EXPECT_EQ(f.topics.stops, 0);

    ASSERT_TRUE(AppendBytes(f.topics.recordFile, total * 3 / 100));
    guard.UpdateDiskSpace();
    guard.GuardDiskSpace();
    EXPECT_LT(guard.FreePercent(), 2);
    EXPECT_EQ(guard.RecordFileBytes(), 4096 + total * 3 / 100);
    EXPECT_EQ(f.topics.stops, 1);
    ASSERT_EQ(f.notifier.entries.size(), 1u);
    EXPECT_EQ(f.notifier.entries[0].text, kFullText);
}
