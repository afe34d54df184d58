#include "HandshakeRoom.h"

#include <algorithm>
#include <map>
#include <string_view>

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

} // namespace

size_t CountFrom(std::span<const Waiting> waiting, const std::string &peer)
{
    size_t n = 0;
    for (const Waiting &w : waiting)
        n += *w.peer == peer;
    return n;
}

Room MakeRoomAlways(std::span<const Waiting> waiting, const std::string &peer,
                    const StageLimits &limits)
{
    if (CountFrom(waiting, peer) >= limits.perAddress)
        return { false, OldestOf(waiting, peer) };
    if (waiting.size() < limits.total)
        return {};
    size_t count = 0;
    return { false, OldestOfBusiest(waiting, count) };
}

Room MakeRoomFairly(std::span<const Waiting> waiting, const std::string &peer,
                    const StageLimits &limits)
{
    const size_t mine = CountFrom(waiting, peer);
    if (mine >= limits.perAddress)
        return { false, -1 };
    if (waiting.size() < limits.total)
        return {};
    size_t count = 0;
    const int oldest = OldestOfBusiest(waiting, count);
    return { false, count > mine + 1 ? oldest : -1 };
}

} // namespace vorlund::link
