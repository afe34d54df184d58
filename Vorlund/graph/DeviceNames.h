#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vorlund {

inline constexpr size_t kMaxVideoDevices = 4;
inline constexpr size_t kMaxAudioDevices = 4;

// The names under which devices are shown and stored, in enumeration order. A device whose
// name equals the label of an earlier one gets " #n" with its own position n (1-based), so
// three devices named X read X, X #2, X #3 and a stored choice keeps meaning one device.
std::vector<std::string> LabelDevices(const std::vector<std::string> &names);

// Which device (0-based, in enumeration order) a stored name binds:
// 1. the device whose label equals it exactly;
// 2. else, when it holds "#" after its first character, the device at the position given by
//    the one digit after the last "#" (so "Cam #2" keeps its camera after a rename);
// 3. else the first device whose name contains it (an empty name binds the first device).
std::optional<size_t> SelectDevice(const std::vector<std::string> &names,
                                   const std::vector<std::string> &labels, std::string_view stored);

} // namespace vorlund
