#pragma once

#include "DeviceConfig.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace vorlund {

// The device file has no header and no version: its length tells which fields it holds.
inline constexpr size_t kDeviceFileSize = 2505;
inline constexpr size_t kMinDeviceFileSize = 1800;
inline constexpr size_t kSettingsBlockSize = 1204;
// Every length the file has had, oldest first.
inline constexpr std::array<size_t, 12> kDeviceFileLayouts { 1800, 1905, 1974, 2127, 2352, 2406,
                                                             2414, 2442, 2452, 2460, 2485, 2505 };

// The current layout, every field little-endian with no padding between fields.
std::vector<uint8_t> WriteDeviceFile(const DeviceConfig &config);

// Reads the fields that a file of `fileSize` bytes holds from `bytes` (its first bytes) over
// `config`; fields the file lacks, or that `bytes` does not hold completely, keep their values.
// Returns false, leaving `config` untouched, when the file is shorter than the oldest layout.
bool ReadDeviceFile(std::span<const uint8_t> bytes, size_t fileSize, DeviceConfig &config);
inline bool ReadDeviceFile(std::span<const uint8_t> bytes, DeviceConfig &config)
{
    return ReadDeviceFile(bytes, bytes.size(), config);
}

// The device name at the start of a file (empty when the file is shorter than one byte).
std::string ReadDeviceName(std::span<const uint8_t> bytes);

// The text as a field of `width` bytes stores it: at most width - 1 bytes, cut before an
// embedded zero and never inside a UTF-8 sequence.
std::string StoredText(std::string_view text, size_t width);

} // namespace vorlund
