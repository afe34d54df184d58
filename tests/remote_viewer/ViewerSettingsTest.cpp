#include "ViewerSettings.h"
#include "ShellRules.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <memory>

using namespace vorlund::viewer;

namespace {

class ViewerSettingsTest : public ::testing::Test
{
protected:
    std::unique_ptr<QSettings> Store()
    {
        return std::make_unique<QSettings>(dir.filePath("Vorlund-Remote.conf"),
                                           QSettings::IniFormat);
    }
    QTemporaryDir dir;
};

TEST_F(ViewerSettingsTest, FirstStartGivesTheDefaults)
{
    const ViewerSettings s = LoadViewerSettings(*Store());
    EXPECT_EQ(s.hosts[0], "127.0.0.1");
    EXPECT_EQ(s.port, 49330);
    EXPECT_EQ(s.quality, 45);
    EXPECT_EQ(s.cameraOn, (std::array<bool, 4> { true, true, true, true }));
    EXPECT_EQ(s.mode, 0);
    EXPECT_TRUE(s.beep);
    EXPECT_FALSE(s.windowOnTop);
    EXPECT_EQ(s.imageWidth, 320);
    EXPECT_EQ(s.imageHeight, 240);
    EXPECT_EQ(s.link.lookupPort, 80);
    EXPECT_EQ(s.link.relayPort, 443);
    EXPECT_FALSE(LoadFrameRect(*Store()));
}

// Stored values as another program (or an older viewer) may have left them.
TEST_F(ViewerSettingsTest, StoredValuesAreReadByTheirRules)
{
    const struct
    {
        const char *key;
        QVariant stored;
        int ViewerSettings::*field;
        int expected;
    } cases[] = {
        { "Quality", 42, &ViewerSettings::quality, 45 },
        { "Quality", 57, &ViewerSettings::quality, 55 },
        { "Quality", 90, &ViewerSettings::quality, 90 },
        { "Quality", 4, &ViewerSettings::quality, 45 },
        { "Quality", 95, &ViewerSettings::quality, 45 },
        { "Quality", "many", &ViewerSettings::quality, 45 },
        { "Host Port", "8080", &ViewerSettings::port, 8080 },
        { "Host Port", "0", &ViewerSettings::port, 49330 },
        { "Host Port", "65536", &ViewerSettings::port, 49330 },
        { "Host Port", "port", &ViewerSettings::port, 49330 },
        { "Mode", 7, &ViewerSettings::mode, 1 },
        { "Image/Width", 360, &ViewerSettings::imageWidth, 320 },
        { "Image/Width", 480, &ViewerSettings::imageWidth, 480 },
        { "Image/Width", 720, &ViewerSettings::imageWidth, 320 },
        { "Image/Width", 400, &ViewerSettings::imageWidth, 320 }, // height 360 does not match
    };
    for (const auto &c : cases) {
        QFile::remove(dir.filePath("Vorlund-Remote.conf"));
        {
            auto store = Store();
            store->setValue("Image/Height", 360);
            store->setValue(c.key, c.stored);
        }
        const ViewerSettings s = LoadViewerSettings(*Store());
        EXPECT_EQ(s.*c.field, c.expected) << c.key << " = " << c.stored.toString().toStdString();
        if (s.imageWidth == 320) {
            EXPECT_EQ(s.imageHeight, 240);
        }
    }
}

TEST_F(ViewerSettingsTest, RoundTripKeepsShortEntriesOutOfTheStore)
{
    {
        auto store = Store();
        store->setValue("Host IP2", "10.0.0.22");
        store->setValue("Email", "old@example.org");
    }
    ViewerSettings s;
    s.hosts = { "192.168.1.7", "host", "10.1.1.3" };
    s.port = 5000;
    s.loginId = "a@b";
    s.quality = 60;
    s.cameraOn = { true, false, true, false };
    s.mode = 1;
    s.beep = false;
    s.windowOnTop = true;
    s.imageWidth = 640;
    s.imageHeight = 480;
    s.link.lookupHost = "lookup.test";
    s.link.lookupPort = 8081;
    s.link.relayPort = 8443;
    SaveViewerSettings(*Store(), s);
    SaveFrameRect(*Store(), { 10, 20, 510, 700 });

    ViewerSettings expected = s;
    expected.hosts[1] = "10.0.0.22"; // "host" is too short to be written
    expected.loginId = "old@example.org";
    const ViewerSettings back = LoadViewerSettings(*Store());
    EXPECT_EQ(back.hosts, expected.hosts);
    EXPECT_EQ(back.loginId, expected.loginId);
    EXPECT_EQ(back.port, 5000);
    EXPECT_EQ(back.quality, 60);
    EXPECT_EQ(back.cameraOn, s.cameraOn);
    EXPECT_EQ(back.mode, 1);
    EXPECT_FALSE(back.beep);
    EXPECT_TRUE(back.windowOnTop);
    EXPECT_EQ(back.imageWidth, 640);
    EXPECT_EQ(back.imageHeight, 480);
    EXPECT_EQ(back.link.lookupHost, "lookup.test");
    EXPECT_EQ(back.link.lookupPort, 8081);
    EXPECT_EQ(back.link.relayPort, 8443);
    const auto rect = LoadFrameRect(*Store());
    ASSERT_TRUE(rect);
    EXPECT_EQ(rect->right, 700);
}

TEST_F(ViewerSettingsTest, FrameRectangleNeedsAllFourSidesTheRightWayRound)
{
    SaveFrameRect(*Store(), { 500, 20, 10, 700 }); // top below bottom
    EXPECT_FALSE(LoadFrameRect(*Store()));
    SaveFrameRect(*Store(), { 10, 20, 500, 700 });
    Store()->remove("Frame/Left");
    EXPECT_FALSE(LoadFrameRect(*Store()));
}

TEST(ShellRules, QualityFromTheConfigurationDialog)
{
    const std::pair<int, int> cases[]
        = { { 90, 60 }, { 56, 60 }, { 55, 55 }, { 52, 50 }, { 42, 45 }, { 40, 45 }, { 5, 5 } };
    for (auto [entered, taken] : cases)
        EXPECT_EQ(ConfiguredQuality(entered), taken) << entered;
}

TEST(ShellRules, HostListMostRecentFirst)
{
    const struct
    {
        const char *chosen;
        std::array<QString, 3> after;
    } cases[] = { { "d", { "d", "a", "b" } },
                  { "b", { "b", "a", "c" } },
                  { "a", { "a", "b", "c" } },
                  { "c", { "c", "a", "b" } } };
    for (const auto &c : cases) {
        std::array<QString, 3> hosts { "a", "b", "c" };
        PushHost(hosts, c.chosen);
        EXPECT_EQ(hosts, c.after) << c.chosen;
    }
}

TEST(ShellRules, WorkingFolderLosesTrailingJunk)
{
    EXPECT_EQ(WorkingFolder("/home/u/cams/"), "/home/u/cams");
    EXPECT_EQ(WorkingFolder("/home/u/cams :*?//"), "/home/u/cams");
    EXPECT_EQ(WorkingFolder("/"), std::nullopt);
    EXPECT_EQ(WorkingFolder(""), std::nullopt);
}

TEST(ShellRules, StoredRectangleStaysReachable)
{
    const QRect work(0, 30, 1920, 1050);
    const QSize screen(1920, 1080);
    const QSize icon(32, 32);
    EXPECT_EQ(PlaceFrame({ 100, 200, 600, 900 }, work, screen, icon), QRect(200, 130, 700, 500));
    EXPECT_EQ(PlaceFrame({ 5000, 5000, 5500, 5700 }, work, screen, icon),
              QRect(1888, 1048, 700, 500));
    EXPECT_EQ(PlaceFrame({ -900, -900, -400, -200 }, work, screen, icon),
              QRect(32 - 700, 0, 700, 500));
}

} // namespace
