#include "AudioTimeline.h"

namespace vorlund::audio {

void AudioTimeline::Open(Span &span)
{
    if (!offsetSet_) {
        // The first buffer ever passed keeps its times; the period still counts as passed,
        // so the next opening joins on to it.
        offset_ = base_ != 0 ? SaturatingSub(span.start, base_) : 0;
        offsetSet_ = true;
    }
    lastStart_ = SaturatingSub(span.start, offset_);
    lastStop_ = SaturatingSub(span.stop, offset_);
    passed_ = true;
    span = { lastStart_, lastStop_ };
}

void AudioTimeline::Closed(const Span &span)
{
    if (offsetSet_) {
        base_ = lastStop_;
        offsetSet_ = false;
    } else if (!passed_) {
        base_ = span.stop;
    }
}

} // namespace vorlund::audio
