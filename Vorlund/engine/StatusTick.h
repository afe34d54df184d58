#pragma once

#include "ServerContext.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace vorlund {

// The status tick (timer 132, UI thread, while capture runs): the state and camera panes,
// viewer sounds, the relay watch, the codec warning, the disk guard and the live picture's
// repaint with its no-signal warning.
class StatusTick
{
public:
    StatusTick(ServerContext &context, IRemoteLink &remote, IPtzControl &ptz, IDiskGuard &disk);

    void OnStatusTimer();

    // A new run: the no-signal count starts again.
    void ResetForStart();

private:
    void StatePane();
    void ViewersLeft(IRemoteLink::RelayState relay);
    void LinkOrRecordingState(IRemoteLink::RelayState relay);
    void RelayReconnect();
    void CodecWarning();
    void FreshVideo();
    void SetPane(int pane, std::string text);

    ServerContext &m_context;
    IRemoteLink &m_remote;
    IPtzControl &m_ptz;
    IDiskGuard &m_disk;

    int m_lastViewerCount = 0; // direct viewers seen on the previous tick
    bool m_relayPeerLinked = false; // a viewer was linked through the relay
    bool m_relayLost = false;
    uint32_t m_relayLostTicks = 0;
    int m_noSignalCount = 0;
    bool m_noSignalShown = false;
    bool m_noticeOpen = false;
    // What this tick last wrote into panes 101 and 102.
    std::string m_stateText;
    std::string m_cameraText;
};

} // namespace vorlund
