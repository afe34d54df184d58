#include "DeviceSettings.h"
#include "EngineState.h"
#include "SettingsTestHelpers.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace vorlund {
namespace {

using namespace vorlund::test;

// One view's settings over a real working folder.
class DeviceSettingsTest : public ::testing::Test
{
protected:
    DeviceSettings &Make(const std::filesystem::path &folder)
    {
        engine = std::make_unique<EngineState>();
        settings = std::make_unique<DeviceSettings>(
            folder, *engine, notifier, [this](std::string_view line) { log.emplace_back(line); });
        return *settings;
    }
    DefaultsContext Context(const std::string &device) const
    {
        return { device, dir.path.string(), "USB Mic" };
    }
    // What the view does on a device change: defaults, then the device's file.
    bool ChangeDevice(const std::string &device)
    {
        settings->SetDefaultSettings(Context(device));
        return settings->LoadDeviceConfig(device);
    }
    bool Save(int commandId = 112)
    {
        SaveRequest request;
        request.HaveDevice = true;
        request.DeviceCommandId = commandId;
        request.ProfileValues.LastDevice = commandId;
        return settings->SaveDeviceConfig(request, *profile);
    }
    // A device file written straight to a slot.
    void PutFile(int slot, const std::string &device, size_t size = kDeviceFileSize)
    {
        DeviceConfig c = DefaultConfig(Context(device));
        c.Block.SnapshotLimit = 100 + slot; // tells the slots apart
        WriteBytes(SlotFile(slot), OlderLayout(WriteDeviceFile(c), size));
    }
    std::filesystem::path SlotFile(int slot) const
    {
        return dir.path / ("device" + std::to_string(slot) + ".cfg");
    }

    void SetUp() override
    {
        ASSERT_FALSE(dir.path.empty());
        profile = std::make_unique<Profile>(dir.path / "Vorlund.INI");
        Make(dir.path);
    }

    TempFolder dir;
    RecordingNotifier notifier;
    std::vector<std::string> log;
    std::unique_ptr<Profile> profile;
    std::unique_ptr<EngineState> engine;
    std::unique_ptr<DeviceSettings> settings;
};

TEST_F(DeviceSettingsTest, SaveAndLoadCarryFileViewAndEngineValues)
{
    ASSERT_FALSE(ChangeDevice("Cam A"));
    EXPECT_EQ(settings->ConfigSlot, -1);

    // Values the dialogs changed in the view's record and in the engine.
    DeviceConfig unusual = UnusualConfig();
    unusual.DeviceName = "Cam A";
    settings->Config = unusual;
    CopyIntoEngineState(unusual, *engine);
    engine->Sensitivity[2] = 60;
    engine->MotionDistanceEnabled[3] = 1; // not stored: only camera 1's flag is
    engine->ZoneMask[4][2][17] = 0;
    ASSERT_TRUE(Save());
    EXPECT_EQ(settings->ConfigSlot, 0);
    EXPECT_TRUE(notifier.entries.empty());

    // The file is the writer's bytes, readable by its owner only, with no temporary left.
    DeviceConfig expected = unusual;
    expected.Block.Sensitivity[2] = 60;
    expected.Block.ZoneMask[4][2][17] = 0;
    EXPECT_EQ(ReadBytes(SlotFile(0)), WriteDeviceFile(expected));
    struct stat st = {};
    ASSERT_EQ(::stat(SlotFile(0).c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    int entries = 0;
    for ([[maybe_unused]] const auto &e : std::filesystem::directory_iterator(dir.path))
        ++entries;
    EXPECT_EQ(entries, 2); // device0.cfg and Vorlund.INI

    // A new view of the same folder loads it all back.
    Make(dir.path);
    ASSERT_TRUE(ChangeDevice("Cam A"));
    EXPECT_EQ(settings->ConfigSlot, 0);
    DeviceConfig loaded = settings->Config;
    EXPECT_EQ(loaded.PtzAddress[4], 4); // camera 4's address is not stored: reset value
    loaded.PtzAddress[4] = expected.PtzAddress[4];
    EXPECT_TRUE(loaded == expected);
    EXPECT_EQ(engine->Sensitivity[2].load(), 60);
    EXPECT_EQ(engine->MotionEnabled[2].load(), 1);
    EXPECT_EQ(engine->SavedMotionEnabled[3].load(), 0);
    EXPECT_EQ(engine->MotionDistance[4].load(), 35);
    EXPECT_EQ(engine->MotionDistanceEnabled[1].load(), 1);
    EXPECT_EQ(engine->MotionDistanceEnabled[3].load(), 0);
    EXPECT_EQ(engine->ZoneSensitivity[3][2].load(), 32);
    EXPECT_EQ(engine->ZoneSensitivityEnabled[1].load(), 1);
    EXPECT_EQ(engine->GetZoneMask(4, 2), expected.Block.ZoneMask[4][2]);
    EXPECT_EQ(engine->CameraCount.load(), 4);
    EXPECT_EQ(engine->SwitchType.load(), 1);
    EXPECT_EQ(engine->CameraOnePriority.load(), 1);
    EXPECT_EQ(engine->AutoCalibrate.load(), 1);
    EXPECT_EQ(engine->SettleTime.load(), 350u);
    EXPECT_TRUE(settings->Ptz.AnyCamera);
    EXPECT_EQ(settings->Ptz.CameraFlags[4], 1);
    EXPECT_EQ(settings->Ptz.CurrentAddress, 9); // camera 1's

    // The profile keys written at the save.
    Profile written(dir.path / "Vorlund.INI");
    EXPECT_EQ(written.GetProfileInt("Video", "Last Device", 0), 112);
    EXPECT_EQ(written.GetProfileString("video", "last device desc", ""), "Cam A");
    EXPECT_EQ(written.GetProfileInt("Settings", "DVVideoStandard", 0), 2000);
}

TEST_F(DeviceSettingsTest, SaveTakesConfiguredValuesNotRunTimeOnes)
{
    ChangeDevice("Cam A");
    // A run with one camera shortened the settle time; a pan/tilt move cleared motion.
    engine->SettleTime = 90;
    engine->SavedSettleTime = 300;
    engine->MotionEnabled[1] = 0;
    engine->SavedMotionEnabled[1] = 1;
    ASSERT_TRUE(Save());
    const std::vector<uint8_t> f = ReadBytes(SlotFile(0));
    EXPECT_EQ(I32At(f, 753), 300);
    EXPECT_EQ(f[765], 1);
}

TEST_F(DeviceSettingsTest, DefaultsResetEngineCountersButNotStartValues)
{
    engine->SlowCounter = 5;
    engine->SuppressCount = 0;
    engine->TvMode = 1;
    engine->HitMap[2][5] = 1;
    engine->CameraCount = 3; // set once at creation, changed by configuration
    engine->AutoCalibrate = 1; // no default
    engine->Sensitivity[1] = 80;
    settings->Config.Block.SnapshotCount[2] = 77;
    bool othersReset = false;
    settings->ResetOthers = [&] { othersReset = true; };
    settings->SetDefaultSettings(Context("Cam A"));
    EXPECT_TRUE(othersReset);
    EXPECT_EQ(engine->SlowCounter.load(), 12001);
    EXPECT_EQ(engine->SuppressCount.load(), 10);
    EXPECT_EQ(engine->TvMode.load(), 0);
    EXPECT_EQ(engine->HitMap[2][5].load(), 0);
    EXPECT_EQ(engine->CameraCount.load(), 3);
    EXPECT_EQ(engine->AutoCalibrate.load(), 1);
    EXPECT_EQ(engine->Sensitivity[1].load(), 25);
    EXPECT_EQ(settings->Config.Block.SnapshotCount[2], 77);
    EXPECT_EQ(settings->Config.Block.CameraCount, 3);
    EXPECT_EQ(settings->Config.AudioDevice, "USB Mic");
    EXPECT_EQ(settings->Config.VideoFolder, dir.path.string() + "/CaptureData");
}

TEST_F(DeviceSettingsTest, SlotChoiceWithFreeMatchingAndFullSlots)
{
    // Free: the first slot without a file.
    PutFile(0, "Cam X");
    PutFile(2, "Cam Y");
    ChangeDevice("Cam A");
    ASSERT_TRUE(Save(114));
    EXPECT_EQ(settings->ConfigSlot, 1);
    EXPECT_EQ(ReadDeviceName(ReadBytes(SlotFile(1))), "Cam A");

    // Matching: a device with a file saves where it was found.
    ChangeDevice("Cam Y");
    EXPECT_EQ(settings->ConfigSlot, 2);
    EXPECT_EQ(settings->Config.Block.SnapshotLimit, 102);
    ASSERT_TRUE(Save(112));
    EXPECT_EQ(settings->ConfigSlot, 2);

    // Full: no slot free and none matching: the slot of the device's command id.
    PutFile(3, "Cam Z");
    ChangeDevice("Cam New");
    EXPECT_EQ(settings->ConfigSlot, -1);
    ASSERT_TRUE(Save(113));
    EXPECT_EQ(settings->ConfigSlot, 1);
    EXPECT_EQ(ReadDeviceName(ReadBytes(SlotFile(1))), "Cam New");
    EXPECT_EQ(ReadDeviceName(ReadBytes(SlotFile(0))), "Cam X");

    // Nothing to save for without an enumerated device.
    SaveRequest none;
    EXPECT_FALSE(settings->SaveDeviceConfig(none, *profile));
}

TEST_F(DeviceSettingsTest, TwoFilesWithOneNameTheHigherSlotWins)
{
    PutFile(1, "Cam A");
    PutFile(3, "Cam A", 1905);
    ASSERT_TRUE(ChangeDevice("Cam A"));
    EXPECT_EQ(settings->ConfigSlot, 3);
    EXPECT_EQ(settings->Config.Block.SnapshotLimit, 103);
}

TEST_F(DeviceSettingsTest, OlderLayoutFileLoadsAndIsRewrittenInTheCurrentLayout)
{
    PutFile(0, "Cam A", 1800);
    ASSERT_TRUE(ChangeDevice("Cam A"));
    ASSERT_TRUE(Save());
    EXPECT_EQ(ReadBytes(SlotFile(0)).size(), kDeviceFileSize);
}

TEST_F(DeviceSettingsTest, CorruptFileIsRemovedAndNeverLeadsToAnotherDevicesSlot)
{
    PutFile(2, "Cam A");
    PutFile(1, "Cam B", 1799);
    ASSERT_TRUE(ChangeDevice("Cam A"));
    EXPECT_EQ(settings->ConfigSlot, 2);

    // The view changes to Cam B, whose file is too short.
    engine->CameraCount = 2;
    settings->SetDefaultSettings(Context("Cam B"));
    settings->Config.Block.SnapshotLimit = 4321; // a value in force before the load
    EXPECT_FALSE(settings->LoadDeviceConfig("Cam B"));
    ASSERT_EQ(notifier.entries.size(), 1u);
    EXPECT_EQ(notifier.entries[0].text,
              "Configuration file is corrupt...\nPlease reconfigure all settings for this device.");
    EXPECT_FALSE(std::filesystem::exists(SlotFile(1)));
    EXPECT_EQ(settings->ConfigSlot, -1);
    EXPECT_EQ(settings->Config.Block.SnapshotLimit, 4321);
    EXPECT_EQ(engine->CameraCount.load(), 2);

    // Its next save takes a free slot; Cam A's file stays as it was.
    const std::vector<uint8_t> camA = ReadBytes(SlotFile(2));
    ASSERT_TRUE(Save());
    EXPECT_EQ(settings->ConfigSlot, 0);
    EXPECT_EQ(ReadBytes(SlotFile(2)), camA);
}

TEST_F(DeviceSettingsTest, DeviceWithoutFileAfterOneWithFileGetsDefaults)
{
    PutFile(0, "Cam A");
    ASSERT_TRUE(ChangeDevice("Cam A"));
    engine->Sensitivity[1] = 70;
    settings->Config.MailTo = "x@example.com";
    EXPECT_FALSE(settings->LoadDeviceConfig("Cam B"));
    EXPECT_EQ(settings->ConfigSlot, -1);
    EXPECT_EQ(settings->Config.MailTo, "");
    EXPECT_EQ(settings->Config.DeviceName, "Cam B");
    EXPECT_EQ(engine->Sensitivity[1].load(), 25);
}

TEST_F(DeviceSettingsTest, SomethingOtherThanAFileInASlotIsSkippedAndKept)
{
    ASSERT_EQ(::mkfifo(SlotFile(0).c_str(), 0600), 0);
    std::filesystem::create_directory(SlotFile(1));
    PutFile(2, "Cam A");
    ASSERT_TRUE(ChangeDevice("Cam A")); // no hang on the FIFO
    EXPECT_EQ(settings->ConfigSlot, 2);
    EXPECT_EQ(log.size(), 2u);
    // A new device does not take a slot that holds something.
    ChangeDevice("Cam B");
    ASSERT_TRUE(Save());
    EXPECT_EQ(settings->ConfigSlot, 3);
    EXPECT_TRUE(std::filesystem::is_fifo(SlotFile(0)));
}

TEST_F(DeviceSettingsTest, BadValuesInAFileAreLoggedAndReplaced)
{
    DeviceConfig c = DefaultConfig(Context("Cam A"));
    std::vector<uint8_t> bytes = WriteDeviceFile(c);
    bytes[761] = 7; // CameraCount
    WriteBytes(SlotFile(1), bytes);
    ASSERT_TRUE(ChangeDevice("Cam A"));
    EXPECT_EQ(engine->CameraCount.load(), 1);
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0], "device1.cfg: CameraCount 7 is out of range, using 1");
}

TEST_F(DeviceSettingsTest, FailedSaveIsReportedAndLeavesTheProfileUnwritten)
{
    ChangeDevice("Cam A");
    // The slot's path is a folder: the rename over it fails.
    std::filesystem::create_directory(SlotFile(0));
    settings->ConfigSlot = 0;
    EXPECT_FALSE(Save());
    ASSERT_EQ(notifier.entries.size(), 1u);
    EXPECT_EQ(notifier.entries[0].text, "Can't open deviceX.cfg\nError 21: Is a directory");
    EXPECT_FALSE(std::filesystem::exists(dir.path / "Vorlund.INI"));
    int entries = 0;
    for ([[maybe_unused]] const auto &e : std::filesystem::directory_iterator(dir.path))
        ++entries;
    EXPECT_EQ(entries, 1); // no temporary file left behind
}

TEST_F(DeviceSettingsTest, WorkingFolderTooLongForThePath)
{
    const std::filesystem::path longFolder = dir.path / std::string(250, 'f');
    Make(longFolder);
    settings->SetDefaultSettings(Context("Cam A"));
    EXPECT_FALSE(settings->LoadDeviceConfig("Cam A"));
    EXPECT_FALSE(Save());
    ASSERT_EQ(notifier.entries.size(), 2u);
    EXPECT_EQ(notifier.entries[0].text, "Configuration file path is too long...");
    EXPECT_EQ(notifier.entries[1].text, "Configuration file path is too long...");
    EXPECT_FALSE(std::filesystem::exists(dir.path / "Vorlund.INI"));
}

} // namespace
} // namespace vorlund
