#pragma once

#include "Crossbar.h"

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace vorlund {

// One analog video standard the device offers (VIDIOC_ENUMSTD).
struct VideoStandard
{
    uint64_t id = 0; // v4l2_std_id bits
    std::string name;
};

// One user control of the device (VIDIOC_QUERYCTRL), with its value (VIDIOC_G_CTRL).
struct DeviceControl
{
    enum class Kind { Integer, Boolean, Menu };
    uint32_t id = 0;
    std::string name;
    Kind kind = Kind::Integer;
    int32_t minimum = 0;
    int32_t maximum = 0;
    int32_t step = 1;
    int32_t defaultValue = 0;
    int32_t value = 0;
    std::vector<std::pair<int32_t, std::string>> menu; // Menu only: value and label
};

// A tuner as VIDIOC_G_TUNER reports it; frequencies in the tuner's own unit.
struct TunerInfo
{
    std::string name;
    bool lowUnits = false; // 62.5 Hz units, else 62.5 kHz
    uint32_t rangeLow = 0;
    uint32_t rangeHigh = 0;
};

// The V4L2 operations the device pages use. Results are 0 or the errno of the failed ioctl,
// so a caller can tell a refusal while streaming (EBUSY) from a missing feature.
class IV4l2Device : public IVideoInputs
{
public:
    bool SetInput(uint32_t index) final { return SelectInput(index) == 0; }
    virtual int SelectInput(uint32_t index) = 0;
    virtual int GetInput(uint32_t &index) = 0;
    // Every standard the device offers; empty when it has none.
    virtual std::vector<VideoStandard> EnumStandards() = 0;
    virtual int GetStandard(uint64_t &id) = 0;
    virtual int SetStandard(uint64_t id) = 0;
    // The user controls (integers, booleans, menus) that are neither disabled nor read-only.
    virtual std::vector<DeviceControl> QueryControls() = 0;
    virtual int SetControl(uint32_t id, int32_t value) = 0;
    virtual int GetTuner(TunerInfo &tuner) = 0;
    virtual int GetFrequency(uint32_t &frequency) = 0;
    virtual int SetFrequency(uint32_t frequency) = 0;
    // Selects audio input `index` (VIDIOC_S_AUDIO).
    virtual int SetAudioInput(uint32_t index) = 0;
    // Mutes or unmutes the device's sound (V4L2_CID_AUDIO_MUTE).
    virtual int SetAudioMute(bool mute) = 0;
};

// The ioctls on an open device node; the fd stays the caller's.
class V4l2Device final : public IV4l2Device
{
public:
    explicit V4l2Device(int fd) : m_fd(fd), m_inputs(fd) { }
    EnumInputStatus EnumInput(uint32_t index, VideoInput &input) override;
    int SelectInput(uint32_t index) override;
    int GetInput(uint32_t &index) override;
    std::vector<VideoStandard> EnumStandards() override;
    int GetStandard(uint64_t &id) override;
    int SetStandard(uint64_t id) override;
    std::vector<DeviceControl> QueryControls() override;
    int SetControl(uint32_t id, int32_t value) override;
    int GetTuner(TunerInfo &tuner) override;
    int GetFrequency(uint32_t &frequency) override;
    int SetFrequency(uint32_t frequency) override;
    int SetAudioInput(uint32_t index) override;
    int SetAudioMute(bool mute) override;

private:
    int Ioctl(unsigned long request, void *argument) const;

    int m_fd;
    V4l2VideoInputs m_inputs;
};

// At most this many standards and controls are read from a device.
inline constexpr uint32_t kMaxStandards = 64;
inline constexpr uint32_t kMaxControls = 128;

// Every input of the device (at most kMaxVideoInputs); empty when none can be read.
std::vector<VideoInput> ReadVideoInputs(IVideoInputs &inputs);

// A device has an input selector worth a page when it has more than one input or a tuner.
bool HasInputSelector(const std::vector<VideoInput> &inputs);

} // namespace vorlund
