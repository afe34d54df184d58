#pragma once

#include "GstHandles.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

namespace vorlund {

class ErrorLog;

inline constexpr int kMaxCaptureWidth = 720;
inline constexpr int kMaxCaptureHeight = 576;

// A media subtype identifier as the settings file stores it (16 bytes, the first three
// fields little-endian).
struct MediaGuid
{
    uint32_t data1 = 0;
    uint16_t data2 = 0;
    uint16_t data3 = 0;
    std::array<uint8_t, 8> data4 {};

    static MediaGuid FromBytes(const std::array<uint8_t, 16> &bytes);
    std::array<uint8_t, 16> ToBytes() const;
    bool operator==(const MediaGuid &) const = default;
};

// The video subtypes of the four-character-code family share their last three fields.
constexpr MediaGuid FourCcGuid(uint32_t fourcc)
{
    return { fourcc, 0x0000, 0x0010, { 0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71 } };
}
constexpr uint32_t FourCc(char a, char b, char c, char d)
{
    return uint32_t(uint8_t(a)) | uint32_t(uint8_t(b)) << 8 | uint32_t(uint8_t(c)) << 16
        | uint32_t(uint8_t(d)) << 24;
}

inline constexpr MediaGuid kSubtypeRgb24 {
    0xE436EB7D, 0x524F, 0x11CE, { 0x9F, 0x53, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70 }
};
inline constexpr MediaGuid kSubtypeRgb32 {
    0xE436EB7E, 0x524F, 0x11CE, { 0x9F, 0x53, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70 }
};
inline constexpr MediaGuid kSubtypeRgb565 {
    0xE436EB7B, 0x524F, 0x11CE, { 0x9F, 0x53, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70 }
};
inline constexpr MediaGuid kSubtypeRgb555 {
    0xE436EB7C, 0x524F, 0x11CE, { 0x9F, 0x53, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70 }
};
inline constexpr MediaGuid kSubtypeYuy2 = FourCcGuid(FourCc('Y', 'U', 'Y', '2'));
inline constexpr MediaGuid kSubtypeYuyv = FourCcGuid(FourCc('Y', 'U', 'Y', 'V'));
inline constexpr MediaGuid kSubtypeUyvy = FourCcGuid(FourCc('U', 'Y', 'V', 'Y'));
inline constexpr MediaGuid kSubtypeYvyu = FourCcGuid(FourCc('Y', 'V', 'Y', 'U'));
inline constexpr MediaGuid kSubtypeI420 = FourCcGuid(FourCc('I', '4', '2', '0'));
inline constexpr MediaGuid kSubtypeIyuv = FourCcGuid(FourCc('I', 'Y', 'U', 'V'));
inline constexpr MediaGuid kSubtypeYv12 = FourCcGuid(FourCc('Y', 'V', '1', '2'));
inline constexpr MediaGuid kSubtypeNv12 = FourCcGuid(FourCc('N', 'V', '1', '2'));
inline constexpr MediaGuid kSubtypeMjpg = FourCcGuid(FourCc('M', 'J', 'P', 'G'));
inline constexpr MediaGuid kSubtypeDvsd = FourCcGuid(FourCc('d', 'v', 's', 'd'));
inline constexpr MediaGuid kSubtypeDvsl = FourCcGuid(FourCc('d', 'v', 's', 'l'));

// The caps a subtype stands for: media type, raw format (null when not raw) and whether the
// stream carries a picture size of its own choosing (DV does not).
struct SubtypeCaps
{
    const char *media;
    const char *format;
    bool sized;
};
std::optional<SubtypeCaps> CapsForSubtype(const MediaGuid &subtype);

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
    MediaGuid subtype = kSubtypeRgb24;
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

} // namespace vorlund
