// The viewer's lookup reply reader on arbitrary reads: the input is a series of reads, each a
// length byte followed by that many bytes (fewer at the end), so lines split everywhere.
#include "LookupReply.h"

#include <algorithm>
#include <cstdlib>

using namespace vorlund::viewer;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    HttpLineState state;
    std::string address = "unchanged";
    size_t pos = 0;
    while (pos < size) {
        const size_t length = std::min<size_t>(data[pos], size - pos - 1);
        ReadLookupReply(state, { data + pos + 1, length }, address);
        pos += 1 + length;
        if (state.line.size() > kMaxLookupLine)
            std::abort();
        if (address != "unchanged"
            && (address.size() > kMaxLookedUpAddress
                || address.find_first_of("?:") != std::string::npos))
            std::abort();
    }
    return 0;
}
