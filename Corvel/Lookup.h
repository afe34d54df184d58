#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace vorlund::relay {

// The web lookup: "GET /client.asp?id=<id> HTTP/1.1", answered with a line holding
// "tor:" and the relay's address, then ":".
inline constexpr size_t kMaxAddressLength = 19; // what the viewer keeps
inline constexpr size_t kMaxLookupId = 255; // after decoding
inline constexpr std::string_view kLookupPath = "/client.asp?id=";

// %XX sequences become their byte; nothing else is changed ('+' stays '+'). Empty when a
// sequence is malformed.
std::optional<std::string> PercentDecode(std::string_view text);
// Every byte outside letters, digits and "-._~@" as %XX.
std::string PercentEncode(std::string_view text);

std::string BuildLookupRequest(std::string_view id, std::string_view host);
// The id of a lookup request line, decoded; empty optional when the line is not one.
std::optional<std::string> ParseLookupLine(std::string_view requestLine);
// The reply to a good lookup.
std::string BuildLookupReply(std::string_view address);

// The address after "tor:" in one reply line, up to the first '?' or ':' (at most
// maxLength characters); empty optional when the line has no "tor:".
std::optional<std::string> FindAddress(std::string_view line, size_t maxLength);

} // namespace vorlund::relay
