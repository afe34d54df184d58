#include "LinkLibraries.h"

#include "CDoDirect.h"
#include "CDoSocks.h"

#include <algorithm>
#include <cstring>

namespace vorlund {

namespace {

template <size_t N> void CopyText(char (&field)[N], const std::string &text)
{
    std::memset(field, 0, N);
    std::memcpy(field, text.data(), std::min(text.size(), N - 1));
}

ImageHeader Header(const LinkStart &start)
{
    ImageHeader header;
    header.Width = start.width;
    header.Height = start.height;
    header.BitCount = uint16_t(std::clamp(start.cameras, 1, 4));
    return header;
}

FrameId Id(const FrameTag &tag)
{
    return { tag.source, tag.serial };
}

PtzFlags Flags(const LinkStart &start)
{
    PtzFlags flags {};
    std::copy(start.ptzCameras.begin(), start.ptzCameras.end(), flags.begin());
    return flags;
}

class DirectLink : public IDirectLink
{
public:
    int GotConnection() const override { return m_socks.GotConnection(); }
    int8_t CheckRequestQueue(uint8_t *buffer, size_t length) override
    {
        return m_socks.CheckRequestQueue(buffer, length);
    }
    bool SendImageOut(const uint8_t *frame, size_t length, int camera) override
    {
        return m_socks.SendImageOut(frame, length, camera);
    }
    bool SendTaggedImageOut(const uint8_t *frame, size_t length, int camera,
                            const FrameTag &tag) override
    {
        const FrameId id = Id(tag);
        return m_socks.SendImageOut(frame, length, camera, &id);
    }
    bool ResendImageOut(const FrameTag &tag, int camera) override
    {
        return m_socks.ResendImageOut(Id(tag), camera);
    }
    bool SendStillOut(const std::string &path) override { return m_socks.SendStillOut(path); }
    bool StartListening(const LinkStart &start) override
    {
        ConnInfo iConn;
        CopyText(iConn.RemotePassword, start.password);
        iConn.CameraPriority = start.cameraPriority ? 1 : 0;
        iConn.RemotePort = start.port;
        return m_socks.StartListening(iConn, Header(start), Flags(start));
    }
    void StopListening() override { m_socks.StopListening(); }

private:
    CDoSocks m_socks;
};

class RelayLink : public IRelayLink
{
public:
    RelayLink(IMessageSink &view, const LookupAddress &lookup) : m_direct(view, Options(lookup)) { }
    int GotConnection() const override { return m_direct.GotConnection(); }
    int8_t CheckRequestQueue(uint8_t *buffer, size_t length) override
    {
        return m_direct.CheckRequestQueue(buffer, length);
    }
    bool SendImageOut(const uint8_t *frame, size_t length, int camera) override
    {
        return m_direct.SendImageOut(frame, length, camera);
    }
    bool SendTaggedImageOut(const uint8_t *frame, size_t length, int camera,
                            const FrameTag &tag) override
    {
        const FrameId id = Id(tag);
        return m_direct.SendImageOut(frame, length, camera, &id);
    }
    bool ResendImageOut(const FrameTag &tag, int camera) override
    {
        return m_direct.ResendImageOut(Id(tag), camera);
    }
    bool SendStillOut(const std::string &path) override { return m_direct.SendStillOut(path); }
    void GetHTTPData() override { m_direct.GetHTTPData(); }
    bool AddressReady() const override { return m_direct.AddressReady() != 0; }
    std::string Address() const override { return m_direct.Address(); }
    bool StartConnection(const LinkStart &start, const std::string &login,
                         const std::string &password, const std::string &host) override
    {
        RelayConnInfo oConn;
        CopyText(oConn.RemotePassword, start.password);
        oConn.CameraPriority = start.cameraPriority ? 1 : 0;
        CopyText(oConn.RelayLogin, login);
        CopyText(oConn.RelayPassword, password);
        CopyText(oConn.RelayHost, host);
        return m_direct.StartConnection(oConn, Header(start), Flags(start));
    }
    void StopConnection() override { m_direct.StopConnection(); }
    int GotDirector() const override { return m_direct.GotDirector(); }
    int GotPeer() const override { return m_direct.GotPeer(); }
    void pingDirector() override { m_direct.pingDirector(); }
    int CheckPTZQueue(int32_t &x, int32_t &y, int32_t &zoom) override
    {
        return m_direct.CheckPTZQueue(x, y, zoom);
    }
    int LoginState() const override { return m_direct.LoginState(); }
    bool ErrorFlag() const override { return m_direct.ErrorFlag() != 0; }
    void ClearErrorFlag() override { m_direct.ClearErrorFlag(); }
    std::string ErrorText() const override { return m_direct.ErrorText(); }
    int32_t Status() const override { return m_direct.Status(); }

private:
    static DirectOptions Options(const LookupAddress &lookup)
    {
        DirectOptions options;
        options.lookupHost = lookup.host;
        options.lookupPort = lookup.port;
        return options;
    }
    CDoDirect m_direct;
};

} // namespace

std::unique_ptr<IDirectLink> LinkLibraries::MakeDirect()
{
    return std::make_unique<DirectLink>();
}

std::unique_ptr<IRelayLink> LinkLibraries::MakeRelay(IMessageSink &view)
{
    return std::make_unique<RelayLink>(view, m_lookup);
}

} // namespace vorlund
