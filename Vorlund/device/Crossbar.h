#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace vorlund {

// Physical connector types as the settings and callers name crossbar pins.
enum class PhysicalConnector : long {
    VideoTuner = 1,
    VideoComposite = 2,
    VideoSVideo = 3,
    VideoDecoder = 12,
    AudioTuner = 4096,
    AudioDecoder = 4105,
};

// One video input of a V4L2 device, as VIDIOC_ENUMINPUT reports it.
struct VideoInput
{
    uint32_t index = 0;
    std::string name;
    uint32_t type = 0; // V4L2_INPUT_TYPE_TUNER or V4L2_INPUT_TYPE_CAMERA
    uint32_t audioset = 0; // bit mask of the audio inputs that go with it
};

enum class EnumInputStatus { Ok, End, Failed };

// The device's inputs, one index at a time; the real one asks the driver, tests fake it.
class IVideoInputs
{
public:
    virtual ~IVideoInputs() = default;
    virtual EnumInputStatus EnumInput(uint32_t index, VideoInput &input) = 0;
    // Routes the device's decoder to input `index`; false when the driver refuses.
    virtual bool SetInput(uint32_t index) = 0;
};

// VIDIOC_ENUMINPUT on an open V4L2 device (the fd stays the caller's).
class V4l2VideoInputs : public IVideoInputs
{
public:
    explicit V4l2VideoInputs(int fd) : m_fd(fd) { }
    EnumInputStatus EnumInput(uint32_t index, VideoInput &input) override;
    bool SetInput(uint32_t index) override;

private:
    int m_fd;
};

// Whether an input is of that physical type: tuners by their type, composite and S-Video
// camera inputs by their names ("Composite1", "S-Video", ...), audio tuner when the tuner
// carries sound.
bool InputIsOfType(const VideoInput &input, PhysicalConnector type);

// At most this many inputs are looked at.
inline constexpr uint32_t kMaxVideoInputs = 64;

// The index of the first pin of that physical type. Inputs are the device's video inputs.
// A V4L2 device has one routed output: the video decoder is output 0, and the audio decoder
// output 1 when any input carries sound. nullopt when there is none or the device has no
// inputs to enumerate.
std::optional<long> FindCrossbarPin(IVideoInputs &inputs, PhysicalConnector type, bool isOutput);

} // namespace vorlund
