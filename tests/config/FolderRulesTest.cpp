#include "FolderRules.h"
#include "ConfigValues.h"
#include "FieldChecks.h"
#include "ServerFixture.h"

#include <gtest/gtest.h>

#include <fstream>

namespace vorlund {
namespace {

TEST(FolderRules, Syntax)
{
    const std::string longest = "/" + std::string(kMaxFolderBytes - 1, 'a');
    const struct
    {
        std::string path;
        bool valid;
    } cases[] = {
        { "/", true },
        { "/home/video", true },
        { "/home/my video/cam.1", true },
        { longest, true },
        { longest + "a", false },
        { "", false },
        { "home/video", false },
        { "/home/", false },
        { "//home", false },
        { "/home//video", false },
        { "/home/./video", false },
        { "/home/..", false },
        { "/home/ video", false },
        { "/home/video ", false },
        { "/home/\tvideo", false },
        { std::string("/home/vi\0deo", 12), false },
        { "/home/vid?eo*", true }, // legal in POSIX names
    };
    for (const auto &c : cases)
        EXPECT_EQ(IsValidFolderSyntax(c.path), c.valid) << c.path;
}

TEST(FolderRules, BrowsedFolderIsCheckedAndCreatedLevelByLevel)
{
    test::TempFolder temp;
    const std::string base = temp.path.string();
    std::ofstream(temp.path / "file") << "x";
    const std::string created = "The folder:\n\n" + base + "/a/b/c\n\n";
    const struct
    {
        std::string path;
        bool answer;
        FolderOutcome outcome;
        std::vector<std::string> messages; // texts shown, questions included
        bool exists;
    } cases[] = {
        { base, true, FolderOutcome::Accepted, {}, true },
        { "/", true, FolderOutcome::Accepted, {}, true },
        { base + "/a/b/c",
          false,
          FolderOutcome::Declined,
          { created + "does not exist. Do you want the folder to be created?" },
          false },
        { base + "/a/b/c",
          true,
          FolderOutcome::Accepted,
          { created + "does not exist. Do you want the folder to be created?" },
          true },
        { base + "/x/",
          true,
          FolderOutcome::Invalid,
          { "The folder:\n\n" + base + "/x/\n\nis invalid. Please reenter." },
          false },
        { base + "/file/sub",
          true,
          FolderOutcome::NotCreated,
          { "The folder:\n\n" + base
                + "/file/sub\n\ndoes not exist. Do you want the folder to be created?",
            "The folder:\n\n" + base + "/file/sub\n\ncan not be created. Please double check." },
          false },
    };
    for (const auto &c : cases) {
        RecordingNotifier notifier;
        notifier.answer = c.answer;
        EXPECT_EQ(AcceptBrowsedFolder(c.path, notifier), c.outcome) << c.path;
        std::vector<std::string> shown;
        for (const auto &e : notifier.entries)
            shown.push_back(e.text);
        EXPECT_EQ(shown, c.messages) << c.path;
        EXPECT_EQ(std::filesystem::is_directory(c.path), c.exists) << c.path;
    }
}

TEST(FieldChecks, NumbersAndTextWidths)
{
    const struct
    {
        std::string text;
        int min, max;
        std::optional<int> value;
        std::string message;
    } cases[] = {
        { "200", 20, 1000, 200, "" },
        { " 20 ", 20, 1000, 20, "" },
        { "+1000", 20, 1000, 1000, "" },
        { "19", 20, 1000, std::nullopt, "Please enter an integer between 20 and 1000." },
        { "abc", 20, 1000, std::nullopt, "Please enter an integer between 20 and 1000." },
        { "", INT_MIN, INT_MAX, std::nullopt, "Please enter an integer." },
        { "12x", INT_MIN, INT_MAX, std::nullopt, "Please enter an integer." },
        { "99999999999", INT_MIN, INT_MAX, std::nullopt, "Please enter an integer." },
        { "-5", INT_MIN, INT_MAX, -5, "" },
    };
    for (const auto &c : cases) {
        const NumberCheck check = CheckInteger(c.text, c.min, c.max);
        EXPECT_EQ(check.value, c.value) << c.text;
        EXPECT_EQ(check.message, c.message) << c.text;
    }
    // Widths count UTF-8 bytes and leave one for the terminating zero.
    EXPECT_TRUE(FitsField(std::string(15, 'a'), 16));
    EXPECT_FALSE(FitsField(std::string(16, 'a'), 16));
    EXPECT_FALSE(FitsField(std::string(14, 'a') + "\xc3\xa9", 16));
    EXPECT_EQ(TooLongMessage(16), "Please enter no more than 15 characters.");
}

TEST(FolderRules, ConfigurationFolderStripAndOneLevelCreation)
{
    EXPECT_EQ(StripFolderTail("/video// ?*"), "/video");
    EXPECT_EQ(StripFolderTail("/"), "/");
    EXPECT_EQ(StripFolderTail("/a b"), "/a b");

    test::TempFolder temp;
    const std::string one = (temp.path / "one").string();
    const std::string deep = (temp.path / "x" / "y").string();
    RecordingNotifier notifier;
    notifier.answer = false;
    EXPECT_FALSE(OfferFolderCreation(one, notifier));
    notifier.answer = true;
    EXPECT_TRUE(OfferFolderCreation(one, notifier));
    EXPECT_TRUE(std::filesystem::is_directory(one));
    EXPECT_FALSE(OfferFolderCreation(deep, notifier));
    ASSERT_EQ(notifier.entries.size(), 4u);
    EXPECT_EQ(notifier.entries[0].text, one + " does not exist.\nCreate it?\n");
    EXPECT_EQ(notifier.entries[3].text, "Failed to create directory.\nPlease select again.\n");
    EXPECT_FALSE(std::filesystem::exists(temp.path / "x"));
    EXPECT_FALSE(OfferFolderCreation("relative/video", notifier));
    EXPECT_EQ(notifier.entries.back().text,
              "The folder:\n\nrelative/video\n\nis invalid. Please reenter.");
}

} // namespace
} // namespace vorlund

namespace vorlund {
namespace {

TEST(PtzAddress4, SurvivesInTheProfile)
{
    test::TempFolder temp;
    {
        Profile profile(temp.path / "Vorlund.INI");
        ASSERT_TRUE(WritePtzAddress4(profile, 42));
    }
    Profile profile(temp.path / "Vorlund.INI");
    DeviceConfig config;
    EXPECT_EQ(config.PtzAddress[4], 4);
    ReadPtzAddress4(profile, config);
    EXPECT_EQ(config.PtzAddress[4], 42);
    // A value that is no byte leaves the one in force.
    profile.WriteProfileInt("Settings", "PtzAddress4", 300);
    ReadPtzAddress4(profile, config);
    EXPECT_EQ(config.PtzAddress[4], 42);
}

} // namespace
} // namespace vorlund
