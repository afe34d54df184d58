// The capture graph's decisions that need no running pipeline: source kind, recording format
// and file name, the grabber's picture size. CaptureGraph calls these; tests reach them
// directly.
#pragma once

#include "CaptureFormat.h"
#include "Clock.h"

#include <gst/gst.h>

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace vorlund {

// What the capture pin carries, decided once per build from its fixed caps.
enum class SourceKind { Rgb24, Yuy2, Dv, Other };

// Rgb24 for BGR, Yuy2 for YUY2/YUYV, Dv for an interleaved DV stream, Other for the rest
// (other raw formats, MJPEG, DV video without sound, streams, nothing at all).
SourceKind SourceKindOf(const GstStructure *caps);

// A multiplexed stream that needs a demultiplexer and decoder before it is a picture
// (an encoder board's MPEG-2 program or transport stream).
bool IsStreamSource(const GstStructure *caps);

enum class RecordingFormat { Avi, Mp4, Wmv };

RecordingFormat ChooseRecordingFormat(int32_t useWmProfile, std::string_view codecName);
std::string_view ExtensionFor(RecordingFormat format); // ".avi", ".mp4", ".wmv"

// "v12-08-2026-1405" for 14:05 on 8 December 2026; `attempt` 2, 3, ... appends "-2", "-3".
std::string RecordingBaseName(const LocalDateTime &now, int attempt = 1);

struct PictureSize
{
    int width = 0;
    int height = 0;
    bool operator==(const PictureSize &) const = default;
};

// The decoded size of a DV stream ("PAL" 720x576, "NTSC" 720x480; PAL when the caps do not
// say), halved in both directions unless the full size is asked for.
PictureSize DvPictureSize(const GstStructure *caps, bool fullSize);

// A DV stream's frame rate ("NTSC" 30000/1001, else 25), halved when alternate frames are
// dropped.
FrameRate DvFrameRate(const GstStructure *caps, bool half);

// The picture size a decoded source is scaled to: its own when its caps give one within
// 720x576, else the stored size cut to those limits (320x240 when nothing fits).
PictureSize DecodedPictureSize(const GstStructure *caps, int storedWidth, int storedHeight);

// The element names of the built graph, as the status, tests and the device pages find them.
namespace names {
inline constexpr const char *kPipeline = "VorlundGraph";
inline constexpr const char *kCaptureFormat = "CaptureFormat";
inline constexpr const char *kTee = "InfTee";
inline constexpr const char *kDvDecoder = "my DV Decoder";
inline constexpr const char *kDvSplitter = "my DV Splitter";
inline constexpr const char *kAvi2 = "VorlundAVI-2";
inline constexpr const char *kAvi3 = "VorlundAVI3";
inline constexpr const char *kAvi = "VorlundAVI";
inline constexpr const char *kAudio = "VorlundAudio";
inline constexpr const char *kVideoCodec = "Video Comp. Codec";
inline constexpr const char *kAudioCodec = "Audio Comp. Codec";
inline constexpr const char *kGrabber = "SampleGrabber";
inline constexpr const char *kColorSpace = "VorlundColorSpace";
inline constexpr const char *kDvDecoder2 = "my DV Decoder2";
inline constexpr const char *kDvSplitter2 = "my DV Splitter2";
inline constexpr const char *kMux = "Mux";
inline constexpr const char *kFileSink = "File Writer";
} // namespace names

} // namespace vorlund
