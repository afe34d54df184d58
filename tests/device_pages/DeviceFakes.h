#pragma once

// A V4L2 device in memory, a device access over it, and scripted page windows.

#include "DevicePages.h"

#include <linux/videodev2.h>

#include <cerrno>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace vorlund::test {

class FakeV4l2Device : public IV4l2Device
{
public:
    std::vector<VideoInput> inputs;
    uint32_t input = 0;
    std::vector<VideoStandard> standards;
    uint64_t standard = 0;
    std::vector<DeviceControl> controls;
    std::optional<TunerInfo> tuner;
    uint32_t frequency = 0;
    std::optional<uint32_t> audioInput;
    std::optional<bool> muted;
    bool streaming = false; // input and standard changes are refused (EBUSY) meanwhile
    std::vector<std::string> calls;

    EnumInputStatus EnumInput(uint32_t index, VideoInput &out) override
    {
        if (index >= inputs.size())
            return EnumInputStatus::End;
        out = inputs[index];
        return EnumInputStatus::Ok;
    }
    int SelectInput(uint32_t index) override
    {
        calls.push_back("S_INPUT " + std::to_string(index));
        if (streaming)
            return EBUSY;
        if (index >= inputs.size())
            return EINVAL;
        input = index;
        return 0;
    }
    int GetInput(uint32_t &index) override
    {
        index = input;
        return inputs.empty() ? ENOTTY : 0;
    }
    std::vector<VideoStandard> EnumStandards() override { return standards; }
    int GetStandard(uint64_t &id) override
    {
        id = standard;
        return standards.empty() ? ENODATA : 0;
    }
    int SetStandard(uint64_t id) override
    {
        calls.push_back("S_STD " + std::to_string(id));
        if (streaming)
            return EBUSY;
        standard = id;
        return 0;
    }
    std::vector<DeviceControl> QueryControls() override { return controls; }
    int SetControl(uint32_t id, int32_t value) override
    {
        calls.push_back("S_CTRL " + std::to_string(id) + "=" + std::to_string(value));
        for (DeviceControl &c : controls) {
            if (c.id == id)
                c.value = value;
        }
        return 0;
    }
    int GetTuner(TunerInfo &out) override
    {
        if (!tuner)
            return EINVAL;
        out = *tuner;
        return 0;
    }
    int GetFrequency(uint32_t &out) override
    {
        out = frequency;
        return tuner ? 0 : EINVAL;
    }
    int SetFrequency(uint32_t value) override
    {
        calls.push_back("S_FREQUENCY " + std::to_string(value));
        frequency = value;
        return 0;
    }
    int SetAudioInput(uint32_t index) override
    {
        audioInput = index;
        return 0;
    }
    int SetAudioMute(bool mute) override
    {
        muted = mute;
        return 0;
    }
};

// Forwards to a device the test keeps, so the pages may open and drop it as they like.
class DeviceHandle : public IV4l2Device
{
public:
    explicit DeviceHandle(FakeV4l2Device &d) : m_d(d) { }
    EnumInputStatus EnumInput(uint32_t i, VideoInput &in) override { return m_d.EnumInput(i, in); }
    int SelectInput(uint32_t i) override { return m_d.SelectInput(i); }
    int GetInput(uint32_t &i) override { return m_d.GetInput(i); }
    std::vector<VideoStandard> EnumStandards() override { return m_d.EnumStandards(); }
    int GetStandard(uint64_t &id) override { return m_d.GetStandard(id); }
    int SetStandard(uint64_t id) override { return m_d.SetStandard(id); }
    std::vector<DeviceControl> QueryControls() override { return m_d.QueryControls(); }
    int SetControl(uint32_t id, int32_t v) override { return m_d.SetControl(id, v); }
    int GetTuner(TunerInfo &t) override { return m_d.GetTuner(t); }
    int GetFrequency(uint32_t &f) override { return m_d.GetFrequency(f); }
    int SetFrequency(uint32_t f) override { return m_d.SetFrequency(f); }
    int SetAudioInput(uint32_t i) override { return m_d.SetAudioInput(i); }
    int SetAudioMute(bool m) override { return m_d.SetAudioMute(m); }

private:
    FakeV4l2Device &m_d;
};

class FakeAccess : public IDeviceAccess
{
public:
    bool graph = true;
    bool openResult = true;
    bool v4l2 = true; // false: the test camera
    CapsRef offered;
    CapsRef negotiated;
    std::map<std::string, std::vector<std::string>> audioLines;
    std::vector<std::string> listed;
    int audioApplied = 0;

    bool HasGraph() const override { return graph; }
    bool OpenDeviceStage() override
    {
        graph = openResult;
        return openResult;
    }
    std::optional<int> DeviceFd() override
    {
        return v4l2 && graph ? std::optional<int>(42) : std::nullopt;
    }
    CapsRef OfferedCaps() override { return offered; }
    CapsRef NegotiatedCaps() override { return negotiated; }
    std::optional<std::vector<std::string>> ListAudioInputs(std::string_view device) override
    {
        listed.emplace_back(device);
        const auto it = audioLines.find(std::string(device));
        if (it == audioLines.end())
            return std::nullopt;
        return it->second;
    }
    void ApplyAudioInput() override { ++audioApplied; }
};

// Page windows that answer with what the test set, recording what they were shown.
class ScriptedDialogs : public IDevicePageDialogs
{
public:
    bool ok = true;
    std::function<void(InputPageValues &)> onInput;
    std::function<void(CapturePageValues &)> onCapture;
    std::function<void(FormatPageValues &)> onFormat;
    std::function<void(TunerPageValues &)> onTuner;
    std::function<void(AudioDeviceValues &)> onAudio;
    std::vector<std::string> shown;
    std::optional<AudioDeviceValues> audioShown;

    template <typename V> bool Run(const char *name, const std::function<void(V &)> &edit, V &v)
    {
        shown.emplace_back(name);
        if (edit)
            edit(v);
        return ok;
    }
    bool RunInputPage(InputPageValues &v) override { return Run("input", onInput, v); }
    bool RunCapturePage(CapturePageValues &v) override { return Run("capture", onCapture, v); }
    bool RunFormatPage(FormatPageValues &v) override { return Run("format", onFormat, v); }
    bool RunTunerPage(TunerPageValues &v) override { return Run("tuner", onTuner, v); }
    bool RunAudioDevice(AudioDeviceValues &v) override
    {
        audioShown = v;
        return Run("audio", onAudio, v);
    }
};

inline VideoInput Input(uint32_t index, const char *name, bool tuner = false, uint32_t audio = 0)
{
    VideoInput in;
    in.index = index;
    in.name = name;
    in.type = tuner ? V4L2_INPUT_TYPE_TUNER : V4L2_INPUT_TYPE_CAMERA;
    in.audioset = audio;
    return in;
}

} // namespace vorlund::test
