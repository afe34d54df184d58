#include "ViewerProtocol.h"

#include <algorithm>
#include <cstring>

namespace vorlund::link {

namespace {

constexpr uint8_t kCr = 0x0D;
constexpr uint8_t kLf = 0x0A;
constexpr std::array<uint8_t, 4> kLoginMarker { '5', '8', '6', '?' };

bool IsLineEnd(const uint8_t *at)
{
    return at[0] == kCr && at[1] == kLf;
}

} // namespace

size_t SessionParser::Append(std::span<const uint8_t> bytes)
{
    const size_t take = std::min(bytes.size(), m_buffer.size() - m_length);
    if (take > 0)
        std::memcpy(m_buffer.data() + m_length, bytes.data(), take);
    m_length += take;
    return take;
}

void SessionParser::Consume(size_t count)
{
    std::memmove(m_buffer.data(), m_buffer.data() + count, m_length - count);
    m_length -= count;
}

ParseResult SessionParser::Next(ViewerRequest &out)
{
    switch (m_stage) {
    case ParseStage::Login:
        return ParseLogin(out);
    case ParseStage::Password:
        return ParsePassword(out);
    case ParseStage::Requests:
        return ParseRequest(out);
    }
    return ParseResult::Invalid;
}

// "586?", quality, size code, the login id's characters, CR LF.
ParseResult SessionParser::ParseLogin(ViewerRequest &out)
{
    const size_t marker = std::min(m_length, kLoginMarker.size());
    if (!std::equal(m_buffer.begin(), m_buffer.begin() + marker, kLoginMarker.begin()))
        return ParseResult::Invalid;
    constexpr size_t kIdStart = 6;
    for (size_t i = kIdStart; i + 1 < m_length; ++i) {
        if (IsLineEnd(&m_buffer[i])) {
            out.kind = ViewerRequest::Kind::Login;
            out.a = m_buffer[4];
            out.b = m_buffer[5];
            out.text.assign(reinterpret_cast<const char *>(&m_buffer[kIdStart]), i - kIdStart);
            Consume(i + 2);
            return ParseResult::Request;
        }
        // An id is printable text.
        if (m_buffer[i] < 0x20 || m_buffer[i] == 0x7F)
            return ParseResult::Invalid;
    }
    if (m_length > kIdStart && (m_buffer[m_length - 1] < 0x20 && m_buffer[m_length - 1] != kCr))
        return ParseResult::Invalid;
    return m_length >= kMaxLoginLength ? ParseResult::Invalid : ParseResult::NeedMore;
}

// ">p", length, the password's characters, CR LF; an empty password is ">p" CR LF.
ParseResult SessionParser::ParsePassword(ViewerRequest &out)
{
    if ((m_length >= 1 && m_buffer[0] != '>') || (m_length >= 2 && m_buffer[1] != 'p'))
        return ParseResult::Invalid;
    if (m_length < 4)
        return ParseResult::NeedMore;
    out.kind = ViewerRequest::Kind::Password;
    if (IsLineEnd(&m_buffer[2])) {
        out.text.clear();
        Consume(4);
        return ParseResult::Request;
    }
    const size_t length = m_buffer[2];
    if (length == 0 || length > kMaxPasswordLength)
        return ParseResult::Invalid;
    const size_t total = 3 + length + 2;
    if (m_length < total)
        return ParseResult::NeedMore;
    if (!IsLineEnd(&m_buffer[3 + length]))
        return ParseResult::Invalid;
    out.text.assign(reinterpret_cast<const char *>(&m_buffer[3]), length);
    Consume(total);
    return ParseResult::Request;
}

// ">c" camera value, ">s" camera step, ">k" value, ">PN"; each ends with CR LF.
ParseResult SessionParser::ParseRequest(ViewerRequest &out)
{
    if (m_length >= 1 && m_buffer[0] != '>')
        return ParseResult::Invalid;
    if (m_length < 2)
        return ParseResult::NeedMore;
    size_t total = 0;
    switch (m_buffer[1]) {
    case 'c':
    case 's':
        total = 6;
        break;
    case 'k':
    case 'P':
        total = 5;
        break;
    default:
        return ParseResult::Invalid;
    }
    if (m_buffer[1] == 'P' && m_length >= 3 && m_buffer[2] != 'N')
        return ParseResult::Invalid;
    if (m_length < total)
        return ParseResult::NeedMore;
    if (!IsLineEnd(&m_buffer[total - 2]))
        return ParseResult::Invalid;
    out.text.clear();
    out.a = 0;
    out.b = 0;
    switch (m_buffer[1]) {
    case 'c':
        out.kind = ViewerRequest::Kind::Live;
        out.a = m_buffer[2];
        out.b = m_buffer[3];
        break;
    case 's':
        out.kind = ViewerRequest::Kind::Stored;
        out.a = m_buffer[2];
        out.b = m_buffer[3];
        break;
    case 'k':
        out.kind = ViewerRequest::Kind::Control;
        out.b = m_buffer[2];
        break;
    default:
        out.kind = ViewerRequest::Kind::KeepAlive;
        break;
    }
    Consume(total);
    return ParseResult::Request;
}

bool IsSizeCode(int value)
{
    return value >= kMinSizeCode && value <= kMaxSizeCode && value % 8 == 0;
}

SessionSize SizeFromCode(int sizeCode)
{
    const int code = std::clamp(sizeCode, kMinSizeCode, kMaxSizeCode);
    return { code * 10, code * 10 * 3 / 4 };
}

int ClampQuality(int quality)
{
    return std::clamp(quality, kMinQuality, kMaxQuality);
}

bool SameSecret(std::string_view given, std::string_view wanted, size_t width)
{
    uint8_t diff = given.size() != wanted.size() ? 1 : 0;
    for (size_t i = 0; i < width; ++i) {
        const uint8_t a = i < given.size() ? static_cast<uint8_t>(given[i]) : 0;
        const uint8_t b = i < wanted.size() ? static_cast<uint8_t>(wanted[i]) : 0;
        diff |= static_cast<uint8_t>(a ^ b);
    }
    return diff == 0;
}

void PutLe32(uint8_t *at, uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        at[i] = static_cast<uint8_t>(value >> (8 * i));
}

uint32_t GetLe32(const uint8_t *at)
{
    return uint32_t(at[0]) | uint32_t(at[1]) << 8 | uint32_t(at[2]) << 16 | uint32_t(at[3]) << 24;
}

std::array<uint8_t, kHelloLength> BuildHello(const HelloFields &fields)
{
    std::array<uint8_t, kHelloLength> hello {};
    std::memcpy(hello.data(), ">HEL", 4);
    hello[4] = kVideoStandardLetter;
    hello[5] = '0';
    hello[6] = fields.passwordWanted ? '2' : '0';
    hello[7] = fields.cameraOnePriority ? '1' : '0';
    PutLe32(&hello[8], static_cast<uint32_t>(fields.width));
    PutLe32(&hello[12], static_cast<uint32_t>(fields.height));
    const auto cameras = static_cast<uint16_t>(std::clamp(fields.cameraCount, 1, 4));
    hello[16] = static_cast<uint8_t>(cameras);
    hello[17] = static_cast<uint8_t>(cameras >> 8);
    for (size_t i = 0; i < 4; ++i)
        hello[18 + i] = fields.ptzFlags[i] ? 1 : 0;
    return hello;
}

std::array<uint8_t, kReplyLength> BuildAccept()
{
    return { '>', 'A', 'O', 'K', 0, 0, 0, 0 };
}

std::array<uint8_t, kReplyLength> BuildError(uint8_t code)
{
    return { '>', 'E', 'R', 'R', 0, 0, 0, code };
}

std::array<uint8_t, kReplyLength> BuildFrameHeader(uint8_t camera, uint32_t bodyLength)
{
    std::array<uint8_t, kReplyLength> header { ':', 'H', 'E', camera, 0, 0, 0, 0 };
    PutLe32(&header[4], bodyLength);
    return header;
}

} // namespace vorlund::link
