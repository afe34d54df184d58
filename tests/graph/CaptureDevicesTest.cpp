#include "CaptureDevices.h"
#include "CaptureFormat.h"
#include "DeviceNames.h"

#include <gst/app/gstappsink.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <unistd.h>

using namespace vorlund;

namespace {

// Built-in sources stand in for devices, so binding yields real elements.
CaptureDevice Fake(const std::string &name, DeviceKind kind = DeviceKind::TestCamera)
{
    CaptureDevice d;
    d.name = name;
    d.path = "/dev/" + name;
    d.kind = kind;
    return d;
}

class FakeEnumerator : public IDeviceEnumerator
{
public:
    std::vector<CaptureDevice> VideoDevices() override { return video; }
    std::vector<CaptureDevice> AudioDevices() override { return audio; }
    std::vector<CaptureDevice> video, audio;
};

std::string FactoryOf(GstElement *element)
{
    return GST_OBJECT_NAME(gst_element_get_factory(element));
}

} // namespace

TEST(CaptureDevices, ListsAtMostFourWithTheTestCameraLast)
{
    FakeEnumerator e;
    e.video = { Fake("Cam"), Fake("Cam"), Fake("Cam"),
                Fake("Cam"), Fake("Cam"), Fake(std::string(kTestCameraName)) };
    CaptureDevices devices(e);
    devices.ListVideoDevices();
    EXPECT_EQ(
        devices.VideoDeviceNames,
        (std::vector<std::string> { "Cam", "Cam #2", "Cam #3", std::string(kTestCameraName) }));

    e.video = { Fake("A"), Fake(std::string(kTestCameraName)) };
    devices.ListVideoDevices();
    EXPECT_EQ(devices.VideoDeviceNames,
              (std::vector<std::string> { "A", std::string(kTestCameraName) }));
}

TEST(CaptureDevices, BindsByLabelAndReportsWhatItBound)
{
    FakeEnumerator e;
    e.video = { Fake("Cam"), Fake("Cam"), Fake("Cam"), Fake("Cam"), Fake("Webcam") };
    CaptureDevices devices(e);

    BoundDevice bound = devices.FindVideoDevice("Cam #3", "Cam #3");
    ASSERT_TRUE(bound.element);
    EXPECT_EQ(bound.label, "Cam #3");
    EXPECT_EQ(bound.kind, DeviceKind::TestCamera);
    EXPECT_STREQ(GST_OBJECT_NAME(bound.element.get()), "Cam #3");

    // The fifth device is not listed but binds by its name.
    bound = devices.FindVideoDevice("Webcam", "src");
    ASSERT_TRUE(bound.element);
    EXPECT_EQ(bound.path, "/dev/Webcam");

    EXPECT_FALSE(devices.FindVideoDevice("Nothing", "src").element);
    e.video.clear();
    EXPECT_FALSE(devices.FindVideoDevice("", "src").element);
}

TEST(CaptureDevices, AudioBindsOnlyAnExactName)
{
    FakeEnumerator e;
    e.audio = { Fake("Mic 2", DeviceKind::TestAudio), Fake("Mic", DeviceKind::TestAudio) };
    CaptureDevices devices(e);
    devices.ListAudioDevices();
    EXPECT_TRUE(devices.AudioDevicePresent);
    EXPECT_EQ(devices.AudioDeviceNames, (std::vector<std::string> { "Mic 2", "Mic" }));

    BoundDevice bound = devices.FindAudioDevice("Mic", "mic");
    ASSERT_TRUE(bound.element);
    EXPECT_EQ(bound.label, "Mic");
    EXPECT_EQ(FactoryOf(bound.element.get()), "audiotestsrc");
    EXPECT_FALSE(devices.FindAudioDevice("Mi", "mic").element);

    e.audio.clear();
    devices.ListAudioDevices();
    EXPECT_FALSE(devices.AudioDevicePresent);
    EXPECT_TRUE(devices.AudioDeviceNames.empty());
}

TEST(CaptureDevices, DvCameraFoundByItsAvcUnit)
{
    namespace fs = std::filesystem;
    const fs::path root = fs::temp_directory_path() / ("vorlund-fw-" + std::to_string(getpid()));
    fs::create_directories(root / "fw0");
    fs::create_directories(root / "fw1");
    std::ofstream(root / "fw1" / "units") << "0x00609e:0x010483\n"; // a storage unit
    EXPECT_FALSE(HasAvcUnit(root.string()));
    std::ofstream(root / "fw0" / "units") << "0x00a02d:0x010001\n";
    EXPECT_TRUE(HasAvcUnit(root.string()));
    EXPECT_FALSE(HasAvcUnit((root / "missing").string()));

    SystemDeviceEnumerator system(root.string());
    const std::vector<CaptureDevice> video = system.VideoDevices();
    ASSERT_GE(video.size(), 2u);
    EXPECT_EQ(video[video.size() - 2].kind, DeviceKind::DvCamera);
    ElementRef dv = video[video.size() - 2].CreateSource("dv");
    ASSERT_TRUE(dv);
    EXPECT_EQ(FactoryOf(dv.get()), "dv1394src");
    fs::remove_all(root);
}

namespace {

// Runs source ! capsfilter ! convert ! appsink and returns the caps of the third sample.
CapsRef PullThreeSamples(GstElement *source, const char *convert, const StoredFormat *format)
{
    ElementRef pipeline(gst_pipeline_new("graph"), RefMode::HasRef);
    GstElement *filter = gst_element_factory_make("capsfilter", "format");
    GstElement *conv = gst_element_factory_make(convert, nullptr);
    GstElement *sink = gst_element_factory_make("appsink", "SampleGrabber");
    g_object_set(sink, "sync", FALSE, "max-buffers", 1, "drop", TRUE, nullptr);
    gst_bin_add_many(GST_BIN(pipeline.get()), source, filter, conv, sink, nullptr);
    EXPECT_TRUE(gst_element_link_many(source, filter, conv, sink, nullptr));
    if (format) {
        EXPECT_EQ(SetFormat(source, filter, *format, nullptr), FormatResult::Applied);
    }

    EXPECT_NE(gst_element_set_state(pipeline.get(), GST_STATE_PLAYING), GST_STATE_CHANGE_FAILURE);
    CapsRef caps;
    for (int i = 0; i < 3; ++i) {
        SampleRef sample(gst_app_sink_try_pull_sample(GST_APP_SINK(sink), 5 * GST_SECOND),
                         RefMode::HasRef);
        EXPECT_TRUE(sample) << "sample " << i;
        if (!sample)
            break;
        EXPECT_GT(gst_buffer_get_size(gst_sample_get_buffer(sample.get())), 0u);
        caps = CapsRef(gst_sample_get_caps(sample.get()), RefMode::NeedsRef);
    }
    gst_element_set_state(pipeline.get(), GST_STATE_NULL);
    return caps;
}

} // namespace

TEST(CaptureDevices, SystemListsTheTestCameraAndItDeliversFrames)
{
    SystemDeviceEnumerator system;
    CaptureDevices devices(system);
    devices.ListVideoDevices();
    ASSERT_FALSE(devices.VideoDeviceNames.empty());
    EXPECT_LE(devices.VideoDeviceNames.size(), kMaxVideoDevices);
    EXPECT_EQ(devices.VideoDeviceNames.back(), kTestCameraName);

    BoundDevice bound = devices.FindVideoDevice(kTestCameraName, "Vorlund Test Camera");
    ASSERT_TRUE(bound.element);
    EXPECT_EQ(bound.kind, DeviceKind::TestCamera);
    EXPECT_EQ(FactoryOf(bound.element.get()), "videotestsrc");

    StoredFormat format; // RGB24 320x240, 30 frames a second
    format.frameDuration = 333333;
    CapsRef caps = PullThreeSamples(bound.element.get(), "identity", &format);
    ASSERT_TRUE(caps);
    const GstStructure *s = gst_caps_get_structure(caps.get(), 0);
    EXPECT_STREQ(gst_structure_get_string(s, "format"), "BGR");
    int width = 0, height = 0, num = 0, den = 0;
    gst_structure_get_int(s, "width", &width);
    gst_structure_get_int(s, "height", &height);
    gst_structure_get_fraction(s, "framerate", &num, &den);
    EXPECT_EQ(width, 320);
    EXPECT_EQ(height, 240);
    EXPECT_EQ(num, 30);
    EXPECT_EQ(den, 1);
}

TEST(CaptureDevices, SystemListsTheTestAudioLast)
{
#if defined(__SANITIZE_ADDRESS__)
    // With no sound server running, the PulseAudio device provider leaks its failed
    // connection on every probe; LeakSanitizer would report the plugin, not us.
    GTEST_SKIP() << "PulseAudio device probe leaks without a server";
#endif
    SystemDeviceEnumerator system;
    CaptureDevices devices(system);
    devices.ListAudioDevices();
    EXPECT_TRUE(devices.AudioDevicePresent);
    ASSERT_FALSE(devices.AudioDeviceNames.empty());
    EXPECT_EQ(devices.AudioDeviceNames.back(), kTestAudioName);

    BoundDevice bound = devices.FindAudioDevice(kTestAudioName, "Vorlund Test Audio");
    ASSERT_TRUE(bound.element);
    CapsRef caps = PullThreeSamples(bound.element.get(), "audioconvert", nullptr);
    ASSERT_TRUE(caps);
    EXPECT_TRUE(gst_structure_has_name(gst_caps_get_structure(caps.get(), 0), "audio/x-raw"));
}
