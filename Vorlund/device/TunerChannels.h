#pragma once

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace vorlund {

// `TvChannel` stays a channel number; a built-in table turns it into the picture carrier's
// frequency. The profile chooses the table (section "Video", key "Channel Table").
inline constexpr std::string_view kChannelTableSection = "Video";
inline constexpr std::string_view kChannelTableKey = "Channel Table";
inline constexpr std::string_view kDefaultChannelTable = "us-bcast";

struct TunerChannel
{
    int channel = 0;
    uint32_t kHz = 0;
};

// The table of that name ("us-bcast", "europe-west"); an unknown name gives the default.
const std::vector<TunerChannel> &ChannelTable(std::string_view name);
std::vector<std::string_view> ChannelTableNames();

std::optional<uint32_t> ChannelFrequency(const std::vector<TunerChannel> &table, int channel);

// The channel whose carrier is the tuned frequency (within a quarter MHz, so the tuner's unit
// rounding does not matter); nullopt when none is.
std::optional<int> ChannelForFrequency(const std::vector<TunerChannel> &table, uint32_t kHz);

// Between kHz and the tuner's unit: 62.5 Hz with `lowUnits`, else 62.5 kHz.
uint32_t TunerUnits(uint32_t kHz, bool lowUnits);
uint32_t KiloHertz(uint32_t units, bool lowUnits);

} // namespace vorlund
