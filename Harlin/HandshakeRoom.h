#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace vorlund::link {

// One connection still in a stage that a peer can hold without proving anything.
struct Waiting
{
    const std::string *peer = nullptr;
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
    int evict = -1; // else the index in `waiting` whose place it may take (-1 = none)
};

size_t CountFrom(std::span<const Waiting> waiting, const std::string &peer);

// Anonymous connections: a newcomer always gets in. Over its address's limit it takes the place
// of that address's oldest; over the total it takes the oldest place of the address that holds
// the most, so a few hostile addresses only crowd out each other.
Room MakeRoomAlways(std::span<const Waiting> waiting, const std::string &peer,
                    const StageLimits &limits);

// Sessions that got a hello and wait for a person: a newcomer over its address's limit is
// refused; over the total it takes the oldest place of an address holding more than it would,
// else it is refused.
Room MakeRoomFairly(std::span<const Waiting> waiting, const std::string &peer,
                    const StageLimits &limits);

} // namespace vorlund::link
