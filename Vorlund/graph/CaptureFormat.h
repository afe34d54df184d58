#pragma once

#include "GstHandles.h"
#include "MediaGuid.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

namespace vorlund {

class ErrorLog;

inline constexpr int kMaxCaptureWidth = 720;
inline constexpr int kMaxCaptureHeight = 576;

// The caps a subtype stands for: media type, raw format (null when not raw) and whether the
// stream carries a picture size of its own choosing (DV does not).
struct SubtypeCaps
{
    const char *media;
    const char *format;
    bool sized;
};
std::optional<SubtypeCaps> CapsForSubtype(const Guid &subtype);

// A frame rate as a fraction.
struct FrameRate
{
    int num = 0;
    int den = 1;
};

// The rate whose frame lasts `duration` 100 ns units: n/1 or n*1000/1001 when that is within
// one unit (durations are stored truncated), else the exact ratio.
FrameRate FrameRateForDuration(int64_t duration);

// Durations outside this range are not applied (the device keeps its own rate).
inline constexpr int64_t kMinFrameDuration = 10'000; // 1000 frames a second
inline constexpr int64_t kMaxFrameDuration = 600'000'000; // one frame a minute

// The stored capture format of a device.
struct StoredFormat
{
    Guid subtype = kSubtypeRgb24;
    int32_t width = 320;
    int32_t height = 240; // a negative height (top-down picture) counts by its size
    int64_t frameDuration = 0; // 100 ns units; 0 keeps the device's own
};

enum class FormatResult {
    Applied, // the stored format is what the capsfilter asks for
    NotOffered, // the device has no such subtype: nothing changed, nothing logged
    Refused, // the device offers the subtype but not with this size or rate
};

struct CaptureCaps
{
    FormatResult result = FormatResult::NotOffered;
    CapsRef caps; // what the capsfilter behind the source should ask for
};

// What the device offers, cut to at most 720x576 wherever a picture size is given.
CapsRef LimitToMaxSize(const GstCaps *offered);

// The capsfilter caps for `stored` on a device offering `offered`.
CaptureCaps ComputeCaptureCaps(const StoredFormat &stored, const GstCaps *offered);

// Applies the stored format to the capsfilter that follows `capture`. The capture element is
// brought to READY when it is below, so a real device reports its own formats.
// A refused format logs "SetFormat() failed." (when a log is given).
FormatResult SetFormat(GstElement *capture, GstElement *capsfilter, const StoredFormat &stored,
                       const ErrorLog *log);

// Fixes the capsfilter behind `capture` to one set of caps: the stored format where the device
// has it, else what the device offers (scaled down later when over the limits), nearest the
// stored size and rate. Returns the caps set.
CapsRef FixCaptureCaps(GstElement *capture, GstElement *capsfilter, const StoredFormat &stored);

} // namespace vorlund
