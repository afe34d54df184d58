#include "V4l2Controls.h"

#include <linux/videodev2.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <sys/ioctl.h>

namespace vorlund {

namespace {

// Driver texts need not be terminated.
template <size_t N> std::string DriverText(const uint8_t (&text)[N])
{
    const char *p = reinterpret_cast<const char *>(text);
    return std::string(p, strnlen(p, N));
}

} // namespace

int V4l2Device::Ioctl(unsigned long request, void *argument) const
{
    int rc;
    do {
        rc = ioctl(m_fd, request, argument);
    } while (rc < 0 && errno == EINTR);
    return rc < 0 ? (errno ? errno : EIO) : 0;
}

EnumInputStatus V4l2Device::EnumInput(uint32_t index, VideoInput &input)
{
    return m_inputs.EnumInput(index, input);
}

int V4l2Device::SelectInput(uint32_t index)
{
    int value = int(index);
    return Ioctl(VIDIOC_S_INPUT, &value);
}

int V4l2Device::GetInput(uint32_t &index)
{
    int value = 0;
    const int rc = Ioctl(VIDIOC_G_INPUT, &value);
    if (rc == 0)
        index = uint32_t(value);
    return rc;
}

std::vector<VideoStandard> V4l2Device::EnumStandards()
{
    std::vector<VideoStandard> all;
    for (uint32_t index = 0; index < kMaxStandards; ++index) {
        v4l2_standard raw;
        std::memset(&raw, 0, sizeof raw);
        raw.index = index;
        if (Ioctl(VIDIOC_ENUMSTD, &raw) != 0)
            break;
        all.push_back({ raw.id, DriverText(raw.name) });
    }
    return all;
}

int V4l2Device::GetStandard(uint64_t &id)
{
    v4l2_std_id value = 0;
    const int rc = Ioctl(VIDIOC_G_STD, &value);
    if (rc == 0)
        id = value;
    return rc;
}

int V4l2Device::SetStandard(uint64_t id)
{
    v4l2_std_id value = id;
    return Ioctl(VIDIOC_S_STD, &value);
}

std::vector<DeviceControl> V4l2Device::QueryControls()
{
    std::vector<DeviceControl> all;
    uint32_t next = V4L2_CTRL_FLAG_NEXT_CTRL;
    for (uint32_t n = 0; n < kMaxControls; ++n) {
        v4l2_queryctrl query;
        std::memset(&query, 0, sizeof query);
        query.id = next;
        if (Ioctl(VIDIOC_QUERYCTRL, &query) != 0)
            break;
        next = query.id | V4L2_CTRL_FLAG_NEXT_CTRL;
        if (query.flags
            & (V4L2_CTRL_FLAG_DISABLED | V4L2_CTRL_FLAG_READ_ONLY | V4L2_CTRL_FLAG_INACTIVE
               | V4L2_CTRL_FLAG_WRITE_ONLY))
            continue;
        DeviceControl control;
        switch (query.type) {
        case V4L2_CTRL_TYPE_INTEGER:
            control.kind = DeviceControl::Kind::Integer;
            break;
        case V4L2_CTRL_TYPE_BOOLEAN:
            control.kind = DeviceControl::Kind::Boolean;
            break;
        case V4L2_CTRL_TYPE_MENU:
            control.kind = DeviceControl::Kind::Menu;
            break;
        default:
            continue; // buttons, strings and compound controls have no place on the page
        }
        control.id = query.id;
        control.name = DriverText(query.name);
        control.minimum = query.minimum;
        control.maximum = query.maximum;
        control.step = std::max(1, query.step);
        control.defaultValue = query.default_value;
        v4l2_control value { query.id, 0 };
        if (Ioctl(VIDIOC_G_CTRL, &value) != 0)
            continue;
        control.value = value.value;
        if (control.kind == DeviceControl::Kind::Menu) {
            for (int64_t item = query.minimum; item <= query.maximum && item - query.minimum < 64;
                 ++item) {
                v4l2_querymenu menu;
                std::memset(&menu, 0, sizeof menu);
                menu.id = query.id;
                menu.index = uint32_t(item);
                if (Ioctl(VIDIOC_QUERYMENU, &menu) == 0)
                    control.menu.emplace_back(int32_t(item), DriverText(menu.name));
            }
            if (control.menu.empty())
                continue;
        }
        all.push_back(std::move(control));
    }
    return all;
}

int V4l2Device::SetControl(uint32_t id, int32_t value)
{
    v4l2_control control { id, value };
    return Ioctl(VIDIOC_S_CTRL, &control);
}

int V4l2Device::GetTuner(TunerInfo &tuner)
{
    v4l2_tuner raw;
    std::memset(&raw, 0, sizeof raw);
    raw.index = 0;
    const int rc = Ioctl(VIDIOC_G_TUNER, &raw);
    if (rc != 0)
        return rc;
    tuner.name = DriverText(raw.name);
    tuner.lowUnits = (raw.capability & V4L2_TUNER_CAP_LOW) != 0;
    tuner.rangeLow = raw.rangelow;
    tuner.rangeHigh = raw.rangehigh;
    return 0;
}

int V4l2Device::GetFrequency(uint32_t &frequency)
{
    v4l2_frequency raw;
    std::memset(&raw, 0, sizeof raw);
    raw.tuner = 0;
    const int rc = Ioctl(VIDIOC_G_FREQUENCY, &raw);
    if (rc == 0)
        frequency = raw.frequency;
    return rc;
}

int V4l2Device::SetFrequency(uint32_t frequency)
{
    v4l2_frequency raw;
    std::memset(&raw, 0, sizeof raw);
    raw.tuner = 0;
    raw.type = V4L2_TUNER_ANALOG_TV;
    raw.frequency = frequency;
    return Ioctl(VIDIOC_S_FREQUENCY, &raw);
}

int V4l2Device::SetAudioInput(uint32_t index)
{
    v4l2_audio raw;
    std::memset(&raw, 0, sizeof raw);
    raw.index = index;
    return Ioctl(VIDIOC_S_AUDIO, &raw);
}

int V4l2Device::SetAudioMute(bool mute)
{
    return SetControl(V4L2_CID_AUDIO_MUTE, mute ? 1 : 0);
}

std::vector<VideoInput> ReadVideoInputs(IVideoInputs &inputs)
{
    std::vector<VideoInput> all;
    for (uint32_t index = 0; index < kMaxVideoInputs; ++index) {
        VideoInput input;
        if (inputs.EnumInput(index, input) != EnumInputStatus::Ok)
            break;
        all.push_back(std::move(input));
    }
    return all;
}

bool HasInputSelector(const std::vector<VideoInput> &inputs)
{
    return inputs.size() > 1
        || std::any_of(inputs.begin(), inputs.end(),
                       [](const VideoInput &input) { return input.type == V4L2_INPUT_TYPE_TUNER; });
}

} // namespace vorlund
