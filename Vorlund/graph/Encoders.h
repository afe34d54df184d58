// The record branch's encoders: the Windows Media Video 9 settings record and its default bit
// rate, how each encoder is set up for recording, the video encoder's place between the gate
// and the multiplexer, and the fallback when the WMV9 encoder is asked for.
#pragma once

#include "CaptureFormat.h"
#include "DeviceConfig.h"
#include "GraphBuild.h"
#include "GraphPlan.h"
#include "WmProfile.h"

#include <gst/gst.h>

#include <cstdint>
#include <optional>
#include <string_view>

namespace vorlund {

struct CodecState;
struct DeviceConfig;

inline constexpr std::string_view kWmv9CodecName = "WMVideo9 Encoder DMO";

// The WMV9 encoder's settings, filled from the device settings before each build that asks for
// it; on this system they go to the encoder that records in its place.
struct EncoderParams
{
    int32_t BitRate = 700000; // bits per second; 0 or less: the default bit rate
    float FrameRate = 24.0f; // 0: from the input
    int32_t KeyDistance = 8; // seconds
    int32_t VideoWindow = 5000; // milliseconds
    int32_t Crisp = 50;
    int32_t VbrQuality = 50;
    int32_t Complexity = 0;
    int32_t DecoderComplexity = 0; // 0 "MP", 1 "SP", 2 "CP"
    int32_t Vbr = 1;
    char FourCC[5] = "WMV3";
};

EncoderParams MakeEncoderParams(const DeviceConfig &config, int32_t complexity);

// W x H x 2 / 5 bits a frame, times the frame rate: the given one when not 0, else the input's
// (10,000,000 / avgTimePerFrame in 100 ns units), else 29.97.
int32_t ComputeDefaultBitrate(int32_t width, int32_t height, int64_t avgTimePerFrame,
                              double frameRate);

// Sets up an encoder for recording. H.264 (MP4): no look-ahead and a key frame about every
// second, so each fragment stands alone. The libav MPEG-4 and WMV encoders take the WMV9
// settings' bit rate (or the default), key distance and, with VBR, a quality-driven quantizer.
void ConfigureVideoEncoder(GstElement *encoder, RecordingFormat format, const EncoderParams &params,
                           int width, int height, FrameRate inputRate);

// Makes the buffers leaving `pad` carry running time from 0. Encoders that shift their
// timestamps by 1000 hours (and say so in their segment) would otherwise put every video
// payload of a Windows Media file after all its sound, where players never find it.
void StampRunningTime(GstPad *pad);

// What the video encoder's build step works with and keeps.
struct VideoEncoderSetup
{
    EncoderParams params;
    const CodecState *state = nullptr; // what "Configure" set on the chosen compressor
    std::optional<WmProfileInfo> profile; // the Windows Media recording's profile
};

// BuildVideoEncoder's answer when the WMV9 encoder is chosen: the caller falls back.
inline constexpr int kWmv9Wanted = 2;

// The chosen video encoder behind `tail` (which then names it): the profile's for Windows
// Media, none for "(None)", else the compressor of that name with its stored settings.
int BuildVideoEncoder(const GraphBuild &build, VideoEncoderSetup &setup, ElementRef &tail);

// The rate recorded: the capture format's, a camcorder's halved unless progressive.
FrameRate RecordedRate(const GraphBuild &build);

// The WMV9 encoder's stand-in chosen and said (log and balloon); false, with what to install
// said instead, when MPEG-4 V3 is not installed either. The caller rebuilds with it.
bool SwitchToMpeg4V3(const GraphBuild &build);

} // namespace vorlund
