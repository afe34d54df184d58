#pragma once

#include <cstdint>
#include <string>

namespace vorlund::viewer {

// Where the link goes besides the server itself; viewer settings, so tests use free ports.
struct LinkSettings
{
    std::string lookupHost = "localhost"; // also sent in the "Host: " line
    uint16_t lookupPort = 80;
    uint16_t relayPort = 443; // the looked-up address is connected on this port
    int connectTimeoutMs = 21000; // a connect still pending then fails as timed out
};

} // namespace vorlund::viewer
