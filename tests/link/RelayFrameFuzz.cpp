// The relay's frame reader on arbitrary bytes fed in arbitrary pieces, and the login split on
// every payload it cuts out (and on the whole input).
#include "RelayFrames.h"

#include <algorithm>
#include <cstdlib>
#include <span>
#include <string>

using namespace vorlund::relay;

namespace {

void Require(bool condition)
{
    if (!condition)
        std::abort();
}

void CheckLogin(std::span<const uint8_t> payload)
{
    std::string login, password;
    if (!SplitLogin(payload, login, password))
        return;
    Require(!login.empty() && login.size() <= kMaxCredential);
    Require(password.size() <= kMaxCredential);
    Require(login.size() + 1 + password.size() == payload.size());
    Require(login.find('\0') == std::string::npos);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    // The first byte sets the piece size, so frames split everywhere.
    const size_t piece = 1 + data[0] % 64;
    const std::span<const uint8_t> bytes(data + 1, size - 1);
    CheckLogin(bytes);

    FrameReader reader;
    Frame frame;
    std::vector<uint8_t> again;
    size_t taken = 0, framed = 0;
    for (size_t at = 0; at < bytes.size();) {
        const size_t take = reader.Append(bytes.subspan(at, std::min(piece, bytes.size() - at)));
        at += take;
        taken += take;
        ReadResult result;
        while ((result = reader.Next(frame)) == ReadResult::Frame) {
            Require(frame.payload.size() <= kMaxPayload);
            framed += kFrameHeader + frame.payload.size();
            CheckLogin(frame.payload);
            // A frame written back reads the same.
            again.clear();
            AppendFrame(again, frame.type, frame.channel, frame.payload);
            FrameReader copy;
            Frame back;
            Require(copy.Append(again) == again.size());
            Require(copy.Next(back) == ReadResult::Frame);
            Require(back.type == frame.type && back.channel == frame.channel
                    && back.payload == frame.payload);
        }
        Require(framed <= taken);
        if (result == ReadResult::Invalid)
            break;
        // A reader that takes nothing holds more than a whole frame it cannot cut.
        Require(take > 0);
    }
    return 0;
}
