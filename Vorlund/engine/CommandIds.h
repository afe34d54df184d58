#pragma once

// The server's command ids (menu 128, toolbar 160, the view's menus) and its status panes:
// the one table the frame, the view, the pan/tilt/zoom control and the tests share.

namespace vorlund {

namespace Cmd {
inline constexpr int Camera1 = 106; // 106-109 cameras 1-4
inline constexpr int Camera4 = 109;
inline constexpr int Device1 = 112; // 112-115 video device slots 1-4
inline constexpr int Device4 = 115;
inline constexpr int TvTuner = 119;
inline constexpr int AudioRecording = 125;
inline constexpr int ContextHelpTopic = 128;
inline constexpr int Start = 132;
inline constexpr int Stop = 133;
inline constexpr int VideoFormat = 137;
inline constexpr int Configuration = 141;
inline constexpr int TimedZones = 144;
inline constexpr int VideoCompression = 155;
inline constexpr int VideoCompression2 = 156;
inline constexpr int VideoCrossbar = 157;
inline constexpr int VideoSettings = 158;
inline constexpr int Review = 162;
inline constexpr int ViewErrorLog = 163;
inline constexpr int AlwaysOnTop = 165;
inline constexpr int ConfigureService = 166;
inline constexpr int ShowFilters = 32784;
inline constexpr int FileNew = 57600;
inline constexpr int PlayVideo = 57601;
inline constexpr int FileSave = 57603;
inline constexpr int RepairVideo = 57604;
inline constexpr int PrintSetup = 57606;
inline constexpr int Print = 57607;
inline constexpr int PrintPreview = 57609;
inline constexpr int About = 57664;
inline constexpr int Exit = 57665;
inline constexpr int OnlineHelp = 57667;
inline constexpr int ContextHelp = 57669;
inline constexpr int Help = 57670;
inline constexpr int DefaultHelp = 57671;
inline constexpr int ViewToolbar = 59392;
inline constexpr int ViewStatusBar = 59393;

constexpr int CameraCommand(int camera)
{
    return Camera1 + camera - 1;
}
constexpr int DeviceCommand(int slot) // slot 0-3
{
    return Device1 + slot;
}
} // namespace Cmd

// Status bar panes of the main frame.
inline constexpr int kPaneState = 101;
inline constexpr int kPaneCamera = 102;
inline constexpr int kPaneZone = 103;
inline constexpr int kStatusPanes[] = { kPaneState, kPaneCamera, kPaneZone };
// The frame's first pane: the capture device ("DV Cam - Audio OFF" for a camcorder), until the
// next prompt replaces it.
inline constexpr int kPaneDevice = 0;
// The text that first pane returns to whenever no command prompt is shown (the device name).
inline constexpr int kPaneIdlePrompt = 57345;

} // namespace vorlund
