#include "MailMessage.h"

#include <algorithm>
#include <array>
#include <cstdio>

namespace vorlund {

namespace {

// Longer values than any settings field or subject of ours; keeps every header line short.
constexpr size_t kMaxFieldBytes = 255;
constexpr size_t kMaxHostBytes = 253;

std::string_view Trim(std::string_view text)
{
    const auto blank = [](char c) { return c == ' ' || c == '\t'; };
    while (!text.empty() && blank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && blank(text.back()))
        text.remove_suffix(1);
    return text;
}

bool IsAsciiAlnum(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

bool IsHostName(std::string_view host)
{
    if (host.empty() || host.size() > kMaxHostBytes)
        return false;
    for (char c : host)
        if (!IsAsciiAlnum(c) && c != '-' && c != '.' && c != '_')
            return false;
    return true;
}

bool IsV6Literal(std::string_view host)
{
    if (host.empty() || host.size() > 45)
        return false;
    for (char c : host) {
        const bool hex = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
        if (!hex && c != ':' && c != '.')
            return false;
    }
    return host.find(':') != std::string_view::npos;
}

std::optional<uint16_t> ParsePort(std::string_view text)
{
    if (text.empty() || text.size() > 5)
        return std::nullopt;
    uint32_t port = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return std::nullopt;
        port = port * 10 + uint32_t(c - '0');
    }
    if (port == 0 || port > 65535)
        return std::nullopt;
    return uint16_t(port);
}

// Body text with every line ended by CRLF, whatever it was ended by.
void AppendCrlfText(std::string &out, std::string_view text)
{
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '\r') {
            out += "\r\n";
            if (i + 1 < text.size() && text[i + 1] == '\n')
                ++i;
        } else if (c == '\n') {
            out += "\r\n";
        } else {
            out += c;
        }
    }
    if (!text.empty() && out.back() != '\n')
        out += "\r\n";
}

void AppendTextPartHeaders(std::string &out)
{
    out += "Content-Type: text/plain; charset=utf-8\r\n"
           "Content-Transfer-Encoding: 8bit\r\n";
}

} // namespace

std::optional<SmtpEndpoint> ParseSmtpServer(std::string_view text)
{
    text = Trim(text);
    if (text.empty())
        return SmtpEndpoint { "localhost", kDefaultSmtpPort };

    SmtpEndpoint endpoint;
    std::string_view host;
    std::string_view rest;
    if (text.front() == '[') {
        const size_t close = text.find(']');
        if (close == std::string_view::npos)
            return std::nullopt;
        host = text.substr(1, close - 1);
        rest = text.substr(close + 1);
        if (!IsV6Literal(host))
            return std::nullopt;
    } else {
        const size_t colon = text.find(':');
        host = text.substr(0, colon);
        rest = colon == std::string_view::npos ? std::string_view {} : text.substr(colon);
        if (!IsHostName(host))
            return std::nullopt;
    }
    if (!rest.empty()) {
        if (rest.front() != ':')
            return std::nullopt;
        const auto port = ParsePort(rest.substr(1));
        if (!port)
            return std::nullopt;
        endpoint.Port = *port;
    }
    endpoint.Host = std::string(host);
    return endpoint;
}

std::string SmtpUrl(const SmtpEndpoint &endpoint)
{
    const bool v6 = endpoint.Host.find(':') != std::string::npos;
    std::string url = "smtp://";
    url += v6 ? "[" + endpoint.Host + "]" : endpoint.Host;
    url += ":" + std::to_string(endpoint.Port) + "/";
    return url;
}

std::optional<std::string> EnvelopeAddress(std::string_view text)
{
    text = Trim(text);
    std::string_view address = text;
    const size_t open = text.rfind('<');
    if (open != std::string_view::npos) {
        const size_t close = text.find('>', open);
        if (close == std::string_view::npos || !Trim(text.substr(close + 1)).empty())
            return std::nullopt;
        address = text.substr(open + 1, close - open - 1);
    }
    for (char c : address) {
        const auto u = static_cast<unsigned char>(c);
        if (u <= 0x20 || u == 0x7f || c == '<' || c == '>')
            return std::nullopt;
    }
    return std::string(address);
}

bool HasLineBreakOrNul(std::string_view text)
{
    return text.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos;
}

std::optional<std::string> CheckMailFields(std::string_view from, std::string_view to,
                                           std::string_view subject, std::string_view server)
{
    const std::array<std::pair<std::string_view, std::string_view>, 4> fields { {
        { "email From", from },
        { "email To", to },
        { "The subject", subject },
        { "smtp server", server },
    } };
    for (const auto &[name, value] : fields) {
        if (HasLineBreakOrNul(value))
            return std::string(name) + " holds a line break or NUL character.";
        if (value.size() > kMaxFieldBytes)
            return std::string(name) + " is too long.";
    }
    const auto recipient = EnvelopeAddress(to);
    if (!recipient || recipient->empty())
        return std::string("email To must contain a valid email address.");
    if (!EnvelopeAddress(from))
        return std::string("email From is not a valid email address.");
    if (!ParseSmtpServer(server))
        return std::string("smtp server must be a host name, optionally followed by :port.");
    return std::nullopt;
}

std::string ComposeMessage(const MailHeaders &headers, std::string_view body,
                           const MailAttachment *attachment, std::string_view boundary)
{
    std::string out;
    out.reserve(512 + body.size() + (attachment ? attachment->Bytes.size() * 4 / 3 + 64 : 0));
    out += "Date: " + headers.Date + "\r\n";
    if (!headers.From.empty())
        out += "From: " + headers.From + "\r\n";
    out += "To: " + headers.To + "\r\n";
    out += "Subject: " + headers.Subject + "\r\n";
    out += "Message-ID: <" + headers.MessageId + ">\r\n";
    out += "MIME-Version: 1.0\r\n";
    if (!attachment) {
        AppendTextPartHeaders(out);
        out += "\r\n";
        AppendCrlfText(out, body);
        return out;
    }
    const std::string delimiter = "--" + std::string(boundary);
    out += "Content-Type: multipart/mixed; boundary=\"" + std::string(boundary) + "\"\r\n\r\n";
    out += delimiter + "\r\n";
    AppendTextPartHeaders(out);
    out += "\r\n";
    AppendCrlfText(out, body);
    out += delimiter + "\r\n";
    out += "Content-Type: image/jpeg; name=\"" + attachment->FileName + "\"\r\n";
    out += "Content-Transfer-Encoding: base64\r\n";
    out += "Content-Disposition: attachment; filename=\"" + attachment->FileName + "\"\r\n\r\n";
    out += Base64Lines(attachment->Bytes);
    out += delimiter + "--\r\n";
    return out;
}

std::string FormatMailDate(std::time_t when)
{
    static constexpr std::array<const char *, 7> kDays { "Sun", "Mon", "Tue", "Wed",
                                                         "Thu", "Fri", "Sat" };
    static constexpr std::array<const char *, 12> kMonths { "Jan", "Feb", "Mar", "Apr",
                                                            "May", "Jun", "Jul", "Aug",
                                                            "Sep", "Oct", "Nov", "Dec" };
    std::tm local {};
    if (!localtime_r(&when, &local))
        return "Thu, 01 Jan 1970 00:00:00 +0000";
    const long offsetMinutes = local.tm_gmtoff / 60;
    const long absolute = offsetMinutes < 0 ? -offsetMinutes : offsetMinutes;
    char text[64];
    std::snprintf(text, sizeof text, "%s, %02d %s %04d %02d:%02d:%02d %c%02ld%02ld",
                  kDays[size_t(local.tm_wday) % 7], local.tm_mday,
                  kMonths[size_t(local.tm_mon) % 12], local.tm_year + 1900, local.tm_hour,
                  local.tm_min, local.tm_sec, offsetMinutes < 0 ? '-' : '+', absolute / 60,
                  absolute % 60);
    return text;
}

std::string MakeMessageId(std::time_t when, uint64_t unique, std::string_view envelopeFrom)
{
    std::string_view domain = "vorlund.localdomain";
    const size_t at = envelopeFrom.rfind('@');
    if (at != std::string_view::npos && IsHostName(envelopeFrom.substr(at + 1)))
        domain = envelopeFrom.substr(at + 1);
    std::tm utc {};
    if (!gmtime_r(&when, &utc))
        utc = std::tm {};
    char text[64];
    std::snprintf(text, sizeof text, "%04d%02d%02d%02d%02d%02d.%016llx@", utc.tm_year + 1900,
                  utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec,
                  static_cast<unsigned long long>(unique));
    return text + std::string(domain);
}

std::string Base64Lines(std::string_view bytes)
{
    static constexpr char kAlphabet[]
        = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    constexpr size_t kGroupsPerLine = 19; // 76 characters
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4 + (bytes.size() / 57 + 1) * 2);
    size_t groups = 0;
    for (size_t i = 0; i < bytes.size(); i += 3) {
        const size_t n = std::min<size_t>(3, bytes.size() - i);
        uint32_t v = uint32_t(static_cast<unsigned char>(bytes[i])) << 16;
        if (n > 1)
            v |= uint32_t(static_cast<unsigned char>(bytes[i + 1])) << 8;
        if (n > 2)
            v |= uint32_t(static_cast<unsigned char>(bytes[i + 2]));
        out += kAlphabet[(v >> 18) & 63];
        out += kAlphabet[(v >> 12) & 63];
        out += n > 1 ? kAlphabet[(v >> 6) & 63] : '=';
        out += n > 2 ? kAlphabet[v & 63] : '=';
        if (++groups == kGroupsPerLine) {
            out += "\r\n";
            groups = 0;
        }
    }
    if (groups != 0)
        out += "\r\n";
    return out;
}

std::string AttachmentFileName(const std::filesystem::path &path)
{
    std::string name = path.filename().string();
    for (char &c : name)
        if (!IsAsciiAlnum(c) && c != '.' && c != '-' && c != '_')
            c = '_';
    if (name.empty())
        name = "picture.jpg";
    return name;
}

} // namespace vorlund
