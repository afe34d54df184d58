#pragma once

// The mail itself, apart from sending it: the server setting, the envelope addresses, the
// checks that keep header fields to one line, and the message text with its attachment.

#include <cstdint>
#include <ctime>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace vorlund {

inline constexpr uint16_t kDefaultSmtpPort = 25;

struct SmtpEndpoint
{
    std::string Host;
    uint16_t Port = kDefaultSmtpPort;

    bool operator==(const SmtpEndpoint &) const = default;
};

// "host", "host:port" or "[v6 address]:port"; blanks around it are ignored and an empty text
// means localhost. nullopt for anything else (a character that would change the URL, a port
// outside 1..65535).
std::optional<SmtpEndpoint> ParseSmtpServer(std::string_view text);

// "smtp://host:port/" for libcurl.
std::string SmtpUrl(const SmtpEndpoint &endpoint);

// The bare address of "a@b" or "Name <a@b>", for MAIL FROM and RCPT TO. An empty text gives
// an empty address (the null sender); nullopt when the address holds a blank, an angle
// bracket or a control character.
std::optional<std::string> EnvelopeAddress(std::string_view text);

// A header value with CR, LF or NUL would start a header or a command of its own.
bool HasLineBreakOrNul(std::string_view text);

// What the user typed or the settings hold, checked before anything goes to the server.
// Returns the error text for the user, or nullopt when the mail may go.
std::optional<std::string> CheckMailFields(std::string_view from, std::string_view to,
                                           std::string_view subject, std::string_view server);

struct MailHeaders
{
    std::string From; // may be empty: no From line
    std::string To;
    std::string Subject;
    std::string Date; // FormatMailDate
    std::string MessageId; // without the angle brackets
};

struct MailAttachment
{
    std::string FileName; // AttachmentFileName
    std::string Bytes;
};

// The whole message with CRLF line ends. With an attachment it is multipart/mixed with the
// text first and the picture as image/jpeg in base64; `boundary` must not occur in the body
// (a "=_" prefix never occurs in base64).
std::string ComposeMessage(const MailHeaders &headers, std::string_view body,
                           const MailAttachment *attachment, std::string_view boundary);

// RFC 5322 date of local time with its offset from UTC, English names whatever the locale.
std::string FormatMailDate(std::time_t when);

// "<UTC time>.<unique>@<domain>" (no angle brackets): the domain of the sender's address when it
// is a plain host name, else "vorlund.localdomain".
std::string MakeMessageId(std::time_t when, uint64_t unique, std::string_view envelopeFrom);

// Base64 in lines of 76 characters, each ended by CRLF.
std::string Base64Lines(std::string_view bytes);

// The file name part of the path, with every character other than letters, digits, '.', '-'
// and '_' replaced by '_', so it can stand in a quoted header parameter.
std::string AttachmentFileName(const std::filesystem::path &path);

} // namespace vorlund
