#pragma once

#include "HandshakeRoom.h"
#include "JpegCodec.h"
#include "LinkTypes.h"
#include "ViewerProtocol.h"

#include "Clock.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <span>
#include <string>

namespace vorlund::link {

// Where a session's bytes go: a TCP socket, or a channel of the relay link.
class ISessionTransport
{
public:
    virtual ~ISessionTransport() = default;
    virtual void Write(std::span<const uint8_t> bytes) = 0;
    // Bytes written but not yet taken by the peer.
    virtual size_t Backlog() const = 0;
    // Ends the link. Graceful lets queued bytes (an error reply) go first. The hub has
    // already forgotten the session, so the transport may report its close or not.
    virtual void Close(bool graceful) = 0;
};

// Places in the stages that peers can hold without the password. Each stage gives every address
// (see AddressKey) up to 6 places and has room for 18 addresses at that limit, so holders from up
// to 17 addresses, however many sockets they open and reopen, only ever take each other's places
// (MakeRoomFairly): a viewer whose address holds fewer than 6 keeps its place until it logs in
// and gives its password, even with 4 holders beside it on its own address. Bounded all the
// same: at most 108 + 108 waiting, 16 refusing and 2 viewers.
inline constexpr size_t kPlacesPerAddress = 6;
inline constexpr size_t kAddressesAtLimit = 18;

struct LinkLimits
{
    // The login stage: connections that have not logged in.
    size_t maxHandshaking = kAddressesAtLimit * kPlacesPerAddress;
    size_t maxHandshakingPerAddress = kPlacesPerAddress;
    uint32_t handshakeTimeoutMs = 10000;
    // The password stage waits for a person typing; its places are apart from the login's.
    size_t maxPasswordWaiting = kAddressesAtLimit * kPlacesPerAddress;
    size_t maxPasswordWaitingPerAddress = kPlacesPerAddress;
    uint32_t passwordTimeoutMs = 3 * 60 * 1000;
    uint32_t passwordDelayMs = 1000; // before a wrong password is answered
    size_t maxRefusing = 16; // wrong passwords waiting for their answer; more are cut off
    uint32_t maxPasswordDelayMs = 30000; // the per-address back-off stops here
    size_t maxBacklog = 2u << 20; // a viewer this far behind is dropped
    size_t maxStillBytes = 4u << 20; // larger stored pictures are not read
    size_t maxControlsQueued = 8; // per viewer; older ones are dropped
    uint32_t reofferAfterMs = 0; // 0 = never; else an unanswered frame request is offered again

    // The most sessions a hub holds at once: both waiting stages, the refusals, two viewers.
    size_t MostSessions() const { return maxHandshaking + maxPasswordWaiting + maxRefusing + 2; }
};

// What StartListening / StartConnection hand over.
struct LinkSetup
{
    std::string password;
    bool cameraOnePriority = false;
    ImageHeader header;
    PtzFlags ptzFlags {};
};

// Checks the frame header: a bottom-up frame of at most 720 × 576, one to four cameras.
bool IsUsableHeader(const ImageHeader &header);

// The viewer sessions of one link and the request queue the server reads, without sockets.
// Single-threaded: every call comes from the server's UI thread (or the transports' events on
// the same thread).
//
// Sessions: await login → hello → await password (when one is set) → ready. At most two
// ready sessions hold a viewer number (0, 1) at once; a further login, or a right password
// while both are taken, gets ">ERR" 2. Frame requests
// are answered one at a time: CheckRequestQueue hands the oldest request over and marks its
// viewer as the one the next SendImageOut / SendStillOut answers.
class ViewerHub
{
public:
    ViewerHub(const IClock &clock, LinkLimits limits);
    ~ViewerHub();
    ViewerHub(const ViewerHub &) = delete;
    ViewerHub &operator=(const ViewerHub &) = delete;

    bool Configure(const LinkSetup &setup);
    bool Configured() const { return m_configured; }
    // Closes every session and forgets the setup.
    void Reset();

    // A new link from `peerAddress` (as the socket gives it). Returns its session id, or 0 when
    // it is refused (the caller closes it). A link from an address at its limit, or one that
    // comes when the login stage is full, takes the place of another (MakeRoomFairly).
    int Open(ISessionTransport &transport, const std::string &peerAddress);
    void Feed(int session, std::span<const uint8_t> bytes);
    // The transport is gone; nothing more is written to it.
    void Closed(int session);
    // Time-outs, delayed refusals and re-offers; call a few times a second.
    void Poll();

    int ReadyCount() const;
    int SessionCount() const { return static_cast<int>(m_sessions.size()); }

    int8_t CheckRequestQueue(uint8_t *buffer, size_t length);
    // With `id`, the encoding is kept, and a later request for the same frame at the same size
    // and quality is answered with it by ResendImageOut.
    bool SendImageOut(const uint8_t *frame, size_t length, int camera, const FrameId *id = nullptr);
    // Answers the request last handed over with the kept encoding of `id` for the requester's
    // size and quality, labelled `camera`; false, with nothing sent, when none is kept.
    bool ResendImageOut(const FrameId &id, int camera);
    bool SendStillOut(const std::string &path);

    // Called when an unanswered frame request was offered again (reofferAfterMs).
    std::function<void()> onReoffer;

private:
    enum class State : uint8_t {
        AwaitLogin,
        AwaitPassword,
        Refusing, // a wrong password; the refusal goes out at refuseAt
        Ready,
    };
    struct Session
    {
        ISessionTransport *transport = nullptr;
        std::string peer; // AddressKey of the peer
        SessionParser parser;
        State state = State::AwaitLogin;
        uint32_t stageSince = 0; // when it entered its login or password stage
        uint32_t refuseAt = 0;
        int viewer = -1; // 0 or 1 once logged in
        SessionSize size;
        int quality = 50;
        bool awaitingAnswer = false; // a frame request was handed over
        uint32_t handedAt = 0;
        int8_t handedCode = 0;
        uint8_t handedArg = 0;
    };
    struct Pending
    {
        int session;
        int8_t code;
        uint8_t arg;
    };
    // A live frame as it went out: what it was, for which size and quality.
    struct Encoded
    {
        FrameId id;
        int width = 0, height = 0, quality = 0;
        uint64_t used = 0;
        std::vector<uint8_t> jpeg; // empty = free
    };
    static constexpr size_t kEncodedKept = 8; // two viewers' sizes for each of four cameras

    struct Backoff
    {
        uint32_t failures = 0;
        uint32_t lastAt = 0;
    };

    Session *Find(int session);
    void Handle(int id, Session &s, const ViewerRequest &request);
    void Queue(int id, Session &s, int8_t code, uint8_t arg, bool frame);
    void Drop(int id, bool graceful);
    bool Write(int id, std::span<const uint8_t> bytes);
    bool SendFrame(int id, uint8_t camera, const std::vector<uint8_t> &jpeg);
    bool SendNoPicture(int id);
    int FreeViewerNumber() const;
    std::pair<bool, int> RoomIn(State stage, const std::string &peer,
                                const StageLimits &limits) const;
    // Makes a place in the login stage for a newcomer from `peer`; false = refused.
    bool MakeLoginRoom(const std::string &peer);
    // The same in the password stage: the session whose place is taken is told ">ERR" 2 and
    // closed; false when that was `id` itself (only with a limit of 0).
    bool MakePasswordRoom(int id, const std::string &peer);
    size_t RefusingCount() const;
    uint32_t RefusalDelay(const std::string &peer);
    void ForgetFailures(const std::string &peer);
    int TakeAnswerTarget();
    Encoded *FindEncoded(const FrameId &id, const Session &s);

    const IClock &m_clock;
    LinkLimits m_limits;
    LinkSetup m_setup;
    bool m_configured = false;
    std::map<int, Session> m_sessions;
    std::deque<Pending> m_queue;
    std::map<std::string, Backoff> m_backoff;
    int m_nextId = 1;
    int m_answerTarget = 0;
    JpegCodec m_codec;
    std::vector<uint8_t> m_jpeg;
    std::array<Encoded, kEncodedKept> m_encoded;
    uint64_t m_encodedUses = 0;
    std::vector<uint8_t> m_file;
};

} // namespace vorlund::link
