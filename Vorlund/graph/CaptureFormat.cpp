#include "CaptureFormat.h"

#include "ErrorLog.h"
#include "GraphUtils.h"

#include <cmath>
#include <cstdlib>
#include <numeric>
#include <set>
#include <string>

namespace vorlund {

std::optional<SubtypeCaps> CapsForSubtype(const Guid &subtype)
{
    struct Row
    {
        Guid guid;
        SubtypeCaps caps;
    };
    // RGB24 is stored bottom-up BGR; GStreamer's BGR is the same byte order.
    static const Row rows[] = {
        { kSubtypeRgb24, { "video/x-raw", "BGR", true } },
        { kSubtypeRgb32, { "video/x-raw", "BGRx", true } },
        { kSubtypeRgb565, { "video/x-raw", "RGB16", true } },
        { kSubtypeRgb555, { "video/x-raw", "RGB15", true } },
        { kSubtypeYuy2, { "video/x-raw", "YUY2", true } },
        { kSubtypeYuyv, { "video/x-raw", "YUY2", true } },
        { kSubtypeUyvy, { "video/x-raw", "UYVY", true } },
        { kSubtypeYvyu, { "video/x-raw", "YVYU", true } },
        { kSubtypeI420, { "video/x-raw", "I420", true } },
        { kSubtypeIyuv, { "video/x-raw", "I420", true } },
        { kSubtypeYv12, { "video/x-raw", "YV12", true } },
        { kSubtypeNv12, { "video/x-raw", "NV12", true } },
        { kSubtypeMjpg, { "image/jpeg", nullptr, true } },
        { kSubtypeDvsd, { "video/x-dv", nullptr, false } },
        { kSubtypeDvsl, { "video/x-dv", nullptr, false } },
    };
    for (const Row &row : rows) {
        if (row.guid == subtype)
            return row.caps;
    }
    return std::nullopt;
}

FrameRate FrameRateForDuration(int64_t duration)
{
    if (duration <= 0)
        return { 0, 1 };
    constexpr int64_t second = 10'000'000;
    const double fps = double(second) / double(duration);
    auto close = [duration](double exactDuration) {
        return std::fabs(exactDuration - double(duration)) <= 1.0;
    };
    const int64_t whole = std::llround(fps);
    if (whole > 0 && whole < 100000 && close(double(second) / double(whole)))
        return { int(whole), 1 };
    const int64_t ntsc = std::llround(fps * 1.001);
    if (ntsc > 0 && ntsc < 100000 && close(double(second) * 1001.0 / (double(ntsc) * 1000.0)))
        return { int(ntsc * 1000), 1001 };
    const int64_t g = std::gcd(second, duration);
    const int64_t num = second / g, den = duration / g;
    if (den > INT32_MAX)
        return { int(std::llround(fps * 1000.0)), 1000 };
    return { int(num), int(den) };
}

namespace {

GstStructure *BoundFor(const char *media, bool sized)
{
    GstStructure *s = gst_structure_new_empty(media);
    if (sized) {
        gst_structure_set(s, "width", GST_TYPE_INT_RANGE, 1, kMaxCaptureWidth, "height",
                          GST_TYPE_INT_RANGE, 1, kMaxCaptureHeight, nullptr);
    }
    return s;
}

bool SetRangeToRate(GQuark field, GValue *value, gpointer data)
{
    if (field == g_quark_from_static_string("framerate") && GST_VALUE_HOLDS_FRACTION_RANGE(value)) {
        const FrameRate *rate = static_cast<const FrameRate *>(data);
        GValue fixed = G_VALUE_INIT;
        g_value_init(&fixed, GST_TYPE_FRACTION);
        gst_value_set_fraction(&fixed, rate->num, rate->den);
        if (gst_value_compare(gst_value_get_fraction_range_min(value), &fixed)
                != GST_VALUE_GREATER_THAN
            && gst_value_compare(gst_value_get_fraction_range_max(value), &fixed)
                != GST_VALUE_LESS_THAN) {
            g_value_unset(value);
            *value = fixed;
        } else {
            g_value_unset(&fixed);
        }
    }
    return true;
}

} // namespace

CapsRef LimitToMaxSize(const GstCaps *offered)
{
    GstCaps *bound = gst_caps_new_empty();
    if (!offered || gst_caps_is_any(offered)) {
        gst_caps_append_structure(bound, BoundFor("video/x-raw", true));
        gst_caps_append_structure(bound, BoundFor("image/jpeg", true));
        gst_caps_append_structure(bound, BoundFor("video/x-dv", false));
        return CapsRef(bound, RefMode::HasRef);
    }
    std::set<std::string> seen;
    for (guint i = 0; i < gst_caps_get_size(offered); ++i) {
        const GstStructure *s = gst_caps_get_structure(offered, i);
        const bool sized
            = gst_structure_has_field(s, "width") || gst_structure_has_field(s, "height");
        const std::string key = std::string(gst_structure_get_name(s)) + (sized ? "/sized" : "");
        if (seen.insert(key).second)
            gst_caps_append_structure(bound, BoundFor(gst_structure_get_name(s), sized));
    }
    CapsRef limited(
        gst_caps_intersect_full(const_cast<GstCaps *>(offered), bound, GST_CAPS_INTERSECT_FIRST),
        RefMode::HasRef);
    gst_caps_unref(bound);
    return limited;
}

CaptureCaps ComputeCaptureCaps(const StoredFormat &stored, const GstCaps *offered)
{
    CaptureCaps out;
    out.caps = LimitToMaxSize(offered);

    const std::optional<SubtypeCaps> sub = CapsForSubtype(stored.subtype);
    if (!sub)
        return out;

    CapsRef wanted(gst_caps_new_empty_simple(sub->media), RefMode::HasRef);
    GstStructure *s = gst_caps_get_structure(wanted.get(), 0);
    if (sub->format)
        gst_structure_set(s, "format", G_TYPE_STRING, sub->format, nullptr);
    if (offered && !gst_caps_is_any(offered) && !gst_caps_can_intersect(wanted.get(), offered))
        return out; // the device has no such subtype

    FrameRate rate;
    if (sub->sized) {
        const int64_t width = stored.width;
        const int64_t height = std::llabs(int64_t(stored.height));
        if (width < 1 || width > kMaxCaptureWidth || height < 1 || height > kMaxCaptureHeight) {
            out.result = FormatResult::Refused;
            return out;
        }
        gst_structure_set(s, "width", G_TYPE_INT, int(width), "height", G_TYPE_INT, int(height),
                          nullptr);
        const int64_t d = stored.frameDuration;
        if (d >= kMinFrameDuration && d <= kMaxFrameDuration) {
            // Devices state exact rates; stored durations are truncated to 100 ns units.
            gst_structure_set(s, "framerate", GST_TYPE_FRACTION_RANGE, 10'000'000, int(d + 1),
                              10'000'000, int(d - 1), nullptr);
            rate = FrameRateForDuration(d);
        }
    }

    // The device's own order of preference is kept.
    CapsRef result(gst_caps_intersect_full(out.caps.get(), wanted.get(), GST_CAPS_INTERSECT_FIRST),
                   RefMode::HasRef);
    if (gst_caps_is_empty(result.get())) {
        out.result = FormatResult::Refused;
        return out;
    }
    if (rate.num > 0) {
        result = CapsRef(gst_caps_make_writable(result.release()), RefMode::HasRef);
        for (guint i = 0; i < gst_caps_get_size(result.get()); ++i) {
            gst_structure_map_in_place(
                gst_caps_get_structure(result.get(), i),
                [](GQuark f, GValue *v, gpointer d) -> gboolean { return SetRangeToRate(f, v, d); },
                &rate);
        }
    }
    out.result = FormatResult::Applied;
    out.caps = std::move(result);
    return out;
}

FormatResult SetFormat(GstElement *capture, GstElement *capsfilter, const StoredFormat &stored,
                       const ErrorLog *log)
{
    if (!capture || !capsfilter)
        return FormatResult::NotOffered;
    GstState state = GST_STATE_NULL;
    gst_element_get_state(capture, &state, nullptr, 0);
    if (state < GST_STATE_READY) {
        // A device that cannot be opened still answers with its template formats.
        gst_element_set_state(capture, GST_STATE_READY);
    }
    CapsRef offered;
    PadRef pad(gst_element_get_static_pad(capture, "src"), RefMode::HasRef);
    if (pad)
        offered = CapsRef(gst_pad_query_caps(pad.get(), nullptr), RefMode::HasRef);

    CaptureCaps caps = ComputeCaptureCaps(stored, offered.get());
    g_object_set(capsfilter, "caps", caps.caps.get(), nullptr);
    if (caps.result == FormatResult::Refused && log)
        log->AppendErrorLog("SetFormat() failed.");
    return caps.result;
}

// The caps the capture format's filter settles on: the stored format where the device has it,
// else what the device offers; one fixed set, nearest the stored size and rate.
CapsRef FixCaptureCaps(GstElement *capture, GstElement *capsfilter, const StoredFormat &stored)
{
    CapsRef wanted = CapsOf(capsfilter);
    PadRef pad(gst_element_get_static_pad(capture, "src"), RefMode::HasRef);
    CapsRef offered;
    if (pad)
        offered = CapsRef(gst_pad_query_caps(pad.get(), nullptr), RefMode::HasRef);
    CapsRef chosen;
    if (wanted && offered)
        chosen = CapsRef(gst_caps_intersect(wanted.get(), offered.get()), RefMode::HasRef);
    if ((!chosen || gst_caps_is_empty(chosen.get())) && offered && !gst_caps_is_any(offered.get()))
        chosen = offered; // larger than the limits: scaled down behind the source
    if (!chosen || gst_caps_is_empty(chosen.get()) || gst_caps_is_any(chosen.get()))
        return wanted;
    GstCaps *caps = gst_caps_truncate(gst_caps_copy(chosen.get()));
    GstStructure *s = gst_caps_get_structure(caps, 0);
    if (gst_structure_has_field(s, "width"))
        gst_structure_fixate_field_nearest_int(s, "width", stored.width);
    if (gst_structure_has_field(s, "height"))
        gst_structure_fixate_field_nearest_int(s, "height",
                                               stored.height < 0 ? -stored.height : stored.height);
    if (gst_structure_has_field(s, "framerate")) {
        const FrameRate rate
            = stored.frameDuration >= kMinFrameDuration && stored.frameDuration <= kMaxFrameDuration
            ? FrameRateForDuration(stored.frameDuration)
            : FrameRate { 30, 1 };
        gst_structure_fixate_field_nearest_fraction(s, "framerate", rate.num, rate.den);
    }
    CapsRef fixed(gst_caps_fixate(caps), RefMode::HasRef);
    g_object_set(capsfilter, "caps", fixed.get(), nullptr);
    return fixed;
}

} // namespace vorlund
