#pragma once

#include "DeviceConfig.h"
#include "ServerContext.h"
#include "StillImage.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace vorlund {

inline constexpr std::string_view kMemoryAllocFailed = "memory alloc. failed. er22";
inline constexpr std::string_view kImageNotValid = "Image not valid. er24";
inline constexpr std::string_view kSnapSound = "snap.wav";

// Motion snapshot: <video folder>/cam<c>/p%03d.jpg.
std::filesystem::path SnapshotPath(const std::filesystem::path &videoFolder, int camera,
                                   int32_t count);
// Time-lapse picture: <video folder>/TimeLapse/cam<c>/p%04d.jpg.
std::filesystem::path TimeLapsePath(const std::filesystem::path &videoFolder, int camera,
                                    int32_t count);
// The number after `count`: 1 again once it would pass `limit` (and after any count a bad
// settings file left out of range).
int32_t NextPictureNumber(int32_t count, int32_t limit);
// The stored number is saved with the settings now and then; after the process was killed it
// can lag the pictures on disk (or still be 0), and counting on from it would overwrite the
// newest ones. Returns the number of the newest picture in the folder of `pathOf`'s files (the
// latest written; among equally new ones the last in sequence), or `count` when the folder
// holds none of them.
int32_t CatchUpPictureNumber(int32_t count, int32_t limit,
                             const std::function<std::filesystem::path(int32_t)> &pathOf);
// The time-lapse window at `minuteOfDay`, both ends included. A window whose end hour is
// earlier than its start hour runs past midnight; equal hours never wrap. A window with an
// hour or minute out of range (never set) is closed.
bool TimeLapseWindowOpen(const TimeWindow &window, int minuteOfDay);

// Motion snapshots and time-lapse pictures (UI thread): takes the still the detector handed
// over, stamps date and time, turns motion snapshots as "ImageRotate" asks, and files the JPEG
// under its camera and kind; a motion snapshot queues the alert mail.
class Snapshots
{
public:
    Snapshots(ServerContext &context, IMailer &mailer);

    // WM_FRAME_GRABBED. 0 when a picture was saved or none was waiting; -1 after a failure
    // (the user has been told).
    int SaveSnapshot();
    // WM_REQUEST_SNAPSHOT: camera 1, when the current camera takes snapshots and capture runs.
    void RequestSnapshot();
    // TIMELAPSE_TIMER: asks for a time-lapse picture of `camera` while its window is open.
    void OnTimeLapseTimer(int camera);
    // WM_PLAY_SNAP.
    void PlaySnapSound();

private:
    void Stamp(StillImage &image);
    std::filesystem::path TimeLapseFile(int camera);
    std::filesystem::path MotionFile(int camera);
    bool MakeFolder(const std::filesystem::path &folder, std::string_view failure);
    int Fail(const char *format, int code, const std::string &text);

    ServerContext &m_context;
    IMailer &m_mailer;
    StampFont m_font;
    JpegEncoder m_encoder;
    StillImage m_image;
    std::vector<uint8_t> m_still;
    std::vector<uint8_t> m_jpeg;
    // Per camera: the stored numbers were checked against the pictures on disk (once a run).
    PerCamera<bool> m_motionCaughtUp {};
    PerCamera<bool> m_timeLapseCaughtUp {};
};

} // namespace vorlund
