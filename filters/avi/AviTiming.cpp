#include "AviTiming.h"

#include <algorithm>

namespace vorlund::avi {

std::int64_t StreamTiming::Open(Span &span)
{
    if (!offsetSet) {
        // A first open period that began before anything was dropped keeps its own times;
        // it still counts as joined, so the next opening continues after it.
        offset = 0;
        if (base != 0)
            offset = std::max<std::int64_t>(0, SaturatingAdd(SaturatingSub(gap, base), span.start));
        offsetSet = true;
    }
    lastStop = std::max<std::int64_t>(0, SaturatingSub(span.stop, offset));
    span.start = std::max<std::int64_t>(0, SaturatingSub(span.start, offset));
    span.stop = lastStop;
    return offset;
}

void StreamTiming::Closed(const Span &span)
{
    if (offsetSet) {
        base = lastStop;
        offsetSet = false;
    } else if (lastStop == 0) {
        gap = SaturatingSub(base, span.start);
        base = span.stop;
    }
}

void MediaTiming::Open(Span &span)
{
    if (!offsetSet) {
        offset = base != 0 ? SaturatingSub(span.start, base) : 0;
        offsetSet = true;
    }
    lastStop = std::max<std::int64_t>(0, SaturatingSub(span.stop, offset));
    span.start = std::max<std::int64_t>(0, SaturatingSub(span.start, offset));
    span.stop = lastStop;
}

void MediaTiming::Closed(const Span &span)
{
    if (offsetSet) {
        base = lastStop;
        offsetSet = false;
    } else if (lastStop == 0) {
        base = span.stop;
    }
}

} // namespace vorlund::avi
