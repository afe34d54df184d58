// The grabber branch's end: an appsink whose streaming-thread callback hands each frame to the
// motion detector in the layout it expects (bottom-up BGR rows, no padding).
#pragma once

#include "GstHandles.h"

#include <atomic>
#include <cstdint>
#include <memory>

namespace vorlund {

class CMotionGrabber;

class GrabberSink
{
public:
    explicit GrabberSink(CMotionGrabber &grabber);
    ~GrabberSink();
    GrabberSink(const GrabberSink &) = delete;
    GrabberSink &operator=(const GrabberSink &) = delete;

    // A new appsink configured for the grabber branch (BGR, no sync, newest frame only) with
    // this sink's callback. Frames reach the detector only while its size matches the
    // detector's FrameWidth x FrameHeight.
    ElementRef CreateAppSink(const char *name);

    // Frames handed to the detector / frames refused (wrong size, unreadable) since construction.
    uint64_t FramesDelivered() const { return m_delivered.load(); }
    uint64_t FramesRefused() const { return m_refused.load(); }

    // Streaming thread: hands one mapped frame, bottom row first, to the detector.
    void OnSample(GstSample *sample);

private:
    CMotionGrabber &m_grabber;
    std::atomic<uint64_t> m_delivered { 0 };
    std::atomic<uint64_t> m_refused { 0 };
};

} // namespace vorlund
