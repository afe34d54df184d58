#include "AviHeader.h"

#include <algorithm>
#include <cctype>

namespace mendrel {

namespace {

struct ChunkRef
{
    uint64_t at; // header offset
    FourCC id;
    uint32_t size;
};

// Walks the chunks of [begin, end) in the image; stops at the first one that does not fit.
template <typename Fn>
void ForEachChunk(std::span<const uint8_t> image, uint64_t begin, uint64_t end, Fn &&fn)
{
    end = std::min<uint64_t>(end, image.size());
    uint64_t p = begin;
    while (p + 8 <= end) {
        const uint8_t *h = image.data() + p;
        const uint32_t size = Le32(h + 4);
        if (p + 8 + size > end)
            return;
        if (!fn(ChunkRef { p, { char(h[0]), char(h[1]), char(h[2]), char(h[3]) }, size }))
            return;
        p += 8 + uint64_t(size) + (size & 1);
    }
}

bool Is(const FourCC &id, std::string_view s)
{
    return id == MakeFourCC(s);
}

bool ListType(std::span<const uint8_t> image, const ChunkRef &c, std::string_view type)
{
    return Is(c.id, "LIST") && c.size >= 4 && IsFourCC(image.data() + c.at + 8, type);
}

bool ParseStrl(std::span<const uint8_t> image, const ChunkRef &list, StreamInfo &s)
{
    ForEachChunk(image, list.at + 12, list.at + 8 + list.size, [&](const ChunkRef &c) {
        const uint64_t data = c.at + 8;
        if (Is(c.id, "strh") && c.size >= 48 && s.strh == 0) {
            s.strh = data;
            s.strhSize = c.size;
            std::memcpy(s.type.data(), image.data() + data, 4);
            s.kind = Is(s.type, "vids") ? StreamKind::Video
                : Is(s.type, "auds")    ? StreamKind::Audio
                                        : StreamKind::Other;
        } else if (Is(c.id, "strf") && s.strf == 0) {
            s.strf = data;
            s.strfSize = c.size;
        } else if ((Is(c.id, "JUNK") || Is(c.id, "indx")) && s.indexSlot == 0) {
            s.indexSlot = c.at;
            s.indexSlotSize = c.size;
        }
        return true;
    });
    if (s.strh == 0 || s.strf == 0)
        return false;
    if (s.kind == StreamKind::Video) {
        if (s.strfSize < 40)
            return false;
        s.compression = Le32(image.data() + s.strf + 16);
    } else if (s.kind == StreamKind::Audio) {
        if (s.strfSize < 16)
            return false;
        s.formatTag = Le16(image.data() + s.strf);
    }
    return true;
}

} // namespace

std::optional<AviHeader> ParseAviHeader(std::span<const uint8_t> image)
{
    if (image.size() < 24 || !IsFourCC(image.data(), "RIFF") || !IsFourCC(image.data() + 8, "AVI "))
        return std::nullopt;
    AviHeader header;
    bool ok = true;
    ForEachChunk(image, 12, image.size(), [&](const ChunkRef &top) {
        if (ListType(image, top, "hdrl")) {
            ForEachChunk(image, top.at + 12, top.at + 8 + top.size, [&](const ChunkRef &c) {
                if (Is(c.id, "avih") && c.size >= 56 && header.avih == 0) {
                    header.avih = c.at + 8;
                } else if (ListType(image, c, "strl")) {
                    StreamInfo s;
                    if (!ParseStrl(image, c, s) || header.streams.size() == kMaxStreams) {
                        ok = false;
                        return false;
                    }
                    header.streams.push_back(s);
                } else if (ListType(image, c, "odml")) {
                    ForEachChunk(image, c.at + 12, c.at + 8 + c.size, [&](const ChunkRef &d) {
                        if (Is(d.id, "dmlh") && d.size >= 4)
                            header.dmlh = d.at + 8;
                        return true;
                    });
                }
                return true;
            });
            return true;
        }
        // A movi list's size may be anything after a crash: it ends the header either way.
        if (Is(top.id, "LIST") && top.size >= 4 && IsFourCC(image.data() + top.at + 8, "movi")) {
            header.movi = top.at;
            return false;
        }
        return true;
    });
    if (header.movi == 0) {
        // The walk stops at a chunk that runs past the image, which a crashed movi list does.
        // Look for it right after the last complete chunk instead.
        uint64_t p = 12;
        while (p + 12 <= image.size()) {
            const uint8_t *h = image.data() + p;
            if (IsFourCC(h, "LIST") && IsFourCC(h + 8, "movi")) {
                header.movi = p;
                break;
            }
            const uint32_t size = Le32(h + 4);
            if (p + 8 + size > image.size())
                break;
            p += 8 + uint64_t(size) + (size & 1);
        }
    }
    if (!ok || header.avih == 0 || header.streams.empty() || header.movi == 0)
        return std::nullopt;
    for (size_t i = 0; i < header.streams.size(); ++i) {
        if (header.streams[i].kind == StreamKind::Video) {
            header.firstVideo = int(i);
            break;
        }
    }
    if (header.firstVideo < 0)
        return std::nullopt;
    return header;
}

namespace {

uint32_t Upper(uint32_t fourcc)
{
    uint32_t out = 0;
    for (int i = 0; i < 4; ++i)
        out |= uint32_t(std::toupper(int((fourcc >> (8 * i)) & 0xff))) << (8 * i);
    return out;
}

constexpr uint32_t Tag(const char (&s)[5])
{
    return uint32_t(uint8_t(s[0])) | (uint32_t(uint8_t(s[1])) << 8)
        | (uint32_t(uint8_t(s[2])) << 16) | (uint32_t(uint8_t(s[3])) << 24);
}

enum class Codec { EveryFrame, Mpeg4V3, Mpeg4 };

Codec CodecOf(uint32_t compression)
{
    switch (Upper(compression)) {
    case Tag("MP43"):
    case Tag("DIV3"):
    case Tag("MPG3"):
        return Codec::Mpeg4V3;
    case Tag("FMP4"):
    case Tag("XVID"):
    case Tag("DIVX"):
    case Tag("DX50"):
    case Tag("MP4V"):
        return Codec::Mpeg4;
    default:
        return Codec::EveryFrame;
    }
}

constexpr size_t kMpeg4Probe = 256;

} // namespace

size_t KeyFrameProbeBytes(uint32_t compression)
{
    switch (CodecOf(compression)) {
    case Codec::Mpeg4V3:
        return 1;
    case Codec::Mpeg4:
        return kMpeg4Probe;
    default:
        return 0;
    }
}

bool IsKeyFrame(uint32_t compression, std::span<const uint8_t> frame)
{
    switch (CodecOf(compression)) {
    case Codec::Mpeg4V3:
        // The picture type is the frame's first two bits: 0 is an intra picture.
        return !frame.empty() && (frame[0] >> 6) == 0;
    case Codec::Mpeg4:
        // The coding type follows the VOP start code 00 00 01 B6: 0 is an intra VOP.
        for (size_t i = 0; i + 4 < frame.size(); ++i) {
            if (frame[i] == 0 && frame[i + 1] == 0 && frame[i + 2] == 1 && frame[i + 3] == 0xb6)
                return (frame[i + 4] >> 6) == 0;
        }
        return false;
    default:
        return true;
    }
}

} // namespace mendrel
