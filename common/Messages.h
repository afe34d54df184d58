#pragma once

#include <cstdint>

namespace vorlund {

// Private messages of the server's view (the WM_APP range of the original message map, plus
// the link libraries' and the recycler's own numbers).
inline constexpr uint32_t WM_APP = 0x8000;
inline constexpr uint32_t WM_FRAME_GRABBED = WM_APP + 1; // 0x8001
inline constexpr uint32_t WM_REQUEST_SNAPSHOT = WM_APP + 2; // 0x8002
inline constexpr uint32_t WM_GRAPH_EVENT = WM_APP + 6; // 0x8006
inline constexpr uint32_t WM_RESTART_CAPTURE = WM_APP + 7; // 0x8007
inline constexpr uint32_t WM_PLAY_SNAP = WM_APP + 8; // 0x8008
inline constexpr uint32_t WM_SHOW_FILTERS = WM_APP + 9; // 0x8009
inline constexpr uint32_t WM_SETTINGS_CLOSED = 0x8027;
inline constexpr uint32_t WM_NEXT_ZONE = 0x8028;
inline constexpr uint32_t WM_CAMERA_SETTINGS = 0x802D;
inline constexpr uint32_t WM_LIVE_SETTING = 0x802E;
inline constexpr uint32_t WM_TEST_EMAIL = 0x8159;
// The mail worker finished a send (successfully or not); the view calls AlertMailer::OnMailDone.
inline constexpr uint32_t WM_MAIL_DONE = 0x8210;
inline constexpr uint32_t WM_RELAY_RECONNECT = 0x1088;
inline constexpr uint32_t WM_RELAY_RESUME = 0x108F;
inline constexpr uint32_t WM_RECYCLE_DONE = 0x1515;
inline constexpr uint32_t WM_SVC_CLOSE = 0xAB63;

// Timer ids of the server's view.
inline constexpr int MAIN_TICK_TIMER = 130;
inline constexpr int STATUS_TIMER = 132;
inline constexpr int RESTART_TIMER = 133;
inline constexpr int PTZ_STEP_TIMER = 129;
inline constexpr int TIMELAPSE_TIMER = 123;
// Checks that a started graph delivered its first frame.
inline constexpr int FIRST_FRAME_TIMER = 134;

// Where background code posts its messages. Post must not block and must be callable from any
// thread; the production sink queues a QEvent to the view.
class IMessageSink
{
public:
    virtual ~IMessageSink() = default;
    virtual void PostMessage(uint32_t message, uintptr_t wParam) noexcept = 0;
    void PostMessage(uint32_t message) noexcept { PostMessage(message, 0); }
};

} // namespace vorlund
