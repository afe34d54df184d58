// Plays a file through GStreamer's avidemux and reports what came out.
#pragma once

#include <cstdint>
#include <filesystem>

namespace mendrel::test {

struct DemuxResult
{
    bool finished = false; // reached EOS without an error
    uint64_t videoBuffers = 0;
    uint64_t videoKeys = 0;
    uint64_t audioBuffers = 0;
    // With a seek to the middle: whether it was taken, the duration and the first video time.
    bool seeked = false;
    uint64_t duration = 0;
    uint64_t firstVideoAfterSeek = 0;
};

DemuxResult Demux(const std::filesystem::path &path, bool seekToMiddle);

// The video packets ffprobe reads from the file (a second, unrelated reader); -1 when ffprobe
// did not run or reported an error.
int64_t FfprobeVideoPackets(const std::filesystem::path &path);
// The video frames ffprobe decodes from the file; -1 as above.
int64_t FfprobeVideoFrames(const std::filesystem::path &path);

} // namespace mendrel::test
