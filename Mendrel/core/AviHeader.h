#pragma once

#include "AviBytes.h"

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace mendrel {

constexpr uint32_t kAvifHasIndex = 0x10;
constexpr uint32_t kAviifKeyFrame = 0x10;
constexpr uint32_t kNotKeyBit = 0x80000000u;
// Two-digit stream numbers in chunk ids.
constexpr size_t kMaxStreams = 100;
// The header of a recording is a few kilobytes; anything longer is not one.
constexpr uint64_t kMaxHeaderBytes = 1 << 20;

enum class StreamKind { Video, Audio, Other };

// One stream of a header image: offsets are of the chunks' data (past the 8-byte header).
struct StreamInfo
{
    StreamKind kind = StreamKind::Other;
    FourCC type {};
    uint64_t strh = 0;
    uint32_t strhSize = 0;
    uint64_t strf = 0;
    uint32_t strfSize = 0;
    // The "JUNK" or "indx" chunk kept for the stream's super index (0 when there is none).
    uint64_t indexSlot = 0;
    uint32_t indexSlotSize = 0;
    uint32_t compression = 0; // BITMAPINFOHEADER biCompression of a video stream
    uint16_t formatTag = 0; // WAVEFORMATEX wFormatTag of an audio stream
};

struct AviHeader
{
    uint64_t avih = 0; // data offset
    uint64_t dmlh = 0; // data offset, 0 when the file has no OpenDML header
    std::vector<StreamInfo> streams;
    uint64_t movi = 0; // offset of the first "LIST" "movi" header
    int firstVideo = -1;
};

// Reads the RIFF/AVI header from the first bytes of a file: every chunk is bounded by the image
// and by its parent, two-digit stream ids, at least one video stream, and the first movi list.
std::optional<AviHeader> ParseAviHeader(std::span<const uint8_t> image);

// strh and strf fields used by the repair (offsets within the chunk data).
namespace strh {
constexpr uint32_t kScale = 20, kRate = 24, kLength = 32, kSuggestedBuffer = 36, kSampleSize = 44;
}
namespace avih {
constexpr uint32_t kFlags = 12, kTotalFrames = 16;
}

// Whether a video chunk starts a key frame, from the stream's compression and the frame's first
// bytes: MPEG-4 V3 and MPEG-4 by picture type, everything else (raw, DV, MJPEG) always.
bool IsKeyFrame(uint32_t compression, std::span<const uint8_t> frameStart);
// How many leading bytes of a frame IsKeyFrame needs for this compression (0: none).
size_t KeyFrameProbeBytes(uint32_t compression);

} // namespace mendrel
