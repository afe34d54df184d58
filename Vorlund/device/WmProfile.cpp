#include "WmProfile.h"

#include "Notifier.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <fstream>
#include <string_view>

namespace vorlund {

namespace {

constexpr std::string_view kVideoMajorType = "{73646976-0000-0010-8000-00AA00389B71}";
constexpr std::string_view kAudioMajorType = "{73647561-0000-0010-8000-00AA00389B71}";

// UTF-16 little-endian (a byte-order mark is optional) to text; characters beyond ASCII become
// '?', which no profile keyword uses. nullopt when the bytes are not UTF-16 text.
std::optional<std::string> NarrowUtf16(std::span<const uint8_t> bytes)
{
    if (bytes.size() < 2 || bytes.size() % 2 != 0)
        return std::nullopt;
    size_t start = 0;
    if (bytes[0] == 0xFF && bytes[1] == 0xFE)
        start = 2;
    std::string text;
    text.reserve(bytes.size() / 2);
    for (size_t i = start; i + 1 < bytes.size(); i += 2) {
        const unsigned unit = bytes[i] | (unsigned(bytes[i + 1]) << 8);
        if (unit == 0)
            break; // the file's wide null ends the text
        text.push_back(unit < 0x80 ? char(unit) : '?');
    }
    // ASCII stored as single bytes reads as units with a high byte: not UTF-16 at all.
    if (text.find('<') == std::string::npos)
        return std::nullopt;
    return text;
}

std::string Lower(std::string_view text)
{
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(),
                   [](unsigned char c) { return char(std::tolower(c)); });
    return out;
}

// The value of `name="..."` inside one tag's text (case-insensitive name).
std::optional<std::string_view> Attribute(std::string_view tag, std::string_view lowerTag,
                                          std::string_view name)
{
    size_t at = 0;
    while ((at = lowerTag.find(name, at)) != std::string_view::npos) {
        const bool starts = at > 0 && std::isspace(static_cast<unsigned char>(lowerTag[at - 1]));
        size_t p = at + name.size();
        at = p;
        if (!starts)
            continue;
        while (p < tag.size() && std::isspace(static_cast<unsigned char>(tag[p])))
            ++p;
        if (p >= tag.size() || tag[p] != '=')
            continue;
        ++p;
        while (p < tag.size() && std::isspace(static_cast<unsigned char>(tag[p])))
            ++p;
        if (p >= tag.size() || (tag[p] != '"' && tag[p] != '\''))
            continue;
        const char quote = tag[p++];
        const size_t end = tag.find(quote, p);
        if (end == std::string_view::npos)
            return std::nullopt;
        return tag.substr(p, end - p);
    }
    return std::nullopt;
}

int32_t Number(std::optional<std::string_view> text)
{
    int32_t value = 0;
    if (!text)
        return 0;
    const auto [end, ec] = std::from_chars(text->data(), text->data() + text->size(), value);
    return ec == std::errc() && value > 0 ? value : 0;
}

// Every tag of that name between `from` and `to`, as (tag text, lower-case tag text).
std::vector<std::pair<std::string_view, std::string>>
Tags(std::string_view text, std::string_view lower, std::string_view name, size_t from, size_t to)
{
    std::vector<std::pair<std::string_view, std::string>> tags;
    const std::string open = "<" + std::string(name);
    size_t at = from;
    while ((at = lower.find(open, at)) != std::string_view::npos && at < to) {
        const size_t end = text.find('>', at);
        if (end == std::string_view::npos || end > to)
            break;
        const std::string_view tag = text.substr(at, end - at);
        tags.emplace_back(tag, Lower(tag));
        at = end;
    }
    return tags;
}

} // namespace

const WmStream *WmProfileInfo::Video() const
{
    for (const WmStream &s : streams) {
        if (s.kind == WmStream::Kind::Video)
            return &s;
    }
    return nullptr;
}

const WmStream *WmProfileInfo::Audio() const
{
    for (const WmStream &s : streams) {
        if (s.kind == WmStream::Kind::Audio)
            return &s;
    }
    return nullptr;
}

std::optional<WmProfileInfo> ParseWmProfile(std::span<const uint8_t> bytes)
{
    if (bytes.size() > kMaxProfileBytes)
        return std::nullopt;
    const std::optional<std::string> text = NarrowUtf16(bytes);
    if (!text)
        return std::nullopt;
    const std::string lower = Lower(*text);
    WmProfileInfo info;
    size_t at = 0;
    while ((at = lower.find("<streamconfig", at)) != std::string::npos) {
        const size_t close = lower.find("</streamconfig", at);
        const size_t end = close == std::string::npos ? lower.size() : close;
        const auto tags = Tags(*text, lower, "streamconfig", at, end);
        if (tags.empty())
            return std::nullopt;
        const auto &[tag, lowerTag] = tags.front();
        const std::optional<std::string_view> major = Attribute(tag, lowerTag, "majortype");
        WmStream stream;
        if (major && Lower(*major) == Lower(kVideoMajorType))
            stream.kind = WmStream::Kind::Video;
        else if (major && Lower(*major) == Lower(kAudioMajorType))
            stream.kind = WmStream::Kind::Audio;
        else
            return std::nullopt;
        stream.bitrate = Number(Attribute(tag, lowerTag, "bitrate"));
        if (stream.kind == WmStream::Kind::Video) {
            for (const auto &[header, lowerHeader] :
                 Tags(*text, lower, "bitmapinfoheader", at, end)) {
                stream.width = Number(Attribute(header, lowerHeader, "biwidth"));
                stream.height = Number(Attribute(header, lowerHeader, "biheight"));
                break;
            }
        }
        info.streams.push_back(stream);
        if (info.streams.size() > kMaxProfileStreams)
            return std::nullopt;
        at = end;
    }
    if (info.streams.empty())
        return std::nullopt;
    return info;
}

LoadedProfile LoadWmProfile(const std::filesystem::path &file)
{
    LoadedProfile out;
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        out.openError = errno ? errno : ENOENT;
        return out;
    }
    std::vector<uint8_t> bytes(kMaxProfileBytes + 1);
    in.read(reinterpret_cast<char *>(bytes.data()), std::streamsize(bytes.size()));
    bytes.resize(size_t(in.gcount()));
    if (bytes.size() > kMaxProfileBytes)
        return out; // too large to be a profile
    out.profile = ParseWmProfile(bytes);
    return out;
}

int RunProfileEditor(int mode, const std::filesystem::path &workingFolder, INotifier &notifier,
                     std::filesystem::path &profileFolder)
{
    if (mode == 1) {
        profileFolder = workingFolder / "profiles";
        return 0;
    }
    notifier.ShowMessage("Could not open the Windows Media Profile Editor.\nTo use this editor to "
                         "create/edit your own custom profiles you\nmust install the Windows "
                         "Media Encoder 9 Series.\nOn this system, write .prx profiles into the "
                         "\"profiles\" folder (see the README).\n",
                         kPlainCaption);
    return -1;
}

} // namespace vorlund
