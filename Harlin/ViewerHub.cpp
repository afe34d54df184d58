#include "ViewerHub.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <vector>

namespace vorlund::link {

namespace {

// Largest body the viewer's frame buffer takes (640 × 480 × 3).
constexpr size_t kMaxFrameBody = 921600;
constexpr size_t kMaxBackoffEntries = 256;
constexpr uint32_t kBackoffMemoryMs = 10 * 60 * 1000;
constexpr size_t kFeedChunk = 256;

bool IsCamera(int camera)
{
    return camera >= 1 && camera <= 4;
}

bool Reached(uint32_t now, uint32_t at)
{
    return static_cast<int32_t>(now - at) >= 0;
}

} // namespace

bool IsUsableHeader(const ImageHeader &header)
{
    return header.Width >= 1 && header.Width <= 720 && header.Height >= 1 && header.Height <= 576;
}

ViewerHub::ViewerHub(const IClock &clock, LinkLimits limits) : m_clock(clock), m_limits(limits) { }

ViewerHub::~ViewerHub() = default;

bool ViewerHub::Configure(const LinkSetup &setup)
{
    if (!IsUsableHeader(setup.header))
        return false;
    m_setup = setup;
    m_encoded = {};
    if (m_setup.password.size() > kMaxPasswordLength)
        m_setup.password.resize(kMaxPasswordLength);
    m_configured = true;
    return true;
}

void ViewerHub::Reset()
{
    std::vector<int> ids;
    for (const auto &[id, s] : m_sessions)
        ids.push_back(id);
    for (int id : ids)
        Drop(id, false);
    m_queue.clear();
    m_answerTarget = 0;
    m_configured = false;
}

ViewerHub::Session *ViewerHub::Find(int session)
{
    auto it = m_sessions.find(session);
    return it == m_sessions.end() ? nullptr : &it->second;
}

int ViewerHub::Open(ISessionTransport &transport, const std::string &peerAddress)
{
    std::string peer = AddressKey(peerAddress);
    if (!m_configured || !MakeLoginRoom(peer))
        return 0;
    const int id = m_nextId++;
    if (m_nextId <= 0)
        m_nextId = 1;
    Session &s = m_sessions[id];
    s.transport = &transport;
    s.peer = std::move(peer);
    s.stageSince = m_clock.TickCount();
    return id;
}

// Where a newcomer from `peer` stands among the sessions in `stage`: whether it fits, else the
// session whose place it may take (0 = none).
std::pair<bool, int> ViewerHub::RoomIn(State stage, const std::string &peer,
                                       const StageLimits &limits) const
{
    std::vector<Waiting> waiting;
    std::vector<int> ids;
    for (const auto &[id, s] : m_sessions) {
        if (s.state != stage)
            continue;
        waiting.push_back({ &s.peer, s.stageSince });
        ids.push_back(id);
    }
    const Room room = MakeRoomFairly(waiting, peer, limits);
    return { room.fits, room.evict >= 0 ? ids[size_t(room.evict)] : 0 };
}

bool ViewerHub::MakeLoginRoom(const std::string &peer)
{
    const auto [fits, evict] = RoomIn(
        State::AwaitLogin, peer, { m_limits.maxHandshakingPerAddress, m_limits.maxHandshaking });
    if (!fits && evict != 0)
        Drop(evict, false); // it never logged in: nothing to tell it
    return fits || evict != 0;
}

bool ViewerHub::MakePasswordRoom(int id, const std::string &peer)
{
    // Every login that gets its hello gets a place: holders lose their own (MakeRoomFairly).
    const auto [fits, evict]
        = RoomIn(State::AwaitPassword, peer,
                 { m_limits.maxPasswordWaitingPerAddress, m_limits.maxPasswordWaiting });
    if (fits)
        return true;
    const int leaving = evict != 0 ? evict : id;
    if (Write(leaving, BuildError(kErrorInUse)))
        Drop(leaving, true);
    return leaving != id;
}

void ViewerHub::Feed(int session, std::span<const uint8_t> bytes)
{
    while (true) {
        Session *s = Find(session);
        if (!s || s->state == State::Refusing)
            return;
        const size_t take = s->parser.Append(bytes.first(std::min(bytes.size(), kFeedChunk)));
        bytes = bytes.subspan(take);
        ViewerRequest request;
        ParseResult result;
        while ((result = s->parser.Next(request)) == ParseResult::Request) {
            Handle(session, *s, request);
            s = Find(session);
            if (!s || s->state == State::Refusing)
                return;
        }
        if (result == ParseResult::Invalid) {
            Drop(session, false);
            return;
        }
        if (bytes.empty())
            return;
        if (take == 0) { // full and still incomplete
            Drop(session, false);
            return;
        }
    }
}

void ViewerHub::Handle(int id, Session &s, const ViewerRequest &request)
{
    using Kind = ViewerRequest::Kind;
    switch (request.kind) {
    case Kind::Login: {
        const int viewer = FreeViewerNumber();
        if (viewer < 0) {
            const auto error = BuildError(kErrorInUse);
            if (Write(id, error))
                Drop(id, true);
            return;
        }
        s.size = SizeFromCode(request.b);
        s.quality = ClampQuality(request.a);
        HelloFields hello;
        hello.passwordWanted = !m_setup.password.empty();
        hello.cameraOnePriority = m_setup.cameraOnePriority;
        hello.width = s.size.width;
        hello.height = s.size.height;
        hello.cameraCount = std::clamp<int>(m_setup.header.BitCount, 1, 4);
        hello.ptzFlags = m_setup.ptzFlags;
        if (hello.passwordWanted) {
            if (!MakePasswordRoom(id, s.peer))
                return;
            s.state = State::AwaitPassword;
            s.stageSince = m_clock.TickCount();
            s.parser.SetStage(ParseStage::Password);
        } else {
            s.viewer = viewer;
            s.state = State::Ready;
            s.parser.SetStage(ParseStage::Requests);
        }
        Write(id, BuildHello(hello));
        return;
    }
    case Kind::Password:
        if (SameSecret(request.text, m_setup.password, kMaxPasswordLength)) {
            ForgetFailures(s.peer);
            // Numbers go to viewers that got in, so strangers cannot hold them.
            const int viewer = FreeViewerNumber();
            if (viewer < 0) {
                if (Write(id, BuildError(kErrorInUse)))
                    Drop(id, true);
                return;
            }
            s.viewer = viewer;
            s.state = State::Ready;
            s.parser.SetStage(ParseStage::Requests);
            Write(id, BuildAccept());
        } else if (RefusingCount() >= m_limits.maxRefusing) {
            Drop(id, false); // too many guesses at once: no answer, no wait
        } else {
            s.state = State::Refusing;
            s.refuseAt = m_clock.TickCount() + RefusalDelay(s.peer);
        }
        return;
    case Kind::Live:
        if (!IsCamera(request.a)) {
            Drop(id, false);
            return;
        }
        if (IsSizeCode(request.b))
            s.size = SizeFromCode(request.b);
        else
            s.quality = ClampQuality(request.b);
        Queue(id, s, static_cast<int8_t>(request.a), 0, true);
        return;
    case Kind::Stored:
        if (!IsCamera(request.a)) {
            Drop(id, false);
            return;
        }
        Queue(id, s, static_cast<int8_t>(32 + request.a), request.b, true);
        return;
    case Kind::Control:
        Queue(id, s, -1, request.b, false);
        return;
    case Kind::KeepAlive:
        return;
    }
}

// A viewer has at most one frame request waiting: a newer one takes the older one's place.
void ViewerHub::Queue(int id, Session &s, int8_t code, uint8_t arg, bool frame)
{
    (void)s;
    if (frame) {
        for (Pending &p : m_queue) {
            if (p.session == id && p.code != -1) {
                p.code = code;
                p.arg = arg;
                return;
            }
        }
    } else {
        const auto controls = std::count_if(m_queue.begin(), m_queue.end(), [id](const Pending &p) {
            return p.session == id && p.code == -1;
        });
        if (static_cast<size_t>(controls) >= m_limits.maxControlsQueued) {
            auto oldest = std::find_if(m_queue.begin(), m_queue.end(), [id](const Pending &p) {
                return p.session == id && p.code == -1;
            });
            m_queue.erase(oldest);
        }
    }
    m_queue.push_back({ id, code, arg });
}

int ViewerHub::FreeViewerNumber() const
{
    bool used[2] = { false, false };
    for (const auto &[id, s] : m_sessions)
        if (s.viewer == 0 || s.viewer == 1)
            used[s.viewer] = true;
    return !used[0] ? 0 : (!used[1] ? 1 : -1);
}

uint32_t ViewerHub::RefusalDelay(const std::string &peer)
{
    const uint32_t now = m_clock.TickCount();
    if (m_backoff.size() >= kMaxBackoffEntries && !m_backoff.count(peer)) {
        auto oldest = std::min_element(m_backoff.begin(), m_backoff.end(),
                                       [now](const auto &a, const auto &b) {
                                           return now - a.second.lastAt > now - b.second.lastAt;
                                       });
        m_backoff.erase(oldest);
    }
    Backoff &b = m_backoff[peer];
    if (now - b.lastAt > kBackoffMemoryMs)
        b.failures = 0;
    b.failures = std::min<uint32_t>(b.failures + 1, 16);
    b.lastAt = now;
    const uint64_t delay = uint64_t(m_limits.passwordDelayMs) << (b.failures - 1);
    return static_cast<uint32_t>(std::min<uint64_t>(delay, m_limits.maxPasswordDelayMs));
}

void ViewerHub::ForgetFailures(const std::string &peer)
{
    m_backoff.erase(peer);
}

void ViewerHub::Closed(int session)
{
    auto it = m_sessions.find(session);
    if (it == m_sessions.end())
        return;
    std::erase_if(m_queue, [session](const Pending &p) { return p.session == session; });
    if (m_answerTarget == session)
        m_answerTarget = 0;
    m_sessions.erase(it);
}

void ViewerHub::Drop(int id, bool graceful)
{
    Session *s = Find(id);
    if (!s)
        return;
    ISessionTransport *transport = s->transport;
    Closed(id);
    transport->Close(graceful);
}

bool ViewerHub::Write(int id, std::span<const uint8_t> bytes)
{
    Session *s = Find(id);
    if (!s)
        return false;
    s->transport->Write(bytes);
    if (s->transport->Backlog() > m_limits.maxBacklog) {
        Drop(id, false);
        return false;
    }
    return true;
}

void ViewerHub::Poll()
{
    const uint32_t now = m_clock.TickCount();
    std::vector<int> expired, unanswered, refused, reoffered;
    for (auto &[id, s] : m_sessions) {
        if (s.state == State::AwaitLogin && now - s.stageSince >= m_limits.handshakeTimeoutMs)
            expired.push_back(id);
        else if (s.state == State::AwaitPassword
                 && now - s.stageSince >= m_limits.passwordTimeoutMs)
            unanswered.push_back(id);
        else if (s.state == State::Refusing && Reached(now, s.refuseAt))
            refused.push_back(id);
        else if (s.state == State::Ready && s.awaitingAnswer && m_limits.reofferAfterMs
                 && now - s.handedAt >= m_limits.reofferAfterMs)
            reoffered.push_back(id);
    }
    for (int id : expired)
        Drop(id, false);
    for (int id : unanswered) { // the viewer says why the link ended
        if (Write(id, BuildError(kErrorRefused)))
            Drop(id, true);
    }
    for (int id : refused) {
        if (Write(id, BuildError(kErrorRefused)))
            Drop(id, true);
    }
    for (int id : reoffered) {
        Session &s = m_sessions[id];
        s.awaitingAnswer = false;
        if (m_answerTarget == id)
            m_answerTarget = 0;
        const bool queued = std::any_of(m_queue.begin(), m_queue.end(), [id](const Pending &p) {
            return p.session == id && p.code != -1;
        });
        if (!queued)
            m_queue.push_front({ id, s.handedCode, s.handedArg });
    }
    if (!reoffered.empty() && onReoffer)
        onReoffer();
}

size_t ViewerHub::RefusingCount() const
{
    return static_cast<size_t>(
        std::count_if(m_sessions.begin(), m_sessions.end(),
                      [](const auto &e) { return e.second.state == State::Refusing; }));
}

int ViewerHub::ReadyCount() const
{
    return static_cast<int>(std::count_if(m_sessions.begin(), m_sessions.end(), [](const auto &e) {
        return e.second.state == State::Ready;
    }));
}

int8_t ViewerHub::CheckRequestQueue(uint8_t *buffer, size_t length)
{
    if (!buffer || length < 2 || m_queue.empty())
        return 0;
    const Pending p = m_queue.front();
    m_queue.pop_front();
    Session *s = Find(p.session);
    if (!s)
        return 0;
    buffer[0] = static_cast<uint8_t>(s->viewer);
    buffer[1] = p.arg;
    if (p.code != -1) {
        s->awaitingAnswer = true;
        s->handedAt = m_clock.TickCount();
        s->handedCode = p.code;
        s->handedArg = p.arg;
        m_answerTarget = p.session;
    }
    return p.code;
}

int ViewerHub::TakeAnswerTarget()
{
    const int id = m_answerTarget;
    m_answerTarget = 0;
    Session *s = Find(id);
    if (!s || !s->awaitingAnswer)
        return 0;
    s->awaitingAnswer = false;
    return id;
}

bool ViewerHub::SendFrame(int id, uint8_t camera, const std::vector<uint8_t> &jpeg)
{
    if (jpeg.size() > kMaxFrameBody) {
        SendNoPicture(id);
        return false;
    }
    if (!Write(id, BuildFrameHeader(camera, static_cast<uint32_t>(jpeg.size()))))
        return false;
    return Write(id, jpeg);
}

bool ViewerHub::SendNoPicture(int id)
{
    Session *s = Find(id);
    if (!s || !m_codec.EncodeBlank(s->size.width, s->size.height, s->quality, m_jpeg))
        return false;
    return Write(id, BuildFrameHeader(0, static_cast<uint32_t>(m_jpeg.size())))
        && Write(id, m_jpeg);
}

ViewerHub::Encoded *ViewerHub::FindEncoded(const FrameId &id, const Session &s)
{
    for (Encoded &e : m_encoded)
        if (!e.jpeg.empty() && e.id == id && e.width == s.size.width && e.height == s.size.height
            && e.quality == s.quality)
            return &e;
    return nullptr;
}

bool ViewerHub::ResendImageOut(const FrameId &id, int camera)
{
    Session *s = Find(m_answerTarget);
    if (!s || !s->awaitingAnswer || camera < 0 || camera > 4)
        return false;
    Encoded *kept = FindEncoded(id, *s);
    if (!kept)
        return false;
    kept->used = ++m_encodedUses;
    return SendFrame(TakeAnswerTarget(), static_cast<uint8_t>(camera), kept->jpeg);
}

bool ViewerHub::SendImageOut(const uint8_t *frame, size_t length, int camera, const FrameId *id)
{
    const int target = TakeAnswerTarget();
    Session *s = Find(target);
    if (!s)
        return false;
    const ImageHeader &h = m_setup.header;
    const size_t needed = static_cast<size_t>(h.Width) * h.Height * 3;
    if (!frame || length < needed || camera < 0 || camera > 4) {
        SendNoPicture(target);
        return false;
    }
    if (!m_codec.EncodeFrame(frame, h.Width, h.Height, s->size.width, s->size.height, s->quality,
                             m_jpeg)) {
        SendNoPicture(target);
        return false;
    }
    if (id && m_jpeg.size() <= kMaxFrameBody) {
        // The least recently used place takes it.
        Encoded *slot = FindEncoded(*id, *s);
        if (!slot)
            slot = &*std::min_element(
                m_encoded.begin(), m_encoded.end(),
                [](const Encoded &a, const Encoded &b) { return a.used < b.used; });
        slot->id = *id;
        slot->width = s->size.width;
        slot->height = s->size.height;
        slot->quality = s->quality;
        slot->used = ++m_encodedUses;
        slot->jpeg.assign(m_jpeg.begin(), m_jpeg.end());
    }
    return SendFrame(target, static_cast<uint8_t>(camera), m_jpeg);
}

bool ViewerHub::SendStillOut(const std::string &path)
{
    const int id = TakeAnswerTarget();
    Session *s = Find(id);
    if (!s)
        return false;
    const int camera = s->handedCode > 32 ? s->handedCode - 32 : s->handedCode;
    std::error_code ec;
    const auto size = std::filesystem::file_size(path, ec);
    bool read = !ec && std::filesystem::is_regular_file(path, ec) && size > 0
        && size <= m_limits.maxStillBytes;
    if (read) {
        m_file.resize(size);
        std::ifstream in(path, std::ios::binary);
        read = in
            && in.read(reinterpret_cast<char *>(m_file.data()), static_cast<std::streamsize>(size))
            && static_cast<uint64_t>(in.gcount()) == size;
    }
    if (!read || !m_codec.Reencode(m_file, s->size.width, s->size.height, s->quality, m_jpeg)) {
        SendNoPicture(id);
        return false;
    }
    return SendFrame(id, static_cast<uint8_t>(camera), m_jpeg);
}

} // namespace vorlund::link
