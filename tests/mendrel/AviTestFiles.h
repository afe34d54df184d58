// Test recordings made on the spot: files in the reserved-index layout, GStreamer avimux
// recordings killed mid-capture or stopped by a full disk, and sparse files past 1 GB.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace mendrel::test {

namespace fs = std::filesystem;

// A scratch folder removed with the object.
class TempFolder
{
public:
    TempFolder();
    ~TempFolder();
    const fs::path &Path() const { return m_path; }
    fs::path operator/(const std::string &name) const { return m_path / name; }

private:
    fs::path m_path;
};

std::vector<uint8_t> ReadAll(const fs::path &path);
void WriteAll(const fs::path &path, const std::vector<uint8_t> &bytes);

// ---- reserved-index layout -----------------------------------------------------------------
// Raw 40x31 BGR frames of 3720 bytes, so chunks stay on 16-byte boundaries without padding.
constexpr int kFixedWidth = 40;
constexpr int kFixedHeight = 31;
constexpr uint32_t kFixedFrameBytes = kFixedWidth * kFixedHeight * 3;

// What follows each frame up to the next 16-byte boundary.
enum class FixedPads {
    None, // nothing, or bare zeros when a frame ends off the boundary
    Junk, // a JUNK chunk (at least 8 bytes)
    Zeros, // as many zero bytes as such a JUNK chunk would take, with no header
    ShortZeros, // 0 to 7 zero bytes, too few for a chunk header
};

struct FixedSpec
{
    int frames = 60;
    // Frame size; with pads the n-th frame is n % 16 bytes shorter.
    uint32_t frameBytes = kFixedFrameBytes;
    // Frames per index chunk after the room at 0x8000 (0: every frame belongs to that room).
    int perIndex = 0;
    // How many index segments were finished (their index written, 0x8000 first); -1: all.
    int finishedSegments = -1;
    // Each index chunk after the room at 0x8000 follows the frames it lists, written once its
    // segment is complete; the room at 0x8000 is filled only when the file is finished.
    bool indexAfter = false;
    // The last index chunk written lists the frames of the one before it again.
    bool repeatIndex = false;
    bool finished = true; // header counts, super index and legacy index written at the end
    bool zeroHeader = false; // the header past the first 224 bytes was never written
    uint64_t cutBytes = 0; // bytes lost from the end
    FixedPads pads = FixedPads::None;
    bool moviAt7FE0 = false; // the movi list right after the header, else at 0x7FF4
};

// 70 frames in segments of 20 whose index chunks follow them, the third listing the second's
// frames again: a repair would index those twice.
inline FixedSpec FramesIndexedTwice()
{
    return { .frames = 70,
             .perIndex = 20,
             .finishedSegments = 3,
             .indexAfter = true,
             .repeatIndex = true,
             .finished = false };
}

// A chunk the writer put down from 0xFE00 on, in file order; id "" marks zero pad bytes of 8 or
// more that belong to no chunk (size: what a JUNK chunk over them would have).
struct FixedChunk
{
    uint64_t offset = 0;
    uint32_t size = 0;
    std::string id;
};

// Writes a file in that layout, before the cut; gives what it wrote in `written`.
void WriteFixedFile(const fs::path &path, const FixedSpec &spec,
                    std::vector<FixedChunk> *written = nullptr);

// ---- GStreamer avimux recordings ------------------------------------------------------------
constexpr int kGop = 10; // key frame every kGop frames

struct RecordSpec
{
    bool audio = true;
    uint64_t killAtBytes = 0; // SIGKILL the recorder once the file is this long (0: run to EOS)
    uint64_t fileSizeLimit = 0; // RLIMIT_FSIZE of the recorder: a full disk
    int frames = 60; // when it runs to the end
};

// Records with gst-launch-1.0 in a child process; false when the recording did not happen.
bool RecordAvimux(const fs::path &path, const RecordSpec &spec);

// An OpenDML file as avimux leaves it when killed in its second RIFF: raw frames of
// `frameBytes`, the first RIFF complete (ix00, idx1), the AVIX with sizes never written.
// The frame data is left as holes, so the file takes no disk space.
void WriteSparseBigFile(const fs::path &path, uint32_t frameBytes, int framesFirst,
                        int framesSecond, uint64_t cutInLastFrame);

} // namespace mendrel::test
