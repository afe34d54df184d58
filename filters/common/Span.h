// A buffer's interval on one time axis and overflow-safe arithmetic for re-timing it. Times
// and offsets come from upstream and may be anything.
#pragma once

#include <cstdint>
#include <limits>

namespace vorlund {

// Nanoseconds (PTS .. PTS + duration) or media offsets (offset .. offset end), both ends known.
struct Span
{
    std::int64_t start;
    std::int64_t stop;
};

inline std::int64_t SaturatingSub(std::int64_t a, std::int64_t b)
{
    std::int64_t r;
    if (__builtin_sub_overflow(a, b, &r))
        return b < 0 ? std::numeric_limits<std::int64_t>::max()
                     : std::numeric_limits<std::int64_t>::min();
    return r;
}

inline std::int64_t SaturatingAdd(std::int64_t a, std::int64_t b)
{
    std::int64_t r;
    if (__builtin_add_overflow(a, b, &r))
        return b > 0 ? std::numeric_limits<std::int64_t>::max()
                     : std::numeric_limits<std::int64_t>::min();
    return r;
}

} // namespace vorlund
