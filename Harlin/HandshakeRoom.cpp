#include "HandshakeRoom.h"

#include <arpa/inet.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <map>

namespace vorlund::link {

namespace {

// The oldest entry of `peer`; -1 when it holds none.
int OldestOf(std::span<const Waiting> waiting, const std::string &peer)
{
    int oldest = -1;
    for (size_t i = 0; i < waiting.size(); ++i)
        if (*waiting[i].peer == peer
            && (oldest < 0 || waiting[i].since < waiting[size_t(oldest)].since))
            oldest = int(i);
    return oldest;
}

// The oldest place of the address holding the most (the one with the oldest place among
// equals), and how many that address holds; -1 and 0 when `waiting` is empty.
int OldestOfBusiest(std::span<const Waiting> waiting, size_t &count)
{
    struct Held
    {
        size_t count = 0;
        int oldest = -1;
    };
    std::map<std::string_view, Held> held;
    for (size_t i = 0; i < waiting.size(); ++i) {
        Held &h = held[*waiting[i].peer];
        ++h.count;
        if (h.oldest < 0 || waiting[i].since < waiting[size_t(h.oldest)].since)
            h.oldest = int(i);
    }
    int pick = -1;
    count = 0;
    for (const auto &[peer, h] : held) {
        if (pick < 0 || h.count > count
            || (h.count == count
                && waiting[size_t(h.oldest)].since < waiting[size_t(pick)].since)) {
            pick = h.oldest;
            count = h.count;
        }
    }
    return pick;
}

constexpr size_t kMaxKeyLength = 64;

} // namespace

std::string AddressKey(std::string_view peer)
{
    std::string text(peer.substr(0, kMaxKeyLength));
    // A link-local peer's zone ("fe80::1%eth0") names our interface, not the peer.
    if (const size_t zone = text.find('%'); zone != std::string::npos)
        text.resize(zone);
    if (text.find('\0') != std::string::npos)
        return std::string(peer.substr(0, kMaxKeyLength));
    std::array<char, INET6_ADDRSTRLEN> out {};
    in_addr v4 {};
    if (inet_pton(AF_INET, text.c_str(), &v4) == 1)
        return inet_ntop(AF_INET, &v4, out.data(), out.size()) ? out.data() : text;
    in6_addr v6 {};
    if (inet_pton(AF_INET6, text.c_str(), &v6) != 1)
        return std::string(peer.substr(0, kMaxKeyLength));
    if (IN6_IS_ADDR_V4MAPPED(&v6)) {
        std::memcpy(&v4, v6.s6_addr + 12, sizeof v4);
        return inet_ntop(AF_INET, &v4, out.data(), out.size()) ? out.data() : text;
    }
    std::memset(v6.s6_addr + 8, 0, 8);
    if (!inet_ntop(AF_INET6, &v6, out.data(), out.size()))
        return text;
    return std::string(out.data()) + "/64";
}

size_t CountFrom(std::span<const Waiting> waiting, const std::string &peer)
{
    size_t n = 0;
    for (const Waiting &w : waiting)
        n += *w.peer == peer;
    return n;
}

Room MakeRoomFairly(std::span<const Waiting> waiting, const std::string &peer,
                    const StageLimits &limits)
{
    if (CountFrom(waiting, peer) >= limits.perAddress)
        return { false, OldestOf(waiting, peer) };
    if (waiting.size() < limits.total)
        return {};
    size_t count = 0;
    return { false, OldestOfBusiest(waiting, count) };
}

} // namespace vorlund::link
