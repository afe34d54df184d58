#include "ReplyParser.h"

#include <algorithm>
#include <cstring>

namespace vorlund::viewer {

namespace {

constexpr int kHelloSize = 18; // the hello's fixed part; its four PTZ flags follow
constexpr int kShortReplySize = 8; // ">AOK", ">ERR" and the frame header

int32_t LittleEndian32(const uint8_t *p)
{
    return int32_t(uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16
                   | uint32_t(p[3]) << 24);
}

int16_t LittleEndian16(const uint8_t *p)
{
    return int16_t(uint16_t(p[0]) | uint16_t(p[1]) << 8);
}

} // namespace

ReplyParser::ReplyParser() : m_frame(new uint8_t[kMaxFrameLength]) { }

// Tags that begin with '>' are taken as soon as their own bytes are in, also while the longer
// hello is awaited; a reply is never read past the bytes received.
ReplyParser::Tag ReplyParser::Examine() const
{
    const int count = m_headerCount;
    const auto *h = m_header.data();
    if (count >= 1 && h[0] == '>') {
        if (count < 4)
            return Tag::Incomplete;
        if (std::memcmp(h + 1, "HEL", 3) == 0)
            return count >= kHelloSize ? Tag::Hello : Tag::Incomplete;
        if (std::memcmp(h + 1, "AOK", 3) == 0)
            return count >= kShortReplySize ? Tag::Accept : Tag::Incomplete;
        if (std::memcmp(h + 1, "ERR", 3) == 0)
            return count >= kShortReplySize ? Tag::Error : Tag::Incomplete;
    } else if (count >= 3 && std::memcmp(h, ":HE", 3) == 0) {
        return count >= kShortReplySize ? Tag::Frame : Tag::Incomplete;
    }
    return count >= m_headerSize ? Tag::Unknown : Tag::Incomplete;
}

// The hello's PTZ flags are bytes 18-21 of the stream however the reads split. A '>' or ':'
// where a flag is awaited is the next reply (a server that sent no flags): they stay 0.
size_t ReplyParser::TakePtzFlags(std::span<const uint8_t> bytes)
{
    size_t i = 0;
    while (m_ptzTaken < 4 && i < bytes.size()) {
        const uint8_t b = bytes[i];
        if (b == '>' || b == ':') {
            m_ptzTaken = 4;
            break;
        }
        m_host.ptzFlags[size_t(m_ptzTaken++)] = b;
        ++i;
    }
    return i;
}

ReplyResult ReplyParser::TakeBody(std::span<const uint8_t> bytes)
{
    const auto take = std::min(bytes.size(), size_t(m_expectedLength - m_bodyCount));
    std::memcpy(m_frame.get() + m_bodyCount, bytes.data(), take);
    m_bodyCount += int32_t(take);
    if (m_bodyCount < m_expectedLength)
        return {};
    // Bytes beyond the body in this read are dropped.
    m_inBody = false;
    m_bodyCount = 0;
    ReplyResult r;
    r.kind = ReplyResult::Kind::Frame;
    r.camera = m_camera;
    r.length = m_expectedLength;
    r.keepReading = false;
    return r;
}

ReplyResult ReplyParser::Feed(std::span<const uint8_t> read)
{
    size_t pos = TakePtzFlags(read);
    if (m_inBody)
        return TakeBody(read.subspan(pos));

    while (pos < read.size()) {
        m_header[size_t(m_headerCount++)] = read[pos++];
        const Tag tag = Examine();
        if (tag == Tag::Incomplete)
            continue;
        m_headerCount = 0;
        const auto *h = m_header.data();
        ReplyResult r;
        r.keepReading = false;
        switch (tag) {
        case Tag::Incomplete:
            break;
        case Tag::Unknown:
            // Not a reply: what is left of the read is dropped; reading goes on.
            return {};
        case Tag::Frame: {
            const int32_t length = LittleEndian32(h + 4);
            if (length < 1 || length > kMaxFrameLength) {
                r.kind = ReplyResult::Kind::BadFrameLength;
                r.length = length;
                return r;
            }
            m_camera = h[3];
            m_expectedLength = length;
            m_bodyCount = 0;
            m_inBody = true;
            return TakeBody(read.subspan(pos));
        }
        case Tag::Hello:
            m_headerSize = kShortReplySize;
            m_host.videoStandard = char(h[4]);
            m_host.rotationScheme = h[7] == '1';
            m_host.width = LittleEndian32(h + 8);
            m_host.height = LittleEndian32(h + 12);
            m_host.cameraCount = LittleEndian16(h + 16);
            m_host.ptzFlags = {};
            m_ptzTaken = 0;
            TakePtzFlags(read.subspan(pos));
            r.kind = h[6] == '2' ? ReplyResult::Kind::NeedPassword : ReplyResult::Kind::HostReady;
            return r;
        case Tag::Accept:
            m_headerSize = kShortReplySize;
            r.kind = ReplyResult::Kind::HostReady;
            return r;
        case Tag::Error:
            r.kind = ReplyResult::Kind::HostError;
            r.errorCode = h[7];
            return r;
        }
    }
    return {};
}

} // namespace vorlund::viewer
