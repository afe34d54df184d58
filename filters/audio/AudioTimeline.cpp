#include "AudioTimeline.h"

#include <limits>

namespace vorlund::audio {

namespace {

// Times come from upstream and may be anything.
std::int64_t SaturatingSub(std::int64_t a, std::int64_t b)
{
    std::int64_t r;
    if (__builtin_sub_overflow(a, b, &r))
        return b < 0 ? std::numeric_limits<std::int64_t>::max()
                     : std::numeric_limits<std::int64_t>::min();
    return r;
}

} // namespace

void AudioTimeline::Open(Interval &interval)
{
    if (!offsetSet_) {
        // The first buffer ever passed keeps its times; the period still counts as passed,
        // so the next opening joins on to it.
        offset_ = base_ != 0 ? SaturatingSub(interval.start, base_) : 0;
        offsetSet_ = true;
    }
    lastStart_ = SaturatingSub(interval.start, offset_);
    lastStop_ = SaturatingSub(interval.stop, offset_);
    passed_ = true;
    interval = { lastStart_, lastStop_ };
}

void AudioTimeline::Closed(const Interval &interval)
{
    if (offsetSet_) {
        base_ = lastStop_;
        offsetSet_ = false;
    } else if (!passed_) {
        base_ = interval.stop;
    }
}

} // namespace vorlund::audio
