#pragma once

#include "HostInfo.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

namespace vorlund::viewer {

// The largest frame body: one 640 x 480 x 3 picture.
inline constexpr int32_t kMaxFrameLength = 640 * 480 * 3;

// What one read gave.
struct ReplyResult
{
    enum class Kind {
        None, // nothing complete yet
        Frame, // a whole frame body is in Frame()
        HostReady, // a hello without the password flag, or ">AOK"
        NeedPassword, // a hello with the password flag
        HostError, // ">ERR"
        BadFrameLength, // a frame header whose length is outside 1..kMaxFrameLength
    };
    Kind kind = Kind::None;
    uint8_t camera = 0; // Frame: the header's camera byte, unchecked
    int32_t length = 0; // Frame: body length; BadFrameLength: the header's value
    uint8_t errorCode = 0; // HostError: byte 7
    // False once a reply was taken (the rest of the read is dropped and reading stops until
    // the next request) or the link has to be dropped.
    bool keepReading = true;
};

// Cuts the server's replies out of the byte stream, one read at a time. Everything is bounded:
// the header never grows past 18 bytes and a frame body never past kMaxFrameLength.
class ReplyParser
{
public:
    ReplyParser();

    ReplyResult Feed(std::span<const uint8_t> read);

    // The latest hello; its PTZ flags fill in as bytes 18-21 of the stream arrive.
    const HostInfo &Host() const { return m_host; }
    // The body of the last Frame result; valid until the next Feed.
    std::span<const uint8_t> Frame() const { return { m_frame.get(), size_t(m_expectedLength) }; }
    int HeaderSize() const { return m_headerSize; }

private:
    enum class Tag { Incomplete, Frame, Hello, Accept, Error, Unknown };
    Tag Examine() const;
    ReplyResult TakeBody(std::span<const uint8_t> bytes);
    size_t TakePtzFlags(std::span<const uint8_t> bytes);

    std::unique_ptr<uint8_t[]> m_frame;
    std::array<uint8_t, 18> m_header {};
    int m_headerCount = 0;
    int m_headerSize = 18; // 8 once the hello or ">AOK" was taken
    bool m_inBody = false;
    int32_t m_expectedLength = 0;
    int32_t m_bodyCount = 0;
    uint8_t m_camera = 0;
    int m_ptzTaken = 4; // PTZ flag bytes of the last hello already in (4 = none awaited)
    HostInfo m_host;
};

} // namespace vorlund::viewer
