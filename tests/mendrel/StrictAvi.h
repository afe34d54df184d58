// A strict reader's view of an AVI file: every size must hold, every chunk must be where the
// sizes say, and the indexes and header counts must agree with the chunks actually there.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace mendrel::test {

struct StrictExpect
{
    // The reserved-index layout: the legacy index starts with an entry for the room at 0x8000
    // and avih counts one frame less.
    bool fixedLayout = false;
    // Whether the n-th chunk of the video stream must carry the key flag (unset: not checked).
    std::function<bool(uint64_t n)> videoKey;
};

struct StrictResult
{
    std::vector<std::string> problems;
    uint64_t videoChunks = 0;
    uint64_t audioChunks = 0;
    uint64_t riffs = 0;
};

// Files in the reserved-index layout hold raw frames: every one is a key frame.
inline StrictExpect FixedLayoutExpect()
{
    return { .fixedLayout = true, .videoKey = [](uint64_t) { return true; } };
}

StrictResult StrictCheck(const std::filesystem::path &path, const StrictExpect &expect = {});

} // namespace mendrel::test
