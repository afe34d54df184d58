#pragma once

#include "HostInfo.h"
#include "LinkMessages.h"
#include "LinkSettings.h"
#include "Notifier.h"

#include <QObject>

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace vorlund::viewer {

inline constexpr std::string_view kViewerCaption = "Vorlund-Remote";

class CHostSocket;

// The viewer's one link to a server (or to the lookup server): one socket at a time, one
// request then one reply. Runs on the user-interface thread; reports only through the sink
// (posted messages) and the notifier, whose boxes are shown after the socket's handler has
// returned, so no nested event loop ever runs inside the parser.
class CHostConnection : public QObject
{
public:
    // `viewFrame` is the view's frame buffer: each whole frame is copied there before
    // WM_FRAME_READY is posted.
    CHostConnection(ILinkSink &sink, INotifier &notifier, std::span<uint8_t> viewFrame,
                    LinkSettings settings = {});
    ~CHostConnection() override;

    // A fresh link with the login request waiting. False when it failed at once (the message
    // is shown and WM_LINK_CLOSED posted); otherwise the outcome arrives as messages.
    bool ConnectHost(const std::string &host, uint16_t port, uint8_t quality, uint8_t sizeCode,
                     std::string_view id);
    // The same with the web lookup request, to the lookup server.
    bool LookupHost(std::string_view id);
    void CloseLink();

    // Without a socket these do nothing. None replaces another: one made while the connect
    // is pending goes out after the login.
    void SendPassword(std::string_view text);
    void RequestLiveFrame(uint8_t camera, uint8_t value);
    void RequestStoredFrame(uint8_t camera, char step);
    void SendKeepAlive();
    void SendPtzByte(uint8_t value);

    bool HasSocket() const { return m_socket != nullptr; }
    // Bytes of the last request not yet passed to the system; 0 = nothing pending.
    int PendingSendLength() const;
    // The current socket's hello (PTZ flags as far as they came); null without a socket.
    const HostInfo *Host() const;
    // The lookup's result; kept across links until a lookup reply replaces it.
    const std::string &LookedUpAddress() const { return m_lookedUpAddress; }
    void SetLookedUpAddress(std::string address) { m_lookedUpAddress = std::move(address); }
    // Whether a message came from the newest link (an older link's late messages can be
    // told apart).
    bool IsCurrentLink(uint32_t link) const { return link != 0 && link == m_serial; }

    const LinkSettings &Settings() const { return m_settings; }
    void SetSettings(const LinkSettings &settings) { m_settings = settings; }

private:
    friend class CHostSocket;

    bool Open(bool lookup, const std::string &host, uint16_t port, const std::string *request);
    void Post(uint32_t link, uint32_t message, uintptr_t wParam = 0, intptr_t lParam = 0,
              const HostInfo *host = nullptr);
    // Shows `text` once the current handler has returned, then posts `message` (0 = none)
    // unless a newer link has been made meanwhile.
    void ShowThenPost(std::string text, uint32_t link, uint32_t message);
    // "connect error": the socket is closed and dropped, then WM_LINK_CLOSED.
    void FailConnect(uint32_t link);

    ILinkSink &m_sink;
    INotifier &m_notifier;
    std::span<uint8_t> m_viewFrame;
    LinkSettings m_settings;
    CHostSocket *m_socket = nullptr;
    uint32_t m_serial = 0;
    std::string m_lookedUpAddress;
};

} // namespace vorlund::viewer
