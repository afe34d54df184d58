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
    bool OpenDocument(const std::filesystem::path &file) override
    {
        opened.push_back(file);
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

TEST_F(LaunchersTest, OnlineHelpOpensThePageWhenThereIsOne)
{
    ToolLaunchers without(work, bin, notifier, desktop, root / "none.md");
    without.OpenOnlineHelp();
    EXPECT_TRUE(desktop.opened.empty());
    MakeFile(root / "README.md", false);
    ToolLaunchers with(work, bin, notifier, desktop, root / "README.md");
    with.OpenOnlineHelp();
    ASSERT_EQ(desktop.opened.size(), 1u);
    EXPECT_EQ(desktop.opened[0], root / "README.md");
}

// Without a program for the file type, the error log and the tutorial each get a box that
// names the file.
TEST_F(LaunchersTest, NoOpenerForTheFileSaysWhichFile)
{
    desktop.opens = false;
    MakeFile(work / "vorlund.log", false);
    MakeFile(root / "README.md", false);
    ToolLaunchers launchers(work, bin, notifier, desktop, root / "README.md");
    launchers.ViewErrorLog();
    launchers.OpenOnlineHelp();
    ASSERT_EQ(desktop.opened.size(), 2u);
    ASSERT_EQ(notifier.entries.size(), 2u);
    EXPECT_EQ(notifier.entries[0].text, NoOpenerText(work / "vorlund.log"));
    EXPECT_NE(notifier.entries[0].text.find((work / "vorlund.log").string()), std::string::npos);
    EXPECT_EQ(notifier.entries[1].text, NoOpenerText(root / "README.md"));
    EXPECT_EQ(notifier.entries[1].caption, "Vorlund");
}

} // namespace
} // namespace vorlund
