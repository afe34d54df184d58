#include "LookupReply.h"

#include <algorithm>

namespace vorlund::viewer {

namespace {

void Append(std::string &line, char c)
{
    if (line.size() < kMaxLookupLine)
        line += c;
}

} // namespace

bool SplitHttpLine(HttpLineState &state, std::span<const uint8_t> bytes, size_t &pos)
{
    while (pos < bytes.size()) {
        const char c = char(bytes[pos++]);
        if (state.pendingCr) {
            state.pendingCr = false;
            if (c == '\n')
                return true;
            Append(state.line, '\r');
        }
        if (c == '\r')
            state.pendingCr = true;
        else
            Append(state.line, c);
    }
    return false;
}

std::optional<std::string> FindServerAddress(std::string_view line)
{
    constexpr std::string_view kMarker = "tor:";
    const auto at = line.find(kMarker);
    if (at == std::string_view::npos)
        return std::nullopt;
    auto rest = line.substr(at + kMarker.size());
    rest = rest.substr(0, std::min(rest.find_first_of("?:"), kMaxLookedUpAddress));
    return std::string(rest);
}

void ReadLookupReply(HttpLineState &state, std::span<const uint8_t> read, std::string &address)
{
    size_t pos = 0;
    while (SplitHttpLine(state, read, pos)) {
        if (auto found = FindServerAddress(state.line))
            address = std::move(*found);
        state.line.clear();
    }
}

} // namespace vorlund::viewer
