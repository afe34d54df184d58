#include "FormatChoices.h"

#include <algorithm>
#include <cstring>

namespace vorlund {

namespace {

constexpr FrameSize kCommonSizes[] = { { 160, 120 }, { 176, 144 }, { 320, 240 }, { 352, 288 },
                                       { 640, 480 }, { 704, 576 }, { 720, 480 }, { 720, 576 } };
constexpr int kCommonRates[] = { 30, 25, 15, 10, 5 };

const Guid kKnownSubtypes[]
    = { kSubtypeRgb24, kSubtypeRgb32, kSubtypeRgb565, kSubtypeRgb555, kSubtypeYuy2, kSubtypeUyvy,
        kSubtypeYvyu,  kSubtypeI420,  kSubtypeYv12,   kSubtypeNv12,   kSubtypeMjpg, kSubtypeDvsd };

std::string NameOf(const GstStructure *s)
{
    const char *format = gst_structure_get_string(s, "format");
    if (format)
        return format;
    const std::string media = gst_structure_get_name(s);
    if (media == "image/jpeg")
        return "MJPG";
    if (media == "video/x-dv")
        return "DV";
    return media;
}

// Whether `value` (an int, a range or a list) admits n.
bool Admits(const GValue *value, int n)
{
    if (!value)
        return true;
    if (G_VALUE_HOLDS_INT(value))
        return g_value_get_int(value) == n;
    if (GST_VALUE_HOLDS_INT_RANGE(value)) {
        const int lo = gst_value_get_int_range_min(value);
        const int hi = gst_value_get_int_range_max(value);
        const int step = std::max(1, gst_value_get_int_range_step(value));
        return n >= lo && n <= hi && (n - lo) % step == 0;
    }
    if (GST_VALUE_HOLDS_LIST(value)) {
        for (guint i = 0; i < gst_value_list_get_size(value); ++i) {
            if (Admits(gst_value_list_get_value(value, i), n))
                return true;
        }
    }
    return false;
}

void AddSizes(const GstStructure *s, std::vector<FrameSize> &sizes)
{
    const GValue *w = gst_structure_get_value(s, "width");
    const GValue *h = gst_structure_get_value(s, "height");
    if (!w || !h)
        return;
    auto add = [&sizes](FrameSize size) {
        if (size.width >= 1 && size.width <= kMaxCaptureWidth && size.height >= 1
            && size.height <= kMaxCaptureHeight
            && std::find(sizes.begin(), sizes.end(), size) == sizes.end())
            sizes.push_back(size);
    };
    if (G_VALUE_HOLDS_INT(w) && G_VALUE_HOLDS_INT(h)) {
        add({ g_value_get_int(w), g_value_get_int(h) });
        return;
    }
    for (const FrameSize &size : kCommonSizes) {
        if (Admits(w, size.width) && Admits(h, size.height))
            add(size);
    }
}

void AddRate(const GValue *value, std::vector<int64_t> &durations)
{
    auto add = [&durations](int num, int den) {
        const int64_t d = FrameDurationForRate(num, den);
        if (d >= kMinFrameDuration && d <= kMaxFrameDuration
            && std::find(durations.begin(), durations.end(), d) == durations.end())
            durations.push_back(d);
    };
    if (GST_VALUE_HOLDS_FRACTION(value)) {
        add(gst_value_get_fraction_numerator(value), gst_value_get_fraction_denominator(value));
    } else if (GST_VALUE_HOLDS_FRACTION_RANGE(value)) {
        const GValue *lo = gst_value_get_fraction_range_min(value);
        const GValue *hi = gst_value_get_fraction_range_max(value);
        for (int rate : kCommonRates) {
            GValue v = G_VALUE_INIT;
            g_value_init(&v, GST_TYPE_FRACTION);
            gst_value_set_fraction(&v, rate, 1);
            if (gst_value_compare(lo, &v) != GST_VALUE_GREATER_THAN
                && gst_value_compare(hi, &v) != GST_VALUE_LESS_THAN)
                add(rate, 1);
            g_value_unset(&v);
        }
    } else if (GST_VALUE_HOLDS_LIST(value)) {
        for (guint i = 0; i < gst_value_list_get_size(value); ++i)
            AddRate(gst_value_list_get_value(value, i), durations);
    }
}

} // namespace

int64_t FrameDurationForRate(int num, int den)
{
    if (num <= 0 || den <= 0)
        return 0;
    return int64_t(10'000'000) * den / num;
}

std::optional<Guid> SubtypeForStructure(const GstStructure *s)
{
    if (!s)
        return std::nullopt;
    const char *media = gst_structure_get_name(s);
    const char *format = gst_structure_get_string(s, "format");
    for (const Guid &guid : kKnownSubtypes) {
        const std::optional<SubtypeCaps> caps = CapsForSubtype(guid);
        if (!caps || std::strcmp(caps->media, media) != 0)
            continue;
        if (!caps->format || (format && std::strcmp(caps->format, format) == 0))
            return guid;
    }
    return std::nullopt;
}

std::vector<FormatOption> FormatOptions(const GstCaps *offered)
{
    std::vector<FormatOption> options;
    if (!offered || gst_caps_is_any(offered))
        return options;
    CapsRef limited = LimitToMaxSize(offered);
    for (guint i = 0; i < gst_caps_get_size(limited.get()); ++i) {
        const GstStructure *s = gst_caps_get_structure(limited.get(), i);
        // A format list stands for one structure per format.
        const GValue *formats = gst_structure_get_value(s, "format");
        std::vector<GstStructure *> split;
        if (formats && GST_VALUE_HOLDS_LIST(formats)) {
            for (guint f = 0; f < gst_value_list_get_size(formats); ++f) {
                GstStructure *one = gst_structure_copy(s);
                gst_structure_set_value(one, "format", gst_value_list_get_value(formats, f));
                split.push_back(one);
            }
        } else {
            split.push_back(gst_structure_copy(s));
        }
        for (GstStructure *one : split) {
            if (const std::optional<Guid> subtype = SubtypeForStructure(one)) {
                auto it = std::find_if(options.begin(), options.end(), [&](const FormatOption &o) {
                    return o.subtype == *subtype;
                });
                if (it == options.end()) {
                    options.push_back({ *subtype, NameOf(one), {}, {} });
                    it = options.end() - 1;
                }
                AddSizes(one, it->sizes);
                if (const GValue *rate = gst_structure_get_value(one, "framerate"))
                    AddRate(rate, it->frameDurations);
            }
            gst_structure_free(one);
        }
    }
    for (FormatOption &option : options)
        std::sort(option.frameDurations.begin(), option.frameDurations.end());
    return options;
}

std::optional<StoredFormat> FormatFromCaps(const GstCaps *caps)
{
    if (!caps || gst_caps_is_any(caps) || gst_caps_get_size(caps) == 0)
        return std::nullopt;
    const GstStructure *s = gst_caps_get_structure(caps, 0);
    const std::optional<Guid> subtype = SubtypeForStructure(s);
    if (!subtype)
        return std::nullopt;
    StoredFormat format;
    format.subtype = *subtype;
    int width = 0, height = 0;
    if (gst_structure_get_int(s, "width", &width) && gst_structure_get_int(s, "height", &height)) {
        format.width = width;
        format.height = height;
    }
    int num = 0, den = 1;
    format.frameDuration = gst_structure_get_fraction(s, "framerate", &num, &den)
        ? FrameDurationForRate(num, den)
        : 0;
    return format;
}

FormatPageValues FormatPageFor(const std::vector<FormatOption> &options, const StoredFormat &stored)
{
    FormatPageValues values;
    values.options = options;
    values.size = { stored.width, std::abs(stored.height) };
    values.frameDuration = stored.frameDuration;
    for (size_t i = 0; i < options.size(); ++i) {
        if (options[i].subtype == stored.subtype)
            values.option = int(i);
    }
    return values;
}

} // namespace vorlund
