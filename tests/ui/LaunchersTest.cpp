#include "Launchers.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sys/stat.h>
#include <unistd.h>

namespace vorlund {
namespace {

class RecordingDesktop : public IDesktop
{
public:
    bool OpenDocument(const std::filesystem::path &file, std::function<void()> failed) override
    {
        opened.push_back(file);
        if (opens)
            failures.push_back(std::move(failed));
        return opens;
    }
    bool StartDetached(const std::filesystem::path &program,
                       const std::filesystem::path &workingFolder) override
    {
        started.push_back({ program, workingFolder });
        return true;
    }
    bool opens = true; // false: no program for any document
    std::vector<std::filesystem::path> opened;
    std::vector<std::function<void()>> failures; // one per opener started
    std::vector<std::pair<std::filesystem::path, std::filesystem::path>> started;
};

class LaunchersTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/vorlund-launch-XXXXXX";
        root = ::mkdtemp(pattern);
        work = root / "run";
        bin = root / "build" / "Vorlund";
        std::filesystem::create_directories(work);
        std::filesystem::create_directories(bin);
    }
    void TearDown() override { std::filesystem::remove_all(root); }

    static void MakeFile(const std::filesystem::path &p, bool executable)
    {
        std::filesystem::create_directories(p.parent_path());
        std::ofstream(p) << "#!/bin/sh\n";
        ::chmod(p.c_str(), executable ? 0755 : 0644);
    }

    std::filesystem::path root, work, bin;
    RecordingNotifier notifier;
    RecordingDesktop desktop;
};

TEST_F(LaunchersTest, MissingFilesGiveTheirMessagesAndStartNothing)
{
    ToolLaunchers launchers(work, bin, notifier, desktop);
    launchers.ViewErrorLog();
    launchers.RunRepairUtility();
    MakeFile(work / "Servanto", false); // not a program
    launchers.RunServanto();
    ASSERT_EQ(notifier.entries.size(), 3u);
    EXPECT_EQ(notifier.entries[0].text, "Vorlund Log file does not exist.");
    EXPECT_EQ(notifier.entries[1].text, "Vorlund Mendrel.exe file does not exist.");
    EXPECT_EQ(notifier.entries[2].text, "Servanto.exe does not exist.");
    EXPECT_EQ(notifier.entries[0].caption, "Vorlund");
    EXPECT_TRUE(desktop.opened.empty());
    EXPECT_TRUE(desktop.started.empty());
}

TEST_F(LaunchersTest, FindsProgramsInTheWorkingFolderFirstAndStartsThemThere)
{
    MakeFile(work / "vorlund.log", false);
    MakeFile(bin / "Mendrel", true);
    MakeFile(root / "build" / "Servanto" / "Servanto", true); // the build tree's own folder
    ToolLaunchers launchers(work, bin, notifier, desktop);
    launchers.ViewErrorLog();
    launchers.RunRepairUtility();
    launchers.RunServanto();
    MakeFile(work / "Mendrel", true);
    launchers.RunRepairUtility();

    EXPECT_TRUE(notifier.entries.empty());
    ASSERT_EQ(desktop.opened.size(), 1u);
    EXPECT_EQ(desktop.opened[0], work / "vorlund.log");
    ASSERT_EQ(desktop.started.size(), 3u);
    EXPECT_EQ(desktop.started[0].first, bin / "Mendrel");
    EXPECT_EQ(desktop.started[1].first, root / "build" / "Servanto" / "Servanto");
    EXPECT_EQ(desktop.started[2].first, work / "Mendrel");
    for (const auto &[program, folder] : desktop.started)
        EXPECT_EQ(folder, work);
}

// The page is looked for beside the program, then in lib/vorlund beside an installed bin
// folder; with neither, a box says so.
TEST_F(LaunchersTest, OnlineHelpFindsItsPageBesideTheProgram)
{
    const std::filesystem::path installedBin = root / "usr" / "bin";
    const std::filesystem::path installedPage = root / "usr" / "lib" / "vorlund" / "README.md";
    const struct
    {
        std::filesystem::path programFolder;
        std::vector<std::filesystem::path> pages; // made before the call
        std::filesystem::path opened; // empty: the box
    } cases[] = {
        { bin, {}, {} },
        { bin, { root / "README.md", work / "README.md" }, {} }, // the source tree's is not it
        { bin, { bin / "README.md" }, bin / "README.md" },
        { installedBin, { installedPage }, installedPage },
        { installedBin, { installedBin / "README.md", installedPage }, installedBin / "README.md" },
        { {}, {}, {} },
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.programFolder.string());
        std::filesystem::remove_all(root / "usr");
        std::filesystem::remove(bin / "README.md");
        for (const std::filesystem::path &page : c.pages)
            MakeFile(page, false);
        RecordingNotifier said;
        RecordingDesktop opener;
        ToolLaunchers launchers(work, c.programFolder, said, opener);
        launchers.OpenOnlineHelp();
        if (c.opened.empty()) {
            EXPECT_TRUE(opener.opened.empty());
            ASSERT_EQ(said.entries.size(), 1u);
            EXPECT_EQ(said.entries[0].text, "Vorlund Online Help page does not exist.");
            EXPECT_EQ(said.entries[0].caption, "Vorlund");
        } else {
            EXPECT_TRUE(said.entries.empty());
            ASSERT_EQ(opener.opened.size(), 1u);
            EXPECT_EQ(opener.opened[0], c.opened);
        }
    }
}

// Without a program for the file type, the error log and the tutorial each get a box that
// names the file: when nothing starts, and when the opener fails later.
TEST_F(LaunchersTest, NoOpenerForTheFileSaysWhichFile)
{
    MakeFile(work / "vorlund.log", false);
    MakeFile(bin / "README.md", false);
    for (const bool startsAtAll : { false, true }) {
        SCOPED_TRACE(startsAtAll);
        RecordingNotifier said;
        RecordingDesktop opener;
        opener.opens = startsAtAll;
        ToolLaunchers launchers(work, bin, said, opener);
        launchers.ViewErrorLog();
        launchers.OpenOnlineHelp();
        ASSERT_EQ(opener.opened.size(), 2u);
        if (startsAtAll) {
            EXPECT_TRUE(said.entries.empty()); // nothing until the opener reports
            ASSERT_EQ(opener.failures.size(), 2u);
            for (const auto &failed : opener.failures)
                failed();
        }
        ASSERT_EQ(said.entries.size(), 2u);
        EXPECT_EQ(said.entries[0].text, NoOpenerText(work / "vorlund.log"));
        EXPECT_NE(said.entries[0].text.find((work / "vorlund.log").string()), std::string::npos);
        EXPECT_EQ(said.entries[1].text, NoOpenerText(bin / "README.md"));
        EXPECT_EQ(said.entries[1].caption, "Vorlund");
    }
}

} // namespace
} // namespace vorlund
