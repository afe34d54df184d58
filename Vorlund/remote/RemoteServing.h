#pragma once

#include "RemoteLinks.h"
#include "ServerContext.h"

#include <array>
#include <functional>
#include <memory>
#include <string>

namespace vorlund {

// Answers remote viewers from the main tick: live frames, stored snapshots, camera selection and
// pan/tilt/zoom commands, over the direct link and the relay; keeps the relay connected.
class RemoteServing : public IRemoteLink
{
public:
    RemoteServing(ServerContext &context, ICameraSwitch &cameras, IPtzControl &ptz,
                  ILinkFactory &links);
    ~RemoteServing() override;

    void ApplyRemoteMode() override;
    void StartListening(const RemoteHeader &header) override;
    void StopListening() override;
    void ResetStillCounters() override;
    void ServeRemoteRequests(int camera) override;
    void KeepRelayAlive() override;
    void ConnectRelay() override;
    int DirectViewerCount() const override;
    RelayState GetRelayState() const override;
    std::optional<std::string> TakeRelayError() override;
    void ReleaseSelectedCamera() override;
    void SelectCamera(int camera) override;

    // WM_RELAY_RESUME: the relay's held-back request may be answered again.
    void OnRelayResume();

    // Opens the relay credentials dialog without blocking; `done` gets OK and the two values.
    using CredentialsDone = std::function<void(bool ok, std::string login, std::string password)>;
    std::function<void(const std::string &login, const std::string &password, CredentialsDone)>
        AskCredentials;

    static constexpr int kThrottle = 100;

    // The picture numbers a viewer browses (tests read them).
    struct Viewer
    {
        int state = 0; // 0 none, 1 live, 2 stored pictures
        PerCamera<int32_t> numbers {};
    };
    const Viewer &ViewerRecord(int v) const { return m_viewers[size_t(v)]; }
    int Throttle() const { return m_throttle; }
    int PendingMark() const { return m_pending; }

private:
    // Returns false when the rest of this call is to be skipped.
    bool Serve(IViewerLink &link, int camera, bool relay);
    // The live frame of camera `source`, read from the engine's slot, sent as `label`.
    void SendFrame(IViewerLink &link, int source, int label);
    void SendLive(IViewerLink &link, int camera);
    void SendNoPicture(IViewerLink &link);
    void SendStored(IViewerLink &link, int viewer, int camera, char step, bool relay);
    bool Control(int8_t value);
    void InvalidCamera(const std::string &text);
    LinkStart MakeStart() const;

    ServerContext &m_context;
    ICameraSwitch &m_cameras;
    IPtzControl &m_ptz;
    ILinkFactory &m_links;
    std::unique_ptr<IDirectLink> m_direct;
    std::unique_ptr<IRelayLink> m_relay;
    RemoteHeader m_header;
    bool m_listening = false;
    // The direct link listens with `m_started`; a start that would tell the viewers nothing
    // new leaves them connected.
    bool m_directStarted = false;
    LinkStart m_started;

    std::array<Viewer, 2> m_viewers {};
    int m_throttle = kThrottle;
    int m_pending = 0;
    // A remote move switched detection off on the selected camera: its enable to restore.
    int m_ptzSavedEnable = -1;

    bool m_relayOn = true;
    bool m_askingCredentials = false;
    std::string m_relayHost;
};

} // namespace vorlund
