// Texts the capture graph build shows, shared by the files that build its parts.
#pragma once

#include "Seams.h" // kDeviceInUseText, which run control logs too

#include <string_view>

namespace vorlund {

inline constexpr std::string_view kNoDeviceText
    = "No video capture device was detected on your system.\r\n\r\nVorlund requires a "
      "functional video capture device, such\r\nas a USB web camera, DV camcorder, etc.";
inline constexpr std::string_view kAudioCompressorText
    = "Could not connect MP3/AAC Comp. audio.\r\n\r\n";
inline constexpr std::string_view kAviConnectText
    = "Could not connect to VorlundAVI filter.\r\nIs the capture device being used by another "
      "application?\r\nAlso, check the Video Format...the max. resolution supported\r\nis 720 x "
      "576.";
inline constexpr std::string_view kMpeg2AdviceText
    = "Could not connect to VorlundAVI filter.\r\nThe device you are using might be an MPEG-2 "
      "Encoder board.\r\nPlease install an MPEG-2 Decoder filter and run Vorlund again.\r\n"
      "The Debian package gstreamer1.0-libav brings one (avdec_mpeg2video).";
inline constexpr std::string_view kNoCodecText
    = "Could not find Video Codec. (Microsoft MPEG-4 Video Codec V3 is the default)\r\nPlease "
      "choose a different Video Compression Codec or see\r\nthe section \"What it does not do\" "
      "of Vorlund's README.md for\r\nthe MPEG-4 encoders (Debian package gstreamer1.0-libav).";
inline constexpr std::string_view kOutputStreamText
    = "Could not create output stream.\r\nTry a different Video Compressor.\r\nAlso, check the "
      "Video Format...the max. resolution supported\r\nis 720 x 576.";
inline constexpr std::string_view kGrabberText
    = "Incompatible video format/preview settings.\nChange video Format and try again.";

} // namespace vorlund
