#pragma once

#include <array>
#include <string>

namespace vorlund {

// Command ids of the view's menus and toolbar.
enum ViewCommand : int {
    ID_CAMERA_1 = 106,
    ID_CAMERA_4 = 109,
    ID_DEVICE_FIRST = 112,
    ID_DEVICE_LAST = 115,
    ID_TV_TUNER = 119,
    ID_AUDIO_RECORDING = 125,
    ID_START = 132,
    ID_STOP = 133,
    ID_VIDEO_FORMAT = 137,
    ID_CONFIGURATION = 141,
    ID_TIMED_ZONES = 144,
    ID_VIDEO_COMPRESSION = 155,
    ID_VIDEO_COMPRESSION_2 = 156,
    ID_VIDEO_CROSSBAR = 157,
    ID_VIDEO_SETTINGS = 158,
    ID_REVIEW = 162,
    ID_ALWAYS_ON_TOP = 165,
    ID_SHOW_FILTERS = 32784,
    ID_PLAY_VIDEO = 57601,
    ID_REPAIR_VIDEO = 57604,
};

// What the enabling rules look at.
struct CommandState
{
    bool idle = true;
    bool device = false; // a first or second video device exists
    bool ready = false; // the device opened
    bool tvMode = false;
    bool reviewMode = false;
    bool audioDevice = false;
    bool camSettingsOpen = false;
    bool timedZonesOpen = false;
};

// True when the view disables the command in this state; false leaves it to its handler.
bool ViewCommandDisabled(int id, const CommandState &state);

// The device command id to open at start-up: the command line's device 1-4, else the device
// whose name the profile remembers, else the profile's id; then stepped down past devices that
// are not there.
int ChooseStartupDevice(int profileId, int commandLineDevice, const std::string &lastDeviceName,
                        const std::array<std::string, 4> &deviceNames);

} // namespace vorlund
