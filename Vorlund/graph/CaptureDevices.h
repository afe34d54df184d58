#pragma once

#include "GstHandles.h"

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace vorlund {

// The built-in sources, always listed last so that everything runs with no hardware attached.
inline constexpr std::string_view kTestCameraName = "Vorlund Test Camera";
inline constexpr std::string_view kTestAudioName = "Vorlund Test Audio";
// A FireWire camcorder speaking AV/C, read through dv1394src.
inline constexpr std::string_view kDvCameraName = "DV Camera and VCR";

enum class DeviceKind {
    System, // found by the GStreamer device monitor (V4L2, PulseAudio, ...)
    DvCamera,
    TestCamera,
    TestAudio,
};

struct CaptureDevice
{
    std::string name; // friendly name as the system reports it
    std::string path; // device node or other stable key; orders the devices
    DeviceKind kind = DeviceKind::System;
    DeviceRef device; // System only
    // Makes the source instead of the kind's own element (a recorded stream played as a
    // camera); returns a new element or null.
    std::function<GstElement *(const char *elementName)> make;

    // A new, unlinked source element for this device (null when it cannot be made).
    ElementRef CreateSource(const char *elementName) const;
};

// Where devices come from; the system one asks the device monitor, tests give fixed lists.
class IDeviceEnumerator
{
public:
    virtual ~IDeviceEnumerator() = default;
    // Video sources in a stable order, the test camera last.
    virtual std::vector<CaptureDevice> VideoDevices() = 0;
    // Audio sources in a stable order, the test audio source last.
    virtual std::vector<CaptureDevice> AudioDevices() = 0;
};

class SystemDeviceEnumerator : public IDeviceEnumerator
{
public:
    // sysfsFireWire: where FireWire units are published (a test can point elsewhere).
    explicit SystemDeviceEnumerator(std::string sysfsFireWire = "/sys/bus/firewire/devices");
    std::vector<CaptureDevice> VideoDevices() override;
    std::vector<CaptureDevice> AudioDevices() override;

private:
    std::string m_sysfsFireWire;
};

// True when a FireWire node below `folder` carries an AV/C unit (a DV camcorder or VCR).
bool HasAvcUnit(const std::string &folder);

// A device bound by name: the source element and what the graph needs to know of it.
struct BoundDevice
{
    ElementRef element;
    std::string label; // the name it is listed under
    std::string path;
    DeviceKind kind = DeviceKind::System;
};

// The device tables of the server's view and the enumerators that fill and use them.
class CaptureDevices
{
public:
    explicit CaptureDevices(IDeviceEnumerator &enumerator) : m_enumerator(enumerator) { }

    // Refills VideoDeviceNames (at most 4 labels; the test camera always among them, last).
    void ListVideoDevices();
    // Binds the video device that `deviceName` selects; no element when none does.
    BoundDevice FindVideoDevice(std::string_view deviceName, const char *elementName);

    // Refills AudioDeviceNames (at most 4); AudioDevicePresent tells whether any was seen.
    void ListAudioDevices();
    // Binds the audio device named exactly `audioDevice`; no element when none is.
    BoundDevice FindAudioDevice(std::string_view audioDevice, const char *elementName);

    // Refills CodecNames with the installed video compressors (at most 39); false when none.
    bool ListCodecs();

    std::vector<std::string> VideoDeviceNames;
    std::vector<std::string> AudioDeviceNames;
    std::vector<std::string> CodecNames;
    bool AudioDevicePresent = false;

private:
    IDeviceEnumerator &m_enumerator;
};

// Which of `count` enumerated devices are listed when at most `limit` fit: the first ones,
// but the last device (the built-in test source) always keeps the last place.
std::vector<size_t> ListedPositions(size_t count, size_t limit);

} // namespace vorlund
