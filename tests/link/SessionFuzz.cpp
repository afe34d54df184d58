// The session parser and the sessions on arbitrary viewer bytes, fed in arbitrary pieces.
#include "ViewerHub.h"
#include "ViewerProtocol.h"

#include <cstdlib>
#include <span>

namespace {

using namespace vorlund;
using namespace vorlund::link;

void Require(bool condition)
{
    if (!condition)
        std::abort();
}

class NullTransport : public ISessionTransport
{
public:
    void Write(std::span<const uint8_t> bytes) override { written += bytes.size(); }
    size_t Backlog() const override { return 0; }
    void Close(bool) override { closed = true; }
    size_t written = 0;
    bool closed = false;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    // The first byte sets the piece size, so splits fall everywhere.
    const size_t piece = 1 + data[0] % 32;
    const std::span<const uint8_t> bytes(data + 1, size - 1);

    // The parser alone, in every stage.
    for (const ParseStage stage :
         { ParseStage::Login, ParseStage::Password, ParseStage::Requests }) {
        SessionParser parser;
        parser.SetStage(stage);
        ViewerRequest request;
        for (size_t at = 0; at < bytes.size();) {
            const size_t take
                = parser.Append(bytes.subspan(at, std::min(piece, bytes.size() - at)));
            at += take;
            ParseResult result;
            while ((result = parser.Next(request)) == ParseResult::Request)
                Require(request.text.size() < kMaxLoginLength);
            Require(parser.Buffered() <= kMaxLoginLength);
            if (result == ParseResult::Invalid || take == 0)
                break;
        }
    }

    // The sessions, with a password, answering what they hand over.
    static FakeClock clock;
    static ViewerHub hub(clock, [] {
        LinkLimits limits;
        limits.passwordDelayMs = 1;
        return limits;
    }());
    LinkSetup setup;
    setup.password = "pw";
    setup.header.Width = 16;
    setup.header.Height = 12;
    setup.header.BitCount = 4;
    Require(hub.Configure(setup));
    static const std::vector<uint8_t> frame(16 * 12 * 3, 0x80);
    NullTransport transport;
    const int id = hub.Open(transport, "fuzz");
    Require(id != 0);
    bool answered = false;
    for (size_t at = 0; at < bytes.size() && !transport.closed; at += piece) {
        hub.Feed(id, bytes.subspan(at, std::min(piece, bytes.size() - at)));
        clock.Advance(1);
        hub.Poll();
        uint8_t request[2];
        const int8_t code = hub.CheckRequestQueue(request, sizeof request);
        Require(code == 0 || code == -1 || (code >= 1 && code <= 4) || (code >= 33 && code <= 36));
        if (code != 0)
            Require(request[0] == 0);
        // One answer a run: encoding is slow and not what is fuzzed here.
        if (code >= 1 && code <= 4 && !answered)
            answered = hub.SendImageOut(frame.data(), frame.size(), code);
    }
    Require(hub.SessionCount() <= 1);
    hub.Reset();
    return 0;
}
