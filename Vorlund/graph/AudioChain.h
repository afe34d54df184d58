// The capture graph's sound from a capture device: source → level → "VorlundAudio" (the sound
// gate) → [encoder] → multiplexer; the input lines of an audio source and the level of each
// InputLevel choice, the audio compressor of each recording format and the Windows Media sound
// encoder.
#pragma once

#include "GraphBuild.h"
#include "GraphPlan.h"
#include "GstHandles.h"

#include <gst/gst.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vorlund {

class CaptureDevices;
struct WmProfileInfo;

inline constexpr size_t kMaxAudioInputLines = 15;
inline constexpr std::string_view kMicrophoneLine = "Microphone";
inline constexpr std::string_view kLineInLine = "Line In";

// The gain of an InputLevel choice: 0 full, 1 half, 2 a fifth, anything else 0.6.
double MixLevel(int32_t inputLevel);

// The audio compressor a recording format takes by name ("MPEG Layer-3" for AVI, "3ivx D4
// Audio Encoder" for MP4); empty for Windows Media, whose encoder follows the profile.
std::string_view AudioCompressorName(RecordingFormat format);

struct AudioLine
{
    std::string name; // as the user sees it
    std::string port; // the sound server's port behind it; empty when there is none
};

// The input lines of an audio source element: a PulseAudio source's ports where a sound
// server answers, "Microphone" and "Line In" for the built-in test sound, else "Microphone".
std::vector<AudioLine> AudioInputLines(GstElement *source);

// Which of `lines` is `wanted`: only the first 15 count. nullopt when none of them is.
std::optional<size_t> FindInputLine(const std::vector<AudioLine> &lines, std::string_view wanted);

// Makes `line` the source's active input; false when the sound server refuses.
bool SelectInputLine(GstElement *source, const AudioLine &line);

// The Windows Media sound encoder as `name` in `bin`, at the profile's audio bit rate, its
// output timed from 0 like the video's. Null (nothing added) when it cannot be made.
ElementRef AddWmAudioEncoder(GstBin *bin, const char *name, const WmProfileInfo *profile);

// Whether the graph records a capture device's sound (a camcorder's is the DV branch's).
bool RecordsCaptureAudio(const GraphBuild &build);

// The source's input lines (at most 15) into `names`; for the graph's own source the stored
// line is chosen (its position into `index`) and the stored level set.
int ApplyInputLines(const GraphBuild &build, GstElement *filter, std::vector<std::string> *names,
                    int *index);

// Binds the recording format's audio compressor into m_pAudioCodec (none when absent).
int FindAudioCompressor(GraphParts &parts);

// The stored audio device bound into the graph with "VorlundAudio" and the level behind it
// when sound is recorded; a source whose sound is not recorded stays bound, out of the graph.
int BuildAudioFrontEnd(const GraphBuild &build, CaptureDevices &devices);

// The sound gate on to the multiplexer (encoded as `profile` says for Windows Media).
int JoinCaptureAudio(const GraphBuild &build, const WmProfileInfo *profile);

} // namespace vorlund
