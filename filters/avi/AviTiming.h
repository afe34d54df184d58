// Re-timing of the recording gate: the buffers it lets through form one continuous timeline
// although it drops everything while closed. Streaming thread only.
#pragma once

#include "Span.h"

#include <cstdint>

namespace vorlund::avi {

using vorlund::SaturatingAdd;
using vorlund::SaturatingSub;
using vorlund::Span;

// Stream times (PTS and PTS + duration). While nothing has been passed, the closed gate
// tracks the stop of the latest dropped buffer (`base`) and the spacing between dropped
// buffers (`gap`); each opening then joins the first passed buffer right after the last
// passed one with that spacing.
struct StreamTiming
{
    std::int64_t base;
    std::int64_t lastStop; // re-timed stop of the last passed buffer, 0: nothing passed yet
    std::int64_t offset; // subtracted from passed buffers' times
    std::int64_t gap;
    bool offsetSet; // `offset` holds for the current open period

    // Re-times a buffer the gate passes; returns the amount subtracted, for the DTS.
    std::int64_t Open(Span &span);
    // Accounts for a buffer the gate drops.
    void Closed(const Span &span);
};

// Media times (buffer offset and offset end): the same scheme without the spacing.
struct MediaTiming
{
    std::int64_t base;
    std::int64_t lastStop;
    std::int64_t offset;
    bool offsetSet;

    void Open(Span &span);
    void Closed(const Span &span);
};

} // namespace vorlund::avi
