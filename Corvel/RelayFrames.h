#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace vorlund::relay {

// The link between a server and the relay service (relay/README.md): after the server's
// four-byte marker, both sides send frames of type, channel, 16-bit length and payload.
inline constexpr std::array<uint8_t, 4> kServerMarker { 'V', 'R', 'S', '1' };
inline constexpr size_t kFrameHeader = 4;
inline constexpr size_t kMaxPayload = 16384;
inline constexpr size_t kMaxCredential = 51;

enum class FrameType : uint8_t {
    Login = 'L', // server: login NUL password
    Accepted = 'A', // relay: the login is good
    Refused = 'R', // relay: it is not; the relay closes
    Open = 'O', // relay: a viewer came on this channel; payload = its address
    Data = 'D', // both: bytes of a channel
    Close = 'C', // both: the channel ends
    Ping = 'P', // server: are you there
    Pong = 'Q', // relay: yes
};

struct Frame
{
    FrameType type = FrameType::Ping;
    uint8_t channel = 0;
    std::vector<uint8_t> payload;
};

// Appends one frame (payload at most kMaxPayload) to out.
void AppendFrame(std::vector<uint8_t> &out, FrameType type, uint8_t channel,
                 std::span<const uint8_t> payload = {});
// Appends channel data cut into frames.
void AppendData(std::vector<uint8_t> &out, uint8_t channel, std::span<const uint8_t> bytes);

enum class ReadResult : uint8_t {
    NeedMore,
    Frame,
    Invalid,
};

// Cuts frames out of a byte stream; holds at most one frame's bytes beyond what was read.
class FrameReader
{
public:
    // Takes what fits; returns how many bytes were taken.
    size_t Append(std::span<const uint8_t> bytes);
    ReadResult Next(Frame &out);

private:
    std::vector<uint8_t> m_buffer;
    size_t m_start = 0;
};

// The login frame's payload, split; false when it is malformed.
bool SplitLogin(std::span<const uint8_t> payload, std::string &login, std::string &password);

} // namespace vorlund::relay
