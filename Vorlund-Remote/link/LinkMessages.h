#pragma once

#include "HostInfo.h"

#include <cstdint>

namespace vorlund::viewer {

// Messages the link posts to the viewer's view.
inline constexpr uint32_t WM_APP = 0x8000;
inline constexpr uint32_t WM_START_CONNECT = 0x8002; // the view's own
inline constexpr uint32_t WM_FRAME_READY = 0x8003; // wParam camera byte, lParam length
inline constexpr uint32_t WM_HOST_READY = 0x8004; // host
inline constexpr uint32_t WM_LINK_CLOSED = 0x8005;
inline constexpr uint32_t WM_NEED_PASSWORD = 0x8006; // host
inline constexpr uint32_t WM_LINK_UP = 0x8007;
inline constexpr uint32_t WM_HOST_ERROR = 0x8008; // lParam error code byte

// One posted message. The hello travels by value, so a message still queued when its socket
// is gone reads nothing freed; `link` names the connection it came from (see
// CHostConnection::IsCurrentLink).
struct LinkMessage
{
    uint32_t message = 0;
    uintptr_t wParam = 0;
    intptr_t lParam = 0;
    HostInfo host {};
    uint32_t link = 0;
};

// Where the link posts its messages. PostLinkMessage must only queue: it runs inside the
// socket's handlers, so it must not call back into the connection.
class ILinkSink
{
public:
    virtual ~ILinkSink() = default;
    virtual void PostLinkMessage(const LinkMessage &message) = 0;
};

} // namespace vorlund::viewer
