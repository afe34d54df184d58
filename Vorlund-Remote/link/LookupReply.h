#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace vorlund::viewer {

// The looked-up server address is at most this long.
inline constexpr size_t kMaxLookedUpAddress = 19;
// A longer line keeps only its first bytes; the reply is untrusted.
inline constexpr size_t kMaxLookupLine = 1024;

// The line being collected, carried from one read to the next.
struct HttpLineState
{
    std::string line;
    bool pendingCr = false; // the last read ended on a CR whose LF may come next
};

// Appends bytes from `pos` to the line until CR LF, which completes it and is not kept (also
// when the CR ends one read and the LF begins the next). A lone LF, or a CR not followed by
// LF, stays in the line. Returns true when a line was completed; `pos` is past the bytes used.
bool SplitHttpLine(HttpLineState &state, std::span<const uint8_t> bytes, size_t &pos);

// The address after "tor:" up to the first '?' or ':' (or the end of the line), at most 19
// characters, possibly empty; nullopt when the line holds no "tor:".
std::optional<std::string> FindServerAddress(std::string_view line);

// One read of the lookup reply: every complete line is searched, and a match replaces
// `address` (later lines win); a reply with no match leaves it as it was.
void ReadLookupReply(HttpLineState &state, std::span<const uint8_t> read, std::string &address);

} // namespace vorlund::viewer
