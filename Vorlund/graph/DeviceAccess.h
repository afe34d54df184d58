#pragma once

#include "GstHandles.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vorlund {

class CaptureGraph;

// What the device pages need of the capture graph beyond ICaptureGraph: the open device and
// its formats. The production graph implements it over its source element.
class IDeviceAccess
{
public:
    virtual ~IDeviceAccess() = default;
    // A graph exists: built, or down to its device stage.
    virtual bool HasGraph() const = 0;
    // Opens the current device as the graph's device stage (the source at READY). False when
    // it cannot be opened; the reason has been reported.
    virtual bool OpenDeviceStage() = 0;
    // The open V4L2 device of the capture source; nullopt when the source is not V4L2 (the
    // test camera, DV) or not open.
    virtual std::optional<int> DeviceFd() = 0;
    // What the source offers at READY or above; null when unknown.
    virtual CapsRef OfferedCaps() = 0;
    // The caps the built graph captures with (fixed); null when none is built.
    virtual CapsRef NegotiatedCaps() = 0;
    // Input lines of the audio capture device of that name, at most 15, building the graph
    // first when there is none; nullopt when they cannot be listed (the reason has been
    // reported).
    virtual std::optional<std::vector<std::string>> ListAudioInputs(std::string_view device) = 0;
    // Applies AudioInput and InputLevel to the graph's audio source.
    virtual void ApplyAudioInput() = 0;
};

// The production graph's device: its source element, its device stage, its audio source.
class GraphDeviceAccess : public IDeviceAccess
{
public:
    explicit GraphDeviceAccess(CaptureGraph &graph) : m_graph(graph) { }
    bool HasGraph() const override;
    bool OpenDeviceStage() override;
    std::optional<int> DeviceFd() override;
    CapsRef OfferedCaps() override;
    CapsRef NegotiatedCaps() override;
    std::optional<std::vector<std::string>> ListAudioInputs(std::string_view device) override;
    void ApplyAudioInput() override;

private:
    CaptureGraph &m_graph;
};

} // namespace vorlund
