#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace vorlund::viewer {

// Every request is written whole into a send buffer of this size.
inline constexpr size_t kSendBufferSize = 512;

// Stored-frame steps.
inline constexpr char kStepNewest = '=';
inline constexpr char kStepBack = '-';
inline constexpr char kStepBackTen = '(';
inline constexpr char kStepForward = '+';
inline constexpr char kStepForwardTen = ')';

// The requests, byte for byte, each ending in CR LF. Texts (id, password, host) are sent as
// their bytes; a request that would not fit the send buffer is refused (nullopt).
std::optional<std::string> LoginRequest(uint8_t quality, uint8_t sizeCode, std::string_view id);
std::optional<std::string> PasswordRequest(std::string_view password);
std::string LiveFrameRequest(uint8_t camera, uint8_t value);
std::string StoredFrameRequest(uint8_t camera, char step);
std::string PtzRequest(uint8_t value);
std::string KeepAliveRequest();
std::optional<std::string> LookupRequest(std::string_view id, std::string_view lookupHost);

// The id as it goes into the GET line: bytes below 0x21, above 0x7E and '%' become %XX, so an
// ordinary address ('@' and '+' included) goes out unchanged and no id can end the line.
std::string EncodeLookupId(std::string_view id);

} // namespace vorlund::viewer
