#pragma once

#include <cstdint>
#include <optional>

namespace vorlund {

// `TvFormat` keeps the analog video standard in its stored encoding: one bit per standard
// (NTSC-M 0x1, NTSC-M-J 0x2, NTSC-4.43 0x4, PAL-B 0x10 ... PAL-N combination 0x100000),
// -1 for "leave the device's own". These map it to and from V4L2's v4l2_std_id bits.

// The v4l2_std_id of a stored standard; 0 when it names none we know (nothing is applied).
uint64_t StandardForTvFormat(int32_t tvFormat);

// The stored form of what the device reports; nullopt when none of its bits has one.
std::optional<int32_t> TvFormatForStandard(uint64_t standard);

} // namespace vorlund
