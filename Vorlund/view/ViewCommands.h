#pragma once

#include "CommandIds.h"

#include <array>
#include <string>

namespace vorlund {

// What the enabling rules look at.
struct CommandState
{
    bool idle = true;
    bool device = false; // a first or second video device exists
    bool ready = false; // the device opened
    bool tvMode = false;
    bool reviewMode = false; // as of the last status tick
    bool audioDevice = false;
    bool camSettingsOpen = false;
    bool timedZonesOpen = false;
    int cameraCount = 1;
    std::array<bool, 4> deviceSlots {}; // which device slots hold an enumerated name
    int deviceCommandId = Cmd::Device1; // the current device
    bool windowOnTop = false;
};

// True when the view disables the command in this state; false leaves it to its handler.
bool ViewCommandDisabled(int id, const CommandState &state);
// The check mark of the view's commands: the current device, Always on Top.
bool ViewCommandChecked(int id, const CommandState &state);

// The device command id to open at start-up: the command line's device 1-4, else the device
// whose name the profile remembers, else the profile's id; then stepped down past devices that
// are not there.
int ChooseStartupDevice(int profileId, int commandLineDevice, const std::string &lastDeviceName,
                        const std::array<std::string, 4> &deviceNames);

} // namespace vorlund
