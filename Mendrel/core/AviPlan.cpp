#include "AviPlan.h"

#include "AviHeader.h"
#include "AviWalk.h"

#include <algorithm>
#include <cstdio>
#include <iterator>
#include <limits>
#include <optional>

namespace mendrel {

namespace {

constexpr uint64_t kMax32 = std::numeric_limits<uint32_t>::max();

uint64_t Align(uint64_t v, uint64_t to)
{
    return (v + to - 1) / to * to;
}

std::vector<uint8_t> ReadStart(ByteSource &src, uint64_t limit)
{
    std::vector<uint8_t> bytes(size_t(std::min(src.Size(), limit)));
    bytes.resize(src.ReadAt(0, bytes.data(), bytes.size()));
    return bytes;
}

// The header image where it differs from the file, as one write from the first changed byte to
// the last: a repair cut off in the middle of the header would leave one that parses as
// something else.
void AddHeader(std::vector<Patch> &out, std::span<const uint8_t> before,
               std::span<const uint8_t> now)
{
    size_t first = 0, end = now.size();
    while (first < end && now[first] == before[first])
        ++first;
    while (end > first && now[end - 1] == before[end - 1])
        --end;
    if (first < end)
        out.push_back({ first, { now.begin() + ptrdiff_t(first), now.begin() + ptrdiff_t(end) } });
}

// A 4-byte value at `offset` in the file, written only when it differs.
void AddU32(std::vector<Patch> &out, ByteSource &file, uint64_t offset, uint32_t value)
{
    uint8_t now[4] = {};
    if (file.ReadExact(offset, now, 4) && Le32(now) == value)
        return;
    Patch p { offset, std::vector<uint8_t>(4) };
    PutLe32(p.bytes.data(), value);
    out.push_back(std::move(p));
}

Patch JunkHeader(uint64_t offset, uint32_t size)
{
    Patch p { offset, {} };
    ByteWriter w(p.bytes);
    w.FourCC("JUNK");
    w.U32(size);
    return p;
}

void AddJunk(std::vector<Patch> &out, ByteSource &file, const JunkRun &run)
{
    uint8_t now[8] = {};
    if (file.ReadExact(run.offset, now, 8) && IsFourCC(now, "JUNK") && Le32(now + 4) == run.size)
        return;
    out.push_back(JunkHeader(run.offset, run.size));
}

// How the file closes: a JUNK header over the cut-off tail, if any, and where appended chunks go.
struct Closing
{
    std::optional<Patch> junk;
    uint64_t appendAt = 0;
};

// Closes the file from the walk's tail on: a cut-off chunk or trailing bytes become one JUNK
// chunk to the end of the file (rounded up to `align`), and so does the gap before appended
// chunks when the tail is not aligned; a missing pad becomes a zero byte. False when the run is
// too long for a chunk size.
bool CloseTail(Closing &out, uint64_t tail, uint64_t oldSize, uint64_t align, bool appending)
{
    uint64_t junkEnd = 0;
    if (tail < oldSize)
        junkEnd = Align(std::max(oldSize, tail + 8), align);
    else if (appending && Align(tail, align) != tail)
        junkEnd = Align(tail + 8, align);
    out.appendAt = junkEnd != 0 ? junkEnd : tail;
    if (junkEnd != 0 && junkEnd - tail - 8 > kMax32)
        return false;
    if (junkEnd != 0)
        out.junk = JunkHeader(tail, uint32_t(junkEnd - tail - 8));
    return true;
}

void Emit(const ProgressFn &progress, std::string_view line)
{
    if (progress)
        progress(line);
}

void EmitFrames(const ProgressFn &progress, uint64_t frames)
{
    char line[48];
    std::snprintf(line, sizeof line, "frames = %llu\n", static_cast<unsigned long long>(frames));
    Emit(progress, line);
}

// An OpenDML standard index of `chunks` (all of one stream), relative to `base`, padded to a
// multiple of `align` bytes.
std::vector<uint8_t> StandardIndex(std::span<const DataChunk> chunks, uint16_t stream,
                                   const FourCC &chunkId, uint64_t base, uint64_t align)
{
    std::vector<uint8_t> out;
    ByteWriter w(out);
    const size_t total = size_t(Align(32 + 8 * uint64_t(chunks.size()), align));
    w.U8('i');
    w.U8('x');
    w.U8(uint8_t('0' + stream / 10));
    w.U8(uint8_t('0' + stream % 10));
    w.U32(uint32_t(total - 8));
    w.U16(2); // wLongsPerEntry
    w.U8(0); // bIndexSubType
    w.U8(1); // bIndexType: index of chunks
    w.U32(uint32_t(chunks.size()));
    w.FourCC(chunkId);
    w.U64(base);
    w.U32(0);
    for (const DataChunk &c : chunks) {
        w.U32(uint32_t(c.offset + 8 - base));
        w.U32(c.size | (c.key ? 0 : kNotKeyBit));
    }
    out.resize(total, 0);
    return out;
}

// Puts the writes in an order after any of which a crash leaves a file that the next run
// repairs to the same bytes: first those inside the old file (JUNK headers over bytes of no
// chunk and over the cut-off tail, the rebuilt first index, sizes of later RIFFs); then the bytes
// past the old end, which wait for the tail's JUNK header because a longer file could make the
// cut-off chunk fit; the header last, since the walk reads it.
void Finish(RepairPlan &plan, ByteSource &damaged, const WalkResult &walk, const Closing &closing,
            std::vector<Patch> inside, std::vector<uint8_t> appended, std::vector<Patch> header)
{
    for (const JunkRun &run : walk.junk)
        AddJunk(plan.patches, damaged, run);
    uint64_t grownFrom = plan.oldSize;
    if (closing.junk) {
        plan.patches.push_back(*closing.junk);
        grownFrom = std::max(grownFrom, closing.junk->offset + 8);
    }
    std::move(inside.begin(), inside.end(), std::back_inserter(plan.patches));
    const uint64_t newEnd = closing.appendAt + appended.size();
    if (newEnd > grownFrom) {
        Patch grown { grownFrom, std::vector<uint8_t>(size_t(closing.appendAt - grownFrom), 0) };
        grown.bytes.insert(grown.bytes.end(), appended.begin(), appended.end());
        plan.patches.push_back(std::move(grown));
    }
    std::move(header.begin(), header.end(), std::back_inserter(plan.patches));
    plan.newSize = std::max({ plan.oldSize, newEnd, grownFrom });
    plan.status = PlanStatus::Ok;
}

struct SuperEntry
{
    uint64_t offset = 0;
    uint32_t size = 0;
    uint32_t duration = 0;
};

// ---------------------------------------------------------------------------------------------
// The reserved-index layout.

// The position in `frames` (in file order) of the frame whose header is at `header`.
std::optional<size_t> FrameAt(const std::vector<DataChunk> &frames, uint64_t header)
{
    const auto it = std::lower_bound(frames.begin(), frames.end(), header,
                                     [](const DataChunk &c, uint64_t at) { return c.offset < at; });
    if (it == frames.end() || it->offset != header)
        return std::nullopt;
    return size_t(it - frames.begin());
}

// Whether every entry of an index chunk names a complete frame of the walk (data offset and
// size word); the positions of those frames in `frames` go into `listed`. Nothing when the
// entries cannot be read.
std::optional<bool> EntriesHold(ByteSource &file, const FoundIndex &ix,
                                const std::vector<DataChunk> &frames, std::vector<size_t> &listed)
{
    listed.clear();
    constexpr uint32_t kBlock = 4096;
    uint8_t entries[8 * kBlock];
    for (uint32_t e = 0; e < ix.entries; e += kBlock) {
        const uint32_t n = std::min(kBlock, ix.entries - e);
        if (!file.ReadExact(ix.offset + 32 + 8 * uint64_t(e), entries, 8 * size_t(n)))
            return std::nullopt;
        for (uint32_t j = 0; j < n; ++j) {
            const std::optional<size_t> at = FrameAt(frames, ix.base + Le32(entries + 8 * j) - 8);
            if (!at || frames[*at].size != (Le32(entries + 8 * j + 4) & ~kNotKeyBit))
                return false;
            listed.push_back(*at);
        }
    }
    return true;
}

// Whether the index chunks kept (`kept`: frame positions), rebuilt and appended name every
// complete frame exactly once, and the frame total counts each of them once.
bool IndexesEachFrameOnce(const std::vector<DataChunk> &frames, const std::vector<size_t> &kept,
                          std::span<const DataChunk> rebuilt, std::span<const DataChunk> appended,
                          uint64_t total)
{
    std::vector<uint8_t> named(frames.size(), 0);
    auto name = [&](std::optional<size_t> i) { return i && *i < named.size() && named[*i]++ == 0; };
    for (const size_t i : kept) {
        if (!name(i))
            return false;
    }
    for (const std::span<const DataChunk> built : { rebuilt, appended }) {
        for (const DataChunk &c : built) {
            if (!name(FrameAt(frames, c.offset)))
                return false;
        }
    }
    return total == frames.size()
        && std::all_of(named.begin(), named.end(), [](uint8_t n) { return n == 1; });
}

RepairPlan PlanFixed(ByteSource &damaged, std::span<const uint8_t> tmpl, const ProgressFn &progress)
{
    RepairPlan plan;
    plan.layout = Layout::Fixed;
    plan.oldSize = damaged.Size();
    if (plan.oldSize < fixed::kMinimumSize) {
        plan.status = PlanStatus::NoVideo;
        return plan;
    }
    const uint32_t compression = Le32(tmpl.data() + 188);
    Emit(progress, "Building frame index...\n");
    const WalkResult walk = WalkFixedLayout(damaged, compression);
    std::vector<uint8_t> image = ReadStart(damaged, fixed::kFirstIndex);
    if (walk.readError || image.size() != fixed::kFirstIndex) {
        plan.status = PlanStatus::ReadError;
        return plan;
    }
    const std::vector<uint8_t> original = image;
    const Segment &seg = walk.segments.front();
    const std::vector<DataChunk> &chunks = walk.chunks;

    // An index chunk counts only when every entry names a complete frame. The bytes of one that
    // does not stay as they are; its frames go into an appended index with those no index lists.
    std::vector<bool> covered(chunks.size(), false);
    std::vector<SuperEntry> supers;
    bool firstValid = false;
    uint64_t firstDataIndex = std::numeric_limits<uint64_t>::max();
    std::vector<size_t> listed;
    std::vector<size_t> kept; // the frames the index chunks that count list
    for (const FoundIndex &ix : seg.indexes) {
        if (ix.offset != fixed::kFirstIndex)
            firstDataIndex = std::min(firstDataIndex, ix.offset);
        const std::optional<bool> holds = EntriesHold(damaged, ix, chunks, listed);
        if (!holds) {
            plan.status = PlanStatus::ReadError;
            return plan;
        }
        if (!*holds)
            continue;
        firstValid |= ix.offset == fixed::kFirstIndex;
        for (const size_t i : listed)
            covered[i] = true;
        kept.insert(kept.end(), listed.begin(), listed.end());
        const uint32_t room
            = ix.offset == fixed::kFirstIndex ? fixed::kFirstIndexRoom : ix.size + 8;
        supers.push_back({ ix.offset, room, ix.entries });
    }

    // The frames before the first index chunk in the data belong to the room at 0x8000, unless
    // an index chunk lists them already (a writer may put one after the frames it lists).
    std::vector<DataChunk> rebuilt;
    for (size_t i = 0; !firstValid && i < chunks.size(); ++i) {
        const DataChunk &c = chunks[i];
        if (c.offset >= firstDataIndex || rebuilt.size() == fixed::kFirstIndexCapacity
            || c.offset + 8 - fixed::kData > kMax32)
            break;
        if (covered[i])
            continue;
        rebuilt.push_back(c);
        covered[i] = true;
    }
    if (!rebuilt.empty())
        supers.push_back({ fixed::kFirstIndex, fixed::kFirstIndexRoom, uint32_t(rebuilt.size()) });
    std::sort(supers.begin(), supers.end(),
              [](const SuperEntry &a, const SuperEntry &b) { return a.offset < b.offset; });
    std::vector<DataChunk> uncovered;
    for (size_t i = 0; i < chunks.size(); ++i) {
        if (!covered[i])
            uncovered.push_back(chunks[i]);
    }

    uint64_t idx1At = seg.idx1;
    const bool fitsLegacy = chunks.empty() || chunks.back().offset <= kMax32;
    const bool appendIdx1 = idx1At == 0 && fitsLegacy;
    Closing closing;
    const bool appending = appendIdx1 || !uncovered.empty();
    if (walk.zeroTail) {
        // A zero pad at the end stays; appended chunks start at the next boundary past it.
        closing.appendAt = appending ? Align(plan.oldSize, 16) : plan.oldSize;
    } else if (!CloseTail(closing, walk.tail, plan.oldSize, 16, appending)) {
        plan.status = PlanStatus::NotRepairable;
        return plan;
    }
    const uint64_t appendAt = closing.appendAt;
    std::vector<uint8_t> appended;
    const FourCC chunkId = chunks.empty() ? MakeFourCC("00db") : chunks.front().id;
    for (size_t i = 0; i < uncovered.size();) {
        size_t j = i;
        while (j < uncovered.size() && uncovered[j].offset + 8 - uncovered[i].offset <= kMax32)
            ++j;
        const std::vector<uint8_t> ix = StandardIndex(std::span(uncovered).subspan(i, j - i), 0,
                                                      chunkId, uncovered[i].offset, 16);
        supers.push_back({ appendAt + appended.size(), uint32_t(ix.size()), uint32_t(j - i) });
        appended.insert(appended.end(), ix.begin(), ix.end());
        i = j;
    }

    const uint32_t indxSize = Le32(tmpl.data() + fixed::kSuperIndex + 4);
    const uint64_t capacity
        = std::min<uint64_t>(indxSize < 24 ? 0 : (indxSize - 24) / 16, (fixed::kOdml - 244) / 16);
    if (supers.size() > capacity) {
        plan.status = PlanStatus::TooManyIndexes;
        return plan;
    }
    uint64_t frames = 0;
    for (const SuperEntry &s : supers)
        frames += s.duration;
    // A frame indexed twice would be played twice; such a plan is not written.
    if (!IndexesEachFrameOnce(chunks, kept, rebuilt, uncovered, frames)) {
        plan.status = PlanStatus::IndexMismatch;
        return plan;
    }
    plan.frames = frames;
    EmitFrames(progress, frames);

    // The legacy index: the room at 0x8000 first, then every frame, with 32-bit offsets only.
    if (appendIdx1) {
        idx1At = appendAt + appended.size();
        ByteWriter w(appended);
        w.FourCC("idx1");
        w.U32(uint32_t(16 * (chunks.size() + 1)));
        w.FourCC("7Fxx");
        w.U32(0);
        w.U32(uint32_t(fixed::kFirstIndex));
        w.U32(0);
        for (const DataChunk &c : chunks) {
            w.FourCC(c.id);
            w.U32(c.key ? kAviifKeyFrame : 0);
            w.U32(uint32_t(c.offset));
            w.U32(c.size);
        }
    }
    const uint64_t newEnd = appendAt + appended.size();

    const uint32_t frames32 = uint32_t(std::min(frames, kMax32));
    uint8_t *h = image.data();
    std::copy(tmpl.begin(), tmpl.begin() + fixed::kTemplateSize, h);
    PutLe32(h + 48, frames32 == 0 ? 0 : frames32 - 1);
    PutLe32(h + 140, frames32);
    PutLe32(h + 224, uint32_t(supers.size()));
    std::copy(chunkId.begin(), chunkId.end(), h + 228);
    for (size_t i = 0; i < supers.size(); ++i) {
        PutLe64(h + 244 + 16 * i, supers[i].offset);
        PutLe32(h + 252 + 16 * i, supers[i].size);
        PutLe32(h + 256 + 16 * i, supers[i].duration);
    }
    const uint8_t odml[20]
        = { 'L', 'I', 'S', 'T', 4, 1, 0, 0, 'o', 'd', 'm', 'l', 'd', 'm', 'l', 'h', 248, 0, 0, 0 };
    std::copy(std::begin(odml), std::end(odml), h + fixed::kOdml);
    PutLe32(h + fixed::kDmlhFrames, frames32);
    // A movi list the file has stays where it is; a missing one goes where the layout puts it.
    const uint64_t movi = seg.movi;
    if (!IsFourCC(h + movi, "LIST") || !IsFourCC(h + movi + 8, "movi")) {
        std::fill(h + fixed::kJunkBeforeMovi, h + fixed::kMovi, 0);
        std::copy_n("JUNK", 4, h + fixed::kJunkBeforeMovi);
        PutLe32(h + fixed::kJunkBeforeMovi + 4,
                uint32_t(fixed::kMovi - fixed::kJunkBeforeMovi - 8));
        std::copy_n("LIST", 4, h + movi);
        std::copy_n("movi", 4, h + movi + 8);
    }
    const uint64_t moviEnd = idx1At != 0 ? idx1At : newEnd;
    PutLe32(h + movi + 4, uint32_t(std::min(moviEnd - movi - 8, kMax32)));
    if (newEnd - 8 <= kMax32)
        PutLe32(h + 4, uint32_t(newEnd - 8));

    std::vector<Patch> inside;
    if (!rebuilt.empty()) {
        // The header's size word claims the whole room; the entries in use follow it.
        std::vector<uint8_t> ix = StandardIndex(rebuilt, 0, rebuilt.front().id, fixed::kData, 8);
        PutLe32(ix.data() + 4, fixed::kFirstIndexRoom - 8);
        inside.push_back({ fixed::kFirstIndex, std::move(ix) });
    }
    std::vector<Patch> header;
    AddHeader(header, original, image);
    Finish(plan, damaged, walk, closing, std::move(inside), std::move(appended), std::move(header));
    return plan;
}

// ---------------------------------------------------------------------------------------------
// RIFF/OpenDML files as GStreamer's avimux and most writers lay them out.

struct StreamStats
{
    uint64_t chunks = 0;
    uint64_t bytes = 0;
    uint32_t largest = 0;
    FourCC id {};
};

// strh length (and super index durations) in the stream's own units: samples of
// dwSampleSize bytes when it is set, else chunks.
uint64_t Units(const std::span<const uint8_t> image, const StreamInfo &s, const StreamStats &st)
{
    const uint32_t sampleSize = Le32(image.data() + s.strh + strh::kSampleSize);
    return sampleSize != 0 ? st.bytes / sampleSize : st.chunks;
}

bool SameAudio(std::span<const uint8_t> a, const StreamInfo &sa, std::span<const uint8_t> b,
               const StreamInfo &sb)
{
    return sa.kind == StreamKind::Audio && sb.kind == StreamKind::Audio
        && sa.formatTag == sb.formatTag
        && std::equal(a.begin() + ptrdiff_t(sa.strf), a.begin() + ptrdiff_t(sa.strf + 8),
                      b.begin() + ptrdiff_t(sb.strf));
}

// A killed recording keeps an audio rate of 0, and players then drop the audio. The rate comes
// from the format (PCM), else from the same stream of the good file, else from the bytes over
// the video's duration.
void FixAudioRate(std::span<uint8_t> image, const AviHeader &header, size_t i,
                  const std::vector<StreamStats> &stats, std::span<const uint8_t> goodImage,
                  const std::optional<AviHeader> &goodHeader)
{
    const StreamInfo &s = header.streams[i];
    uint8_t *sh = image.data() + s.strh;
    uint8_t *sf = image.data() + s.strf;
    uint32_t avgBytes = Le32(sf + 8);
    if (avgBytes == 0) {
        const uint32_t samplesPerSec = Le32(sf + 4);
        const uint16_t blockAlign = Le16(sf + 12);
        const StreamInfo &video = header.streams[size_t(header.firstVideo)];
        const uint32_t vScale = Le32(image.data() + video.strh + strh::kScale);
        const uint32_t vRate = Le32(image.data() + video.strh + strh::kRate);
        const uint64_t vFrames = stats[size_t(header.firstVideo)].chunks;
        const bool sameAsGood = goodHeader && i < goodHeader->streams.size()
            && SameAudio(image, s, goodImage, goodHeader->streams[i]);
        if (s.formatTag == 1) {
            avgBytes = uint32_t(std::min<uint64_t>(uint64_t(samplesPerSec) * blockAlign, kMax32));
        } else if (sameAsGood) {
            avgBytes = Le32(goodImage.data() + goodHeader->streams[i].strf + 8);
        }
        if (avgBytes == 0 && vScale != 0 && vRate != 0 && vFrames != 0) {
            // bytes / (frames * scale / rate)
            const long double seconds = (long double)(vFrames)*vScale / vRate;
            avgBytes = uint32_t(std::min<long double>((long double)(stats[i].bytes) / seconds,
                                                      (long double)(kMax32)));
        }
        PutLe32(sf + 8, avgBytes);
    }
    if (Le32(sh + strh::kRate) == 0) {
        const uint32_t scale = Le32(sh + strh::kScale);
        const uint32_t sampleSize = Le32(sh + strh::kSampleSize);
        if (sampleSize != 0 && scale != 0) {
            PutLe32(sh + strh::kRate,
                    uint32_t(std::min<uint64_t>(uint64_t(avgBytes) * scale / sampleSize, kMax32)));
        } else if (goodHeader && i < goodHeader->streams.size()
                   && SameAudio(image, s, goodImage, goodHeader->streams[i])) {
            const uint8_t *gh = goodImage.data() + goodHeader->streams[i].strh;
            PutLe32(sh + strh::kScale, Le32(gh + strh::kScale));
            PutLe32(sh + strh::kRate, Le32(gh + strh::kRate));
        }
    }
}

// Whether a file whose header cannot be read still shows a recording: the RIFF start, a movi list
// in its first bytes, or a frame where the reserved-index layout puts the first one.
bool LooksLikeRecording(ByteSource &damaged, std::span<const uint8_t> start)
{
    if (start.size() >= 12 && IsFourCC(start.data(), "RIFF") && IsFourCC(start.data() + 8, "AVI "))
        return true;
    for (size_t i = 0; i + 12 <= start.size(); ++i) {
        if (IsFourCC(start.data() + i, "LIST") && IsFourCC(start.data() + i + 8, "movi"))
            return true;
    }
    return HasFixedLayoutData(damaged);
}

RepairPlan PlanRiff(ByteSource &damaged, ByteSource &good, const ProgressFn &progress)
{
    RepairPlan plan;
    plan.layout = Layout::Riff;
    plan.oldSize = damaged.Size();
    std::vector<uint8_t> dImage = ReadStart(damaged, kMaxHeaderBytes);
    const std::vector<uint8_t> gImage = ReadStart(good, kMaxHeaderBytes);
    std::optional<AviHeader> header = ParseAviHeader(dImage);
    const std::optional<AviHeader> goodHeader = ParseAviHeader(gImage);
    std::vector<uint8_t> image;
    if (header) {
        image.assign(dImage.begin(), dImage.begin() + ptrdiff_t(header->movi + 12));
    } else {
        // The good file's header stands in only where the damaged file has the same movi list.
        if (!goodHeader || goodHeader->movi + 12 > dImage.size()
            || !IsFourCC(dImage.data() + goodHeader->movi, "LIST")
            || !IsFourCC(dImage.data() + goodHeader->movi + 8, "movi")) {
            if (LooksLikeRecording(damaged, dImage))
                plan.status = PlanStatus::WrongGoodFile;
            return plan;
        }
        header = goodHeader;
        image.assign(gImage.begin(), gImage.begin() + ptrdiff_t(header->movi + 12));
    }
    const std::vector<uint8_t> original(dImage.begin(), dImage.begin() + ptrdiff_t(image.size()));

    Emit(progress, "Building frame index...\n");
    const WalkResult walk = WalkRiffAvi(damaged, *header);
    if (walk.readError) {
        plan.status = PlanStatus::ReadError;
        return plan;
    }
    const size_t streamCount = header->streams.size();
    std::vector<StreamStats> stats(streamCount);
    uint64_t videoChunks = 0;
    for (const DataChunk &c : walk.chunks) {
        StreamStats &st = stats[c.stream];
        if (st.chunks++ == 0)
            st.id = c.id;
        st.bytes += c.size;
        st.largest = std::max(st.largest, c.size);
        if (header->streams[c.stream].kind == StreamKind::Video && c.size > 0)
            ++videoChunks;
    }
    if (videoChunks == 0) {
        plan.status = PlanStatus::NoVideo;
        return plan;
    }

    const std::vector<Segment> &segs = walk.segments;
    const size_t last = segs.size() - 1;
    // OpenDML indexes: past the first RIFF, or where a legacy index cannot hold the offsets.
    const DataChunk &lastChunk = walk.chunks.back();
    const bool useOdml = segs.size() > 1 || lastChunk.offset + 8 + lastChunk.size > kMax32;
    const Segment &first = segs.front();
    const bool appendIdx1 = first.idx1 == 0 && segs.size() == 1 && !useOdml;
    // Whether the last RIFF lacks a fitting standard index for one of its streams.
    bool appendIndexes = false;
    if (useOdml) {
        std::vector<uint64_t> lastCounts(streamCount, 0);
        for (size_t i = segs.back().firstChunk; i < segs.back().endChunk; ++i)
            ++lastCounts[walk.chunks[i].stream];
        for (size_t s = 0; s < streamCount; ++s) {
            appendIndexes |= lastCounts[s] > 0
                && std::none_of(segs.back().indexes.begin(), segs.back().indexes.end(),
                                [&](const FoundIndex &ix) {
                                    return ix.stream == s && ix.entries == lastCounts[s];
                                });
        }
    }
    std::vector<Patch> patches;
    Closing closing;
    if (!CloseTail(closing, walk.tail, plan.oldSize, 2, appendIdx1 || appendIndexes))
        return plan;
    const uint64_t appendAt = closing.appendAt;
    std::vector<uint8_t> appended;
    std::vector<std::vector<SuperEntry>> supers(streamCount);
    bool odmlComplete = useOdml;
    for (size_t k = 0; useOdml && k < segs.size(); ++k) {
        const Segment &seg = segs[k];
        const std::span<const DataChunk> chunks(walk.chunks.data() + seg.firstChunk,
                                                seg.endChunk - seg.firstChunk);
        for (size_t s = 0; s < streamCount; ++s) {
            std::vector<DataChunk> mine;
            StreamStats st;
            for (const DataChunk &c : chunks) {
                if (c.stream == s) {
                    mine.push_back(c);
                    st.chunks++;
                    st.bytes += c.size;
                }
            }
            if (mine.empty())
                continue;
            const uint32_t duration
                = uint32_t(std::min(Units(image, header->streams[s], st), kMax32));
            auto found
                = std::find_if(seg.indexes.begin(), seg.indexes.end(), [&](const FoundIndex &ix) {
                      return ix.stream == s && ix.entries == mine.size();
                  });
            if (found != seg.indexes.end()) {
                supers[s].push_back({ found->offset, found->size + 8, duration });
            } else if (k == last && mine.back().offset + 8 - seg.riff <= kMax32) {
                const std::vector<uint8_t> ix
                    = StandardIndex(mine, uint16_t(s), stats[s].id, seg.riff, 2);
                supers[s].push_back({ appendAt + appended.size(), uint32_t(ix.size()), duration });
                appended.insert(appended.end(), ix.begin(), ix.end());
            } else {
                odmlComplete = false;
            }
        }
    }

    // The legacy index of the first RIFF, unless it has one; it can only be appended when the
    // first RIFF is the last one.
    uint64_t idx1At = first.idx1;
    if (appendIdx1) {
        idx1At = appendAt + appended.size();
        ByteWriter w(appended);
        w.FourCC("idx1");
        w.U32(uint32_t(16 * (first.endChunk - first.firstChunk)));
        for (size_t i = first.firstChunk; i < first.endChunk; ++i) {
            const DataChunk &c = walk.chunks[i];
            w.FourCC(c.id);
            w.U32(c.key ? kAviifKeyFrame : 0);
            w.U32(uint32_t(c.offset));
            w.U32(c.size);
        }
    }
    const uint64_t newEnd = appendAt + appended.size();

    // Header counts.
    const size_t video = size_t(header->firstVideo);
    uint64_t firstRiffFrames = 0;
    for (size_t i = first.firstChunk; i < first.endChunk; ++i)
        firstRiffFrames += walk.chunks[i].stream == video;
    uint8_t *avihData = image.data() + header->avih;
    PutLe32(avihData + avih::kTotalFrames, uint32_t(std::min(firstRiffFrames, kMax32)));
    if (idx1At != 0)
        PutLe32(avihData + avih::kFlags, Le32(avihData + avih::kFlags) | kAvifHasIndex);
    if (header->dmlh != 0)
        PutLe32(image.data() + header->dmlh, uint32_t(std::min(stats[video].chunks, kMax32)));
    for (size_t s = 0; s < streamCount; ++s) {
        const StreamInfo &info = header->streams[s];
        uint8_t *sh = image.data() + info.strh;
        PutLe32(sh + strh::kLength, uint32_t(std::min(Units(image, info, stats[s]), kMax32)));
        if (Le32(sh + strh::kSuggestedBuffer) == 0)
            PutLe32(sh + strh::kSuggestedBuffer, stats[s].largest);
        if (info.kind == StreamKind::Audio && stats[s].chunks > 0)
            FixAudioRate(image, *header, s, stats, gImage, goodHeader);
        // The super index goes into the room the writer kept for it.
        const size_t entries = supers[s].size();
        if (odmlComplete && entries > 0 && info.indexSlot != 0
            && info.indexSlotSize >= 24 + 16 * entries) {
            uint8_t *slot = image.data() + info.indexSlot;
            std::fill(slot + 8, slot + 8 + info.indexSlotSize, 0);
            std::copy_n("indx", 4, slot);
            PutLe16(slot + 8, 4);
            slot[10] = 0;
            slot[11] = 0; // index of indexes
            PutLe32(slot + 12, uint32_t(entries));
            std::copy(stats[s].id.begin(), stats[s].id.end(), slot + 16);
            for (size_t e = 0; e < entries; ++e) {
                PutLe64(slot + 32 + 16 * e, supers[s][e].offset);
                PutLe32(slot + 40 + 16 * e, supers[s][e].size);
                PutLe32(slot + 44 + 16 * e, supers[s][e].duration);
            }
        }
    }
    plan.frames = stats[video].chunks;
    EmitFrames(progress, plan.frames);

    // RIFF and movi sizes of every segment.
    for (size_t k = 0; k < segs.size(); ++k) {
        const Segment &seg = segs[k];
        const uint64_t segEnd = k < last ? segs[k + 1].riff : newEnd;
        const uint64_t moviEnd
            = seg.idx1 != 0 ? seg.idx1 : (k == 0 && idx1At != 0 ? idx1At : segEnd);
        if (k == 0) {
            if (segEnd - 8 <= kMax32)
                PutLe32(image.data() + 4, uint32_t(segEnd - 8));
            if (moviEnd - header->movi - 8 <= kMax32)
                PutLe32(image.data() + header->movi + 4, uint32_t(moviEnd - header->movi - 8));
            continue;
        }
        if (segEnd - seg.riff - 8 <= kMax32)
            AddU32(patches, damaged, seg.riff + 4, uint32_t(segEnd - seg.riff - 8));
        if (seg.movi != 0 && moviEnd - seg.movi - 8 <= kMax32)
            AddU32(patches, damaged, seg.movi + 4, uint32_t(moviEnd - seg.movi - 8));
    }

    std::vector<Patch> headerPatches;
    AddHeader(headerPatches, original, image);
    Finish(plan, damaged, walk, closing, std::move(patches), std::move(appended),
           std::move(headerPatches));
    return plan;
}

} // namespace

bool IsFixedLayoutTemplate(std::span<const uint8_t> t)
{
    if (t.size() < fixed::kTemplateSize)
        return false;
    const uint8_t *p = t.data();
    return IsFourCC(p, "RIFF") && IsFourCC(p + 8, "AVI ") && IsFourCC(p + 12, "LIST")
        && IsFourCC(p + 20, "hdrl") && IsFourCC(p + 24, "avih") && IsFourCC(p + 88, "LIST")
        && IsFourCC(p + 96, "strl") && IsFourCC(p + 100, "strh") && IsFourCC(p + 108, "vids")
        && IsFourCC(p + 164, "strf") && IsFourCC(p + 212, "indx");
}

bool HasFixedLayoutData(ByteSource &damaged)
{
    uint8_t h[8];
    return damaged.ReadExact(fixed::kData, h, sizeof h)
        && (IsFourCC(h, "00db") || IsFourCC(h, "00dc"));
}

RepairPlan PlanRepair(ByteSource &damaged, ByteSource &good, const ProgressFn &progress)
{
    uint8_t tmpl[fixed::kTemplateSize];
    const bool haveTemplate = good.ReadExact(0, tmpl, sizeof tmpl);
    if (haveTemplate && IsFixedLayoutTemplate(tmpl) && HasFixedLayoutData(damaged))
        return PlanFixed(damaged, tmpl, progress);
    RepairPlan plan = PlanRiff(damaged, good, progress);
    if (damaged.Failed() || good.Failed())
        plan.status = PlanStatus::ReadError;
    return plan;
}

} // namespace mendrel
