#pragma once

#include "AviHeader.h"
#include "ByteSource.h"

#include <cstdint>
#include <vector>

namespace mendrel {

// A complete data chunk: header offset, size word, stream, key frame.
struct DataChunk
{
    uint64_t offset = 0;
    uint32_t size = 0;
    uint16_t stream = 0;
    bool key = false;
    FourCC id {};
};

// An OpenDML standard index chunk ("ixNN") whose header is sane.
struct FoundIndex
{
    uint64_t offset = 0; // header offset
    uint32_t size = 0; // size word
    uint16_t stream = 0;
    uint32_t entries = 0;
    uint64_t base = 0;
};

// One RIFF of the file: the first "AVI " or a later "AVIX".
struct Segment
{
    uint64_t riff = 0;
    uint64_t movi = 0; // "LIST" header of its movi list, 0 when it has none
    size_t firstChunk = 0;
    size_t endChunk = 0;
    uint64_t idx1 = 0; // a complete legacy index inside this RIFF, 0 when none
    std::vector<FoundIndex> indexes;
};

// Bytes that belong to no chunk (between resynchronised chunks) get a JUNK header; in the
// reserved-index layout a run of zero bytes alone (a writer's pad) stays as it is.
struct JunkRun
{
    uint64_t offset = 0;
    uint32_t size = 0;
};

struct WalkResult
{
    std::vector<Segment> segments;
    std::vector<DataChunk> chunks;
    std::vector<JunkRun> junk;
    // The first byte past the last complete chunk; a chunk cut off by the crash starts here.
    // May lie past the end of the file by a missing pad.
    uint64_t tail = 0;
    // The bytes from the tail to the end are all zero: a writer's pad, not a cut-off chunk (the
    // reserved-index layout only).
    bool zeroTail = false;
    bool readError = false;
};

// Walks every movi list of a RIFF/OpenDML file chunk by chunk (word-aligned), trusting no size
// that runs past the file and resynchronising on the next plausible header after a bad one.
WalkResult WalkRiffAvi(ByteSource &file, const AviHeader &header);

// The layout with the index room at 0x8000 and frames from 0xFE00 on 16-byte boundaries.
namespace fixed {
constexpr uint64_t kSuperIndex = 212;
constexpr uint64_t kOdml = 0x7ED4;
constexpr uint64_t kDmlhFrames = 0x7EE8;
constexpr uint64_t kJunkBeforeMovi = 0x7FE0;
constexpr uint64_t kMovi = 0x7FF4;
constexpr uint64_t kFirstIndex = 0x8000;
constexpr uint32_t kFirstIndexRoom = 0x7E00;
constexpr uint32_t kFirstIndexCapacity = (kFirstIndexRoom - 32) / 8; // 4028
constexpr uint64_t kData = 0xFE00;
constexpr uint64_t kMinimumSize = 65537;
constexpr size_t kTemplateSize = 224;
} // namespace fixed

// Where the file's "LIST" "movi" header is when it stands where that layout puts one (0x7FE0 or
// 0x7FF4); 0 when it is at neither.
uint64_t FindFixedMovi(ByteSource &file);

// Walks the frames of that layout: stream 00 chunks and "ix00" chunks on 16-byte boundaries;
// JUNK, idx1 and other index or frame chunks are stepped over wherever they start. The chunk at
// 0x8000 is reported among the indexes when its header is sane. The segment's movi is the one
// FindFixedMovi finds, else where the layout puts it (0x7FF4).
WalkResult WalkFixedLayout(ByteSource &file, uint32_t compression);

// Whether an "ixNN" header (the 32 bytes from the FOURCC on) is sane for a chunk at `offset`
// in a file of `fileSize` bytes.
bool IsSaneStandardIndex(const uint8_t *header, uint64_t offset, uint64_t fileSize);

} // namespace mendrel
