// The input ports of a PulseAudio source (microphone, line in, ...), read and chosen through
// libpulse. Each call connects, asks and disconnects within a bounded time; without a sound
// server they answer at once.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace vorlund {

struct PulsePort
{
    std::string name; // the server's key ("analog-input-mic")
    std::string description; // what the user sees ("Microphone")
};

// The ports of `source` ("" for the default source) in the server's order; nullopt when no
// sound server answers or it does not know the source.
std::optional<std::vector<PulsePort>> PulseSourcePorts(const std::string &source);

// Makes `port` the source's active port; false when no server answers or it refuses.
bool SetPulseSourcePort(const std::string &source, const std::string &port);

} // namespace vorlund
