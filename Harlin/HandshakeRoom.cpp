#include "HandshakeRoom.h"

#include <algorithm>
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

// The address holding the most places (the one with the oldest place among equals).
const std::string *Busiest(std::span<const Waiting> waiting, size_t &count)
{
    std::map<std::string, std::pair<size_t, uint64_t>> held;
    for (const Waiting &w : waiting) {
        auto [it, added] = held.try_emplace(*w.peer, 0, w.since);
        ++it->second.first;
        it->second.second = std::min(it->second.second, w.since);
    }
    const std::string *busiest = nullptr;
    count = 0;
    uint64_t oldest = 0;
    for (const auto &[peer, h] : held) {
        if (!busiest || h.first > count || (h.first == count && h.second < oldest)) {
            busiest = &peer;
            count = h.first;
            oldest = h.second;
        }
    }
    // Point into `waiting`, which outlives the map.
    if (busiest) {
        const int at = OldestOf(waiting, *busiest);
        return waiting[size_t(at)].peer;
    }
    return nullptr;
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
    const std::string *busiest = Busiest(waiting, count);
    return { false, busiest ? OldestOf(waiting, *busiest) : -1 };
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
    const std::string *busiest = Busiest(waiting, count);
    if (busiest && count > mine + 1)
        return { false, OldestOf(waiting, *busiest) };
    return { false, -1 };
}

} // namespace vorlund::link
