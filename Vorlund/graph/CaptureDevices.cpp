#include "CaptureDevices.h"

#include "Codecs.h"
#include "DeviceNames.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace vorlund {

namespace {

// For unattended runs: VORLUND_TEST_CAMERA_CYCLE=N (1 to 3600) makes the test camera alternate
// N seconds of the moving ball with N seconds of a still black picture, so motion starts and
// ends. The switch runs on the main loop and ends with the element.
int TestCameraCycleSeconds()
{
    const char *value = std::getenv("VORLUND_TEST_CAMERA_CYCLE");
    if (!value)
        return 0;
    char *end = nullptr;
    const long seconds = std::strtol(value, &end, 10);
    return end != value && *end == '\0' && seconds >= 1 && seconds <= 3600 ? int(seconds) : 0;
}

struct PatternCycle
{
    GWeakRef element;
    bool moving = true;
};

gboolean TogglePattern(gpointer data)
{
    auto *cycle = static_cast<PatternCycle *>(data);
    auto *element = static_cast<GObject *>(g_weak_ref_get(&cycle->element));
    if (!element)
        return G_SOURCE_REMOVE;
    cycle->moving = !cycle->moving;
    gst_util_set_object_arg(element, "pattern", cycle->moving ? "ball" : "black");
    g_object_unref(element);
    return G_SOURCE_CONTINUE;
}

void FreePatternCycle(gpointer data)
{
    auto *cycle = static_cast<PatternCycle *>(data);
    g_weak_ref_clear(&cycle->element);
    delete cycle;
}

void StartPatternCycle(GstElement *element, int seconds)
{
    auto *cycle = new PatternCycle;
    g_weak_ref_init(&cycle->element, element);
    g_timeout_add_seconds_full(G_PRIORITY_DEFAULT, guint(seconds), TogglePattern, cycle,
                               FreePatternCycle);
}

// Compares paths with digit runs as numbers, so /dev/video2 comes before /dev/video10.
bool NaturalLess(const std::string &a, const std::string &b)
{
    size_t i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        const bool da = std::isdigit(static_cast<unsigned char>(a[i])) != 0;
        const bool db = std::isdigit(static_cast<unsigned char>(b[j])) != 0;
        if (da && db) {
            size_t ie = i, je = j;
            while (ie < a.size() && std::isdigit(static_cast<unsigned char>(a[ie])))
                ++ie;
            while (je < b.size() && std::isdigit(static_cast<unsigned char>(b[je])))
                ++je;
            std::string_view na(a.data() + i, ie - i), nb(b.data() + j, je - j);
            while (na.size() > 1 && na.front() == '0')
                na.remove_prefix(1);
            while (nb.size() > 1 && nb.front() == '0')
                nb.remove_prefix(1);
            if (na.size() != nb.size())
                return na.size() < nb.size();
            if (na != nb)
                return na < nb;
            i = ie;
            j = je;
            continue;
        }
        if (a[i] != b[j])
            return a[i] < b[j];
        ++i;
        ++j;
    }
    return a.size() - i < b.size() - j;
}

std::string DeviceKey(GstDevice *device)
{
    GstStructure *props = gst_device_get_properties(device);
    std::string key;
    if (props) {
        for (const char *field :
             { "api.v4l2.path", "device.path", "object.path", "device.string", "node.name" }) {
            const char *value = gst_structure_get_string(props, field);
            if (value && *value) {
                key = value;
                break;
            }
        }
        gst_structure_free(props);
    }
    return key;
}

std::vector<CaptureDevice> MonitorDevices(const char *deviceClass)
{
    std::vector<CaptureDevice> devices;
    GstRef<GstDeviceMonitor> monitor(gst_device_monitor_new(), RefMode::HasRef);
    gst_device_monitor_add_filter(monitor.get(), deviceClass, nullptr);
    // Probes each provider once without starting the monitor.
    GList *list = gst_device_monitor_get_devices(monitor.get());
    for (GList *l = list; l; l = l->next) {
        GstDevice *device = GST_DEVICE(l->data);
        CaptureDevice entry;
        entry.name = TakeGString(gst_device_get_display_name(device));
        if (entry.name.empty())
            continue;
        entry.path = DeviceKey(device);
        if (entry.path.empty())
            entry.path = entry.name;
        entry.kind = DeviceKind::System;
        entry.device = DeviceRef(device, RefMode::NeedsRef);
        devices.push_back(std::move(entry));
    }
    g_list_free_full(list, gst_object_unref);
    std::stable_sort(
        devices.begin(), devices.end(),
        [](const CaptureDevice &a, const CaptureDevice &b) { return NaturalLess(a.path, b.path); });
    return devices;
}

CaptureDevice BuiltIn(std::string_view name, DeviceKind kind)
{
    CaptureDevice entry;
    entry.name = std::string(name);
    entry.path = std::string(name);
    entry.kind = kind;
    return entry;
}

std::vector<std::string> NamesOf(const std::vector<CaptureDevice> &devices)
{
    std::vector<std::string> names;
    names.reserve(devices.size());
    for (const CaptureDevice &d : devices)
        names.push_back(d.name);
    return names;
}

BoundDevice Bind(const CaptureDevice &device, const std::string &label, const char *elementName)
{
    BoundDevice bound;
    bound.element = device.CreateSource(elementName);
    if (!bound.element)
        return bound;
    bound.label = label;
    bound.path = device.path;
    bound.kind = device.kind;
    return bound;
}

} // namespace

ElementRef CaptureDevice::CreateSource(const char *elementName) const
{
    if (make)
        return ElementRef(make(elementName), RefMode::HasRef);
    GstElement *element = nullptr;
    switch (kind) {
    case DeviceKind::System:
        if (device)
            element = gst_device_create_element(device.get(), elementName);
        break;
    case DeviceKind::DvCamera:
        element = gst_element_factory_make("dv1394src", elementName);
        break;
    case DeviceKind::TestCamera:
        element = gst_element_factory_make("videotestsrc", elementName);
        if (element) {
            g_object_set(element, "is-live", TRUE, nullptr);
            gst_util_set_object_arg(G_OBJECT(element), "pattern", "ball");
            if (const int seconds = TestCameraCycleSeconds(); seconds > 0)
                StartPatternCycle(element, seconds);
        }
        break;
    case DeviceKind::TestAudio:
        element = gst_element_factory_make("audiotestsrc", elementName);
        if (element)
            g_object_set(element, "is-live", TRUE, nullptr);
        break;
    }
    return ElementRef(element, RefMode::HasRef);
}

bool HasAvcUnit(const std::string &folder)
{
    namespace fs = std::filesystem;
    std::error_code ec;
    fs::directory_iterator it(folder, ec);
    if (ec)
        return false;
    for (const fs::directory_entry &entry : it) {
        std::ifstream units(entry.path() / "units");
        if (!units)
            continue;
        // One "specifier:version" pair per unit; 0x00a02d is the AV/C specifier.
        std::string text;
        std::getline(units, text);
        if (text.size() > 4096)
            text.resize(4096);
        if (text.find("0x00a02d:") != std::string::npos)
            return true;
    }
    return false;
}

SystemDeviceEnumerator::SystemDeviceEnumerator(std::string sysfsFireWire)
    : m_sysfsFireWire(std::move(sysfsFireWire))
{ }

std::vector<CaptureDevice> SystemDeviceEnumerator::VideoDevices()
{
    std::vector<CaptureDevice> devices = MonitorDevices("Video/Source");
    if (HasAvcUnit(m_sysfsFireWire))
        devices.push_back(BuiltIn(kDvCameraName, DeviceKind::DvCamera));
    devices.push_back(BuiltIn(kTestCameraName, DeviceKind::TestCamera));
    return devices;
}

std::vector<CaptureDevice> SystemDeviceEnumerator::AudioDevices()
{
    std::vector<CaptureDevice> devices = MonitorDevices("Audio/Source");
    devices.push_back(BuiltIn(kTestAudioName, DeviceKind::TestAudio));
    return devices;
}

std::vector<size_t> ListedPositions(size_t count, size_t limit)
{
    std::vector<size_t> positions;
    if (limit == 0)
        return positions;
    if (count <= limit) {
        for (size_t i = 0; i < count; ++i)
            positions.push_back(i);
        return positions;
    }
    for (size_t i = 0; i + 1 < limit; ++i)
        positions.push_back(i);
    positions.push_back(count - 1);
    return positions;
}

void CaptureDevices::ListVideoDevices()
{
    VideoDeviceNames.clear();
    const std::vector<CaptureDevice> devices = m_enumerator.VideoDevices();
    const std::vector<std::string> labels = LabelDevices(NamesOf(devices));
    for (size_t position : ListedPositions(devices.size(), kMaxVideoDevices))
        VideoDeviceNames.push_back(labels[position]);
}

BoundDevice CaptureDevices::FindVideoDevice(std::string_view deviceName, const char *elementName)
{
    const std::vector<CaptureDevice> devices = m_enumerator.VideoDevices();
    const std::vector<std::string> names = NamesOf(devices);
    const std::vector<std::string> labels = LabelDevices(names);
    const std::optional<size_t> chosen = SelectDevice(names, labels, deviceName);
    if (!chosen)
        return {};
    return Bind(devices[*chosen], labels[*chosen], elementName);
}

bool CaptureDevices::ListCodecs()
{
    CodecNames = ListCompressors(CodecKind::Video);
    return !CodecNames.empty();
}

void CaptureDevices::ListAudioDevices()
{
    AudioDeviceNames.clear();
    AudioDevicePresent = false;
    const std::vector<CaptureDevice> devices = m_enumerator.AudioDevices();
    AudioDevicePresent = !devices.empty();
    for (size_t position : ListedPositions(devices.size(), kMaxAudioDevices))
        AudioDeviceNames.push_back(devices[position].name);
}

BoundDevice CaptureDevices::FindAudioDevice(std::string_view audioDevice, const char *elementName)
{
    const std::vector<CaptureDevice> devices = m_enumerator.AudioDevices();
    if (!devices.empty())
        AudioDevicePresent = true;
    for (const CaptureDevice &device : devices) {
        if (device.name == audioDevice)
            return Bind(device, device.name, elementName);
    }
    return {};
}

} // namespace vorlund
