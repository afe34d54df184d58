#pragma once

#include <cstdint>

namespace vorlund {

// Messages the relay link posts to the server's view.
inline constexpr uint32_t WM_RELAY_RECONNECT = 0x1088; // connect to the relay again
inline constexpr uint32_t WM_RELAY_RESUME = 0x108F; // a held-back request was offered again

} // namespace vorlund
