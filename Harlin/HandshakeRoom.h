#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace vorlund::link {

// The address a peer is counted under, as people have them: an IPv4 peer (also one that comes
// IPv4-mapped, "::ffff:a.b.c.d") by its IPv4 address, any other IPv6 peer by its /64, since one
// host is usually given a whole /64. Text that is no address counts as itself, cut to 64 bytes.
std::string AddressKey(std::string_view peer);

// One connection still in a stage that a peer can hold without proving anything.
struct Waiting
{
    const std::string *peer = nullptr; // its AddressKey
    uint64_t since = 0; // when it entered the stage (any monotonic unit)
};

// How many of a stage's places one address and all addresses together may hold.
struct StageLimits
{
    size_t perAddress = 1;
    size_t total = 1;
};

// Where a newcomer from `peer` stands among `waiting`.
struct Room
{
    bool fits = true; // there is a place for it as things stand
    int evict = -1; // else the index in `waiting` whose place it takes (-1 = none: refused)
};

size_t CountFrom(std::span<const Waiting> waiting, const std::string &peer);

// A newcomer always gets a place (only a limit of 0 refuses it). When its address already holds
// `perAddress` places it takes the oldest of them; else, when all `total` are held, it takes the
// oldest place of the address that holds the most (the oldest place among equals). Holding the
// door therefore costs the holder its own places: with `total` at least (n + 1) × `perAddress`,
// holders from n addresses never fill the stage, and a peer that holds fewer places than
// `perAddress` is never the one to give way to them, however often they reopen.
Room MakeRoomFairly(std::span<const Waiting> waiting, const std::string &peer,
                    const StageLimits &limits);

} // namespace vorlund::link
