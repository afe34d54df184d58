#include "ViewCommands.h"

namespace vorlund {

bool ViewCommandDisabled(int id, const CommandState &s)
{
    switch (id) {
    case ID_TV_TUNER:
        return s.idle || !s.tvMode || !s.device;
    case ID_AUDIO_RECORDING:
        return !s.idle || !s.audioDevice;
    case ID_START:
        return !s.idle || !s.ready;
    case ID_STOP:
        return s.idle;
    case ID_VIDEO_FORMAT:
        return !s.idle || !s.device;
    case ID_CONFIGURATION:
        return !s.idle || !s.ready || !s.device;
    case ID_TIMED_ZONES:
        return !s.ready || s.idle || s.reviewMode || s.tvMode;
    case ID_VIDEO_COMPRESSION:
    case ID_VIDEO_COMPRESSION_2:
        return !s.idle || !s.device;
    case ID_VIDEO_CROSSBAR:
    case ID_VIDEO_SETTINGS:
        return !s.device;
    case ID_REVIEW:
        return s.tvMode || s.camSettingsOpen || s.timedZonesOpen;
    default:
        return false;
    }
}

int ChooseStartupDevice(int profileId, int commandLineDevice, const std::string &lastDeviceName,
                        const std::array<std::string, 4> &names)
{
    int id
        = profileId >= ID_DEVICE_FIRST && profileId <= ID_DEVICE_LAST ? profileId : ID_DEVICE_FIRST;
    if (commandLineDevice >= 1 && commandLineDevice <= 4) {
        id = 111 + commandLineDevice;
    } else if (!lastDeviceName.empty()) {
        for (size_t i = 0; i < names.size(); ++i) {
            if (names[i] == lastDeviceName) {
                id = ID_DEVICE_FIRST + int(i);
                break;
            }
        }
    }
    for (int slot = 3; slot >= 1; --slot) {
        if (id == ID_DEVICE_FIRST + slot && names[size_t(slot)].empty())
            id = ID_DEVICE_FIRST + slot - 1;
    }
    return id;
}

} // namespace vorlund
