#include "Requests.h"

namespace vorlund::viewer {

namespace {

constexpr std::string_view kLineEnd = "\r\n";

// CR or LF inside a text field would end the request early; the dialogs refuse them too.
bool HasControlBytes(std::string_view text)
{
    for (char c : text)
        if (uint8_t(c) < 0x20 || c == 0x7F)
            return true;
    return false;
}

std::optional<std::string> Fitting(std::string request)
{
    if (request.size() > kSendBufferSize)
        return std::nullopt;
    return request;
}

} // namespace

std::optional<std::string> LoginRequest(uint8_t quality, uint8_t sizeCode, std::string_view id)
{
    if (HasControlBytes(id))
        return std::nullopt;
    std::string r = "586?";
    r += char(quality);
    r += char(sizeCode);
    r += id;
    r += kLineEnd;
    return Fitting(std::move(r));
}

std::optional<std::string> PasswordRequest(std::string_view password)
{
    // The length travels in one byte.
    if (password.size() > 255)
        return std::nullopt;
    std::string r = ">p";
    if (!password.empty()) {
        r += char(uint8_t(password.size()));
        r += password;
    }
    r += kLineEnd;
    return Fitting(std::move(r));
}

std::string LiveFrameRequest(uint8_t camera, uint8_t value)
{
    std::string r = ">c";
    r += char(camera);
    r += char(value);
    r += kLineEnd;
    return r;
}

std::string StoredFrameRequest(uint8_t camera, char step)
{
    std::string r = ">s";
    r += char(camera == 0 ? 1 : camera);
    r += step;
    r += kLineEnd;
    return r;
}

std::string PtzRequest(uint8_t value)
{
    std::string r = ">k";
    r += char(value);
    r += kLineEnd;
    return r;
}

std::string KeepAliveRequest()
{
    return std::string(">PN") + std::string(kLineEnd);
}

std::string EncodeLookupId(std::string_view id)
{
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(id.size());
    for (char c : id) {
        const auto b = uint8_t(c);
        if (b < 0x21 || b > 0x7E || b == '%') {
            out += '%';
            out += kHex[b >> 4];
            out += kHex[b & 0x0F];
        } else {
            out += c;
        }
    }
    return out;
}

std::optional<std::string> LookupRequest(std::string_view id, std::string_view lookupHost)
{
    if (HasControlBytes(lookupHost))
        return std::nullopt;
    std::string r = "GET /client.asp?id=";
    r += EncodeLookupId(id);
    r += " HTTP/1.1";
    r += kLineEnd;
    r += "Host: ";
    r += lookupHost;
    r += kLineEnd;
    r += kLineEnd;
    return Fitting(std::move(r));
}

} // namespace vorlund::viewer
