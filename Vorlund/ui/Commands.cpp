#include "Commands.h"

#include <cctype>
#include <charconv>
#include <climits>

namespace vorlund {

namespace {

struct HelpRow
{
    int id;
    int buttonIndex;
    std::string_view title;
    std::string_view text;
};

// The two context-help texts differ only in their last line.
#define CONTEXT_HELP_LEAD                                                                          \
    "\n"                                                                                           \
    "To use Context Help, hit <SHIFT> <F1>,\n"                                                     \
    "the cursor will change, then\n"                                                               \
    "click on the button, box, or menu\n"                                                          \
    "item you need help with.\n"                                                                   \
    "\n"                                                                                           \
    "You can also click the ? symbol in\n"                                                         \
    "the upper-right corner of any Dialog box\n"

// The balloon of each command that has help; 108 and 109 have none.
constexpr HelpRow kHelp[] = {
    { Cmd::Camera1, 9, "Camera 1 Settings",
      "This will bring up the camera settings dialog box.\n"
      "Here you can change your motion detection sensitivity\n"
      "or turn on/off motion detection all while viewing the\n"
      "live image.\n"
      "If you have a TV card, this menu will present you with\n"
      "options to Record a TV show.\n" },
    { Cmd::Camera1 + 1, 10, "Camera 2 Settings",
      "This will bring up the camera settings dialog box.\n"
      "Here you can change your motion detection sensitivity\n"
      "or turn on/off motion detection all while viewing the\n"
      "live image.\n" },
    { Cmd::TvTuner, -1, "TV Tuner",
      "This will bring up the TV Tuner Settings dialog box.\n"
      "This dialog box is taken from your Video Capture card\n"
      "driver, and allows you to change channels on your TV card.\n"
      "Hot Key: t\n" },
    { Cmd::AudioRecording, -1, "Audio Recording",
      "This will bring up the Audio Recording dialog box.\n"
      "Here you can select which audio device to use for\n"
      "recording sound with video.\n"
      "For example, if you have a microphone attached to\n"
      "your computer, you could record the sounds made\n"
      "when motion was detected.\n"
      "MP3 audio compression will be selected automatically\n"
      "unless you are using 3ivx MPEG-4 filters then AAC\n"
      "compression will be used.\n" },
    { Cmd::ContextHelpTopic, 15, "Vorlund Context Help",
      CONTEXT_HELP_LEAD "to engage Context Help.\n" },
    { Cmd::Start, 0, "Start Mode",
      "This will start scanning for motion.\n"
      "Note: there are many settings and dialog boxes\n"
      "that can only be accessed when in Start mode." },
    { Cmd::Stop, 1, "Stop Mode",
      "This will stop all Vorlund functions.\n"
      "Note: there are many settings and dialog boxes\n"
      "that can only be accessed when in Stopped mode." },
    { Cmd::VideoFormat, 7, "Video Format",
      "This will bring up the camera Format dialog box.\n"
      "This dialog box is taken from your Video Capture card\n"
      "driver, and allows you to change your camera's output size,\n"
      "or output format, color format, and frame rate.\n"
      "These settings can have a major impact on the CPU work\n"
      "your computer must do and also the amount of disk space each\n"
      "video file will use.\n"
      "For example, a larger video (format) size will use more\n"
      "CPU to process the video. Also, a slower frame rate will use less.\n"
      "For Color/Space Compression, RGB24 is recommended, if not, try to use i420.\n" },
    { Cmd::Configuration, 4, "Configuration",
      "This will bring up the Configuration Dialog box.\n"
      "Here you can set your remote viewing modes, and\n"
      "passwords, set email parameters,\n"
      "set the directory to store your videos and images,\n"
      "access Advanced settings, and more.\n" },
    { Cmd::TimedZones, 5, "Mask Timed Zones",
      "This will bring up the Timed Zones dialog box.\n"
      "Drag the dialog box to the side so you can see the camera image.\n"
      "Then click on the white squares in the image to turn off that zone.\n"
      "\n"
      "When the zone is off, Vorlund will not record when there\n"
      "is motion in that zone.\n"
      "\n"
      "To make this easier, hold down the SHIFT key while clicking Next\n"
      "to copy this Zone's mask to the next Zone.\n"
      "\n"
      "Also, you can set the times that those zone settings will\n"
      "be in effect. Then click Next to set the next time zone\n"
      "and zone settings.\n"
      "\n" },
    { Cmd::VideoCompression, 6, "Video Compression",
      "This will bring up the Video Compression dialog box.\n"
      "Here you can change your video compression filter or\n"
      "use a Windows Media Profile that you create. Though more\n"
      "advanced, Windows Media Profiles are straight forward to\n"
      "use and offer better video quality compared to MPEG-4.\n"
      "\n"
      "By default, Vorlund asks for the WMVideo9 Encoder, which\n"
      "does not exist on Linux: it records with the MPEG-4 V3\n"
      "encoder instead, with the WMVideo9 settings' bit rate,\n"
      "key distance and quality.\n"
      "You may also use third-party video filters such as 3ivx, DivX,\n"
      "Dicas, etc, if installed.\n" },
    { Cmd::VideoCrossbar, -1, "Video Crossbar",
      "This will bring up the Video Crossbar dialog box.\n"
      "This dialog box is taken from your Video Capture card\n"
      "driver, and allows you to change which input gets used\n"
      "by Vorlund. Typically, Video Crossbars are found on TV cards\n"
      "where the TV tuner is one input, and Composite is another, etc.\n"
      "\n"
      "NOTE: when the TV Tuner is selected, Vorlund disables motion\n"
      "detection and instead allows you to Record TV shows to your\n"
      "computer's hard drive....like Tivo.\n"
      "Hot Key: x\n" },
    { Cmd::VideoSettings, -1, "Video Settings",
      "This will bring up the Video Settings dialog box.\n"
      "This dialog box is taken from your Video Capture card\n"
      "driver, and allows you to set video properties such as:\n"
      "Brightness, Contrast, Sharpness, etc." },
    { Cmd::Review, 2, "Review Mode",
      "This is Review Mode. You can hit Backspace to\n"
      "see previous snapshots, or hit SpaceBar\n"
      "to move forward through snapshots.\n"
      "You can also choose to review time-lapse images.\n"
      "\n"
      "Press SHIFT + <BackSpace> to Review 10 frames back\n"
      "and SHIFT + <SpaceBar> to go Forward 10 frames. \n"
      "\n"
      "To review another camera, click \n"
      "on that image, then use <BackSpace>/<SpaceBar>. \n" },
    { Cmd::ViewErrorLog, -1, "View Error Log", "This will open the Vorlund error log.\n" },
    { Cmd::AlwaysOnTop, 15, "Always On Top",
      "Check this to keep the Vorlund window visible\n"
      "above all other programs.\n" },
    { Cmd::ConfigureService, -1, "Configure Service",
      "This will bring up the Configure Service program.\n"
      "Here you can set Vorlund to run as a Service.\n"
      "For example, if your computer reboots due to a\n"
      "power outage, Vorlund will not start automatically\n"
      "unless it is run as a Service.\n"
      "This also allows you to run Vorlund in stealth mode.\n" },
    { Cmd::ShowFilters, 15, "Show Filters in Use",
      "This will show you which Video and Audio filters are\n"
      "in use.\n"
      "Hot Key: f\n" },
    { Cmd::PlayVideo, -1, "Play Video",
      "This will bring up the Play Video menu.\n"
      "Here you can select a video to play back.\n" },
    { Cmd::About, 14, "About Vorlund", "Vorlund Version information.\n" },
    { Cmd::ContextHelp, 15, "Vorlund Context Help", CONTEXT_HELP_LEAD "to engage context help.\n" },
};

struct PromptRow
{
    int id;
    CommandPrompt prompt;
};

constexpr PromptRow kPrompts[] = {
    { Cmd::Camera1, { "Camera 1 settings", "Camera 1" } },
    { Cmd::Camera1 + 1, { "Camera 2 settings", "Camera 2" } },
    { Cmd::Camera1 + 2, { "Camera 3 settings", "Camera 3" } },
    { Cmd::Camera4, { "Camera 4 settings", "Camera 4" } },
    { Cmd::TvTuner, { "TV tuner settings", "TV Tuner" } },
    { Cmd::AudioRecording, { "Choose the audio recording device", "Audio Recording" } },
    { Cmd::Start, { "Start detection", "Start" } },
    { Cmd::Stop, { "Stop detection", "Stop" } },
    { Cmd::VideoFormat, { "Camera format, size and frame rate", "Video Format" } },
    { Cmd::Configuration,
      { "Remote viewing, e-mail, folders and advanced settings", "Configuration" } },
    { Cmd::TimedZones, { "Motion masks and their times of day", "Timed Zones" } },
    { Cmd::VideoCompression, { "Choose the video compressor", "Video Compression" } },
    { Cmd::VideoCrossbar, { "Choose the capture card's video input", "Video Crossbar" } },
    { Cmd::VideoSettings,
      { "Brightness, contrast and the other video settings", "Video Settings" } },
    { Cmd::Review, { "Review snapshots and time-lapse pictures", "Review" } },
    { Cmd::ViewErrorLog, { "View Vorlund Error log", "Error Log" } },
    { Cmd::AlwaysOnTop, { "Keep the window above all other programs", "Always on Top" } },
    { Cmd::ConfigureService,
      { "Set Vorlund to start automatically - Stealth Mode", "Configure Service" } },
    { Cmd::ShowFilters, { "Show the video and audio filters in use", "Filters in Use" } },
    { Cmd::FileNew, { "Create a new document", "New" } },
    { Cmd::PlayVideo, { "Play a recorded video", "Play Video" } },
    { Cmd::FileSave, { "Save the active document", "Save" } },
    { Cmd::RepairVideo, { "Repair a damaged recording", "Repair Video" } },
    { Cmd::PrintSetup, { "Change the printer and printing options", "Page Setup" } },
    { Cmd::Print, { "Print the active document", "Print" } },
    { Cmd::PrintPreview, { "Display full pages", "Print Preview" } },
    { Cmd::About, { "Display program information, version number and copyright", "About" } },
    { Cmd::Exit, { "Quit the application", "Exit" } },
    { Cmd::OnlineHelp, { "Open the online tutorial", "Online Help" } },
    { Cmd::ContextHelp, { "Display help for clicked on buttons, menus and windows", "Help" } },
    { Cmd::ViewToolbar, { "Show or hide the toolbar", "Toggle ToolBar" } },
    { Cmd::ViewStatusBar, { "Show or hide the status bar", "Toggle StatusBar" } },
};

// The commands the frame routes or whose state it knows; every other command is the view's.
struct CommandRule
{
    int id;
    CommandRoute route;
    CommandUi state;
};

constexpr CommandRule kRules[] = {
    { Cmd::PlayVideo, CommandRoute::View, CommandUi::Enabled },
    { Cmd::ShowFilters, CommandRoute::View, CommandUi::Enabled },
    { Cmd::ViewErrorLog, CommandRoute::ViewErrorLog, CommandUi::Enabled },
    { Cmd::RepairVideo, CommandRoute::RunRepairUtility, CommandUi::Enabled },
    { Cmd::ConfigureService, CommandRoute::RunServanto, CommandUi::Enabled },
    { Cmd::ViewToolbar, CommandRoute::ToggleToolbar, CommandUi::ToolbarShown },
    { Cmd::ViewStatusBar, CommandRoute::ToggleStatusBar, CommandUi::StatusBarShown },
    { Cmd::About, CommandRoute::About, CommandUi::Enabled },
    { Cmd::OnlineHelp, CommandRoute::OnlineHelp, CommandUi::Enabled },
    { Cmd::DefaultHelp, CommandRoute::OnlineHelp, CommandUi::Enabled },
    { Cmd::Help, CommandRoute::Help, CommandUi::Enabled },
    { Cmd::ContextHelp, CommandRoute::ContextHelp, CommandUi::Enabled },
    { Cmd::Exit, CommandRoute::Exit, CommandUi::Enabled },
    { Cmd::FileNew, CommandRoute::Disabled, CommandUi::Disabled },
    { Cmd::FileSave, CommandRoute::Disabled, CommandUi::Disabled },
    { Cmd::PrintSetup, CommandRoute::Disabled, CommandUi::Disabled },
    { Cmd::Print, CommandRoute::Disabled, CommandUi::Disabled },
    { Cmd::PrintPreview, CommandRoute::Disabled, CommandUi::Disabled },
};

const CommandRule *FindRule(int id)
{
    for (const CommandRule &rule : kRules)
        if (rule.id == id)
            return &rule;
    return nullptr;
}

} // namespace

std::string_view PaneWidthText(int pane)
{
    switch (pane) {
    case 101:
        return "5-Remote";
    case 102:
        return "0";
    case 103:
        return "z0";
    default:
        return "";
    }
}

CommandRoute RouteCommand(int id)
{
    const CommandRule *rule = FindRule(id);
    // Cameras (WM_CAMERA_SETTINGS), devices and the view's own commands go to the view.
    return rule ? rule->route : CommandRoute::View;
}

CommandUi CommandUiRule(int id)
{
    const CommandRule *rule = FindRule(id);
    return rule ? rule->state : CommandUi::FromView;
}

CommandPrompt PromptFor(int id)
{
    for (const PromptRow &row : kPrompts)
        if (row.id == id)
            return row.prompt;
    return {};
}

ContextHelpEntry ContextHelpFor(int id)
{
    for (const HelpRow &row : kHelp)
        if (row.id == id) {
            const bool longer = id == Cmd::ContextHelpTopic || id == Cmd::ContextHelp;
            return { row.title, row.text, row.buttonIndex, longer ? 2000 : 1000 };
        }
    return { kNoHelpTitle, kNoHelpText, -1, 1000 };
}

int ParseDeviceSwitch(const std::vector<std::string> &args)
{
    int device = -1;
    for (const std::string &arg : args) {
        if (arg.size() < 3 || (arg[0] != '-' && arg[0] != '/') || arg[1] != 'd')
            continue;
        // Like atoi: blanks, a sign and the digits that follow; no digits read as 0.
        std::string_view rest = std::string_view(arg).substr(2);
        size_t i = 0;
        while (i < rest.size() && std::isspace(static_cast<unsigned char>(rest[i])))
            ++i;
        rest.remove_prefix(i);
        if (!rest.empty() && rest[0] == '+')
            rest.remove_prefix(1);
        int value = 0;
        const auto [end, ec] = std::from_chars(rest.data(), rest.data() + rest.size(), value);
        (void)end;
        device = ec == std::errc::result_out_of_range ? -1 : value;
    }
    return device;
}

std::string WorkingFolderFrom(std::string_view currentDirectory)
{
    while (!currentDirectory.empty() && currentDirectory.back() == '/')
        currentDirectory.remove_suffix(1);
    return std::string(currentDirectory);
}

std::string FourPartVersion(std::string_view dotted)
{
    int parts[4] = { 0, 0, 0, 0 };
    for (int &part : parts) {
        const size_t dot = dotted.find('.');
        const std::string_view piece = dotted.substr(0, dot);
        int value = 0;
        const auto [end, ec] = std::from_chars(piece.data(), piece.data() + piece.size(), value);
        part = ec == std::errc() && end == piece.data() + piece.size() && value >= 0 ? value : 0;
        if (dot == std::string_view::npos)
            break;
        dotted.remove_prefix(dot + 1);
    }
    return std::to_string(parts[0]) + "." + std::to_string(parts[1]) + "."
        + std::to_string(parts[2]) + "." + std::to_string(parts[3]);
}

std::string ProgramVersionText(std::string_view buildVersion)
{
    return "Vorlund Version " + FourPartVersion(buildVersion);
}

std::string GraphicsVersionText(std::string_view jpegLibraryVersion)
{
    return "Graphics Version " + std::string(jpegLibraryVersion);
}

} // namespace vorlund
