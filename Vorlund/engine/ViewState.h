#pragma once

#include "CommandIds.h"
#include "Profile.h"
#include "ZoneGrid.h"

#include <array>
#include <cstdint>
#include <filesystem>
#include <string>

namespace vorlund {

// The view's fields that more than one topic touches. UI thread only: the streaming thread
// never sees this record (what it shares lives in EngineState).
struct ViewState
{
    // --- Run state -----------------------------------------------------------------------
    bool Idle = true; // capture stopped
    bool DeviceReady = false; // a device opened and its graph was built
    bool ShuttingDown = false; // the window is closing: no restart, no new work
    // Set when a graph abort asks for a restart; cleared by a manual Start or Stop and by the
    // restart itself. RestartStamp is when it was asked for (the 30 s rule reads it too).
    bool RestartPending = false;
    uint32_t RestartStamp = 0;
    // This run was started by the restart timer (cleared by StopCapture and the status tick).
    bool RestartMark = false;
    bool TvTimerSet = false; // a TV recording was started from the TV dialog
    // Disk action taken this run: 0 none, 1 low-space mail queued, 2 capture stopped.
    // StartCapture resets it.
    int DiskWarnedLevel = 0;

    // --- Devices -------------------------------------------------------------------------
    int DeviceCommandId = Cmd::Device1;
    int PreviousDeviceCommandId = Cmd::Device1;
    std::array<std::string, 4> VideoDeviceNames {};
    std::array<std::string, 4> AudioDeviceNames {};
    // A serial switcher answered the probe, or the card's inputs do the switching.
    bool SwitcherPresent = false;

    // --- Folders -------------------------------------------------------------------------
    std::filesystem::path WorkingFolder;
    std::filesystem::path VideoFolder;

    // --- Profile values read at start-up (and written back with every settings save) ---
    ProfileSettings Startup;

    // --- Display -------------------------------------------------------------------------
    // The picture size the tiles are drawn at: the capture size, or the intro picture's.
    int DisplayWidth = 320;
    int DisplayHeight = 240;
    bool IntroShown = false;
    // "FPS = ..." line of the filters balloon: the source's measured rate, or "FPS = na\n".
    std::string FrameRateText = "FPS = na\n";
    ZoneGrid Grid;
    bool AudioDevicePresent = false;
    bool HasVideoSettingsPage = false;
    bool HasTvTuner = false;

    // --- Window ----------------------------------------------------------------------------
    // Set by the View menu's toolbar and status bar toggles; the status tick redoes the layout.
    bool ToolbarChanged = false;
    bool StatusBarChanged = false;

    // --- Dialogs -------------------------------------------------------------------------
    bool CamSettingsOpen = false;
    bool TimedZonesOpen = false;
    int EditZone = 0; // zone shown in Timed Zones, 0 when none
    int ReviewCamera = 1; // the camera whose stored pictures review mode shows
    bool PropertyPageOpen = false;
    bool ConfigurationOpen = false;
    bool CodecDialogOpen = false;
};

} // namespace vorlund
