#pragma once

#include <array>
#include <cstdint>

namespace vorlund {

inline constexpr int kMaxCameras = 4;
inline constexpr int kCells = 64;
inline constexpr int kMaxFrameWidth = 720;
inline constexpr int kMaxFrameHeight = 576;

// Per-camera arrays are indexed by the camera number 1..4; entry 0 is unused.
template <typename T> using PerCamera = std::array<T, kMaxCameras + 1>;

using ZoneMaskBytes = std::array<uint8_t, kCells>;

inline bool IsCamera(int camera)
{
    return camera >= 1 && camera <= kMaxCameras;
}

} // namespace vorlund
