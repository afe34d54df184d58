#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace vorlund::link {

// The bytes of the viewer link, server side. Requests are cut out of the stream by their
// structure (fixed positions and lengths), never by looking for line ends: quality 10 is a
// line feed and a password may hold any byte.

inline constexpr size_t kMaxLoginLength = 512; // the whole login line, CR LF included
inline constexpr size_t kMaxPasswordLength = 15;
inline constexpr size_t kHelloLength = 22;
inline constexpr size_t kReplyLength = 8; // ">AOK", ">ERR" and the frame header
inline constexpr uint8_t kErrorRefused = 1;
inline constexpr uint8_t kErrorInUse = 2;
inline constexpr int kMinSizeCode = 16;
inline constexpr int kMaxSizeCode = 64;
inline constexpr int kMinQuality = 5;
inline constexpr int kMaxQuality = 100;

struct ViewerRequest
{
    enum class Kind : uint8_t {
        Login, // a = quality, b = size code, text = login id (may be empty)
        Password, // text = the password
        Live, // a = camera, b = value (size code or quality)
        Stored, // a = camera, b = step character
        Control, // b = value
        KeepAlive,
    };
    Kind kind = Kind::KeepAlive;
    uint8_t a = 0;
    uint8_t b = 0;
    std::string text;
};

// What the parser accepts next; the session moves it on.
enum class ParseStage : uint8_t {
    Login,
    Password,
    Requests,
};

enum class ParseResult : uint8_t {
    NeedMore,
    Request,
    Invalid, // the link is to be closed
};

// Collects a viewer's bytes and hands out one whole request at a time. Holds at most
// kMaxLoginLength bytes; the caller feeds by Append and drains by Next until NeedMore.
class SessionParser
{
public:
    void SetStage(ParseStage stage) { m_stage = stage; }
    ParseStage Stage() const { return m_stage; }

    // Takes as many bytes as fit; returns how many were taken.
    size_t Append(std::span<const uint8_t> bytes);
    ParseResult Next(ViewerRequest &out);
    size_t Buffered() const { return m_length; }
    // The bytes taken but not yet cut into a request.
    std::span<const uint8_t> BufferedBytes() const { return { m_buffer.data(), m_length }; }

private:
    ParseResult ParseLogin(ViewerRequest &out);
    ParseResult ParsePassword(ViewerRequest &out);
    ParseResult ParseRequest(ViewerRequest &out);
    void Consume(size_t count);

    ParseStage m_stage = ParseStage::Login;
    std::array<uint8_t, kMaxLoginLength> m_buffer {};
    size_t m_length = 0;
};

// The session's picture size from a size code: code × 10 wide (160..640), ¾ of that high.
struct SessionSize
{
    int width = 320;
    int height = 240;
};
SessionSize SizeFromCode(int sizeCode);
bool IsSizeCode(int value);
int ClampQuality(int quality);

struct HelloFields
{
    bool passwordWanted = false;
    bool cameraOnePriority = false;
    int width = 320;
    int height = 240;
    int cameraCount = 1;
    std::array<uint8_t, 4> ptzFlags {};
};

// The letter in byte 4 names no analogue video standard (the viewer tests 'N' and 'P').
inline constexpr uint8_t kVideoStandardLetter = 'D';

std::array<uint8_t, kHelloLength> BuildHello(const HelloFields &fields);
std::array<uint8_t, kReplyLength> BuildAccept();
std::array<uint8_t, kReplyLength> BuildError(uint8_t code);
std::array<uint8_t, kReplyLength> BuildFrameHeader(uint8_t camera, uint32_t bodyLength);

// Compares two secrets of at most `width` bytes, taking the same time wherever they differ.
bool SameSecret(std::string_view given, std::string_view wanted, size_t width);

void PutLe32(uint8_t *at, uint32_t value);
uint32_t GetLe32(const uint8_t *at);

} // namespace vorlund::link
