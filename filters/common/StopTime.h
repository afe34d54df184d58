// The stop time of a buffer that carries a start but no duration. Durations are optional in
// GStreamer: variable-rate cameras and some audio sources leave them out, and a gate that
// re-times only complete intervals would then leave holes in the recording.
#pragma once

#include "Span.h"

#include <cstdint>
#include <optional>

namespace vorlund {

// Streaming thread only. Fed every buffer that has a start time, in stream order.
class StopTimeFill
{
public:
    // The stop of a buffer starting at `start`: start + `duration` when the buffer has one;
    // else start + `nominal` when the format gives one (> 0: a frame at the negotiated rate,
    // the buffer's samples at the sample rate); else start + the spacing of the starts of the
    // two buffers before it. Nothing when none of these is known.
    std::optional<std::int64_t> Stop(std::int64_t start, std::optional<std::int64_t> duration,
                                     std::int64_t nominal)
    {
        std::optional<std::int64_t> length = duration;
        if (!length && nominal > 0)
            length = nominal;
        if (!length && count_ >= 2 && latest_ > earlier_)
            length = latest_ - earlier_;
        earlier_ = latest_;
        latest_ = start;
        if (count_ < 2)
            ++count_;
        if (!length || *length < 0)
            return std::nullopt;
        return SaturatingAdd(start, *length);
    }

private:
    std::int64_t earlier_ = 0; // start of the buffer before the latest one
    std::int64_t latest_ = 0; // start of the latest buffer
    int count_ = 0; // buffers seen, up to 2
};

} // namespace vorlund
