#pragma once

#include <array>
#include <cstdint>

namespace vorlund::viewer {

// The server's hello as the viewer keeps it. The values are the server's, unchecked: the view
// bounds the size and the camera count before it sizes anything by them.
struct HostInfo
{
    int32_t width = 0;
    int32_t height = 0;
    int16_t cameraCount = 0;
    uint8_t reserved = 0;
    std::array<uint8_t, 4> ptzFlags {}; // cameras 1-4; nonzero = takes pan/tilt/zoom
    char videoStandard = 0; // hello byte 4 ('N', 'P', ...)
    bool rotationScheme = false; // hello byte 7 was '1': camera choice scheme A

    bool operator==(const HostInfo &) const = default;
};

} // namespace vorlund::viewer
