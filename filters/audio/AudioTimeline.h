// Re-timing of the audio gate: the buffers it lets through form one timeline without the holes
// that closed periods would leave. Streaming thread only.
#pragma once

#include "Span.h"

#include <cstdint>

namespace vorlund::audio {

// One axis of the timeline. While nothing has been passed, `base` follows the stop of each
// dropped buffer, so the first open period keeps its own times; after an open period it is the
// re-timed stop of that period's last buffer, and the first buffer of the next period is moved
// to start exactly there. No clamp and no spacing term: the offset may be negative.
class AudioTimeline
{
public:
    // Re-times a buffer that the gate passes.
    void Open(Span &span);
    // Accounts for a buffer that the gate drops.
    void Closed(const Span &span);

    std::int64_t lastStart() const { return lastStart_; }
    std::int64_t lastStop() const { return lastStop_; }

private:
    std::int64_t base_ = 0;
    std::int64_t lastStart_ = 0;
    std::int64_t lastStop_ = 0;
    std::int64_t offset_ = 0; // subtracted from passed buffers' times
    bool offsetSet_ = false; // `offset_` holds for the current open period
    bool passed_ = false; // something has been passed
};

} // namespace vorlund::audio
