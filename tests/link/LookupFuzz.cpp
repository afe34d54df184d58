// The lookup texts on arbitrary bytes: the relay's request line and its percent-decoding (bytes
// from anyone who reaches the lookup port), and the server's reply-line search.
#include "Lookup.h"

#include <cstdlib>
#include <string>
#include <string_view>

using namespace vorlund::relay;

namespace {

void Require(bool condition)
{
    if (!condition)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const std::string_view text(reinterpret_cast<const char *>(data), size);

    if (const auto decoded = PercentDecode(text)) {
        Require(decoded->size() <= text.size());
        Require(PercentDecode(PercentEncode(*decoded)) == decoded);
    }
    Require(PercentDecode(PercentEncode(text)) == std::string(text));

    if (const auto id = ParseLookupLine(text)) {
        Require(id->size() <= kMaxLookupId);
        for (const char c : *id)
            Require(static_cast<unsigned char>(c) >= 0x20 && c != 0x7F);
        // What the server builds for that id is read back as the same id.
        const std::string request = BuildLookupRequest(*id, "h");
        Require(ParseLookupLine(std::string_view(request).substr(0, request.find("\r\n"))) == id);
    }

    for (const size_t limit : { size_t(0), size_t(19), size_t(27), size_t(4096) }) {
        const auto address = FindAddress(text, limit);
        Require(address.has_value() == (text.find("tor:") != std::string_view::npos));
        if (address) {
            Require(address->size() <= limit);
            Require(address->find_first_of("?:") == std::string::npos);
        }
    }
    // The relay's own reply is found again.
    const std::string reply = BuildLookupReply(text);
    const auto found = FindAddress(reply.substr(reply.find("director:")), 4096);
    Require(found.has_value());
    return 0;
}
