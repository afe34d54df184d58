// When a buffer was captured, as the pipeline's running time the gates are switched in: the
// middle of its span, so that a buffer belongs to the side of a switch that holds most of it.
#pragma once

#include <gst/base/gstbasetransform.h>

#include <cstdint>
#include <optional>
#include <utility>

namespace vorlund {

inline std::optional<std::int64_t> CaptureTime(GstBaseTransform *trans, GstBuffer *buf)
{
    const GstClockTime pts = GST_BUFFER_PTS(buf);
    if (!GST_CLOCK_TIME_IS_VALID(pts) || trans->segment.format != GST_FORMAT_TIME)
        return std::nullopt;
    const GstClockTime duration = GST_BUFFER_DURATION(buf);
    const GstClockTime middle
        = GST_CLOCK_TIME_IS_VALID(duration) && duration / 2 <= G_MAXUINT64 - pts
        ? pts + duration / 2
        : pts;
    const GstClockTime t = gst_segment_to_running_time(&trans->segment, GST_FORMAT_TIME, middle);
    if (!GST_CLOCK_TIME_IS_VALID(t) || t > GstClockTime(G_MAXINT64))
        return std::nullopt;
    return std::int64_t(t);
}

// The running times a buffer's capture spans; none without a start and a duration.
inline std::optional<std::pair<std::int64_t, std::int64_t>> CaptureSpan(GstBaseTransform *trans,
                                                                        GstBuffer *buf)
{
    const GstClockTime pts = GST_BUFFER_PTS(buf);
    const GstClockTime duration = GST_BUFFER_DURATION(buf);
    if (!GST_CLOCK_TIME_IS_VALID(pts) || !GST_CLOCK_TIME_IS_VALID(duration)
        || trans->segment.format != GST_FORMAT_TIME || duration > G_MAXUINT64 - pts)
        return std::nullopt;
    const GstClockTime start = gst_segment_to_running_time(&trans->segment, GST_FORMAT_TIME, pts);
    const GstClockTime stop
        = gst_segment_to_running_time(&trans->segment, GST_FORMAT_TIME, pts + duration);
    if (!GST_CLOCK_TIME_IS_VALID(start) || !GST_CLOCK_TIME_IS_VALID(stop) || stop < start
        || stop > GstClockTime(G_MAXINT64))
        return std::nullopt;
    return std::pair { std::int64_t(start), std::int64_t(stop) };
}

// The "gate-time" property both recording gates have: the running time of capture from which
// their next gate change applies.
inline GParamSpec *GateTimeParamSpec()
{
    return g_param_spec_uint64(
        "gate-time", "Gate time",
        "Running time (ns) of capture from which the next gate change applies (none: at once)", 0,
        G_MAXUINT64, GST_CLOCK_TIME_NONE,
        GParamFlags(G_PARAM_WRITABLE | G_PARAM_STATIC_STRINGS | GST_PARAM_MUTABLE_PLAYING));
}

inline std::optional<std::int64_t> GateTimeOf(const GValue *value)
{
    const guint64 at = g_value_get_uint64(value);
    if (!GST_CLOCK_TIME_IS_VALID(at) || at > guint64(G_MAXINT64))
        return std::nullopt;
    return std::int64_t(at);
}

} // namespace vorlund
