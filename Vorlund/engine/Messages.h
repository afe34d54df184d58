#pragma once

#include <cstdint>

namespace vorlund {

// Private messages of the server's view (the WM_APP range of the original message map).
inline constexpr uint32_t WM_APP = 0x8000;
inline constexpr uint32_t WM_FRAME_GRABBED = WM_APP + 1; // 0x8001
inline constexpr uint32_t WM_PLAY_SNAP = WM_APP + 8; // 0x8008

// Where background code posts its messages. Post must not block and must be callable from any
// thread; the production sink queues a QEvent to the view.
class IMessageSink
{
public:
    virtual ~IMessageSink() = default;
    virtual void PostMessage(uint32_t message) noexcept = 0;
};

} // namespace vorlund
