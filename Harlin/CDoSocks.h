#pragma once

#include "LinkTypes.h"
#include "ViewerHub.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace vorlund {

class IClock;

struct LinkOptions
{
    // Where the listener binds; empty = every address. Tests bind to "127.0.0.1".
    std::string bindAddress;
    link::LinkLimits limits;
    const IClock *clock = nullptr; // null = the system clock
    int pollMs = 100; // how often time-outs and delayed refusals are looked at
};

// The direct link ("Manual" mode): viewers connect to the server's listening port. Called from
// the server's UI thread only; its sockets run on that thread's event loop.
class CDoSocks
{
public:
    explicit CDoSocks(LinkOptions options = {});
    ~CDoSocks();
    CDoSocks(const CDoSocks &) = delete;
    CDoSocks &operator=(const CDoSocks &) = delete;

    // Listens on iConn's port (0 = any free port) for viewers of frames described by header.
    bool StartListening(const ConnInfo &iConn, const ImageHeader &header,
                        const PtzFlags &ptzFlags = {});
    void StopListening();
    // Viewers that are logged in.
    int GotConnection() const;
    // The oldest request: the code, byte 0 = viewer 0 or 1, byte 1 = the argument; 0 = none.
    int8_t CheckRequestQueue(uint8_t *buffer, size_t length);
    // Answer the request last handed over with a live frame (the header's layout) ...
    // With `id` the encoding is kept for ResendImageOut, which answers a request for the same
    // frame at the same size and quality with it (false, nothing sent, when none is kept).
    bool SendImageOut(const uint8_t *frame, size_t length, int camera, const FrameId *id = nullptr);
    bool ResendImageOut(const FrameId &id, int camera);
    // ... or with a stored JPEG picture.
    bool SendStillOut(const std::string &path);

    uint16_t ListeningPort() const;

private:
    class Impl;
    std::unique_ptr<Impl> d;
};

} // namespace vorlund
