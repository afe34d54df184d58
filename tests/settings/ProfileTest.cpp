#include "Profile.h"
#include "FileIo.h"
#include "SettingsTestHelpers.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace vorlund {
namespace {

using namespace vorlund::test;

std::string ReadText(const std::filesystem::path &path)
{
    const std::vector<uint8_t> bytes = ReadBytes(path);
    return std::string(bytes.begin(), bytes.end());
}

void WriteText(const std::filesystem::path &path, std::string_view text)
{
    WriteBytes(path, std::vector<uint8_t>(text.begin(), text.end()));
}

TEST(Profile, MissingFileGivesTheDefaults)
{
    TempFolder dir;
    const Profile profile(dir.path / "Vorlund.INI");
    const ProfileSettings s = ReadStartupProfile(profile);
    EXPECT_EQ(s.LastDevice, 112);
    EXPECT_EQ(s.LastDeviceDesc, "");
    EXPECT_EQ(s.DVVideoStandard, 2000);
    EXPECT_EQ(s.OptimizePerformance, 0);
    const FramePlacement frame = ReadFramePlacement(profile);
    EXPECT_EQ(frame.Top, -1);
    EXPECT_EQ(frame.Right, -1);
}

TEST(Profile, ReadsAnyCaseAndNumbersLikeTheProfileApi)
{
    TempFolder dir;
    const auto path = dir.path / "Vorlund.INI";
    WriteText(path,
              "[VIDEO]\r\nlast device=114\r\nLast Device Desc=USB Camera #2\r\n"
              "[settings]\r\nImageRotate=L\r\nOptimizePerformance=  7xyz\r\nWindowOnTop=on\r\n"
              "TimeStampCorner=-2\r\n[Frame]\r\nTop=10\r\nLeft=20\r\nBottom=300\r\nRight=400\r\n");
    const Profile profile(path);
    const ProfileSettings s = ReadStartupProfile(profile);
    EXPECT_EQ(s.LastDevice, 114);
    EXPECT_EQ(s.LastDeviceDesc, "USB Camera #2");
    EXPECT_EQ(s.ImageRotate, "L");
    EXPECT_EQ(s.OptimizePerformance, 7);
    EXPECT_EQ(s.WindowOnTop, 0); // no digits
    EXPECT_EQ(s.TimeStampCorner, -2);
    EXPECT_EQ(s.DVVideoStandard, 2000);
    const FramePlacement frame = ReadFramePlacement(profile);
    EXPECT_EQ(frame.Top, 10);
    EXPECT_EQ(frame.Left, 20);
    EXPECT_EQ(frame.Bottom, 300);
    EXPECT_EQ(frame.Right, 400);
}

TEST(Profile, DeviceCommandOutsideTheMenuFallsBack)
{
    TempFolder dir;
    const auto path = dir.path / "Vorlund.INI";
    WriteText(path, "[Video]\nLast Device=99999999999\n");
    EXPECT_EQ(ReadStartupProfile(Profile(path)).LastDevice, 112);
}

TEST(Profile, SaveWritesTheKeysAndKeepsOthers)
{
    TempFolder dir;
    const auto path = dir.path / "Vorlund.INI";
    WriteText(path, "[Settings]\nImageRotate=R\nAutoStartDetect=1\n");
    {
        Profile profile(path);
        ProfileSettings values;
        values.LastDevice = 113;
        values.WindowOnTop = 1;
        values.DVVideoStandard = 2001;
        values.DVRGB219 = 1;
        SetSaveProfile(profile, values, "Cam\nName");
        ASSERT_EQ(profile.Save(), 0);
        ASSERT_TRUE(WriteFramePlacement(profile, { 1, 2, 3, 4 }));
        ASSERT_TRUE(WriteAutoStartDetect(profile, 0));
    }
    const std::string text = ReadText(path);
    EXPECT_NE(text.find("[Video]\nLast Device=113\nLast Device Desc=Cam\n"), std::string::npos)
        << text;
    EXPECT_NE(text.find("ImageRotate=R\n"), std::string::npos) << text;
    EXPECT_NE(text.find("DVRGB219=1\n"), std::string::npos) << text;

    const Profile again(path);
    const ProfileSettings s = ReadStartupProfile(again);
    EXPECT_EQ(s.LastDevice, 113);
    EXPECT_EQ(s.LastDeviceDesc, "Cam");
    EXPECT_EQ(s.AutoStartDetect, 0);
    EXPECT_EQ(s.WindowOnTop, 1);
    EXPECT_EQ(s.DVVideoStandard, 2001);
    EXPECT_EQ(s.ImageRotate, "R");
    EXPECT_EQ(ReadFramePlacement(again).Right, 4);
}

TEST(Profile, AProfileThatWasNotReadWholeIsNeverOverwritten)
{
    TempFolder dir;
    const auto path = dir.path / "Vorlund.INI";
    std::string text = "[Settings]\nImageRotate=R\n";
    while (text.size() < (1u << 20))
        text += "; padding comment line to make the profile too large to read\n";
    text += "[Frame]\nTop=5\n";
    WriteText(path, text);

    Profile profile(path);
    SetSaveProfile(profile, ProfileSettings {}, "Cam A");
    EXPECT_NE(profile.Save(), 0);
    EXPECT_FALSE(WriteFramePlacement(profile, { 1, 2, 3, 4 }));
    EXPECT_TRUE(ReadText(path) == text); // the whole file, unchanged
}

TEST(Profile, SaveWritesOnlyItsOwnChangesOverTheFileAsItIsNow)
{
    TempFolder dir;
    const auto path = dir.path / "Vorlund.INI";
    WriteText(path, "[Settings]\nWindowOnTop=0\nImageRotate=L\n");
    Profile server(path);
    Profile other(path); // another part of the program with its own copy
    // Meanwhile: another writer and a hand edit.
    ASSERT_TRUE(WriteAutoStartDetect(other, 1));
    WriteText(path, ReadText(path) + "[Hand]\nEdited=yes\n");
    std::string edited = ReadText(path);
    edited.replace(edited.find("ImageRotate=L"), 13, "ImageRotate=R");
    WriteText(path, edited);

    server.SetProfileInt("settings", "windowontop", 1); // names match without case
    ASSERT_EQ(server.Save(), 0);
    const Profile after(path);
    const ProfileSettings s = ReadStartupProfile(after);
    EXPECT_EQ(s.WindowOnTop, 1);
    EXPECT_EQ(s.AutoStartDetect, 1);
    EXPECT_EQ(s.ImageRotate, "R");
    EXPECT_EQ(after.GetProfileString("Hand", "Edited", ""), "yes");
    EXPECT_EQ(ReadText(path).find("windowontop"), std::string::npos) << ReadText(path);
    // The saver now reads what the file holds.
    EXPECT_EQ(server.GetProfileInt("Settings", "AutoStartDetect", 0), 1);

    // Nothing pending: a second save changes nothing someone else wrote.
    ASSERT_TRUE(WriteAutoStartDetect(other, 0));
    ASSERT_EQ(server.Save(), 0);
    EXPECT_EQ(ReadStartupProfile(Profile(path)).AutoStartDetect, 0);
}

TEST(Profile, ChangesStayPendingUntilASaveSucceeds)
{
    TempFolder dir;
    const auto folder = dir.path / "later";
    Profile profile(folder / "Vorlund.INI");
    EXPECT_FALSE(WriteFramePlacement(profile, { 1, 2, 3, 4 }));
    std::filesystem::create_directory(folder);
    ASSERT_EQ(profile.Save(), 0);
    EXPECT_EQ(ReadFramePlacement(Profile(folder / "Vorlund.INI")), (FramePlacement { 1, 2, 3, 4 }));
}

TEST(Profile, FailedWriteIsReported)
{
    TempFolder dir;
    Profile profile(dir.path / "missing-folder" / "Vorlund.INI");
    EXPECT_FALSE(profile.WriteProfileInt("Settings", "WindowOnTop", 1));
    EXPECT_EQ(profile.Save(), ENOENT);

    Profile inMemory { std::filesystem::path() };
    inMemory.SetProfileInt("Settings", "WindowOnTop", 1);
    EXPECT_EQ(inMemory.Save(), ENOENT);
    EXPECT_EQ(inMemory.GetProfileInt("Settings", "WindowOnTop", 0), 1);
}

// A settings save that would write what the file already holds leaves it alone (same inode, no
// flush); any other content, size or mode replaces it. The plain safe write always replaces it:
// a picture's file time must be that of its last save.
TEST(FileIo, ASettingsSaveOfTheSameBytesAndModeLeavesTheFileAlone)
{
    struct Case
    {
        const char *name;
        std::string before;
        mode_t beforeMode;
        std::string after;
        mode_t afterMode;
        bool ifChanged;
        bool replaced;
    };
    const std::string ini = "[Video]\nLast Device=112\n";
    const Case cases[] = {
        { "same bytes and mode", ini, 0644, ini, 0644, true, false },
        { "one byte differs", ini, 0644, "[Video]\nLast Device=113\n", 0644, true, true },
        { "longer", "abc", 0600, "abcd", 0600, true, true },
        { "shorter", "abcd", 0600, "abc", 0600, true, true },
        { "mode differs", "abc", 0644, "abc", 0600, true, true },
        { "empty to empty", "", 0600, "", 0600, true, false },
        { "safe write, same bytes", ini, 0644, ini, 0644, false, true },
    };
    const auto bytes = [](const std::string &s) {
        return std::span(reinterpret_cast<const uint8_t *>(s.data()), s.size());
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        TempFolder dir;
        const std::filesystem::path file = dir.path / "device0.cfg";
        ASSERT_EQ(WriteFileAtomically(file, bytes(c.before), c.beforeMode), 0);
        struct stat first = {};
        ASSERT_EQ(::stat(file.c_str(), &first), 0);
        const int rc = c.ifChanged ? WriteFileIfChanged(file, bytes(c.after), c.afterMode)
                                   : WriteFileAtomically(file, bytes(c.after), c.afterMode);
        ASSERT_EQ(rc, 0);
        struct stat second = {};
        ASSERT_EQ(::stat(file.c_str(), &second), 0);
        EXPECT_EQ(first.st_ino != second.st_ino, c.replaced);
        EXPECT_EQ(second.st_mode & 07777, c.afterMode);
        EXPECT_EQ(ReadText(file), c.after);
    }
}

} // namespace
} // namespace vorlund
