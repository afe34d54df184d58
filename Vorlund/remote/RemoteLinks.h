#pragma once

#include "Messages.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace vorlund {

// What a link library is started with: the remote password, camera 1's priority, the port,
// the frame size and the cameras, and which cameras take pan/tilt/zoom commands.
struct LinkStart
{
    std::string password;
    bool cameraPriority = false;
    int32_t port = 49330;
    int32_t width = 0;
    int32_t height = 0;
    int32_t cameras = 1;
    std::array<uint8_t, 4> ptzCameras {};

    bool operator==(const LinkStart &) const = default;
};

// Names one captured live frame: its camera and the engine's count of that camera's frames.
struct FrameTag
{
    int source = 0;
    uint32_t serial = 0;
};

// The request and answer side both link libraries share.
class IViewerLink
{
public:
    virtual ~IViewerLink() = default;
    virtual int GotConnection() const = 0;
    // The oldest request's code; buffer[0] = the viewer, buffer[1] = the argument; 0 = none.
    virtual int8_t CheckRequestQueue(uint8_t *buffer, size_t length) = 0;
    // Answers the request last handed over with a live frame (bottom-up BGR) ...
    virtual bool SendImageOut(const uint8_t *frame, size_t length, int camera) = 0;
    // The same for the frame `tag` names; the link may keep the encoding ...
    virtual bool SendTaggedImageOut(const uint8_t *frame, size_t length, int camera,
                                    const FrameTag &tag)
    {
        (void)tag;
        return SendImageOut(frame, length, camera);
    }
    // ... and answer a request for that frame at the same size and quality with it again.
    // False, with nothing sent, when it kept none.
    virtual bool ResendImageOut(const FrameTag &tag, int camera)
    {
        (void)tag;
        (void)camera;
        return false;
    }
    // ... or with a stored JPEG picture.
    virtual bool SendStillOut(const std::string &path) = 0;
};

// The direct link: viewers connect to the server's port.
class IDirectLink : public IViewerLink
{
public:
    virtual bool StartListening(const LinkStart &start) = 0;
    virtual void StopListening() = 0;
};

// The relay link: the server connects out to the relay service.
class IRelayLink : public IViewerLink
{
public:
    virtual void GetHTTPData() = 0;
    virtual bool AddressReady() const = 0;
    virtual std::string Address() const = 0;
    virtual bool StartConnection(const LinkStart &start, const std::string &login,
                                 const std::string &password, const std::string &host)
        = 0;
    virtual void StopConnection() = 0;
    virtual int GotDirector() const = 0;
    virtual int GotPeer() const = 0;
    virtual void pingDirector() = 0;
    virtual int CheckPTZQueue(int32_t &x, int32_t &y, int32_t &zoom) = 0;
    virtual int LoginState() const = 0;
    virtual bool ErrorFlag() const = 0;
    virtual void ClearErrorFlag() = 0;
    virtual std::string ErrorText() const = 0;
    virtual int32_t Status() const = 0;
};

// Makes the link objects; production makes the real libraries' objects.
class ILinkFactory
{
public:
    virtual ~ILinkFactory() = default;
    virtual std::unique_ptr<IDirectLink> MakeDirect() = 0;
    virtual std::unique_ptr<IRelayLink> MakeRelay(IMessageSink &view) = 0;
};

} // namespace vorlund
