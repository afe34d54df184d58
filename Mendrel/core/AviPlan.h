#pragma once

#include "ByteSource.h"

#include <cstdint>
#include <functional>
#include <span>
#include <string_view>
#include <vector>

namespace mendrel {

enum class Layout { None, Fixed, Riff };

enum class PlanStatus {
    Ok,
    NoVideo, // no frame to index
    NotRepairable, // neither layout, or a header that cannot be used
    WrongGoodFile, // the damaged header is unreadable and the good file's cannot stand in
    TooManyIndexes, // the super index has no room for every index chunk
    IndexMismatch, // the index chunks would not name every frame exactly once
    ReadError,
};

// Bytes to put at an offset; offsets at or past the old end append.
struct Patch
{
    uint64_t offset = 0;
    std::vector<uint8_t> bytes;
};

struct RepairPlan
{
    PlanStatus status = PlanStatus::NotRepairable;
    Layout layout = Layout::None;
    uint64_t oldSize = 0;
    uint64_t newSize = 0;
    // They do not overlap. Applied in order, the file can be cut off after any of them and the
    // next repair of it gives the same bytes; the first that writes past the old end comes once
    // the cut-off tail is closed.
    std::vector<Patch> patches;
    uint64_t frames = 0;
};

using ProgressFn = std::function<void(std::string_view line)>;

// Works out every byte the repair writes, reading the damaged file and the good file only.
// `progress` receives "Building frame index...\n" and "frames = N\n" as the work gets there.
RepairPlan PlanRepair(ByteSource &damaged, ByteSource &good, const ProgressFn &progress);

// The reserved-index layout: recognised from the good file's first 224 bytes and from a frame
// chunk at 0xFE00 in the damaged file.
bool IsFixedLayoutTemplate(std::span<const uint8_t> goodStart);
bool HasFixedLayoutData(ByteSource &damaged);

} // namespace mendrel
