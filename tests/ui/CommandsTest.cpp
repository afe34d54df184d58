#include "Commands.h"

#include <gtest/gtest.h>

#include <set>

namespace vorlund {
namespace {

TEST(CommandLine, DeviceSwitchTable)
{
    struct Case
    {
        std::vector<std::string> args;
        int device;
    };
    const Case cases[] = {
        { {}, -1 },
        { { "-d3" }, 3 },
        { { "/d3" }, 3 },
        { { "-d" }, -1 }, // a lone d is no device switch
        { { "/d" }, -1 },
        { { "-x3" }, -1 },
        { { "d3" }, -1 }, // not a switch
        { { "-D3" }, -1 },
        { { "-d0" }, 0 }, // kept; the view takes only 1-4
        { { "-d9" }, 9 },
        { { "-d2x" }, 2 }, // the digits that lead
        { { "-dx" }, 0 },
        { { "-d-2" }, -2 },
        { { "-d99999999999999999999" }, -1 }, // too long for a number: ignored like d0
        { { "-d1", "file.avi", "/d4" }, 4 }, // the last switch counts
        { { "-d2", "-d" }, 2 },
    };
    for (const Case &c : cases) {
        std::string line;
        for (const std::string &a : c.args)
            line += a + " ";
        EXPECT_EQ(ParseDeviceSwitch(c.args), c.device) << line;
    }
}

TEST(Commands, RoutingAndState)
{
    // New, Save, Print, Print Setup and Print Preview can never run.
    for (int id : { Cmd::FileNew, Cmd::FileSave, Cmd::PrintSetup, Cmd::Print, Cmd::PrintPreview }) {
        EXPECT_EQ(RouteCommand(id), CommandRoute::Disabled) << id;
        EXPECT_EQ(CommandUiRule(id), CommandUi::Disabled) << id;
    }
    // Cameras, devices and the view's own commands go to the view, which decides their state;
    // Play Video and Show Filters go there too but are always enabled.
    for (int id : { Cmd::Camera1, Cmd::Camera4, Cmd::Device1, Cmd::Start, Cmd::AlwaysOnTop,
                    Cmd::AudioRecording }) {
        EXPECT_EQ(RouteCommand(id), CommandRoute::View) << id;
        EXPECT_EQ(CommandUiRule(id), CommandUi::FromView) << id;
    }
    for (int id : { Cmd::PlayVideo, Cmd::ShowFilters }) {
        EXPECT_EQ(RouteCommand(id), CommandRoute::View) << id;
        EXPECT_EQ(CommandUiRule(id), CommandUi::Enabled) << id;
    }
    // Both help ids open the tutorial.
    EXPECT_EQ(RouteCommand(Cmd::OnlineHelp), CommandRoute::OnlineHelp);
    EXPECT_EQ(RouteCommand(Cmd::DefaultHelp), CommandRoute::OnlineHelp);
    EXPECT_EQ(CommandUiRule(Cmd::ViewToolbar), CommandUi::ToolbarShown);
}

TEST(Commands, ContextHelpTable)
{
    // Every toolbar position the table names, and the long-lived balloons.
    struct Case
    {
        int id;
        std::string_view title;
        int button;
        int timeout;
    };
    const Case cases[] = {
        { 106, "Camera 1 Settings", 9, 1000 },
        { 107, "Camera 2 Settings", 10, 1000 },
        { 108, kNoHelpTitle, -1, 1000 },
        { 109, kNoHelpTitle, -1, 1000 },
        { 119, "TV Tuner", -1, 1000 },
        { 128, "Vorlund Context Help", 15, 2000 },
        { 132, "Start Mode", 0, 1000 },
        { 133, "Stop Mode", 1, 1000 },
        { 137, "Video Format", 7, 1000 },
        { 141, "Configuration", 4, 1000 },
        { 144, "Mask Timed Zones", 5, 1000 },
        { 155, "Video Compression", 6, 1000 },
        { 162, "Review Mode", 2, 1000 },
        { 165, "Always On Top", 15, 1000 },
        { 32784, "Show Filters in Use", 15, 1000 },
        { 57601, "Play Video", -1, 1000 },
        { 57664, "About Vorlund", 14, 1000 },
        { 57669, "Vorlund Context Help", 15, 2000 },
        { 0, kNoHelpTitle, -1, 1000 },
    };
    for (const Case &c : cases) {
        const ContextHelpEntry e = ContextHelpFor(c.id);
        EXPECT_EQ(e.title, c.title) << c.id;
        EXPECT_EQ(e.buttonIndex, c.button) << c.id;
        EXPECT_EQ(e.timeoutMs, c.timeout) << c.id;
    }
    EXPECT_EQ(ContextHelpFor(0).text, kNoHelpText);
    EXPECT_EQ(ContextHelpFor(163).text, "This will open the Vorlund error log.\n");
    const std::string_view topic = ContextHelpFor(128).text;
    const std::string_view mode = ContextHelpFor(57669).text;
    EXPECT_TRUE(topic.ends_with("Dialog box\nto engage Context Help.\n"));
    EXPECT_TRUE(mode.ends_with("Dialog box\nto engage context help.\n"));
    EXPECT_EQ(topic.substr(0, topic.size() - 24), mode.substr(0, mode.size() - 24));
}

TEST(Commands, PromptsSplitIntoStatusTextAndTip)
{
    EXPECT_EQ(PromptFor(132).statusText, "Start detection");
    EXPECT_EQ(PromptFor(132).toolTip, "Start");
    EXPECT_EQ(PromptFor(163).statusText, "View Vorlund Error log");
    EXPECT_EQ(PromptFor(166).statusText, "Set Vorlund to start automatically - Stealth Mode");
    EXPECT_EQ(PromptFor(12345).statusText, "");
}

TEST(Commands, VersionsAndWorkingFolder)
{
    EXPECT_EQ(FourPartVersion("0.1.0"), "0.1.0.0");
    EXPECT_EQ(FourPartVersion("1.2.3.4"), "1.2.3.4");
    EXPECT_EQ(FourPartVersion("2"), "2.0.0.0");
    EXPECT_EQ(FourPartVersion(""), "0.0.0.0");
    EXPECT_EQ(FourPartVersion("1.x.3"), "1.0.3.0");
    EXPECT_EQ(FourPartVersion("1.2.3.4.5"), "1.2.3.4");
    EXPECT_EQ(ProgramVersionText("0.1.0"), "Vorlund Version 0.1.0.0");
    EXPECT_EQ(GraphicsVersionText("2.1.5"), "Graphics Version 2.1.5");

    EXPECT_EQ(WorkingFolderFrom("/home/user/run"), "/home/user/run");
    EXPECT_EQ(WorkingFolderFrom("/home/user/run//"), "/home/user/run");
    EXPECT_EQ(WorkingFolderFrom("/"), "");
    EXPECT_EQ(WorkingFolderFrom(""), "");
}

TEST(Commands, PaneWidths)
{
    EXPECT_EQ(PaneWidthText(101), "5-Remote");
    EXPECT_EQ(PaneWidthText(102), "0");
    EXPECT_EQ(PaneWidthText(103), "z0");
}

} // namespace
} // namespace vorlund
