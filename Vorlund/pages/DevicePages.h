#pragma once

#include "DeviceAccess.h"
#include "DevicePageValues.h"
#include "ServerContext.h"
#include "TunerChannels.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vorlund {

// A graph without a device of its own (a test's): nothing to open, one audio line.
class NoDeviceAccess : public IDeviceAccess
{
public:
    bool HasGraph() const override { return false; }
    bool OpenDeviceStage() override { return true; }
    std::optional<int> DeviceFd() override { return std::nullopt; }
    CapsRef OfferedCaps() override { return {}; }
    CapsRef NegotiatedCaps() override { return {}; }
    std::optional<std::vector<std::string>> ListAudioInputs(std::string_view) override
    {
        return std::vector<std::string> { "Microphone" };
    }
    void ApplyAudioInput() override { }
};

// A stored name matches a device or line name when it is that name, or that name as its field
// of `width` bytes stores it (cut at a character boundary).
bool MatchesStoredName(std::string_view name, std::string_view stored, size_t width);

// The device's own pages over V4L2 (input selector, standard and controls, format, tuner)
// and the audio device dialog, with what the view does around them. UI thread only; the
// windows run from commands only, device-only runs show nothing.
class DevicePages : public IDevicePages
{
public:
    using DeviceFactory = std::function<std::unique_ptr<IV4l2Device>(int fd)>;

    DevicePages(ServerContext &context, ICaptureGraph &graph, IDeviceAccess &access,
                IDevicePageDialogs &dialogs, DeviceFactory factory = {});

    void ShowCrossbarPage(bool deviceOnly) override;
    void ShowTvTunerPage(bool deviceOnly) override;
    void ShowVideoCapturePage(bool deviceOnly) override;
    void ShowVideoFormatPage() override;
    void ChooseAudioInput() override;
    bool HasCrossbar() const override { return m_crossbarFound; }
    bool HasTvTuner() const { return m_tunerFound; }
    bool HasVideoSettingsPage() const { return m_captureFound; }

    // Leaves review mode (the crossbar page does when the tuner is routed).
    std::function<void()> LeaveReviewMode;
    // The capture page closed: a restart held back for it may go now.
    std::function<void()> PropertyPageClosed;

private:
    // The common start: a graph exists, or the device stage could be opened.
    bool CommonStart();
    std::unique_ptr<IV4l2Device> Device();
    // Runs a device change; one the driver refuses while streaming (EBUSY) is applied with
    // the graph down to its device stage, then the graph is built (and run) again.
    int ApplyWithRebuild(const std::function<int(IV4l2Device &)> &change);
    void CrossbarTail();
    void RouteCrossbar(IV4l2Device &device, bool deviceOnly);
    const std::vector<TunerChannel> &Channels() const;

    ServerContext &m_context;
    ICaptureGraph &m_graph;
    IDeviceAccess &m_access;
    IDevicePageDialogs &m_dialogs;
    DeviceFactory m_factory;
    bool m_crossbarFound = false;
    bool m_tunerFound = false;
    bool m_captureFound = false;
};

} // namespace vorlund
