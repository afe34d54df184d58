// The repair on real files: the reserved-index layout made by the generator, and avimux
// recordings killed mid-capture or stopped by a full disk.
#include "AviBytes.h"
#include "AviRepair.h"
#include "AviTestFiles.h"
#include "DemuxCheck.h"
#include "StrictAvi.h"
#include "UndoJournal.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <fcntl.h>
#include <functional>
#include <grp.h>
#include <optional>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace mendrel::test {
namespace {

std::string Join(const std::vector<std::string> &lines)
{
    std::string out;
    for (const std::string &l : lines)
        out += l + "; ";
    return out;
}

struct RepairRun
{
    RepairOutcome outcome;
    std::string status; // the status lines
};

RepairRun Repair(const fs::path &damaged, const fs::path &good)
{
    RepairRun run;
    run.outcome = RepairAviFile(damaged, good, [&](std::string_view l) { run.status += l; });
    return run;
}

std::string StatusFor(uint64_t frames)
{
    return "Working.\nBuilding frame index...\nframes = " + std::to_string(frames)
        + "\nFinished.\n";
}

TEST(MendrelEntry, AddsAviExtensionOnlyToNamesWithoutDot)
{
    const std::pair<const char *, const char *> cases[] = {
        { "/rec/cam1", "/rec/cam1.avi" },
        { "/rec.d/cam1", "/rec.d/cam1.avi" },
        { "/rec/cam1.avi", "/rec/cam1.avi" },
        { "cam1.AVI", "cam1.AVI" },
        { "cam1", "cam1.avi" },
    };
    for (const auto &[in, want] : cases)
        EXPECT_EQ(WithAviExtension(in), want) << in;
}

// ---- reserved-index layout ------------------------------------------------------------------

const StrictExpect kFixed = FixedLayoutExpect();
constexpr uint64_t kFixedChunk = 8 + kFixedFrameBytes; // a frame on the grid without a pad

// What the repair may change below the old end of a reserved-index file: the template and the
// fields it rewrites, the first index room; beyond those, the movi size word (and the movi list
// header where the file has none), JUNK headers over bytes of no chunk and over the cut-off tail.
bool Owned(uint64_t at, const FixedSpec &spec, const std::vector<FixedChunk> &written,
           uint64_t size, uint32_t superEntries)
{
    const uint64_t movi = spec.moviAt7FE0 ? 0x7FE0 : 0x7FF4;
    std::vector<std::pair<uint64_t, uint64_t>> fields = {
        { 0, 232 }, // template, counts, nEntriesInUse, dwChunkId
        { 244, 244 + 16 * uint64_t(superEntries) }, // super index entries
        { 0x7ED4, 0x7EEC }, // odml list, dmlh frames
        { 0x8000, 0xFE00 }, // the first index
        { movi + 4, movi + 8 },
    };
    if (spec.zeroHeader)
        fields.push_back({ 0x7FE0, 0x8000 });
    for (const auto &[from, to] : fields) {
        if (at >= from && at < to)
            return true;
    }
    // A frame made unreadable ("lost") may get a JUNK header, and so may the first chunk not
    // complete (the tail, from the zero pad before it on); zero pads elsewhere stay as they are.
    uint64_t end = 0; // of the last chunk before
    for (const FixedChunk &c : written) {
        const bool cut = c.offset + 8 + c.size > size;
        if ((c.id == "lost" && at >= c.offset && at < c.offset + 8)
            || (cut && at >= std::min(end, c.offset) && at < c.offset + 8))
            return true;
        if (cut)
            break;
        if (!c.id.empty())
            end = c.offset + 8 + c.size + (c.size & 1);
    }
    return false;
}

struct FixedCase
{
    const char *name;
    FixedSpec spec;
    uint64_t frames;
    int smashed = -1; // a frame whose size word is made to run past the end
};

TEST(MendrelFixedLayout, RepairsEveryKindOfDamage)
{
    TempFolder tmp;
    const fs::path good = tmp / "good.avi";
    WriteFixedFile(good, FixedSpec { .frames = 30 });
    constexpr auto kJunk = FixedPads::Junk;
    const FixedCase cases[] = {
        { "first index never written", { .finishedSegments = 0, .finished = false }, 60 },
        { "cut mid-chunk", { .finishedSegments = 0, .finished = false, .cutBytes = 1000 }, 59 },
        { "unindexed tail", { .perIndex = 20, .finishedSegments = 2, .finished = false }, 60 },
        { "indexes present", { .perIndex = 20, .finished = false }, 60 },
        { "header never written",
          { .perIndex = 25, .finishedSegments = 1, .finished = false, .zeroHeader = true },
          60 },
        { "more frames than the first room",
          { .frames = 4100, .finishedSegments = 0, .finished = false },
          4100 },
        { "intact", {}, 60 },
        { "JUNK pads, cut mid-frame",
          { .finishedSegments = 0, .finished = false, .cutBytes = 1000, .pads = kJunk },
          59 },
        { "JUNK pads, cut in a pad",
          { .finishedSegments = 0, .finished = false, .cutBytes = 9, .pads = kJunk },
          60 },
        { "JUNK pads, movi at 0x7FE0",
          { .perIndex = 20, .finished = false, .pads = kJunk, .moviAt7FE0 = true },
          60 },
        { "JUNK pads, movi at 0x7FE0, intact",
          { .perIndex = 20, .pads = kJunk, .moviAt7FE0 = true },
          60 },
        { "zero pads",
          { .finishedSegments = 0, .finished = false, .cutBytes = 1000, .pads = FixedPads::Zeros },
          59 },
        { "short zero pads",
          { .finishedSegments = 0,
            .finished = false,
            .cutBytes = 1000,
            .pads = FixedPads::ShortZeros },
          59 },
        { "short zero pads, indexes present",
          { .perIndex = 20, .finished = false, .pads = FixedPads::ShortZeros },
          60 },
        { "indexes after their frames, first room never written",
          { .perIndex = 20, .finishedSegments = 2, .indexAfter = true, .finished = false },
          60 },
        { "indexes after their frames, zero pads, cut",
          { .perIndex = 20,
            .finishedSegments = 2,
            .indexAfter = true,
            .finished = false,
            .cutBytes = 1000,
            .pads = FixedPads::Zeros },
          59 },
        { "indexes after their frames, intact", { .perIndex = 20, .indexAfter = true }, 60 },
        { "filled index, cut inside its segment",
          { .frames = 200, .perIndex = 100, .finished = false, .cutBytes = 35 * kFixedChunk - 100 },
          165 },
        { "filled first index, cut inside it",
          { .frames = 100, .finished = false, .cutBytes = 10 * kFixedChunk + 5 },
          89 },
        { "header never written, JUNK pads",
          { .finished = false, .zeroHeader = true, .pads = kJunk },
          60 },
        // The frames after it stay; the smashed one becomes JUNK up to the next.
        { "size word smashed mid-file, JUNK pads",
          { .finishedSegments = 0, .finished = false, .pads = kJunk },
          59,
          30 },
    };
    for (const FixedCase &c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path damaged = tmp / "damaged.avi";
        std::vector<FixedChunk> written;
        WriteFixedFile(damaged, c.spec, &written);
        if (c.smashed >= 0) {
            FixedChunk &frame = written[size_t(2 * c.smashed)]; // each frame has a pad
            std::vector<uint8_t> bytes = ReadAll(damaged);
            PutLe32(bytes.data() + frame.offset + 4, 0x7FFFFFFF);
            WriteAll(damaged, bytes);
            frame.id = "lost";
        }
        const std::vector<uint8_t> before = ReadAll(damaged);
        const bool intact = c.spec.finished && c.spec.cutBytes == 0;
        EXPECT_EQ(StrictCheck(damaged, kFixed).problems.empty(), intact);

        const RepairRun run = Repair(damaged, good);
        ASSERT_EQ(run.outcome.status, RepairStatus::Repaired) << run.outcome.message;
        EXPECT_EQ(run.outcome.layout, Layout::Fixed);
        EXPECT_EQ(run.status, StatusFor(c.frames));
        // Every chunk's size leads to the next, every index entry to a complete frame.
        const StrictResult strict = StrictCheck(damaged, kFixed);
        EXPECT_TRUE(strict.problems.empty()) << Join(strict.problems);
        EXPECT_EQ(strict.videoChunks, c.frames);
        EXPECT_EQ(FfprobeVideoPackets(damaged), int64_t(c.frames));
        const std::vector<uint8_t> after = ReadAll(damaged);
        ASSERT_GE(after.size(), before.size());
        if (intact) {
            EXPECT_EQ(after, before);
        }
        for (uint64_t i = 0; i < before.size(); ++i) {
            if (after[i] != before[i]
                && !Owned(i, c.spec, written, before.size(), Le32(after.data() + 224))) {
                ADD_FAILURE() << "changed at " << i;
                break;
            }
        }
        EXPECT_FALSE(fs::exists(UndoJournal::PathFor(damaged)));
        if (c.frames == 60 && c.spec.perIndex == 20 && c.spec.finishedSegments == 2) {
            const DemuxResult demux = Demux(damaged, false);
            EXPECT_TRUE(demux.finished);
            EXPECT_EQ(demux.videoBuffers, 60u);
        }
        // A second run finds nothing to do.
        EXPECT_EQ(Repair(damaged, good).outcome.status, RepairStatus::Repaired);
        EXPECT_EQ(ReadAll(damaged), after);
    }
}

// A writer that puts each index chunk after the frames it lists and fills the room at 0x8000
// only when closing, killed in its fourth segment: 1000 frames (their room never written), 1000
// frames followed by their ix00, 1500 frames with no index, the file cut inside frame 3400.
constexpr int kAfterFrames = 3500;
constexpr int kAfterComplete = 3400;

FixedSpec IndexAfterSpec(FixedPads pads = FixedPads::None)
{
    return { .frames = kAfterFrames,
             .perIndex = 1000,
             .finishedSegments = 2,
             .indexAfter = true,
             .finished = false,
             .pads = pads };
}

// Writes that file, cut inside frame `cutIn`; `written` marks its frames by number.
void WriteIndexAfterFile(const fs::path &path, const FixedSpec &spec, int cutIn,
                         std::vector<FixedChunk> &written, std::vector<size_t> &frames)
{
    WriteFixedFile(path, spec, &written);
    frames.clear();
    for (size_t k = 0; k < written.size(); ++k) {
        if (written[k].id == "00db")
            frames.push_back(k);
    }
    fs::resize_file(path, written[frames[size_t(cutIn)]].offset + 1000);
}

struct IndexAfterCase
{
    const char *name;
    FixedPads pads = FixedPads::None;
    bool zeroHeader = false;
    // Damage beyond the cut; gives the frames it made unreadable.
    std::function<std::vector<int>(std::vector<uint8_t> &, const std::vector<FixedChunk> &,
                                   const std::vector<size_t> &)>
        damage;
};

TEST(MendrelFixedLayout, IndexChunksAfterTheirFramesCountEachFrameOnce)
{
    TempFolder tmp;
    const fs::path good = tmp / "good.avi";
    WriteFixedFile(good, FixedSpec { .frames = 30 });
    const IndexAfterCase cases[] = {
        { "cut", FixedPads::None, false, nullptr },
        { "zeroed run", FixedPads::None, false,
          [](std::vector<uint8_t> &b, const std::vector<FixedChunk> &w,
             const std::vector<size_t> &f) {
              // From inside frame 2500 to inside frame 2503: three frame headers gone.
              std::fill(b.begin() + ptrdiff_t(w[f[2500]].offset + 100),
                        b.begin() + ptrdiff_t(w[f[2503]].offset + 50), 0);
              return std::vector<int> { 2501, 2502, 2503 };
          } },
        // The ix00 after them then lists lost frames and counts for nothing; its frames that
        // are left go to the room at 0x8000.
        { "zeroed run in the indexed segment", FixedPads::None, false,
          [](std::vector<uint8_t> &b, const std::vector<FixedChunk> &w,
             const std::vector<size_t> &f) {
              std::fill(b.begin() + ptrdiff_t(w[f[1500]].offset + 100),
                        b.begin() + ptrdiff_t(w[f[1502]].offset + 50), 0);
              return std::vector<int> { 1501, 1502 };
          } },
        { "flipped byte", FixedPads::None, false,
          [](std::vector<uint8_t> &b, const std::vector<FixedChunk> &w,
             const std::vector<size_t> &f) {
              b[w[f[2700]].offset] ^= 1; // "00db" becomes "10db"
              return std::vector<int> { 2700 };
          } },
        { "header damage", FixedPads::None, true, nullptr },
        { "zero pads", FixedPads::Zeros, false, nullptr },
        { "short zero pads", FixedPads::ShortZeros, false, nullptr },
    };
    for (const IndexAfterCase &c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path damaged = tmp / "damaged.avi";
        FixedSpec spec = IndexAfterSpec(c.pads);
        spec.zeroHeader = c.zeroHeader;
        std::vector<FixedChunk> written;
        std::vector<size_t> frames;
        WriteIndexAfterFile(damaged, spec, kAfterComplete, written, frames);
        std::vector<uint8_t> before = ReadAll(damaged);
        uint64_t complete = kAfterComplete;
        if (c.damage) {
            for (const int lost : c.damage(before, written, frames)) {
                written[frames[size_t(lost)]].id = "lost";
                --complete;
            }
            WriteAll(damaged, before);
        }

        const RepairRun run = Repair(damaged, good);
        ASSERT_EQ(run.outcome.status, RepairStatus::Repaired) << run.outcome.message;
        EXPECT_EQ(run.outcome.frames, complete);
        EXPECT_EQ(run.status, StatusFor(complete));
        const std::vector<uint8_t> after = ReadAll(damaged);
        EXPECT_EQ(Le32(after.data() + 48), complete - 1); // avih
        EXPECT_EQ(Le32(after.data() + 140), complete); // strh
        EXPECT_EQ(Le32(after.data() + 0x7EE8), complete); // dmlh
        uint64_t superFrames = 0;
        for (uint32_t e = 0; e < Le32(after.data() + 224); ++e)
            superFrames += Le32(after.data() + 256 + 16 * e);
        EXPECT_EQ(superFrames, complete);
        const StrictResult strict = StrictCheck(damaged, kFixed);
        EXPECT_TRUE(strict.problems.empty()) << Join(strict.problems);
        EXPECT_EQ(strict.videoChunks, complete);
        // Padded frames are shorter than a picture: ffprobe reads them but cannot decode them.
        if (c.pads == FixedPads::None) {
            EXPECT_EQ(FfprobeVideoFrames(damaged), int64_t(complete));
        } else {
            EXPECT_EQ(FfprobeVideoPackets(damaged), int64_t(complete));
        }
        ASSERT_GE(after.size(), before.size());
        for (uint64_t i = 0; i < before.size(); ++i) {
            if (after[i] != before[i]
                && !Owned(i, spec, written, before.size(), Le32(after.data() + 224))) {
                ADD_FAILURE() << "changed at " << i;
                break;
            }
        }
        EXPECT_EQ(Repair(damaged, good).outcome.status, RepairStatus::Repaired);
        EXPECT_EQ(ReadAll(damaged), after);
    }
}

// Two index chunks that list the same frames would have them played twice: nothing is written.
TEST(MendrelFixedLayout, AFrameIndexedTwiceIsRefused)
{
    TempFolder tmp;
    const fs::path good = tmp / "good.avi";
    WriteFixedFile(good, FixedSpec { .frames = 30 });
    const fs::path damaged = tmp / "damaged.avi";
    FixedSpec spec = IndexAfterSpec();
    spec.finishedSegments = 3;
    spec.repeatIndex = true; // the third segment's index lists the second's frames
    std::vector<FixedChunk> written;
    std::vector<size_t> frames;
    WriteIndexAfterFile(damaged, spec, kAfterComplete, written, frames);
    const std::vector<uint8_t> bytes = ReadAll(damaged);

    const RepairRun run = Repair(damaged, good);
    EXPECT_EQ(run.outcome.status, RepairStatus::IndexMismatch);
    EXPECT_EQ(run.outcome.message, kIndexMismatch);
    EXPECT_EQ(run.status, "Working.\nBuilding frame index...\nFinished.\n");
    EXPECT_EQ(ReadAll(damaged), bytes);
    EXPECT_FALSE(fs::exists(UndoJournal::PathFor(damaged)));
}

uint64_t Fnv1a(const std::vector<uint8_t> &bytes)
{
    uint64_t h = 0xcbf29ce484222325u;
    for (const uint8_t b : bytes)
        h = (h ^ b) * 0x100000001b3u;
    return h;
}

// Files whose index chunks stand ahead of their frames repair to the bytes they always did (the
// hashes of the files as the repair wrote them before it looked for frames indexed twice).
TEST(MendrelFixedLayout, IndexAheadRepairsToTheSameBytes)
{
    TempFolder tmp;
    const fs::path good = tmp / "good.avi";
    WriteFixedFile(good, FixedSpec { .frames = 30 });
    struct Case
    {
        const char *name;
        FixedSpec spec;
        uint64_t hash;
    };
    const Case cases[] = {
        { "first index never written",
          { .finishedSegments = 0, .finished = false },
          10894344403712860739u },
        { "cut mid-chunk",
          { .finishedSegments = 0, .finished = false, .cutBytes = 1000 },
          9406782531269403069u },
        { "unindexed tail",
          { .perIndex = 20, .finishedSegments = 2, .finished = false },
          11435036940693016684u },
        { "indexes present", { .perIndex = 20, .finished = false }, 12850255586513296580u },
        { "header never written",
          { .perIndex = 25, .finishedSegments = 1, .finished = false, .zeroHeader = true },
          11344503978487545916u },
        { "more frames than the first room",
          { .frames = 4100, .finishedSegments = 0, .finished = false },
          2269373909546278236u },
        { "JUNK pads, cut mid-frame",
          { .finishedSegments = 0, .finished = false, .cutBytes = 1000, .pads = FixedPads::Junk },
          16251106462414046009u },
        { "JUNK pads, movi at 0x7FE0",
          { .perIndex = 20, .finished = false, .pads = FixedPads::Junk, .moviAt7FE0 = true },
          5598729674423835886u },
        { "short zero pads, unindexed tail",
          { .frames = 90,
            .perIndex = 20,
            .finishedSegments = 3,
            .finished = false,
            .cutBytes = 700,
            .pads = FixedPads::ShortZeros },
          938340806169675294u },
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path damaged = tmp / "damaged.avi";
        WriteFixedFile(damaged, c.spec);
        ASSERT_EQ(Repair(damaged, good).outcome.status, RepairStatus::Repaired);
        EXPECT_EQ(Fnv1a(ReadAll(damaged)), c.hash);
    }
}

TEST(MendrelFixedLayout, FilesBelow65537BytesHaveNoVideo)
{
    TempFolder tmp;
    const fs::path good = tmp / "good.avi";
    WriteFixedFile(good, FixedSpec { .frames = 30 });
    // One 504-byte frame at 0xFE00 ends the file at 65,536 bytes; one more byte makes 65,537.
    for (const uint64_t size : { 65536u, 65537u }) {
        SCOPED_TRACE(size);
        const fs::path damaged = tmp / "short.avi";
        WriteFixedFile(
            damaged, { .frames = 1, .frameBytes = 504, .finishedSegments = 0, .finished = false });
        std::vector<uint8_t> bytes = ReadAll(damaged);
        ASSERT_EQ(bytes.size(), 65536u);
        bytes.resize(size_t(size), 0);
        WriteAll(damaged, bytes);
        const bool accepted = size == 65537;
        // The entry check reads a locked file too; only the repair needs it to itself.
        const int holder = ::open(damaged.c_str(), O_RDONLY);
        ::flock(holder, LOCK_EX);
        EXPECT_EQ(CheckDamagedFile(damaged), accepted ? EntryCheck::Ok : EntryCheck::NoVideo);
        ::close(holder);
        EXPECT_EQ(CheckDamagedFile(damaged), accepted ? EntryCheck::Ok : EntryCheck::NoVideo);
        const RepairRun run = Repair(damaged, good);
        if (accepted) {
            EXPECT_EQ(run.outcome.status, RepairStatus::Repaired);
            EXPECT_EQ(run.outcome.frames, 1u);
            EXPECT_TRUE(StrictCheck(damaged, kFixed).problems.empty());
        } else {
            EXPECT_EQ(run.outcome.status, RepairStatus::NoVideo);
            EXPECT_EQ(run.outcome.message, kNoVideo);
            EXPECT_EQ(ReadAll(damaged), bytes);
        }
    }
}

// ---- avimux recordings -----------------------------------------------------------------------

class MendrelAvimux : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        s_tmp = new TempFolder;
        ASSERT_TRUE(RecordAvimux(*s_tmp / "good.avi", { .frames = 30 }));
        ASSERT_TRUE(RecordAvimux(*s_tmp / "good-video.avi", { .audio = false, .frames = 30 }));
        ASSERT_TRUE(RecordAvimux(*s_tmp / "killed.avi", { .killAtBytes = 300000 }));
        ASSERT_TRUE(
            RecordAvimux(*s_tmp / "killed-video.avi", { .audio = false, .killAtBytes = 200000 }));
        ASSERT_TRUE(RecordAvimux(*s_tmp / "full.avi", { .fileSizeLimit = 200000, .frames = 600 }));
    }
    static void TearDownTestSuite()
    {
        delete s_tmp;
        s_tmp = nullptr;
    }
    static fs::path Copy(const std::string &from, const std::string &to)
    {
        fs::copy_file(*s_tmp / from, *s_tmp / to, fs::copy_options::overwrite_existing);
        return *s_tmp / to;
    }
    static TempFolder *s_tmp;
};
TempFolder *MendrelAvimux::s_tmp = nullptr;

constexpr uint64_t kMoviHeaderEnd = 0x59e; // avimux's header with one audio stream

struct AvimuxCase
{
    const char *name;
    const char *recording;
    const char *good;
    std::function<void(std::vector<uint8_t> &)> damage;
    bool keysByGop = true;
};

TEST_F(MendrelAvimux, RepairsKilledAndFullDiskRecordings)
{
    const AvimuxCase cases[] = {
        { "killed mid-capture", "killed.avi", "good.avi", nullptr },
        { "killed, video only", "killed-video.avi", "good-video.avi", nullptr },
        { "full disk", "full.avi", "good.avi", nullptr },
        { "header unreadable", "killed.avi", "good.avi",
          [](std::vector<uint8_t> &b) { std::fill(b.begin(), b.begin() + 0x580, 0); } },
        { "chunk header smashed", "killed.avi", "good.avi",
          [](std::vector<uint8_t> &b) {
              // Somewhere past the first frames, a chunk header turns to garbage.
              for (size_t p = 0x8000; p + 8 < b.size(); ++p) {
                  if (b[p] == '0' && b[p + 1] == '0' && b[p + 2] == 'd' && b[p + 3] == 'b') {
                      std::fill(b.begin() + ptrdiff_t(p), b.begin() + ptrdiff_t(p + 8), 0xEE);
                      break;
                  }
              }
          },
          false },
    };
    for (const AvimuxCase &c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path damaged = Copy(c.recording, "damaged.avi");
        if (c.damage) {
            std::vector<uint8_t> bytes = ReadAll(damaged);
            c.damage(bytes);
            WriteAll(damaged, bytes);
        }
        const StrictResult was = StrictCheck(damaged);
        EXPECT_FALSE(was.problems.empty());

        const RepairRun run = Repair(damaged, *s_tmp / c.good);
        ASSERT_EQ(run.outcome.status, RepairStatus::Repaired) << run.outcome.message;
        EXPECT_EQ(run.outcome.layout, Layout::Riff);
        EXPECT_EQ(run.status, StatusFor(run.outcome.frames));
        StrictExpect expect;
        if (c.keysByGop)
            expect.videoKey = [](uint64_t n) { return n % kGop == 0; };
        const StrictResult strict = StrictCheck(damaged, expect);
        EXPECT_TRUE(strict.problems.empty()) << Join(strict.problems);
        EXPECT_EQ(strict.videoChunks, run.outcome.frames);
        EXPECT_GT(strict.videoChunks, uint64_t(kGop));

        // The demuxer takes the index as it is (a scan would call every frame a key frame).
        const DemuxResult play = Demux(damaged, false);
        EXPECT_TRUE(play.finished);
        EXPECT_EQ(play.videoBuffers, strict.videoChunks);
        if (c.keysByGop) {
            EXPECT_EQ(play.videoKeys, (strict.videoChunks + kGop - 1) / kGop);
        }
        EXPECT_EQ(play.audioBuffers > 0, strict.audioChunks > 0);
        const DemuxResult seek = Demux(damaged, true);
        EXPECT_TRUE(seek.seeked);
        EXPECT_TRUE(seek.finished);
        EXPECT_GT(seek.firstVideoAfterSeek, 0u);
        EXPECT_LE(seek.firstVideoAfterSeek, seek.duration / 2);

        // A repaired file needs no second repair.
        const std::vector<uint8_t> once = ReadAll(damaged);
        EXPECT_EQ(Repair(damaged, *s_tmp / c.good).outcome.status, RepairStatus::Repaired);
        EXPECT_EQ(ReadAll(damaged), once);
    }
}

TEST_F(MendrelAvimux, RefusedFilesStayByteIdentical)
{
    struct Refusal
    {
        const char *name;
        std::function<fs::path()> damaged;
        std::function<fs::path()> good;
        RepairStatus status;
        std::string message;
    };
    int locked = -1;
    const Refusal cases[] = {
        { "header only",
          [] {
              const fs::path p = Copy("killed.avi", "damaged.avi");
              fs::resize_file(p, kMoviHeaderEnd);
              return p;
          },
          [] { return *s_tmp / "good.avi"; }, RepairStatus::NoVideo, std::string(kNoVideo) },
        { "not an AVI file",
          [] {
              WriteAll(*s_tmp / "text.avi", std::vector<uint8_t>(100000, 'x'));
              return *s_tmp / "text.avi";
          },
          [] { return *s_tmp / "good.avi"; }, RepairStatus::NotRepairable,
          std::string(kNotRepairable) },
        { "unreadable header, good file of other streams",
          [] {
              const fs::path p = Copy("killed.avi", "damaged.avi");
              std::vector<uint8_t> b = ReadAll(p);
              std::fill(b.begin(), b.begin() + 0x580, 0);
              WriteAll(p, b);
              return p;
          },
          // The good file is the one to change, and the box says so.
          [] { return *s_tmp / "good-video.avi"; }, RepairStatus::WrongGoodFile,
          std::string(kWrongGoodFile) },
        { "short good file",
          [] {
              WriteFixedFile(*s_tmp / "fixed.avi",
                             { .finishedSegments = 0, .finished = false, .zeroHeader = true });
              return *s_tmp / "fixed.avi";
          },
          [] {
              WriteAll(*s_tmp / "short.avi", std::vector<uint8_t>(100, 0));
              return *s_tmp / "short.avi";
          },
          RepairStatus::WrongGoodFile, std::string(kWrongGoodFile) },
        { "being recorded (locked)",
          [&] {
              const fs::path p = Copy("killed.avi", "damaged.avi");
              locked = ::open(p.c_str(), O_RDONLY);
              ::flock(locked, LOCK_EX);
              return p;
          },
          [] { return *s_tmp / "good.avi"; }, RepairStatus::CantOpenDamaged,
          std::string(kCantOpenDamaged) },
        { "good file missing", [] { return Copy("killed.avi", "damaged.avi"); },
          [] { return *s_tmp / "missing.avi"; }, RepairStatus::CantOpenGood,
          std::string(kCantOpenGood) },
        { "good file is the damaged file", [] { return Copy("killed.avi", "damaged.avi"); },
          [] { return *s_tmp / "damaged.avi"; }, RepairStatus::CantOpenGood,
          std::string(kCantOpenGood) },
    };
    for (const Refusal &c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path damaged = c.damaged();
        const fs::path good = c.good();
        const std::vector<uint8_t> before = ReadAll(damaged);
        const RepairRun run = Repair(damaged, good);
        EXPECT_EQ(run.outcome.status, c.status);
        EXPECT_EQ(run.outcome.message, c.message);
        EXPECT_EQ(ReadAll(damaged), before);
        EXPECT_FALSE(fs::exists(UndoJournal::PathFor(damaged)));
        if (locked >= 0) {
            ::close(locked);
            locked = -1;
        }
    }
    EXPECT_EQ(Repair(*s_tmp / "missing.avi", *s_tmp / "good.avi").outcome.message,
              kCantOpenDamaged);
    EXPECT_EQ(CheckDamagedFile(*s_tmp / "missing.avi"), EntryCheck::CantOpen);
}

TEST_F(MendrelAvimux, CrashMidRepairIsUndoneAtTheNextStart)
{
    const fs::path reference = Copy("killed.avi", "reference.avi");
    ASSERT_EQ(Repair(reference, *s_tmp / "good.avi").outcome.status, RepairStatus::Repaired);

    for (const bool tornJournal : { false, true }) {
        SCOPED_TRACE(tornJournal ? "journal torn" : "journal complete");
        const fs::path damaged = Copy("killed.avi", "damaged.avi");
        const std::vector<uint8_t> original = ReadAll(damaged);
        const int fd = ::open(damaged.c_str(), O_RDWR);
        ASSERT_GE(fd, 0);
        FileSource d(fd, original.size());
        const int gfd = ::open((*s_tmp / "good.avi").c_str(), O_RDONLY);
        FileSource g(gfd, fs::file_size(*s_tmp / "good.avi"));
        const RepairPlan plan = PlanRepair(d, g, nullptr);
        ::close(gfd);
        ASSERT_EQ(plan.status, PlanStatus::Ok);
        UndoJournal journal(UndoJournal::PathFor(damaged));
        ASSERT_EQ(journal.Save(fd, plan), 0);
        if (tornJournal) {
            // The crash came while the journal itself was being written: nothing else was.
            fs::resize_file(journal.Path(), fs::file_size(journal.Path()) - 3);
        } else {
            // The crash came halfway through the writes.
            for (size_t i = 0; i < plan.patches.size() / 2 + 1; ++i)
                ASSERT_EQ(::pwrite(fd, plan.patches[i].bytes.data(), plan.patches[i].bytes.size(),
                                   off_t(plan.patches[i].offset)),
                          ssize_t(plan.patches[i].bytes.size()));
            ASSERT_NE(ReadAll(damaged), original);
        }
        ::close(fd);

        EXPECT_EQ(Repair(damaged, *s_tmp / "good.avi").outcome.status, RepairStatus::Repaired);
        EXPECT_EQ(ReadAll(damaged), ReadAll(reference));
        EXPECT_FALSE(fs::exists(journal.Path()));
    }
}

// Runs `work` in a child process, as an unprivileged user when this one is root (who would
// ignore a folder's mode bits); gives its exit code.
int RunUnprivileged(const std::function<int()> &work)
{
    const pid_t pid = ::fork();
    if (pid == 0) {
        constexpr uid_t kNobody = 65534;
        if (::geteuid() == 0
            && (::setgroups(0, nullptr) != 0 || ::setresgid(kNobody, kNobody, kNobody) != 0
                || ::setresuid(kNobody, kNobody, kNobody) != 0))
            ::_exit(120);
        ::_exit(work());
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST_F(MendrelAvimux, ACrashAfterAnyWriteLeavesAFileTheNextRunMends)
{
    TempFolder crash;
    fs::permissions(crash.Path(), fs::perms(0755));
    const fs::path folder = crash / "rec";
    const fs::path damaged = folder / "damaged.avi", good = folder / "good.avi";
    fs::create_directory(folder);
    WriteFixedFile(*s_tmp / "fixed-good.avi", { .frames = 30 });
    WriteFixedFile(*s_tmp / "fixed-padded.avi", // its idx1 outgrows the rest of the cut-off frame
                   { .frames = 80,
                     .finishedSegments = 0,
                     .finished = false,
                     .cutBytes = 1000,
                     .pads = FixedPads::Junk });
    WriteFixedFile(
        *s_tmp / "fixed-filled.avi",
        { .frames = 200, .perIndex = 100, .finished = false, .cutBytes = 35 * kFixedChunk - 100 });
    std::vector<uint8_t> zeroed = ReadAll(*s_tmp / "killed.avi");
    std::fill(zeroed.begin(), zeroed.begin() + 0x580, 0);
    WriteAll(*s_tmp / "killed-zeroed.avi", zeroed);
    const std::pair<const char *, const char *> cases[] = {
        { "killed.avi", "good.avi" },
        { "killed-zeroed.avi", "good.avi" },
        { "full.avi", "good.avi" },
        { "fixed-padded.avi", "fixed-good.avi" },
        { "fixed-filled.avi", "fixed-good.avi" },
    };
    auto reset = [&](const char *recording, fs::perms mode) {
        fs::permissions(folder, fs::perms(0777));
        fs::copy_file(*s_tmp / recording, damaged, fs::copy_options::overwrite_existing);
        fs::permissions(damaged, fs::perms(0666));
        fs::permissions(folder, mode);
    };
    auto repairAsNobody = [&](const AfterWriteFn &afterWrite) {
        return RunUnprivileged([&] {
            const RepairOutcome out = RepairAviFile(damaged, good, nullptr, afterWrite);
            return out.status == RepairStatus::Repaired ? 0 : 1;
        });
    };
    for (const auto &[recording, goodName] : cases) {
        fs::copy_file(*s_tmp / goodName, good, fs::copy_options::overwrite_existing);
        reset(recording, fs::perms(0777));
        size_t writes = 0;
        ASSERT_EQ(RepairAviFile(damaged, good, nullptr, [&](size_t) { ++writes; }).status,
                  RepairStatus::Repaired);
        const std::vector<uint8_t> reference = ReadAll(damaged);
        // In a folder that takes the undo file, and in one that takes none.
        for (const fs::perms mode : { fs::perms(0777), fs::perms(0555) }) {
            SCOPED_TRACE(std::string(recording) + (mode == fs::perms(0555) ? ", read-only" : ""));
            for (size_t k = 0; k <= writes; ++k) {
                reset(recording, mode);
                const int cut = repairAsNobody([k](size_t i) {
                    if (i == k)
                        ::_exit(42);
                });
                EXPECT_EQ(cut, k < writes ? 42 : 0) << "write " << k;
                EXPECT_EQ(repairAsNobody(nullptr), 0) << "write " << k;
                EXPECT_TRUE(ReadAll(damaged) == reference) << "cut off after write " << k;
                EXPECT_FALSE(fs::exists(UndoJournal::PathFor(damaged)));
            }
        }
        fs::permissions(folder, fs::perms(0777));
    }
}

TEST_F(MendrelAvimux, NoRoomForTheIndexLeavesTheFileAlone)
{
    const fs::path damaged = Copy("killed.avi", "damaged.avi");
    const std::vector<uint8_t> before = ReadAll(damaged);
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        // The appended index does not fit under this limit, like on a full disk.
        std::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit { rlim_t(before.size()), rlim_t(before.size()) };
        ::setrlimit(RLIMIT_FSIZE, &limit);
        const RepairOutcome out = RepairAviFile(damaged, *s_tmp / "good.avi", nullptr);
        ::_exit(out.status == RepairStatus::NoSpace && out.message == kNoSpace ? 0 : 1);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(ReadAll(damaged), before);
    EXPECT_FALSE(fs::exists(UndoJournal::PathFor(damaged)));
}

TEST(MendrelBigFile, KilledInTheSecondRiffPastOneGigabyte)
{
    TempFolder tmp;
    const fs::path damaged = tmp / "big.avi";
    constexpr uint32_t kFrame = 720 * 576 * 3;
    WriteSparseBigFile(damaged, kFrame, 863, 40, 1000);
    ASSERT_GT(fs::file_size(damaged), uint64_t(1) << 30);
    EXPECT_FALSE(StrictCheck(damaged).problems.empty());
    const RepairRun run = Repair(damaged, damaged.string() + ".none");
    // The good file is not needed when the damaged header is readable, but it must open.
    EXPECT_EQ(run.outcome.status, RepairStatus::CantOpenGood);
    WriteSparseBigFile(tmp / "good.avi", kFrame, 2, 0, 0);
    const RepairRun fixed = Repair(damaged, tmp / "good.avi");
    ASSERT_EQ(fixed.outcome.status, RepairStatus::Repaired) << fixed.outcome.message;
    EXPECT_EQ(fixed.outcome.frames, 863u + 39u);
    const StrictResult strict = StrictCheck(damaged);
    EXPECT_TRUE(strict.problems.empty()) << Join(strict.problems);
    EXPECT_EQ(strict.riffs, 2u);
    EXPECT_EQ(strict.videoChunks, 863u + 39u);
}

} // namespace
} // namespace mendrel::test
