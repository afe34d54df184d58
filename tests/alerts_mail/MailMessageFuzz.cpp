// Arbitrary settings and body text: a parsed server prints as a URL that parses back, and a
// composed message never has a bare CR or LF.

#include "MailMessage.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

using namespace vorlund;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const std::string_view input(reinterpret_cast<const char *>(data), size);
    // Fields are separated by '|': from, to, server, body.
    std::string_view fields[4];
    std::string_view rest = input;
    for (int i = 0; i < 3; ++i) {
        const size_t bar = rest.find('|');
        fields[i] = rest.substr(0, bar);
        rest = bar == std::string_view::npos ? std::string_view {} : rest.substr(bar + 1);
    }
    fields[3] = rest;

    if (const auto endpoint = ParseSmtpServer(fields[2])) {
        const std::string url = SmtpUrl(*endpoint);
        // Without "smtp://" and the trailing slash.
        const auto again = ParseSmtpServer(std::string_view(url).substr(7, url.size() - 8));
        if (!again || !(*again == *endpoint))
            std::abort();
    }
    (void)EnvelopeAddress(fields[0]);

    if (CheckMailFields(fields[0], fields[1], "Motion on Camera 1", fields[2]))
        return 0;
    const MailHeaders headers { std::string(fields[0]), std::string(fields[1]),
                                "Motion on Camera 1", FormatMailDate(0),
                                MakeMessageId(0, 1, *EnvelopeAddress(fields[0])) };
    const MailAttachment picture { AttachmentFileName(std::string(fields[1])), std::string(input) };
    for (const MailAttachment *a : { static_cast<const MailAttachment *>(nullptr), &picture }) {
        const std::string text = ComposeMessage(headers, fields[3], a, "=_fuzz");
        for (size_t i = 0; i < text.size(); ++i) {
            if (text[i] == '\r' && (i + 1 == text.size() || text[i + 1] != '\n'))
                std::abort();
            if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r'))
                std::abort();
        }
    }
    return 0;
}
