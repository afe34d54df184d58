#include "ViewCommands.h"

namespace vorlund {

bool ViewCommandDisabled(int id, const CommandState &s)
{
    if (id >= Cmd::Camera1 && id <= Cmd::Camera4)
        return id - Cmd::Camera1 + 1 > s.cameraCount || s.reviewMode;
    // Only an enumerated device can be picked, and only while capture is stopped.
    if (id >= Cmd::Device1 && id <= Cmd::Device4)
        return !s.idle || !s.deviceSlots[size_t(id - Cmd::Device1)];
    switch (id) {
    case Cmd::TvTuner:
        return s.idle || !s.tvMode || !s.device;
    case Cmd::AudioRecording:
        return !s.idle || !s.audioDevice;
    case Cmd::Start:
        return !s.idle || !s.ready;
    case Cmd::Stop:
        return s.idle;
    case Cmd::VideoFormat:
        return !s.idle || !s.device;
    case Cmd::Configuration:
        return !s.idle || !s.ready || !s.device;
    case Cmd::TimedZones:
        return !s.ready || s.idle || s.reviewMode || s.tvMode;
    case Cmd::VideoCompression:
    case Cmd::VideoCompression2:
        return !s.idle || !s.device;
    case Cmd::VideoCrossbar:
    case Cmd::VideoSettings:
        return !s.device;
    case Cmd::Review:
        return s.tvMode || s.camSettingsOpen || s.timedZonesOpen;
    default:
        return false;
    }
}

bool ViewCommandChecked(int id, const CommandState &s)
{
    if (id >= Cmd::Device1 && id <= Cmd::Device4)
        return id == s.deviceCommandId;
    return id == Cmd::AlwaysOnTop && s.windowOnTop;
}

int ChooseStartupDevice(int profileId, int commandLineDevice, const std::string &lastDeviceName,
                        const std::array<std::string, 4> &names)
{
    int id = profileId >= Cmd::Device1 && profileId <= Cmd::Device4 ? profileId : Cmd::Device1;
    if (commandLineDevice >= 1 && commandLineDevice <= 4) {
        id = Cmd::DeviceCommand(commandLineDevice - 1);
    } else if (!lastDeviceName.empty()) {
        for (size_t i = 0; i < names.size(); ++i) {
            if (names[i] == lastDeviceName) {
                id = Cmd::DeviceCommand(int(i));
                break;
            }
        }
    }
    for (int slot = 3; slot >= 1; --slot) {
        if (id == Cmd::DeviceCommand(slot) && names[size_t(slot)].empty())
            id = Cmd::DeviceCommand(slot - 1);
    }
    return id;
}

} // namespace vorlund
