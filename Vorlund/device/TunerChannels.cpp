#include "TunerChannels.h"

#include <cstdlib>

namespace vorlund {

namespace {

// Channels a, a+1, ... b from `firstKHz` in steps of `stepKHz`.
void Band(std::vector<TunerChannel> &table, int first, int last, uint32_t firstKHz,
          uint32_t stepKHz)
{
    for (int channel = first; channel <= last; ++channel)
        table.push_back({ channel, firstKHz + uint32_t(channel - first) * stepKHz });
}

std::vector<TunerChannel> UsBroadcast()
{
    std::vector<TunerChannel> table;
    Band(table, 2, 4, 55250, 6000);
    Band(table, 5, 6, 77250, 6000);
    Band(table, 7, 13, 175250, 6000);
    Band(table, 14, 69, 471250, 6000);
    return table;
}

std::vector<TunerChannel> EuropeWest()
{
    std::vector<TunerChannel> table;
    Band(table, 2, 4, 48250, 7000);
    Band(table, 5, 12, 175250, 7000);
    Band(table, 21, 69, 471250, 8000);
    return table;
}

} // namespace

const std::vector<TunerChannel> &ChannelTable(std::string_view name)
{
    static const std::vector<TunerChannel> us = UsBroadcast();
    static const std::vector<TunerChannel> europe = EuropeWest();
    return name == "europe-west" ? europe : us;
}

std::vector<std::string_view> ChannelTableNames()
{
    return { "us-bcast", "europe-west" };
}

std::optional<uint32_t> ChannelFrequency(const std::vector<TunerChannel> &table, int channel)
{
    for (const TunerChannel &entry : table) {
        if (entry.channel == channel)
            return entry.kHz;
    }
    return std::nullopt;
}

std::optional<int> ChannelForFrequency(const std::vector<TunerChannel> &table, uint32_t kHz)
{
    for (const TunerChannel &entry : table) {
        if (std::llabs(int64_t(entry.kHz) - int64_t(kHz)) <= 250)
            return entry.channel;
    }
    return std::nullopt;
}

uint32_t TunerUnits(uint32_t kHz, bool lowUnits)
{
    return lowUnits ? kHz * 16u : uint32_t((uint64_t(kHz) * 16u + 500u) / 1000u);
}

uint32_t KiloHertz(uint32_t units, bool lowUnits)
{
    return lowUnits ? units / 16u : uint32_t((uint64_t(units) * 1000u + 8u) / 16u);
}

} // namespace vorlund
