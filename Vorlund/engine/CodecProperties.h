#pragma once

// A video encoder's settings as plain data: what the codec chooser's "Configure" shows and
// edits, free of the media library.

#include <cstddef>
#include <string>
#include <vector>

namespace vorlund {

// One writable property of an encoder, as the property editor shows it.
struct CodecProperty
{
    enum class Kind { Boolean, Integer, Real, Choice, Flags, Text };
    std::string name;
    std::string nick;
    std::string blurb;
    Kind kind = Kind::Text;
    std::string value; // the encoder's current value as text ("true"/"false", a number, a nick)
    std::vector<std::string> choices; // Choice: every value's nick, in order
};

// Limits of what an editor lists: properties of plain types, at most this many.
inline constexpr size_t kMaxCodecProperties = 128;
inline constexpr size_t kMaxCodecValueBytes = 1024;

} // namespace vorlund
