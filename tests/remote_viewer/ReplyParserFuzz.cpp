// The reply parser on arbitrary reads: the input is a series of reads, each a length byte
// followed by that many bytes (fewer at the end), so the fuzzer also explores how the reads
// split the replies.
#include "ReplyParser.h"

#include <algorithm>
#include <cstdlib>

using namespace vorlund::viewer;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    ReplyParser parser;
    size_t pos = 0;
    while (pos < size) {
        const size_t length = std::min<size_t>(data[pos], size - pos - 1);
        const ReplyResult r = parser.Feed({ data + pos + 1, length });
        pos += 1 + length;
        if (r.kind == ReplyResult::Kind::Frame
            && (r.length < 1 || r.length > kMaxFrameLength
                || parser.Frame().size() != size_t(r.length)))
            std::abort();
        if (r.kind == ReplyResult::Kind::BadFrameLength && r.length >= 1
            && r.length <= kMaxFrameLength)
            std::abort();
        if (parser.HeaderSize() != 8 && parser.HeaderSize() != 18)
            std::abort();
    }
    return 0;
}
