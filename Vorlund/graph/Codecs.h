#pragma once

#include "GstHandles.h"

#include <cstddef>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace vorlund {

inline constexpr size_t kMaxCodecNames = 39;

enum class CodecKind { Video, Audio };

// The compressor the server falls back to.
inline constexpr std::string_view kMpeg4V3CodecName = "Microsoft MPEG-4 Video Codec V3";

// A compressor as the settings name it, and the GStreamer encoder that does its work.
struct CodecEntry
{
    std::string_view name;
    std::string_view factory;
    CodecKind kind;
    std::string_view package; // Debian package that ships the encoder
};

// Every compressor the server knows by name. "WMVideo9 Encoder DMO" has no encoder here, so
// binding it fails and the server falls back to "Microsoft MPEG-4 Video Codec V3".
std::span<const CodecEntry> CodecTable();

// The table entry of that exact name, or null.
const CodecEntry *FindCodec(std::string_view name);

// Whether a GStreamer element factory of that name is installed.
bool FactoryInstalled(std::string_view factory);

using InstalledPredicate = std::function<bool(std::string_view factory)>;

// Names of the installed compressors of one kind, in table order, at most 39.
std::vector<std::string> ListCompressors(CodecKind kind,
                                         const InstalledPredicate &installed = FactoryInstalled);

// The encoder of the compressor named exactly `codecName` (of that kind), as a new unlinked
// element; null when no such compressor is known or installed.
ElementRef BindCompressor(CodecKind kind, std::string_view codecName, const char *elementName);

} // namespace vorlund
