#pragma once

// The program shell's tables, free of widgets: command ids, where a chosen command goes, how
// a menu item or toolbar button gets its state, the context-help texts, the command line and
// the version text.

#include "CommandIds.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vorlund {

// Text that sets each pane's width.
std::string_view PaneWidthText(int pane);

// Where a chosen command goes.
enum class CommandRoute {
    View, // the view's own handler (it also posts WM_CAMERA_SETTINGS, WM_SHOW_FILTERS ...)
    ViewErrorLog,
    RunRepairUtility,
    RunServanto,
    ToggleToolbar, // the view notes the change first, then the frame toggles
    ToggleStatusBar,
    About,
    OnlineHelp,
    Help, // F1: the context-help topic's balloon
    ContextHelp, // Shift+F1: what's-this mode
    Exit,
    Disabled, // never runs
};
CommandRoute RouteCommand(int id);

// How a command's menu item and button get their state.
enum class CommandUi {
    Enabled,
    Disabled,
    FromView, // IFrameClient::IsCommandEnabled / IsCommandChecked
    ToolbarShown, // enabled, checked while the toolbar shows
    StatusBarShown,
};
CommandUi CommandUiRule(int id);

// The status-bar prompt and the tool tip of a command ("prompt\ntip" resources).
struct CommandPrompt
{
    std::string_view statusText;
    std::string_view toolTip;
};
CommandPrompt PromptFor(int id);

// Context help of a command: its balloon's title, text, the toolbar position it points at
// (-1: the view's centre) and how long it stays.
struct ContextHelpEntry
{
    std::string_view title;
    std::string_view text;
    int buttonIndex = -1;
    int timeoutMs = 1000;
};
ContextHelpEntry ContextHelpFor(int id);
inline constexpr std::string_view kNoHelpTitle = "No Help on this item.";
inline constexpr std::string_view kNoHelpText = "Click on a button or menu item.";

// The device number of the command line: the last "-dN" or "/dN" switch (a "d" and at least
// one more character); -1 without one. The digits after the "d" are read like atoi; a number
// too long for an int reads as -1, which the view ignores like any number outside 1-4.
int ParseDeviceSwitch(const std::vector<std::string> &args);

// The working folder: the current directory with trailing "/" removed; "" for the root,
// which is never used as one.
std::string WorkingFolderFrom(std::string_view currentDirectory);

// "a.b.c.d" from a dotted version; a missing or unreadable part is 0.
std::string FourPartVersion(std::string_view dotted);
// The About box's two texts: "Vorlund Version a.b.c.d" and "Graphics Version x.y.z".
std::string ProgramVersionText(std::string_view buildVersion);
std::string GraphicsVersionText(std::string_view jpegLibraryVersion);

} // namespace vorlund
