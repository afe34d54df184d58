#pragma once

// What the device pages and the audio dialog show and give back. The dialogs copy these in,
// run, and copy them back; the device pages topic applies them. No GStreamer, no widgets.

#include "MediaGuid.h"
#include "V4l2Controls.h"

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace vorlund {

// Input selector (the crossbar page): the device's video inputs and the one in use.
struct InputPageValues
{
    std::vector<VideoInput> inputs;
    int current = -1; // position in `inputs`
};

// Capture page: the video standard and the device's picture controls.
struct CapturePageValues
{
    std::vector<VideoStandard> standards;
    int standard = -1; // position in `standards`, -1 when the device reports none
    std::vector<DeviceControl> controls; // `value` is what the user chose
};

struct FrameSize
{
    int width = 0;
    int height = 0;
    bool operator==(const FrameSize &) const = default;
};

// One format the device offers, with its sizes (at most 720x576) and frame durations
// (100 ns units, fastest first).
struct FormatOption
{
    Guid subtype;
    std::string name;
    std::vector<FrameSize> sizes;
    std::vector<int64_t> frameDurations;
};

// Format page: the stored format as a choice among the device's.
struct FormatPageValues
{
    std::vector<FormatOption> options;
    int option = 0;
    FrameSize size;
    int64_t frameDuration = 0; // 0 keeps the device's own rate
};

// Tuner page: the channel of the profile's table.
struct TunerPageValues
{
    std::string table;
    int channel = 0;
};

inline constexpr size_t kMaxAudioDevicesListed = 4;
inline constexpr size_t kMaxAudioLines = 15;
using AudioLines = std::array<std::string, kMaxAudioLines>;

// The "Audio Device" dialog's members.
struct AudioDeviceValues
{
    std::array<std::string, kMaxAudioDevicesListed> DeviceNames {}; // empty = none
    AudioLines CurrentLines {};
    std::array<AudioLines, kMaxAudioDevicesListed> LineTable {};
    int DeviceIndex = 0;
    int LineIndex = 0;
    int LevelIndex = 1; // 0 "Hi", 1 "Medium", 2 "Low"
    int RecordAudio = 0;
};

// Runs the pages' windows (modal, from a command only). Each returns true on OK.
class IDevicePageDialogs
{
public:
    virtual ~IDevicePageDialogs() = default;
    virtual bool RunInputPage(InputPageValues &values) = 0;
    virtual bool RunCapturePage(CapturePageValues &values) = 0;
    virtual bool RunFormatPage(FormatPageValues &values) = 0;
    virtual bool RunTunerPage(TunerPageValues &values) = 0;
    virtual bool RunAudioDevice(AudioDeviceValues &values) = 0;
};

} // namespace vorlund
