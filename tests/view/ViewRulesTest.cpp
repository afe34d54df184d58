#include "ViewCommands.h"

#include <gtest/gtest.h>

using namespace vorlund;

TEST(ViewRules, StartupDeviceChoice)
{
    struct Case
    {
        int profileId, commandLine;
        std::string last;
        std::array<std::string, 4> names;
        int expected;
    };
    const Case cases[] = {
        { 112, 2, "", { "A", "", "", "" }, 112 }, // device 2 asked, only one: stepped down
        { 112, -1, "C", { "A", "B", "C", "" }, 114 }, // the remembered name is the third
        { 113, -1, "gone", { "A", "B", "", "" }, 113 }, // no match: the profile's id stays
        { 115, -1, "", { "A", "", "", "" }, 112 }, // stepped down past three missing slots
        { 112, 4, "A", { "A", "B", "C", "D" }, 115 }, // the command line wins
        { 112, 9, "", { "A", "B", "", "" }, 112 }, // only 1-4 count
        { 999, -1, "", { "A", "B", "", "" }, 112 },
    };
    for (const Case &c : cases)
        EXPECT_EQ(ChooseStartupDevice(c.profileId, c.commandLine, c.last, c.names), c.expected)
            << c.profileId << " " << c.commandLine << " " << c.last;
}

TEST(ViewRules, CommandEnabling)
{
    CommandState stopped;
    stopped.device = stopped.ready = true;
    CommandState running = stopped;
    running.idle = false;
    CommandState notReady = stopped;
    notReady.ready = false;

    struct Case
    {
        int id;
        bool stoppedDisabled, runningDisabled, notReadyDisabled;
    };
    const Case cases[] = {
        { ID_START, false, true, true },
        { ID_STOP, true, false, true },
        { ID_TIMED_ZONES, true, false, true },
        { ID_CONFIGURATION, false, true, true },
        { ID_VIDEO_FORMAT, false, true, false },
        { ID_VIDEO_COMPRESSION, false, true, false },
        { ID_VIDEO_CROSSBAR, false, false, false },
        { ID_TV_TUNER, true, true, true },
        { ID_AUDIO_RECORDING, true, true, true },
        { ID_REVIEW, false, false, false },
        { ID_PLAY_VIDEO, false, false, false },
    };
    for (const Case &c : cases) {
        EXPECT_EQ(ViewCommandDisabled(c.id, stopped), c.stoppedDisabled) << c.id;
        EXPECT_EQ(ViewCommandDisabled(c.id, running), c.runningDisabled) << c.id;
        EXPECT_EQ(ViewCommandDisabled(c.id, notReady), c.notReadyDisabled) << c.id;
    }
    CommandState tv = running;
    tv.tvMode = true;
    EXPECT_FALSE(ViewCommandDisabled(ID_TV_TUNER, tv));
    EXPECT_TRUE(ViewCommandDisabled(ID_REVIEW, tv));
    EXPECT_TRUE(ViewCommandDisabled(ID_TIMED_ZONES, tv));
}
