#include "AviWalk.h"

#include <algorithm>
#include <cctype>

namespace mendrel {

namespace {

bool IsDigit(uint8_t c)
{
    return c >= '0' && c <= '9';
}

int StreamNumber(const uint8_t *id)
{
    if (!IsDigit(id[0]) || !IsDigit(id[1]))
        return -1;
    return (id[0] - '0') * 10 + (id[1] - '0');
}

uint64_t Align(uint64_t v, uint64_t to)
{
    return (v + to - 1) / to * to;
}

class RiffWalker
{
public:
    RiffWalker(ByteSource &file, const AviHeader &header)
        : m_file(file), m_size(file.Size()), m_header(header)
    { }

    WalkResult Run();

private:
    int DataStream(const uint8_t *id) const;
    int IndexStream(const uint8_t *id) const;
    bool Fits(uint64_t p, uint32_t size) const { return p + 8 + uint64_t(size) <= m_size; }
    bool Plausible(const uint8_t *h, size_t have, uint64_t p) const;
    uint64_t FindNext(uint64_t from);
    bool KeyOf(const StreamInfo &s, uint64_t data, uint32_t size);

    ByteSource &m_file;
    uint64_t m_size;
    const AviHeader &m_header;
    WalkResult m_r;
    std::vector<uint8_t> m_scratch;
};

int RiffWalker::DataStream(const uint8_t *id) const
{
    const int n = StreamNumber(id);
    if (n < 0 || size_t(n) >= m_header.streams.size())
        return -1;
    const char a = char(id[2]), b = char(id[3]);
    switch (m_header.streams[size_t(n)].kind) {
    case StreamKind::Video:
        return a == 'd' && (b == 'b' || b == 'c') ? n : -1;
    case StreamKind::Audio:
        return a == 'w' && b == 'b' ? n : -1;
    default:
        return std::isalpha(a) && std::isalpha(b) && !(a == 'i' && b == 'x') ? n : -1;
    }
}

int RiffWalker::IndexStream(const uint8_t *id) const
{
    if (id[0] != 'i' || id[1] != 'x')
        return -1;
    const int n = StreamNumber(id + 2);
    return n >= 0 && size_t(n) < m_header.streams.size() ? n : -1;
}

bool RiffWalker::Plausible(const uint8_t *h, size_t have, uint64_t p) const
{
    const uint32_t size = Le32(h + 4);
    if (DataStream(h) >= 0 || IndexStream(h) >= 0 || IsFourCC(h, "idx1") || IsFourCC(h, "JUNK"))
        return Fits(p, size);
    if (have < 12)
        return false;
    if (IsFourCC(h, "RIFF"))
        return IsFourCC(h + 8, "AVIX");
    if (IsFourCC(h, "LIST"))
        return IsFourCC(h + 8, "movi") || IsFourCC(h + 8, "rec ");
    return false;
}

// The next offset after `from` that holds a plausible chunk header, or the file size.
uint64_t RiffWalker::FindNext(uint64_t from)
{
    constexpr size_t kBlock = 1 << 16;
    m_scratch.resize(kBlock + 12);
    for (uint64_t at = from; at + 8 <= m_size; at += kBlock) {
        const size_t got = m_file.ReadAt(at, m_scratch.data(), kBlock + 12);
        if (got < 8) {
            m_r.readError = m_file.Failed();
            break;
        }
        const size_t last = std::min<size_t>(kBlock, got - 8 + 1);
        for (size_t i = 0; i < last; ++i) {
            if (Plausible(m_scratch.data() + i, std::min<size_t>(12, got - i), at + i))
                return at + i;
        }
    }
    return m_size;
}

bool RiffWalker::KeyOf(const StreamInfo &s, uint64_t data, uint32_t size)
{
    if (s.kind != StreamKind::Video)
        return true;
    const size_t probe = std::min<size_t>(KeyFrameProbeBytes(s.compression), size);
    if (probe == 0)
        return size > 0 || KeyFrameProbeBytes(s.compression) == 0;
    uint8_t bytes[256];
    const size_t got = m_file.ReadAt(data, bytes, std::min(probe, sizeof bytes));
    return IsKeyFrame(s.compression, { bytes, got });
}

WalkResult RiffWalker::Run()
{
    m_r.segments.push_back({ 0, m_header.movi, 0, 0, 0, {} });
    uint64_t p = m_header.movi + 12;
    auto cut = [&](uint64_t at) { m_r.tail = at; };
    for (;;) {
        uint8_t h[12] = {};
        const size_t have = p + 8 <= m_size ? m_file.ReadAt(p, h, sizeof h) : 0;
        if (have < 8) {
            m_r.readError = m_file.Failed();
            cut(p);
            break;
        }
        const uint32_t size = Le32(h + 4);
        const uint64_t next = p + 8 + uint64_t(size) + (size & 1);
        Segment &seg = m_r.segments.back();
        if (const int stream = DataStream(h); stream >= 0) {
            if (!Fits(p, size)) {
                cut(p);
                break;
            }
            const bool key = KeyOf(m_header.streams[size_t(stream)], p + 8, size);
            m_r.chunks.push_back({ p,
                                   size,
                                   uint16_t(stream),
                                   key,
                                   { char(h[0]), char(h[1]), char(h[2]), char(h[3]) } });
            p = next;
            continue;
        }
        if (const int stream = IndexStream(h); stream >= 0) {
            if (!Fits(p, size)) {
                cut(p);
                break;
            }
            uint8_t ix[32];
            if (m_file.ReadExact(p, ix, sizeof ix) && IsSaneStandardIndex(ix, p, m_size)
                && StreamNumber(ix + 16) == stream) {
                seg.indexes.push_back({ p, size, uint16_t(stream), Le32(ix + 12), Le64(ix + 20) });
            }
            p = next;
            continue;
        }
        if (IsFourCC(h, "idx1") || IsFourCC(h, "JUNK")) {
            if (!Fits(p, size)) {
                cut(p);
                break;
            }
            if (IsFourCC(h, "idx1") && seg.idx1 == 0)
                seg.idx1 = p;
            p = next;
            continue;
        }
        if (have == 12 && IsFourCC(h, "LIST")
            && (IsFourCC(h + 8, "rec ") || IsFourCC(h + 8, "movi"))) {
            p += 12;
            continue;
        }
        if (have == 12 && IsFourCC(h, "RIFF") && IsFourCC(h + 8, "AVIX")) {
            seg.endChunk = m_r.chunks.size();
            Segment s;
            s.riff = p;
            s.firstChunk = m_r.chunks.size();
            uint8_t list[12];
            if (m_file.ReadExact(p + 12, list, sizeof list) && IsFourCC(list, "LIST")
                && IsFourCC(list + 8, "movi")) {
                s.movi = p + 12;
                p += 24;
            } else {
                p += 12;
            }
            m_r.segments.push_back(std::move(s));
            continue;
        }
        if (IsFourCC(h, "LIST") && Fits(p, size)) {
            p = next;
            continue;
        }
        const uint64_t q = FindNext(p + 1);
        if (q >= m_size || m_r.readError) {
            cut(p);
            break;
        }
        if (q - p >= 8) {
            // An odd gap keeps its last byte as the pad of an odd-sized JUNK.
            const uint64_t body = q - p - 8;
            m_r.junk.push_back({ p, uint32_t(body & 1 ? body - 1 : body) });
        }
        p = q;
    }
    m_r.segments.back().endChunk = m_r.chunks.size();
    return std::move(m_r);
}

} // namespace

bool IsSaneStandardIndex(const uint8_t *h, uint64_t offset, uint64_t fileSize)
{
    const uint32_t size = Le32(h + 4);
    if (size < 24 || offset + 8 + uint64_t(size) > fileSize)
        return false;
    const uint16_t longsPerEntry = Le16(h + 8);
    const uint8_t indexType = h[11];
    const uint32_t entries = Le32(h + 12);
    return longsPerEntry == 2 && indexType == 1 && entries <= (size - 24) / 8;
}

WalkResult WalkRiffAvi(ByteSource &file, const AviHeader &header)
{
    return RiffWalker(file, header).Run();
}

uint64_t FindFixedMovi(ByteSource &file)
{
    for (const uint64_t at : { fixed::kJunkBeforeMovi, fixed::kMovi }) {
        uint8_t h[12];
        if (file.ReadExact(at, h, sizeof h) && IsFourCC(h, "LIST") && IsFourCC(h + 8, "movi"))
            return at;
    }
    return 0;
}

WalkResult WalkFixedLayout(ByteSource &file, uint32_t compression)
{
    WalkResult r;
    const uint64_t size = file.Size();
    r.segments.push_back({});
    Segment &seg = r.segments.back();
    const uint64_t movi = FindFixedMovi(file);
    seg.movi = movi != 0 ? movi : fixed::kMovi;
    const size_t probeWant = KeyFrameProbeBytes(compression);
    uint8_t first[32];
    if (file.ReadExact(fixed::kFirstIndex, first, sizeof first) && IsFourCC(first, "ix00")
        && IsSaneStandardIndex(first, fixed::kFirstIndex, size)
        && Le32(first + 4) <= fixed::kFirstIndexRoom - 8) {
        seg.indexes.push_back(
            { fixed::kFirstIndex, Le32(first + 4), 0, Le32(first + 12), Le64(first + 20) });
    }
    // Chunks follow one another; where bytes are no chunk (a zero pad, a smashed header, a size
    // running past the end) the next one is looked for on the 16-byte grid. Only a frame on the
    // grid counts; any other chunk that fits is stepped over whole, wherever it starts.
    uint64_t p = fixed::kData;
    uint64_t noChunk = 0; // start of bytes that belong to no chunk, 0 when none
    bool onlyZeros = true; // whether those bytes are all zero
    for (;;) {
        uint8_t h[32] = {};
        const size_t have = p + 8 <= size ? file.ReadAt(p, h, sizeof h) : 0;
        if (have < 8) {
            r.readError = file.Failed();
            break;
        }
        const uint32_t chunkSize = Le32(h + 4);
        const bool onGrid = p % 16 == 0;
        const bool frame = IsFourCC(h, "00db") || IsFourCC(h, "00dc");
        const bool index = h[0] == 'i' && h[1] == 'x' && IsDigit(h[2]) && IsDigit(h[3]);
        const bool known = frame || index || IsFourCC(h, "idx1") || IsFourCC(h, "JUNK");
        if (!known || p + 8 + uint64_t(chunkSize) > size) {
            if (noChunk == 0) {
                noChunk = p;
                onlyZeros = true;
            }
            const uint64_t next = onGrid ? p + 16 : Align(p, 16);
            onlyZeros = onlyZeros
                && std::all_of(h, h + std::min<uint64_t>(next - p, have),
                               [](uint8_t b) { return b == 0; });
            p = next;
            continue;
        }
        // A run shorter than a chunk header stays as it is, and so does a writer's zero pad.
        for (uint64_t at = noChunk; noChunk != 0 && !onlyZeros && p - at >= 8;) {
            const uint64_t body = std::min<uint64_t>(p - at - 8, 0xFFFFFFF0u);
            r.junk.push_back({ at, uint32_t(body) });
            at += 8 + body;
        }
        noChunk = 0;
        if (frame && onGrid) {
            bool key = true;
            if (probeWant > 0) {
                uint8_t bytes[256];
                const size_t got
                    = file.ReadAt(p + 8, bytes, std::min<size_t>({ probeWant, chunkSize, 256 }));
                key = IsKeyFrame(compression, { bytes, got });
            }
            r.chunks.push_back(
                { p, chunkSize, 0, key, { char(h[0]), char(h[1]), char(h[2]), char(h[3]) } });
        } else if (onGrid && IsFourCC(h, "ix00") && have >= 32 && IsSaneStandardIndex(h, p, size)) {
            seg.indexes.push_back({ p, chunkSize, 0, Le32(h + 12), Le64(h + 20) });
        } else if (IsFourCC(h, "idx1") && seg.idx1 == 0) {
            seg.idx1 = p;
        }
        p += 8 + uint64_t(chunkSize) + (chunkSize & 1);
    }
    // What follows the last complete chunk was cut off by the crash, unless it is zeros only: a
    // pad, left as it is.
    const uint64_t from = noChunk != 0 ? noChunk : p;
    bool zeros = (noChunk == 0 || onlyZeros) && !r.readError;
    if (zeros && p < size) {
        // Fewer than 8 bytes were left unread.
        uint8_t rest[8] = {};
        const size_t left = size_t(std::min<uint64_t>(size - p, sizeof rest));
        zeros = file.ReadAt(p, rest, left) == size - p
            && std::all_of(rest, rest + left, [](uint8_t b) { return b == 0; });
    }
    r.tail = from;
    r.zeroTail = zeros && from < size;
    seg.endChunk = r.chunks.size();
    return r;
}

} // namespace mendrel
