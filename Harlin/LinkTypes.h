#pragma once

#include <array>
#include <cstdint>

namespace vorlund {

// The server's start record for the direct link ("iConn", 24 bytes).
struct ConnInfo
{
    char RemotePassword[16] {}; // NUL-terminated; empty = none
    int32_t CameraPriority = 0; // non-zero: camera 1 has priority (hello byte 7)
    int32_t RemotePort = 49330; // 0 = any free port
};
static_assert(sizeof(ConnInfo) == 24);

// The header that describes the frames handed to SendImageOut. Laid out like the
// platform's bitmap info header; BitCount carries the number of cameras, not the pixel depth:
// every frame is 24-bit BGR, rows bottom-up, no padding.
struct ImageHeader
{
    uint32_t Size = 40;
    int32_t Width = 0;
    int32_t Height = 0;
    uint16_t Planes = 0;
    uint16_t BitCount = 1; // camera count
    uint32_t Compression = 0;
    uint32_t SizeImage = 0;
    int32_t XPelsPerMeter = 0;
    int32_t YPelsPerMeter = 0;
    uint32_t ClrUsed = 0;
    uint32_t ClrImportant = 0;
};
static_assert(sizeof(ImageHeader) == 40);

// Names one captured live frame: the camera it came from and that camera's frame count, which
// moves on with every frame. An encoding of the frame stays good while the name is the same.
struct FrameId
{
    int source = 0;
    uint32_t serial = 0;
    bool operator==(const FrameId &) const = default;
};

// One byte per camera 1..4, non-zero when it takes pan/tilt/zoom commands.
using PtzFlags = std::array<uint8_t, 4>;

} // namespace vorlund
