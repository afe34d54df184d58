#include "RelayFrames.h"

#include <algorithm>
#include <cstring>

namespace vorlund::relay {

namespace {

constexpr size_t kReaderCapacity = 2 * (kFrameHeader + kMaxPayload);

bool IsKnownType(uint8_t type)
{
    switch (static_cast<FrameType>(type)) {
    case FrameType::Login:
    case FrameType::Accepted:
    case FrameType::Refused:
    case FrameType::Open:
    case FrameType::Data:
    case FrameType::Close:
    case FrameType::Ping:
    case FrameType::Pong:
        return true;
    }
    return false;
}

} // namespace

void AppendFrame(std::vector<uint8_t> &out, FrameType type, uint8_t channel,
                 std::span<const uint8_t> payload)
{
    const size_t length = std::min(payload.size(), kMaxPayload);
    out.push_back(static_cast<uint8_t>(type));
    out.push_back(channel);
    out.push_back(static_cast<uint8_t>(length));
    out.push_back(static_cast<uint8_t>(length >> 8));
    out.insert(out.end(), payload.begin(), payload.begin() + static_cast<std::ptrdiff_t>(length));
}

void AppendData(std::vector<uint8_t> &out, uint8_t channel, std::span<const uint8_t> bytes)
{
    while (!bytes.empty()) {
        const size_t n = std::min(bytes.size(), kMaxPayload);
        AppendFrame(out, FrameType::Data, channel, bytes.first(n));
        bytes = bytes.subspan(n);
    }
}

size_t FrameReader::Append(std::span<const uint8_t> bytes)
{
    if (m_start > 0) {
        m_buffer.erase(m_buffer.begin(), m_buffer.begin() + static_cast<std::ptrdiff_t>(m_start));
        m_start = 0;
    }
    const size_t take = std::min(bytes.size(), kReaderCapacity - m_buffer.size());
    m_buffer.insert(m_buffer.end(), bytes.begin(),
                    bytes.begin() + static_cast<std::ptrdiff_t>(take));
    return take;
}

ReadResult FrameReader::Next(Frame &out)
{
    const size_t available = m_buffer.size() - m_start;
    if (available < kFrameHeader)
        return available > 0 && !IsKnownType(m_buffer[m_start]) ? ReadResult::Invalid
                                                                : ReadResult::NeedMore;
    const uint8_t *at = m_buffer.data() + m_start;
    if (!IsKnownType(at[0]))
        return ReadResult::Invalid;
    const size_t length = at[2] | size_t(at[3]) << 8;
    if (length > kMaxPayload)
        return ReadResult::Invalid;
    if (available < kFrameHeader + length)
        return ReadResult::NeedMore;
    out.type = static_cast<FrameType>(at[0]);
    out.channel = at[1];
    out.payload.assign(at + kFrameHeader, at + kFrameHeader + length);
    m_start += kFrameHeader + length;
    return ReadResult::Frame;
}

bool SplitLogin(std::span<const uint8_t> payload, std::string &login, std::string &password)
{
    const auto nul = std::find(payload.begin(), payload.end(), uint8_t(0));
    if (nul == payload.end())
        return false;
    login.assign(payload.begin(), nul);
    password.assign(nul + 1, payload.end());
    auto printable = [](const std::string &s) {
        return std::all_of(s.begin(), s.end(),
                           [](char c) { return static_cast<uint8_t>(c) >= 0x20; });
    };
    return !login.empty() && login.size() <= kMaxCredential && password.size() <= kMaxCredential
        && printable(login) && printable(password);
}

} // namespace vorlund::relay
