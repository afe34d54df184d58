#include "StrictAvi.h"

#include "AviBytes.h"
#include "AviHeader.h"

#include <algorithm>
#include <fstream>
#include <map>

namespace mendrel::test {

namespace {

class Reader
{
public:
    explicit Reader(const std::filesystem::path &path) : m_in(path, std::ios::binary)
    {
        m_size = std::filesystem::file_size(path);
    }
    uint64_t Size() const { return m_size; }
    std::vector<uint8_t> Read(uint64_t at, size_t n)
    {
        std::vector<uint8_t> b(n, 0);
        m_in.clear();
        m_in.seekg(std::streamoff(at));
        m_in.read(reinterpret_cast<char *>(b.data()), std::streamsize(n));
        b.resize(size_t(m_in.gcount()));
        return b;
    }

private:
    std::ifstream m_in;
    uint64_t m_size = 0;
};

struct Chunk
{
    uint64_t offset;
    uint32_t size;
    int stream;
    size_t riff;
    FourCC id;
};

struct Ix
{
    uint64_t offset;
    uint32_t size;
    int stream;
};

std::string Hex(uint64_t v)
{
    char b[32];
    std::snprintf(b, sizeof b, "0x%llx", static_cast<unsigned long long>(v));
    return b;
}

} // namespace

StrictResult StrictCheck(const std::filesystem::path &path, const StrictExpect &expect)
{
    StrictResult r;
    Reader in(path);
    auto fail = [&](std::string what) {
        if (r.problems.size() < 6)
            r.problems.push_back(std::move(what));
    };
    const std::vector<uint8_t> image = in.Read(0, size_t(std::min<uint64_t>(in.Size(), 1 << 20)));
    const std::optional<AviHeader> header = ParseAviHeader(image);
    if (!header) {
        fail("header does not parse");
        return r;
    }
    std::vector<Chunk> chunks;
    std::vector<Ix> ixs;
    uint64_t idx1 = 0, idx1Size = 0;
    uint64_t p = 0;
    for (size_t riff = 0; p < in.Size(); ++riff) {
        const std::vector<uint8_t> h = in.Read(p, 12);
        if (h.size() < 12 || !IsFourCC(h.data(), "RIFF")
            || !IsFourCC(h.data() + 8, riff == 0 ? "AVI " : "AVIX")) {
            fail("no RIFF at " + Hex(p));
            return r;
        }
        const uint64_t end = p + 8 + Le32(h.data() + 4);
        if (end > in.Size()) {
            fail("RIFF at " + Hex(p) + " runs past the end");
            return r;
        }
        ++r.riffs;
        for (uint64_t q = p + 12; q < end;) {
            const std::vector<uint8_t> c = in.Read(q, 12);
            const uint32_t size = Le32(c.data() + 4);
            if (q + 8 + size > end) {
                fail("chunk at " + Hex(q) + " runs past its RIFF");
                return r;
            }
            if (IsFourCC(c.data(), "LIST") && IsFourCC(c.data() + 8, "movi")) {
                const uint64_t moviEnd = q + 8 + size;
                for (uint64_t m = q + 12; m < moviEnd;) {
                    const std::vector<uint8_t> d = in.Read(m, 8);
                    // The reserved-index layout's pads: zero bytes up to the next 16-byte
                    // boundary (a whole 16 bytes from one), stepped over as its walk does.
                    if (expect.fixedLayout) {
                        const uint64_t next
                            = std::min(m % 16 == 0 ? m + 16 : (m + 15) / 16 * 16, moviEnd);
                        const std::vector<uint8_t> pad = in.Read(m, size_t(next - m));
                        if (pad.size() == next - m
                            && std::all_of(pad.begin(), pad.end(),
                                           [](uint8_t b) { return b == 0; })) {
                            m = next;
                            continue;
                        }
                    }
                    const uint32_t ds = Le32(d.data() + 4);
                    if (m + 8 + ds > moviEnd) {
                        fail("chunk at " + Hex(m) + " runs past its movi list");
                        return r;
                    }
                    const FourCC id { char(d[0]), char(d[1]), char(d[2]), char(d[3]) };
                    const bool digits = std::isdigit(d[0]) && std::isdigit(d[1]);
                    if (digits) {
                        chunks.push_back({ m, ds, (d[0] - '0') * 10 + (d[1] - '0'), riff, id });
                    } else if (d[0] == 'i' && d[1] == 'x') {
                        ixs.push_back({ m, ds, (d[2] - '0') * 10 + (d[3] - '0') });
                    } else if (!IsFourCC(d.data(), "JUNK")) {
                        fail("unknown chunk in movi at " + Hex(m));
                        return r;
                    }
                    m += 8 + ds + (ds & 1);
                }
            } else if (IsFourCC(c.data(), "idx1")) {
                idx1 = q;
                idx1Size = size;
            }
            q += 8 + size + (size & 1);
        }
        p = end + ((end - p) & 1);
    }

    const size_t video = size_t(header->firstVideo);
    std::map<int, std::vector<const Chunk *>> byStream;
    for (const Chunk &c : chunks) {
        if (c.stream < 0 || size_t(c.stream) >= header->streams.size()) {
            fail("chunk of unknown stream at " + Hex(c.offset));
            continue;
        }
        byStream[c.stream].push_back(&c);
    }
    r.videoChunks = byStream[int(video)].size();
    for (auto &[s, list] : byStream) {
        if (header->streams[size_t(s)].kind == StreamKind::Audio)
            r.audioChunks += list.size();
    }
    auto expectedKey = [&](const Chunk &c, uint64_t n) {
        return size_t(c.stream) != video || !expect.videoKey || expect.videoKey(n);
    };
    std::map<uint64_t, uint64_t> videoOrdinal;
    for (size_t n = 0; n < byStream[int(video)].size(); ++n)
        videoOrdinal[byStream[int(video)][n]->offset] = n;

    // Legacy index: the first RIFF's chunks, in order, with their key flags.
    if (idx1 == 0 && r.riffs == 1) {
        fail("no legacy index");
    } else if (idx1 != 0) {
        std::vector<uint8_t> e = in.Read(idx1 + 8, size_t(idx1Size));
        size_t i = 0;
        if (expect.fixedLayout) {
            if (e.size() < 16 || !IsFourCC(e.data(), "7Fxx") || Le32(e.data() + 8) != 0x8000)
                fail("legacy index lacks its index-room entry");
            i = 1;
        }
        size_t n = 0;
        for (const Chunk &c : chunks) {
            if (c.riff != 0)
                continue;
            if ((i + 1) * 16 > e.size()) {
                fail("legacy index ends before chunk " + Hex(c.offset));
                break;
            }
            const uint8_t *x = e.data() + 16 * i++;
            const bool key = (Le32(x + 4) & kAviifKeyFrame) != 0;
            if (!std::equal(c.id.begin(), c.id.end(), x) || Le32(x + 8) != c.offset
                || Le32(x + 12) != c.size)
                fail("legacy index entry " + std::to_string(i) + " is not chunk " + Hex(c.offset));
            else if (size_t(c.stream) == video && expect.videoKey
                     && key != expectedKey(c, videoOrdinal[c.offset]))
                fail("legacy index key flag of " + Hex(c.offset));
            ++n;
        }
        if (i * 16 != e.size())
            fail("legacy index has extra entries");
    }

    // OpenDML: super index -> standard indexes -> every chunk of the stream, once, in order.
    for (size_t s = 0; s < header->streams.size(); ++s) {
        const StreamInfo &info = header->streams[s];
        const std::vector<const Chunk *> &mine = byStream[int(s)];
        const bool needOdml = r.riffs > 1 || expect.fixedLayout;
        std::vector<uint8_t> slot = info.indexSlot ? in.Read(info.indexSlot, 8 + info.indexSlotSize)
                                                   : std::vector<uint8_t> {};
        if (slot.size() < 32 || !IsFourCC(slot.data(), "indx")) {
            if (needOdml && !mine.empty())
                fail("stream " + std::to_string(s) + " has no super index");
            continue;
        }
        const uint32_t entries = Le32(slot.data() + 12);
        std::vector<std::pair<uint64_t, uint32_t>> listed; // data offset, size word
        for (uint32_t e = 0; e < entries && 48 + 16 * e <= slot.size(); ++e) {
            const uint64_t at = Le64(slot.data() + 32 + 16 * e);
            const std::vector<uint8_t> ix = in.Read(at, 32);
            if (ix.size() < 32 || ix[0] != 'i' || ix[1] != 'x' || Le16(ix.data() + 8) != 2) {
                fail("super index entry " + std::to_string(e) + " is no index chunk");
                continue;
            }
            const uint32_t n = Le32(ix.data() + 12);
            if (Le32(slot.data() + 44 + 16 * e) != n && info.kind == StreamKind::Video)
                fail("super index duration of entry " + std::to_string(e));
            const uint64_t base = Le64(ix.data() + 20);
            const std::vector<uint8_t> body = in.Read(at + 32, 8 * size_t(n));
            for (uint32_t j = 0; j < n; ++j)
                listed.emplace_back(base + Le32(body.data() + 8 * j),
                                    Le32(body.data() + 8 * j + 4));
        }
        std::sort(listed.begin(), listed.end());
        if (listed.size() != mine.size()) {
            fail("stream " + std::to_string(s) + ": OpenDML index lists "
                 + std::to_string(listed.size()) + " of " + std::to_string(mine.size())
                 + " chunks");
            continue;
        }
        for (size_t n = 0; n < mine.size(); ++n) {
            const Chunk &c = *mine[n];
            const bool key = (listed[n].second & kNotKeyBit) == 0;
            if (listed[n].first != c.offset + 8 || (listed[n].second & ~kNotKeyBit) != c.size) {
                fail("OpenDML entry for " + Hex(c.offset));
                break;
            }
            if (s == video && expect.videoKey && key != expectedKey(c, n)) {
                fail("OpenDML key flag of " + Hex(c.offset));
                break;
            }
        }
    }

    // Header counts.
    uint64_t firstRiffFrames = 0;
    for (const Chunk *c : byStream[int(video)])
        firstRiffFrames += c->riff == 0;
    const uint32_t avihFrames = Le32(image.data() + header->avih + avih::kTotalFrames);
    const uint64_t wantAvih
        = expect.fixedLayout ? std::max<uint64_t>(r.videoChunks, 1) - 1 : firstRiffFrames;
    if (avihFrames != wantAvih)
        fail("avih frames " + std::to_string(avihFrames) + ", want " + std::to_string(wantAvih));
    if (header->dmlh != 0 && Le32(image.data() + header->dmlh) != r.videoChunks)
        fail("dmlh frames");
    for (size_t s = 0; s < header->streams.size(); ++s) {
        const StreamInfo &info = header->streams[s];
        const uint8_t *sh = image.data() + info.strh;
        uint64_t bytes = 0;
        for (const Chunk *c : byStream[int(s)])
            bytes += c->size;
        const uint32_t sampleSize = Le32(sh + strh::kSampleSize);
        const uint64_t units = sampleSize ? bytes / sampleSize : byStream[int(s)].size();
        if (Le32(sh + strh::kLength) != units)
            fail("strh length of stream " + std::to_string(s));
        if (info.kind == StreamKind::Audio
            && (Le32(sh + strh::kRate) == 0 || Le32(image.data() + info.strf + 8) == 0))
            fail("audio stream " + std::to_string(s) + " has a rate of 0");
    }
    return r;
}

} // namespace mendrel::test
