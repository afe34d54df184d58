#include "ConfigApply.h"
#include "ServerFixture.h"

#include <gtest/gtest.h>

namespace vorlund {
namespace {

using namespace test;

struct ApplyFixture : ServerFixture
{
    ApplyFixture()
    {
        settings.Config.CodecName = "Microsoft MPEG-4 Video Codec V3";
        topics.built = true;
        // The engine's working copies as a loaded configuration leaves them.
        CopyIntoEngineState(settings.Config, engine);
    }
    ConfigEnvironment environment { topics, topics, [this] { ++reviewResets; }, {}, {} };
    int reviewResets = 0;

    std::vector<std::string> Messages() const
    {
        std::vector<std::string> texts;
        for (const auto &e : notifier.entries)
            texts.push_back(e.text);
        return texts;
    }
};

TEST(ConfigApply, CopyInConverts)
{
    ApplyFixture f;
    f.settings.Config.Block.SwitcherComPort = 3;
    f.settings.Config.PtzComPort = 5;
    f.settings.Ptz.CameraFlags = { 0, 1, 0, 0xFF, 0 };
    f.settings.Config.PtzAddress = { 0, 9, 8, 7, 6 };
    f.engine.TvMode = 2;
    f.engine.SettleTime = 30;
    f.engine.SavedSettleTime = 250;
    f.view.Startup.DVVideoStandard = kDvStandardPal;
    const ConfigurationValues v = CopyInConfiguration(f.context);
    EXPECT_EQ(v.SwitcherPortIndex, 2);
    EXPECT_EQ(v.Advanced.PtzPortIndex, 4);
    EXPECT_EQ(v.Advanced.PtzCamera, (PerCamera<int> { 0, 1, 0, -1, 0 }));
    EXPECT_EQ(v.Advanced.PtzAddress, (PerCamera<uint8_t> { 0, 9, 8, 7, 6 }));
    EXPECT_EQ(v.Advanced.TvMode, 0) << "only TV mode 1 counts";
    EXPECT_EQ(v.SwitchDelay, 250) << "the configured delay, not the run's";
    EXPECT_EQ(v.Advanced.DvStandard, kDvStandardPal);
}

TEST(ConfigApply, UnchangedValuesChangeNothingButAreSaved)
{
    ApplyFixture f;
    const DeviceConfig before = f.settings.Config;
    ApplyConfigurationValues(f.context, f.environment, CopyInConfiguration(f.context));
    EXPECT_EQ(f.topics.remoteModes, 0) << "no new remote object";
    EXPECT_EQ(f.topics.teardowns, 0);
    EXPECT_EQ(f.topics.stillResets, 0);
    EXPECT_TRUE(f.notifier.entries.empty());
    EXPECT_EQ(f.settings.Config, before);
    EXPECT_EQ(f.shell.cameraMenus, 1);
    EXPECT_TRUE(std::filesystem::exists(f.settings.SlotPath(0)));
}

TEST(ConfigApply, RemoteModeAndListenPort)
{
    const struct
    {
        uint8_t stored;
        int chosen;
        int swaps;
        int32_t port; // typed 5000 over a stored 49330
    } cases[] = {
        { 1, 0, 1, kDefaultRemotePort }, // Manual -> Automatic: the relay has no port
        { 0, 1, 1, 5000 },
        { 1, 1, 0, 5000 },
        { 0, 0, 0, kDefaultRemotePort },
    };
    for (const auto &c : cases) {
        ApplyFixture f;
        f.settings.Config.RemoteMode = c.stored;
        ConfigurationValues v = CopyInConfiguration(f.context);
        v.RemoteMode = c.chosen;
        v.ListenPort = 5000;
        ApplyConfigurationValues(f.context, f.environment, v);
        EXPECT_EQ(f.topics.remoteModes, c.swaps) << int(c.stored) << "->" << c.chosen;
        EXPECT_EQ(f.settings.Config.RemoteMode, c.chosen);
        EXPECT_EQ(f.settings.Config.Block.RemotePort, c.port) << int(c.stored) << c.chosen;
    }
}

TEST(ConfigApply, DvChangesTearTheGraphDownOnlyWhenItDependsOnThem)
{
    const struct
    {
        const char *what;
        std::string codec;
        bool built;
        void (*change)(AdvancedValues &);
        int teardowns;
    } cases[] = {
        { "standard, other codec", "Microsoft MPEG-4 Video Codec V3", true,
          [](AdvancedValues &a) { a.DvStandard = kDvStandardPal; }, 0 },
        { "standard, DV encoder", "DV Video Encoder", true,
          [](AdvancedValues &a) { a.DvStandard = kDvStandardPal; }, 1 },
        { "RGB219, other codec", "x", true, [](AdvancedValues &a) { a.DvRgb219 = 1; }, 0 },
        { "RGB219, DV encoder", "DV Video Encoder", true, [](AdvancedValues &a) { a.DvRgb219 = 1; },
          1 },
        { "full size", "x", true, [](AdvancedValues &a) { a.DvFullSize = 1; }, 1 },
        { "progressive", "x", true, [](AdvancedValues &a) { a.DvProgressive = 1; }, 1 },
        { "full size, no graph", "x", false, [](AdvancedValues &a) { a.DvFullSize = 1; }, 0 },
    };
    for (const auto &c : cases) {
        ApplyFixture f;
        f.settings.Config.CodecName = c.codec;
        f.topics.built = c.built;
        f.engine.KeepDeviceFilter = 1;
        ConfigurationValues v = CopyInConfiguration(f.context);
        c.change(v.Advanced);
        ApplyConfigurationValues(f.context, f.environment, v);
        EXPECT_EQ(f.topics.teardowns, c.teardowns) << c.what;
        if (c.teardowns) {
            EXPECT_EQ(f.engine.KeepDeviceFilter.load(), 0) << c.what;
        }
        EXPECT_EQ(f.view.Startup.DVVideoStandard, v.Advanced.DvStandard);
        EXPECT_EQ(f.view.Startup.DVVideoFullSize, v.Advanced.DvFullSize);
    }
}

TEST(ConfigApply, MessagesResetAndSideEffects)
{
    ApplyFixture f;
    f.settings.Config.Block.SnapshotCount = { 0, 5, 6, 7, 8 };
    f.engine.MotionEnabled[1] = 1;
    f.engine.SavedMotionEnabled[1] = 1;
    ConfigurationValues v = CopyInConfiguration(f.context);
    v.RemoteAllowed = 0; // was on
    v.ResetPressed = 1;
    v.Advanced.Continuous = 1;
    v.AutoStart = 1;
    ApplyConfigurationValues(f.context, f.environment, v);
    EXPECT_EQ(f.Messages(),
              (std::vector<std::string> { std::string(kRestartMessage),
                                          std::string(kCountersResetMessage) }));
    EXPECT_EQ(f.settings.Config.Block.SnapshotCount, (PerCamera<int32_t> {}));
    EXPECT_EQ(f.reviewResets, 1);
    EXPECT_EQ(f.topics.stillResets, 1);
    EXPECT_EQ(f.engine.MotionEnabled[1].load(), 0);
    EXPECT_EQ(f.engine.SavedMotionEnabled[1].load(), 0);
    EXPECT_EQ(f.view.Startup.AutoStartDetect, 1);
    Profile reread(f.folder.path / "Vorlund.INI");
    EXPECT_EQ(reread.GetProfileInt("Settings", "AutoStartDetect", 0), 1);
}

TEST(ConfigApply, SavedFileHoldsTheNewValues)
{
    ApplyFixture f;
    ConfigurationValues v = CopyInConfiguration(f.context);
    v.SwitchDelay = 333;
    v.CameraCount = 3;
    v.SwitcherPortIndex = 1;
    v.SnapshotLimit = 77;
    v.Password = "pw";
    v.RelayLogin = "relay-user";
    v.RelayPassword = "relay-pass";
    v.Mail = { "to@example.com", "from@example.com", "smtp.example.com", 1, 1 };
    v.Advanced.PtzCamera = { 0, 0, 1, 0, 1 };
    v.Advanced.PtzAddress = { 0, 21, 22, 23, 24 };
    v.Advanced.PtzPortIndex = 3;
    v.Advanced.PtzBaud = 9600;
    v.Advanced.RecordWindow = { 8, 0, 17, 30 };
    v.RolloverSize = 0; // never below 1
    v.RecycleOn = 1;
    v.RecycleSize = 900;
    ApplyConfigurationValues(f.context, f.environment, v);
    EXPECT_EQ(f.engine.CycleCount.load(), 3);
    EXPECT_TRUE(f.settings.Ptz.AnyCamera);
    EXPECT_EQ(f.settings.Ptz.CurrentAddress, 21);

    EngineState engine;
    DeviceSettings loaded(f.folder.path, engine, f.notifier, {});
    ASSERT_TRUE(loaded.LoadDeviceConfig(f.settings.Config.DeviceName));
    const DeviceConfig &c = loaded.Config;
    EXPECT_EQ(c.Block.DetectionPeriod, 333);
    EXPECT_EQ(c.Block.CameraCount, 3);
    EXPECT_EQ(c.Block.SwitcherComPort, 2);
    EXPECT_EQ(c.Block.SnapshotLimit, 77);
    EXPECT_EQ(c.RemotePassword, "pw");
    EXPECT_EQ(c.RelayLogin, "relay-user");
    EXPECT_EQ(c.RelayPassword, "relay-pass");
    EXPECT_EQ(c.MailTo, "to@example.com");
    EXPECT_EQ(c.SmtpServer, "smtp.example.com");
    EXPECT_EQ(c.Block.AttachPicture, 1);
    EXPECT_EQ(c.LowDiskMail, 1);
    EXPECT_EQ(c.PtzComPort, 4);
    EXPECT_EQ(c.PtzBaud, 9600);
    EXPECT_EQ(c.PtzCamera, (PerCamera<uint8_t> { 0, 0, 1, 0, 1 }));
    EXPECT_EQ(c.RecordWindow, (TimeWindow { 8, 0, 17, 30 }));
    EXPECT_EQ(c.RolloverMBytes, 1);
    EXPECT_EQ(c.RecycleEnabled, 1);
    EXPECT_EQ(c.RecycleMBytes, 900);
    EXPECT_EQ(engine.SettleTime.load(), 333u);
    // Camera 4's address comes back from the profile.
    DeviceConfig fresh;
    ReadPtzAddress4(f.profile, fresh);
    EXPECT_EQ(fresh.PtzAddress[4], 24);
}

} // namespace
} // namespace vorlund
