#pragma once

#include "LinkTypes.h"
#include "RelayMessages.h"
#include "ViewerHub.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace vorlund {

class IClock;
class IMessageSink;

// The server's start record for the relay link ("oConn").
struct RelayConnInfo
{
    char RemotePassword[16] {}; // copied from ConnInfo before each start
    int32_t CameraPriority = 0;
    char RelayLogin[52] {};
    char RelayPassword[52] {};
    int32_t Port = 443;
    char RelayHost[28] {}; // empty until the lookup found it
};

struct DirectOptions
{
    std::string lookupHost = "localhost"; // the web lookup (also the "Host:" line)
    uint16_t lookupPort = 80;
    link::LinkLimits limits = RelayLimits();
    const IClock *clock = nullptr; // null = the system clock
    int pollMs = 100;
    int reconnectMinMs = 1000; // first wait before WM_RELAY_RECONNECT; doubles up to the max
    int reconnectMaxMs = 60000;
    int lookupTimeoutMs = 10000;
    // Requests are not handed to the server while more than this waits for the relay.
    size_t holdRequestsAbove = 1u << 20;

    // Over the relay a request the server held back is offered again after a while.
    static link::LinkLimits RelayLimits()
    {
        link::LinkLimits limits;
        limits.reofferAfterMs = 1500;
        // The backlog is the shared link's; requests are held back long before this.
        limits.maxBacklog = 8u << 20;
        // Every session is a relay channel, and the relay has 255 a server: the hub's places
        // stay well below, so the relay never refuses a viewer the hub would let in. The relay
        // sends a viewer's login with its channel's opening, so the login stage only passes;
        // the password stage keeps room for 17 addresses at their limit (16 holding the door
        // and the viewer's).
        limits.maxHandshaking = 3 * link::kPlacesPerAddress;
        limits.maxPasswordWaiting = 17 * link::kPlacesPerAddress;
        return limits;
    }
};

// The relay link ("Automatic" mode): the server connects out to the relay service, which
// brings it the viewers that ask for its login id. Called from the server's UI thread only.
// Reports to the view through the message sink: WM_RELAY_RECONNECT when the lookup found the
// relay, or when the link is lost (or could not be made) and should be made again;
// WM_RELAY_RESUME when a held-back request is offered again.
class CDoDirect
{
public:
    explicit CDoDirect(IMessageSink &view, DirectOptions options = {});
    ~CDoDirect();
    CDoDirect(const CDoDirect &) = delete;
    CDoDirect &operator=(const CDoDirect &) = delete;

    // Asks the web lookup for the relay's address; AddressReady() turns true when found.
    void GetHTTPData();
    uint8_t AddressReady() const;
    const std::string &Address() const;

    bool StartConnection(const RelayConnInfo &oConn, const ImageHeader &header,
                         const PtzFlags &ptzFlags = {});
    void StopConnection();
    // Non-zero while the relay service is reached.
    int GotDirector() const;
    // 2 while a viewer is linked.
    int GotPeer() const;
    // Non-zero when requests can come.
    int GotConnection() const;
    void pingDirector();
    // The viewer protocol carries no click-to-move; always 0.
    int CheckPTZQueue(int32_t &x, int32_t &y, int32_t &zoom);

    int8_t CheckRequestQueue(uint8_t *buffer, size_t length);
    // With `id` the encoding is kept for ResendImageOut, which answers a request for the same
    // frame at the same size and quality with it (false, nothing sent, when none is kept).
    bool SendImageOut(const uint8_t *frame, size_t length, int camera, const FrameId *id = nullptr);
    bool ResendImageOut(const FrameId &id, int camera);
    bool SendStillOut(const std::string &path);

    // 1 while logging in to the relay.
    int LoginState() const;
    // Set on a failure (the server clears it); counts only with a non-zero status.
    uint8_t ErrorFlag() const;
    void ClearErrorFlag();
    const std::string &ErrorText() const;
    int32_t Status() const;

    enum : int32_t {
        StatusLookupFailed = 1,
        StatusConnectFailed = 2,
        StatusLoginRefused = 3,
        StatusLinkLost = 4,
    };

private:
    class Impl;
    std::unique_ptr<Impl> d;
};

} // namespace vorlund
