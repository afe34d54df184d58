// Pieces the capture graph tests share: cameras that need no hardware (the built-in test
// camera, a DV file played as a camcorder, an oversized source), a graph over the server
// fixture, and reading a recording back.
#pragma once

#include "CaptureDevices.h"
#include "CaptureGraph.h"
#include "MotionGrabber.h"
#include "ServerFixture.h"

#include <gst/gst.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace vorlund::test {

inline constexpr std::string_view kDvFileCamera = "DV File Camera";
inline constexpr std::string_view kLargeCamera = "Large Camera";
inline constexpr std::string_view kMpeg2Board = "MPEG-2 Encoder Board";

// A DV file of `frames` PAL frames with sound, made with the libav DV encoder and muxer.
bool MakeDvFile(const std::filesystem::path &file, int frames);

// One 50-frame DV file per test process, made on first use and removed when the process ends.
std::filesystem::path DvFile();

// The test camera, a camcorder playing `dvFile` in a loop at 25 frames a second, a live camera
// that offers only 1280x720 BGR and an encoder board that gives an MPEG-2 transport stream.
class TestCameras : public IDeviceEnumerator
{
public:
    explicit TestCameras(std::filesystem::path dvFile) : m_dvFile(std::move(dvFile)) { }
    std::vector<CaptureDevice> VideoDevices() override;
    // The built-in test sound when `withAudio` is set, else none.
    std::vector<CaptureDevice> AudioDevices() override;
    bool withAudio = false;

private:
    std::filesystem::path m_dvFile;
};

// The real state objects, the test cameras and a capture graph over them.
struct GraphFixture : ServerFixture
{
    explicit GraphFixture(const std::filesystem::path &dvFile) : cameras(dvFile) { }
    // Device, subtype and size of the stored format, and the codec.
    void Configure(std::string_view device, const Guid &subtype, int width, int height,
                   std::string_view codec);

    TestCameras cameras;
    CaptureDevices devices { cameras };
    CMotionGrabber grabber { engine };
    CaptureGraph graph { context, devices, grabber };
};

// Waits (bounded) until `done` holds, draining the graph's bus meanwhile. The bound is
// generous: a sanitized build on a loaded machine decodes DV slowly.
bool WaitFor(const std::function<bool()> &done,
             std::chrono::milliseconds limit = std::chrono::seconds(30));

// Counts the buffers that leave an element's source pad.
class BufferCounter
{
public:
    BufferCounter(GstElement *element, const char *pad);
    ~BufferCounter();
    int Count() const { return m_count.load(); }

private:
    GstPad *m_pad = nullptr;
    gulong m_probe = 0;
    std::atomic<int> m_count { 0 };
};

struct ReadBack
{
    bool ok = false;
    int frames = 0;
    bool gapless = true; // each frame starts where the one before ended
    double seconds = 0;
    int audioBuffers = 0; // decoded sound buffers (0: no sound stream)
    double audioSeconds = 0; // their durations added up
    double longestAudioBuffer = 0; // seconds
};

// Decodes a recording to its end: its pictures, and whether it has sound.
ReadBack ReadRecording(const std::filesystem::path &file);

// The whole of a file as it stands (empty when it cannot be read).
std::string ReadText(const std::filesystem::path &file);

} // namespace vorlund::test
