#include "Crossbar.h"

#include <linux/videodev2.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <sys/ioctl.h>
#include <vector>

namespace vorlund {

namespace {

std::string Lower(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return char(std::tolower(c)); });
    return text;
}

// All inputs, or nullopt when the first cannot be read.
std::optional<std::vector<VideoInput>> ReadInputs(IVideoInputs &inputs)
{
    std::vector<VideoInput> all;
    for (uint32_t index = 0; index < kMaxVideoInputs; ++index) {
        VideoInput input;
        const EnumInputStatus status = inputs.EnumInput(index, input);
        if (status == EnumInputStatus::Ok) {
            all.push_back(std::move(input));
            continue;
        }
        if (status == EnumInputStatus::Failed && index == 0)
            return std::nullopt;
        break;
    }
    return all;
}

} // namespace

EnumInputStatus V4l2VideoInputs::EnumInput(uint32_t index, VideoInput &input)
{
    v4l2_input raw;
    std::memset(&raw, 0, sizeof raw);
    raw.index = index;
    int rc;
    do {
        rc = ioctl(m_fd, VIDIOC_ENUMINPUT, &raw);
    } while (rc < 0 && errno == EINTR);
    if (rc < 0)
        return errno == EINVAL ? EnumInputStatus::End : EnumInputStatus::Failed;
    input.index = raw.index;
    // The driver's name need not be terminated.
    input.name.assign(reinterpret_cast<const char *>(raw.name),
                      strnlen(reinterpret_cast<const char *>(raw.name), sizeof raw.name));
    input.type = raw.type;
    input.audioset = raw.audioset;
    return EnumInputStatus::Ok;
}

bool V4l2VideoInputs::SetInput(uint32_t index)
{
    int value = int(index);
    int rc;
    do {
        rc = ioctl(m_fd, VIDIOC_S_INPUT, &value);
    } while (rc < 0 && errno == EINTR);
    return rc == 0;
}

bool InputIsOfType(const VideoInput &input, PhysicalConnector type)
{
    const std::string name = Lower(input.name);
    const bool camera = input.type == V4L2_INPUT_TYPE_CAMERA;
    switch (type) {
    case PhysicalConnector::VideoTuner:
        return input.type == V4L2_INPUT_TYPE_TUNER;
    case PhysicalConnector::AudioTuner:
        return input.type == V4L2_INPUT_TYPE_TUNER && input.audioset != 0;
    case PhysicalConnector::VideoComposite:
        return camera
            && (name.find("composite") != std::string::npos
                || name.find("cvbs") != std::string::npos);
    case PhysicalConnector::VideoSVideo:
        return camera
            && (name.find("s-video") != std::string::npos
                || name.find("svideo") != std::string::npos);
    case PhysicalConnector::VideoDecoder:
    case PhysicalConnector::AudioDecoder:
        return false;
    }
    return false;
}

std::optional<long> FindCrossbarPin(IVideoInputs &inputs, PhysicalConnector type, bool isOutput)
{
    const std::optional<std::vector<VideoInput>> all = ReadInputs(inputs);
    if (!all || all->empty())
        return std::nullopt;
    if (isOutput) {
        if (type == PhysicalConnector::VideoDecoder)
            return 0;
        const bool sound = std::any_of(all->begin(), all->end(),
                                       [](const VideoInput &in) { return in.audioset != 0; });
        if (type == PhysicalConnector::AudioDecoder && sound)
            return 1;
        return std::nullopt;
    }
    for (const VideoInput &input : *all) {
        if (InputIsOfType(input, type))
            return long(input.index);
    }
    return std::nullopt;
}

} // namespace vorlund
