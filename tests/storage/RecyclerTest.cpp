#include "Recycler.h"
#include "ServerFixture.h"
#include "StorageTestUtil.h"

#include <gtest/gtest.h>

#include <fstream>
#include <set>

using namespace vorlund;
using vorlund::test::MakeSparseFile;
using vorlund::test::WaitUntil;

namespace {

constexpr int64_t MB = 1000000;

std::set<std::string> Names(const std::filesystem::path &folder)
{
    std::set<std::string> names;
    for (const auto &entry : std::filesystem::directory_iterator(folder))
        names.insert(entry.path().filename().string());
    return names;
}

struct Entry
{
    std::string name;
    int64_t bytes; // -1 = a folder
};

// Entries are made oldest first, one minute apart.
void MakeEntries(const std::filesystem::path &folder, const std::vector<Entry> &entries)
{
    int64_t mtime = 1700000000;
    for (const Entry &e : entries) {
        if (e.bytes < 0)
            ASSERT_TRUE(std::filesystem::create_directory(folder / e.name));
        else
            ASSERT_TRUE(MakeSparseFile(folder / e.name, e.bytes, mtime));
        mtime += 60;
    }
}

int RunPass(const RecycleRequest &request, std::string &message)
{
    auto shared = std::make_shared<WorkerShared>();
    const int result = RecycleFiles(request, WorkerControl(shared));
    message = shared->message;
    return result;
}

} // namespace

TEST(RecordingName, MatchesOnlyTheServersNames)
{
    const struct
    {
        const char *name;
        bool match;
    } cases[] = {
        { "v12-08-2026-1405.avi", true },   { "v12-08-2026-1405.MP4", true },
        { "v12-08-2026-1405-2.wmv", true }, { "v12-08-2026-1405-17.Avi", true },
        { "v12-08-2026-1405-.avi", false }, { "v12-08-2026-1405.avi.part", false },
        { "v12-08-2026-1405.mkv", false },  { "V12-08-2026-1405.avi", false },
        { "vacation.txt", false },          { "video.avi", false },
        { "v12-8-2026-1405.avi", false },   { "v12-08-2026-140.avi", false },
        { "v12-08-2026-1405", false },      { "", false },
        { "v12-08-2026-14a5.avi", false },
    };
    for (const auto &c : cases)
        EXPECT_EQ(IsRecordingName(c.name), c.match) << c.name;
}

TEST(RecycleFiles, DeletesOldestOverTheLimit)
{
    const std::string a = "v12-01-2026-0000.avi", b = "v12-02-2026-0000.avi",
                      c = "v12-03-2026-0000.avi", big = "v11-30-2026-0000-1.MP4";
    const struct
    {
        const char *what;
        std::vector<Entry> entries;
        int64_t limit;
        std::string current; // name of the file being recorded
        bool trailingSlash;
        int result;
        std::string message;
        std::set<std::string> left;
    } cases[] = {
        { "1500 MB over 1000: the oldest goes",
          { { a, 600 * MB }, { b, 500 * MB }, { c, 400 * MB } },
          1000,
          "",
          false,
          0,
          "Video File Recycle: 3 files. total size = 1500000000. 1 to delete.",
          { b, c } },
        { "same with a trailing slash",
          { { a, 600 * MB }, { b, 500 * MB }, { c, 400 * MB } },
          1000,
          "",
          true,
          0,
          "Video File Recycle: 3 files. total size = 1500000000. 1 to delete.",
          { b, c } },
        { "the newest stays even over the limit",
          { { a, 3 * MB }, { b, 3 * MB }, { c, 3 * MB } },
          1,
          "",
          false,
          0,
          "Video File Recycle: 3 files. total size = 9000000. 2 to delete.",
          { c } },
        { "a 5 GB file counts in full",
          { { big, 5000 * MB }, { a, 1 * MB } },
          1000,
          "",
          false,
          0,
          "Video File Recycle: 2 files. total size = 5001000000. 1 to delete.",
          { a } },
        { "under the limit nothing goes",
          { { a, 1 * MB }, { b, 1 * MB } },
          1000,
          "",
          false,
          0,
          "Video File Recycle: 2 files. total size = 2000000. 0 to delete.",
          { a, b } },
        { "folders, other files and the current recording are left",
          { { a, 800 * MB },
            { "v01-01-2026-0000.avi", -1 },
            { "vacation.txt", 900 * MB },
            { "video.avi", 900 * MB },
            { b, 700 * MB },
            { c, 10 * MB } },
          100,
          a,
          false,
          0,
          "Video File Recycle: 3 files. total size = 1510000000. 1 to delete.",
          { a, "v01-01-2026-0000.avi", "vacation.txt", "video.avi", c } },
        { "one file is too few",
          { { a, 600 * MB } },
          1,
          "",
          false,
          -1,
          "too few video files to recycle.\n",
          { a } },
        { "no recordings at all",
          { { "vacation.txt", 1 } },
          1,
          "",
          false,
          -1,
          "too few video files to recycle.\n",
          { "vacation.txt" } },
        { "limit below 1 MB",
          { { a, 1 }, { b, 1 } },
          0,
          "",
          false,
          -1,
          "RecycleFiles: video sizeLimit too small or negative.\n",
          { a, b } },
    };
    for (const auto &k : cases) {
        SCOPED_TRACE(k.what);
        test::TempFolder folder;
        MakeEntries(folder.path, k.entries);
        RecycleRequest request;
        request.folder = folder.path.string() + (k.trailingSlash ? "/" : "");
        request.limitMBytes = k.limit;
        if (!k.current.empty())
            request.currentRecording = folder.path / k.current;
        std::string message;
        EXPECT_EQ(RunPass(request, message), k.result);
        EXPECT_EQ(message, k.message);
        EXPECT_EQ(Names(folder.path), k.left);
    }
}

TEST(RecycleFiles, FolderErrors)
{
    std::string message;
    RecycleRequest request;
    EXPECT_EQ(RunPass(request, message), -1);
    EXPECT_EQ(message, "no video path specified.\n");

    test::TempFolder folder;
    request.folder = (folder.path / "missing").string();
    EXPECT_EQ(RunPass(request, message), -1);
    EXPECT_EQ(message.rfind("RecycleFiles: invalid file handle: error 2 (", 0), 0u) << message;
}

TEST(RecycleFiles, StopBetweenFilesAborts)
{
    // A stop asked while deleting: the first file is gone, the rest stay.
    test::TempFolder folder;
    const std::vector<Entry> entries = { { "v12-01-2026-0000.avi", 5 * MB },
                                         { "v12-02-2026-0000.avi", 5 * MB },
                                         { "v12-03-2026-0000.avi", 5 * MB },
                                         { "v12-04-2026-0000.avi", 5 * MB } };
    MakeEntries(folder.path, entries);
    auto shared = std::make_shared<WorkerShared>();
    int calls = 0;
    RecycleRequest request;
    request.folder = folder.path.string();
    request.limitMBytes = 1;
    // Three listing steps, the sort, one delete; then the stop comes.
    request.betweenFiles = [&](const WorkerControl &) {
        if (++calls == 6)
            shared->stopRequested = true;
    };
    EXPECT_EQ(RecycleFiles(request, WorkerControl(shared)), -1);
    EXPECT_EQ(shared->message, "abort signaled\n");
    EXPECT_EQ(Names(folder.path).size(), 3u);
}

class RecyclerThread : public ::testing::Test
{
protected:
    void SetUp() override
    {
        f.clock.now = { 2026, 12, 9, 0, 3, 0, 3 };
        MakeEntries(f.view.VideoFolder,
                    { { "v12-01-2026-0000.avi", 600 * MB },
                      { "v12-02-2026-0000.avi", 500 * MB },
                      { "v12-03-2026-0000.avi", 400 * MB } });
    }
    std::string Log() const
    {
        std::ifstream in(f.log.Path());
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    test::ServerFixture f;
};

TEST_F(RecyclerThread, OnePassPerNightReportsToTheView)
{
    CVideoRecycler recycler(f.context);
    recycler.Start(f.view.VideoFolder, 1000, {});
    ASSERT_TRUE(WaitUntil([&] { return f.sink.Count(WM_RECYCLE_DONE) == 1; }));
    EXPECT_EQ(f.sink.posted.back().second, 0u);
    EXPECT_EQ(Names(f.view.VideoFolder).size(), 2u);

    recycler.OnRecycleDone(0);
    ASSERT_EQ(f.shell.balloons.size(), 1u);
    EXPECT_EQ(f.shell.balloons[0].title, "Video File Recycle");
    EXPECT_EQ(f.shell.balloons[0].text, " Successful.\n");
    EXPECT_EQ(f.shell.balloons[0].icon, 32516);
    EXPECT_EQ(f.shell.balloons[0].milliseconds, 5000);
    EXPECT_NE(Log().find("Video File Recycle: 3 files. total size = 1500000000. 1 to delete."),
              std::string::npos);

    // The slow pass keeps calling during its minutes: nothing more tonight.
    recycler.Start(f.view.VideoFolder, 1, {});
    EXPECT_FALSE(recycler.IsRunning());
    f.clock.now.day = 10;
    recycler.Start(f.view.VideoFolder, 1, {});
    ASSERT_TRUE(WaitUntil([&] { return f.sink.Count(WM_RECYCLE_DONE) == 2; }));
    EXPECT_EQ(Names(f.view.VideoFolder).size(), 1u);
}

TEST_F(RecyclerThread, StopIsHonouredBetweenFilesAndAStartDoesNotRestart)
{
    CVideoRecycler recycler(f.context);
    std::atomic<int> reached { 0 };
    recycler.SetBetweenFilesHook([&](const WorkerControl &control) {
        ++reached;
        control.WaitForStop(std::chrono::seconds(60));
    });
    recycler.Start(f.view.VideoFolder, 1000, {});
    ASSERT_TRUE(WaitUntil([&] { return reached > 0; }));
    recycler.Start(f.view.VideoFolder, 1000, {}); // running: ignored
    EXPECT_TRUE(recycler.IsRunning());
    recycler.Stop();
    EXPECT_EQ(recycler.Message(), "abort signaled\n");
    EXPECT_EQ(reached, 1);
    EXPECT_EQ(Names(f.view.VideoFolder).size(), 3u);
    ASSERT_EQ(f.sink.Count(WM_RECYCLE_DONE), 1);
    EXPECT_NE(f.sink.posted.back().second, 0u);

    recycler.OnRecycleDone(f.sink.posted.back().second);
    ASSERT_EQ(f.shell.balloons.size(), 1u);
    EXPECT_EQ(f.shell.balloons[0].text, " Errors, see Error Log for details.\n");
    EXPECT_NE(Log().find(" - abort signaled\n"), std::string::npos);
}

TEST_F(RecyclerThread, AWorkerThatDoesNotStopIsLeftToFinishAlone)
{
    auto release = std::make_shared<std::atomic<bool>>(false);
    auto token = std::make_shared<int>(0);
    std::weak_ptr<int> alive = token;
    {
        CVideoRecycler recycler(f.context, std::chrono::milliseconds(20));
        std::atomic<bool> reached { false };
        recycler.SetBetweenFilesHook(
            [release, token = std::move(token), &reached](const WorkerControl &) {
                reached = true;
                while (!*release)
                    std::this_thread::yield();
            });
        recycler.Start(f.view.VideoFolder, 1000, {});
        ASSERT_TRUE(WaitUntil([&] { return reached.load(); }));
        recycler.Stop();
        EXPECT_EQ(recycler.Message(), "The redir thread is dead\r\n");
        EXPECT_FALSE(recycler.IsRunning());
        EXPECT_NE(Log().find(" - The redir thread is dead\r\n"), std::string::npos);
    }
    // The owner is gone; the worker finishes on its own state and posts nothing.
    *release = true;
    ASSERT_TRUE(WaitUntil([&] { return alive.expired(); }));
    EXPECT_EQ(f.sink.Count(WM_RECYCLE_DONE), 0);
}
