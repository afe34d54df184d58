#include "Lookup.h"

#include <algorithm>

namespace vorlund::relay {

namespace {

int HexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

} // namespace

std::optional<std::string> PercentDecode(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            out.push_back(text[i]);
            continue;
        }
        if (i + 2 >= text.size())
            return std::nullopt;
        const int hi = HexValue(text[i + 1]);
        const int lo = HexValue(text[i + 2]);
        if (hi < 0 || lo < 0)
            return std::nullopt;
        out.push_back(static_cast<char>(hi * 16 + lo));
        i += 2;
    }
    return out;
}

std::string PercentEncode(std::string_view text)
{
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if ((u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') || (u >= '0' && u <= '9')
            || std::string_view("-._~@").find(c) != std::string_view::npos) {
            out.push_back(c);
        } else {
            out.push_back('%');
            out.push_back(kHex[u >> 4]);
            out.push_back(kHex[u & 15]);
        }
    }
    return out;
}

std::string BuildLookupRequest(std::string_view id, std::string_view host)
{
    std::string request = "GET ";
    request.append(kLookupPath).append(PercentEncode(id)).append(" HTTP/1.1\r\n");
    request.append("Host: ").append(host).append("\r\n\r\n");
    return request;
}

std::optional<std::string> ParseLookupLine(std::string_view line)
{
    constexpr std::string_view kGet = "GET ";
    if (!line.starts_with(kGet))
        return std::nullopt;
    line.remove_prefix(kGet.size());
    if (!line.starts_with(kLookupPath))
        return std::nullopt;
    line.remove_prefix(kLookupPath.size());
    // The id is sent as typed, so it may hold blanks: the version is the last word.
    const size_t version = line.rfind(" HTTP/1.");
    if (version == std::string_view::npos || line.size() - version != 9)
        return std::nullopt;
    auto id = PercentDecode(line.substr(0, version));
    if (!id || id->size() > kMaxLookupId)
        return std::nullopt;
    if (std::any_of(id->begin(), id->end(), [](char c) {
            const auto u = static_cast<unsigned char>(c);
            return u < 0x20 || u == 0x7F;
        }))
        return std::nullopt;
    return id;
}

std::string BuildLookupReply(std::string_view address)
{
    std::string reply = "HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\nConnection: close\r\n\r\n";
    reply.append("director:").append(address.substr(0, kMaxAddressLength)).append(":\r\n");
    return reply;
}

std::optional<std::string> FindAddress(std::string_view line, size_t maxLength)
{
    const size_t at = line.find("tor:");
    if (at == std::string_view::npos)
        return std::nullopt;
    line.remove_prefix(at + 4);
    const size_t end = std::min(line.find_first_of("?:"), line.size());
    return std::string(line.substr(0, std::min(end, maxLength)));
}

} // namespace vorlund::relay
