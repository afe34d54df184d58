#include "gstvorlundavi.h"

#include "AviStamp.h"
#include "AviTiming.h"
#include "CaptureTime.h"
#include "GateSchedule.h"
#include "StopTime.h"

#include <gst/video/video.h>

#include <atomic>
#include <ctime>
#include <new>
#include <optional>

GST_DEBUG_CATEGORY_STATIC(avi_debug);
#define GST_CAT_DEFAULT avi_debug

enum {
    PROP_0,
    PROP_GATE,
    PROP_GATE_TIME,
    PROP_STAMP,
    PROP_STAMP_AT_TOP,
    PROP_ACCEPT_INTERLEAVED,
    PROP_PASS_THROUGH,
    PROP_HOLD_MODE,
    PROP_REQUIRE_VIDEO_INFO,
    PROP_LAST_START_TIME,
};

enum {
    SIGNAL_RESTORE_GATE,
    LAST_SIGNAL,
};

// Largest BGR frame taken: 720 x 576 x 3 bytes, in whatever shape. YUY2 has no limit; what
// reaches the motion detector is bounded by the server's capsfilter, not here.
#define MAX_BGR_FRAME_BYTES 1244160

#define RAW_CAPS                                                                                   \
    "video/x-raw, format=(string){ BGR, YUY2 }, width=(int)[ 1, max ], height=(int)[ 1, max ]"
#define DV_CAPS "video/x-dv, systemstream=(boolean)true"

static GstStaticPadTemplate sink_template = GST_STATIC_PAD_TEMPLATE(
    "sink", GST_PAD_SINK, GST_PAD_ALWAYS, GST_STATIC_CAPS(RAW_CAPS "; " DV_CAPS));
static GstStaticPadTemplate src_template = GST_STATIC_PAD_TEMPLATE(
    "src", GST_PAD_SRC, GST_PAD_ALWAYS, GST_STATIC_CAPS(RAW_CAPS "; " DV_CAPS));

enum AviInput {
    AVI_INPUT_NONE,
    AVI_INPUT_BGR,
    AVI_INPUT_YUY2,
    AVI_INPUT_DV,
};

struct _VorlundAvi
{
    GstBaseTransform parent;

    // Settings: written under the object lock, read by the streaming thread with atomic loads.
    // They are accessed atomically under the lock too, which keeps ThreadSanitizer (blind to
    // GLib's own mutexes) quiet.
    gint gate; // the newest request in force; 0 = closed: a new element drops everything
    gint last_request; // last value given to the gate or pass-through
    gint stamp_on;
    gint stamp_at_top;
    gint accept_interleaved;
    gint pass_through;
    gint hold_mode;
    gint require_video_info;

    // Written by the streaming thread, read by the property getter.
    gint64 last_closed_start;

    // The gate by capture time (its own lock; constructed in init, destroyed in finalize).
    vorlund::GateSchedule schedule;

    // Streaming thread only. Never reset: the timeline carries over stops and restarts.
    vorlund::avi::StreamTiming stream;
    vorlund::avi::MediaTiming media;
    vorlund::StopTimeFill stops; // for buffers that come without a duration
    gint64 frame_duration; // from the negotiated frame rate; 0 when it gives none
    gboolean dropped_since_pass;
    AviInput input;
    GstVideoInfo info;
    vorlund::avi::StampImage stamp;
};

static guint avi_signals[LAST_SIGNAL];

G_DEFINE_TYPE_WITH_CODE(VorlundAvi, vorlund_avi, GST_TYPE_BASE_TRANSFORM,
                        GST_DEBUG_CATEGORY_INIT(avi_debug, "vorlundavi", 0, "recording gate"));
GST_ELEMENT_REGISTER_DEFINE(vorlundavi, "vorlundavi", GST_RANK_NONE, VORLUND_TYPE_AVI);

static gint64 load_i64(gint64 *p)
{
    return std::atomic_ref<gint64>(*p).load(std::memory_order_relaxed);
}
static void store_i64(gint64 *p, gint64 v)
{
    std::atomic_ref<gint64>(*p).store(v, std::memory_order_relaxed);
}

// --- caps ---------------------------------------------------------------------------------

// What the element takes right now: DV only while accept-interleaved is set.
static GstCaps *allowed_caps(VorlundAvi *self)
{
    static GstStaticCaps raw = GST_STATIC_CAPS(RAW_CAPS);
    static GstStaticCaps all = GST_STATIC_CAPS(RAW_CAPS "; " DV_CAPS);
    return gst_static_caps_get(g_atomic_int_get(&self->accept_interleaved) ? &all : &raw);
}

// The full test a caps set must pass, beyond the template's ranges.
static gboolean caps_acceptable(VorlundAvi *self, GstCaps *caps, AviInput *input,
                                GstVideoInfo *info)
{
    if (!gst_caps_is_fixed(caps))
        return FALSE;
    GstCaps *allowed = allowed_caps(self);
    const gboolean fits = gst_caps_is_subset(caps, allowed);
    gst_caps_unref(allowed);
    if (!fits)
        return FALSE;
    const GstStructure *s = gst_caps_get_structure(caps, 0);
    if (gst_structure_has_name(s, "video/x-dv")) {
        *input = AVI_INPUT_DV;
        return TRUE;
    }
    if (!gst_video_info_from_caps(info, caps))
        return FALSE;
    // The full picture description includes the frame rate.
    if (g_atomic_int_get(&self->require_video_info) && !gst_structure_has_field(s, "framerate"))
        return FALSE;
    switch (GST_VIDEO_INFO_FORMAT(info)) {
    case GST_VIDEO_FORMAT_BGR:
        if (gint64(GST_VIDEO_INFO_WIDTH(info)) * GST_VIDEO_INFO_HEIGHT(info) * 3
            > MAX_BGR_FRAME_BYTES)
            return FALSE;
        *input = AVI_INPUT_BGR;
        return TRUE;
    case GST_VIDEO_FORMAT_YUY2:
        *input = AVI_INPUT_YUY2;
        return TRUE;
    default:
        return FALSE;
    }
}

static GstCaps *vorlund_avi_transform_caps(GstBaseTransform *trans, GstPadDirection, GstCaps *caps,
                                           GstCaps *filter)
{
    GstCaps *allowed = allowed_caps(VORLUND_AVI(trans));
    GstCaps *result = gst_caps_intersect(caps, allowed);
    gst_caps_unref(allowed);
    if (filter) {
        GstCaps *tmp = gst_caps_intersect_full(filter, result, GST_CAPS_INTERSECT_FIRST);
        gst_caps_unref(result);
        result = tmp;
    }
    return result;
}

static gboolean vorlund_avi_accept_caps(GstBaseTransform *trans, GstPadDirection direction,
                                        GstCaps *caps)
{
    AviInput input = AVI_INPUT_NONE;
    GstVideoInfo info;
    if (!caps_acceptable(VORLUND_AVI(trans), caps, &input, &info)) {
        GST_DEBUG_OBJECT(trans, "refusing %" GST_PTR_FORMAT, caps);
        return FALSE;
    }
    return GST_BASE_TRANSFORM_CLASS(vorlund_avi_parent_class)->accept_caps(trans, direction, caps);
}

// One frame at the caps' rate (DV caps may carry one too); 0 for 0/1 or no rate.
static gint64 frame_duration(GstCaps *caps)
{
    gint num = 0, den = 0;
    if (!gst_structure_get_fraction(gst_caps_get_structure(caps, 0), "framerate", &num, &den)
        || num <= 0 || den <= 0)
        return 0;
    return gint64(gst_util_uint64_scale_int_round(GST_SECOND, den, num));
}

static gboolean vorlund_avi_set_caps(GstBaseTransform *trans, GstCaps *incaps, GstCaps *)
{
    VorlundAvi *self = VORLUND_AVI(trans);
    AviInput input = AVI_INPUT_NONE;
    GstVideoInfo info;
    gst_video_info_init(&info);
    if (!caps_acceptable(self, incaps, &input, &info)) {
        GST_WARNING_OBJECT(self, "refusing %" GST_PTR_FORMAT, incaps);
        return FALSE;
    }
    // The stamp's geometry follows from these on every frame.
    self->input = input;
    self->info = info;
    self->frame_duration = frame_duration(incaps);
    return TRUE;
}

// --- streaming ----------------------------------------------------------------------------

static gboolean valid_span(guint64 start, guint64 stop, vorlund::avi::Span *span)
{
    if (start > G_MAXINT64 || stop > G_MAXINT64 || stop < start)
        return FALSE;
    span->start = gint64(start);
    span->stop = gint64(stop);
    return TRUE;
}

static void retime_stream(VorlundAvi *self, GstBuffer *buf, gboolean gate)
{
    const GstClockTime pts = GST_BUFFER_PTS(buf);
    const GstClockTime duration = GST_BUFFER_DURATION(buf);
    // A buffer without a start time is neither re-timed nor counted; one without a duration
    // is taken to last a frame at the negotiated rate, or as long as the spacing before it.
    if (!GST_CLOCK_TIME_IS_VALID(pts) || pts > G_MAXINT64)
        return;
    std::optional<gint64> length;
    if (GST_CLOCK_TIME_IS_VALID(duration))
        length = gint64(MIN(duration, G_MAXINT64));
    const std::optional<gint64> stop = self->stops.Stop(gint64(pts), length, self->frame_duration);
    vorlund::avi::Span span;
    if (!stop || !valid_span(pts, guint64(*stop), &span))
        return;
    if (!gate) {
        self->stream.Closed(span);
        store_i64(&self->last_closed_start, span.start);
        return;
    }
    const gint64 offset = self->stream.Open(span);
    GST_BUFFER_PTS(buf) = GstClockTime(span.start);
    GST_BUFFER_DURATION(buf) = GstClockTime(span.stop - span.start);
    const GstClockTime dts = GST_BUFFER_DTS(buf);
    if (GST_CLOCK_TIME_IS_VALID(dts) && dts <= G_MAXINT64)
        GST_BUFFER_DTS(buf)
            = GstClockTime(MAX(0, vorlund::avi::SaturatingSub(gint64(dts), offset)));
}

static void retime_media(VorlundAvi *self, GstBuffer *buf, gboolean gate)
{
    const guint64 start = GST_BUFFER_OFFSET(buf);
    const guint64 stop = GST_BUFFER_OFFSET_END(buf);
    vorlund::avi::Span span;
    if (start == GST_BUFFER_OFFSET_NONE || stop == GST_BUFFER_OFFSET_NONE
        || !valid_span(start, stop, &span))
        return;
    if (!gate) {
        self->media.Closed(span);
        return;
    }
    self->media.Open(span);
    GST_BUFFER_OFFSET(buf) = guint64(span.start);
    GST_BUFFER_OFFSET_END(buf) = guint64(span.stop);
}

static void draw_stamp(VorlundAvi *self, GstBuffer *buf, gboolean at_top)
{
    // DV and anything not negotiated passes unstamped.
    if (self->input != AVI_INPUT_BGR && self->input != AVI_INPUT_YUY2)
        return;
    if (!vorlund::avi::UpdateStamp(self->stamp, std::time(nullptr)))
        return;
    GstVideoFrame frame;
    // Mapping for writing copies memory that another branch still holds.
    if (!gst_video_frame_map(&frame, &self->info, buf, GST_MAP_WRITE)) {
        GST_WARNING_OBJECT(self, "frame not mapped, passing it unstamped");
        return;
    }
    auto *data = static_cast<guint8 *>(GST_VIDEO_FRAME_PLANE_DATA(&frame, 0));
    const int stride = GST_VIDEO_FRAME_PLANE_STRIDE(&frame, 0);
    const int width = GST_VIDEO_FRAME_WIDTH(&frame);
    const int height = GST_VIDEO_FRAME_HEIGHT(&frame);
    if (self->input == AVI_INPUT_YUY2) {
        vorlund::avi::StampYuy2(self->stamp, data, stride, width, height);
    } else {
        const int y
            = at_top ? vorlund::avi::kBgrStampTopY : height - vorlund::avi::kBgrStampBottomMargin;
        vorlund::avi::StampBgr(self->stamp, data, stride, width, height, vorlund::avi::kBgrStampX,
                               y);
    }
    gst_video_frame_unmap(&frame);
}

static GstFlowReturn vorlund_avi_transform_ip(GstBaseTransform *trans, GstBuffer *buf)
{
    VorlundAvi *self = VORLUND_AVI(trans);
    // Read once: a change in the middle must not re-time a buffer as passed and then drop it.
    const gboolean gate = self->schedule.At(vorlund::CaptureTime(trans, buf));
    if (!g_atomic_int_get(&self->pass_through)) {
        retime_stream(self, buf, gate);
        retime_media(self, buf, gate);
    }
    if (!gate) {
        self->dropped_since_pass = TRUE;
        return GST_BASE_TRANSFORM_FLOW_DROPPED;
    }
    if (self->dropped_since_pass) {
        GST_BUFFER_FLAG_SET(buf, GST_BUFFER_FLAG_DISCONT);
        self->dropped_since_pass = FALSE;
    }
    if (g_atomic_int_get(&self->stamp_on))
        draw_stamp(self, buf, g_atomic_int_get(&self->stamp_at_top) != 0);
    return GST_FLOW_OK;
}

// --- control ------------------------------------------------------------------------------

// Under the object lock. A change made at once drops a time given for the next one.
static void set_gate(VorlundAvi *self, gint on, bool atOnce)
{
    if (atOnce)
        self->schedule.NextChangeAt(std::nullopt);
    g_atomic_int_set(&self->gate, on);
    self->schedule.Set(on != 0);
}

static void vorlund_avi_restore_gate(VorlundAvi *self, gint, gpointer)
{
    GST_OBJECT_LOCK(self);
    set_gate(self, g_atomic_int_get(&self->last_request), true);
    GST_OBJECT_UNLOCK(self);
}

// The flag behind each boolean property.
static gint *flag_of(VorlundAvi *self, guint prop_id)
{
    switch (prop_id) {
    case PROP_GATE:
        return &self->gate;
    case PROP_STAMP:
        return &self->stamp_on;
    case PROP_STAMP_AT_TOP:
        return &self->stamp_at_top;
    case PROP_ACCEPT_INTERLEAVED:
        return &self->accept_interleaved;
    case PROP_PASS_THROUGH:
        return &self->pass_through;
    case PROP_HOLD_MODE:
        return &self->hold_mode;
    case PROP_REQUIRE_VIDEO_INFO:
        return &self->require_video_info;
    default:
        return nullptr;
    }
}

static void vorlund_avi_set_property(GObject *object, guint prop_id, const GValue *value,
                                     GParamSpec *pspec)
{
    VorlundAvi *self = VORLUND_AVI(object);
    if (prop_id == PROP_GATE_TIME) {
        self->schedule.NextChangeAt(vorlund::GateTimeOf(value));
        return;
    }
    gint *flag = flag_of(self, prop_id);
    if (!flag) {
        G_OBJECT_WARN_INVALID_PROPERTY_ID(object, prop_id, pspec);
        return;
    }
    const gint on = g_value_get_boolean(value) ? 1 : 0;
    GST_OBJECT_LOCK(self);
    switch (prop_id) {
    case PROP_GATE:
        if (!g_atomic_int_get(&self->hold_mode) || on != g_atomic_int_get(&self->last_request))
            set_gate(self, on, false);
        else
            self->schedule.NextChangeAt(std::nullopt);
        g_atomic_int_set(&self->last_request, on);
        break;
    case PROP_PASS_THROUGH:
        // A pass-through instance is also an open one.
        g_atomic_int_set(&self->pass_through, on);
        g_atomic_int_set(&self->last_request, on);
        set_gate(self, on, true);
        break;
    default:
        g_atomic_int_set(flag, on);
        break;
    }
    GST_OBJECT_UNLOCK(self);
}

static void vorlund_avi_get_property(GObject *object, guint prop_id, GValue *value,
                                     GParamSpec *pspec)
{
    VorlundAvi *self = VORLUND_AVI(object);
    if (prop_id == PROP_LAST_START_TIME) {
        g_value_set_int64(value, load_i64(&self->last_closed_start));
    } else if (gint *flag = flag_of(self, prop_id)) {
        g_value_set_boolean(value, g_atomic_int_get(flag));
    } else {
        G_OBJECT_WARN_INVALID_PROPERTY_ID(object, prop_id, pspec);
    }
}

static void vorlund_avi_finalize(GObject *object)
{
    VORLUND_AVI(object)->schedule.~GateSchedule();
    G_OBJECT_CLASS(vorlund_avi_parent_class)->finalize(object);
}

static void vorlund_avi_class_init(VorlundAviClass *klass)
{
    GObjectClass *gobject_class = G_OBJECT_CLASS(klass);
    GstElementClass *element_class = GST_ELEMENT_CLASS(klass);
    GstBaseTransformClass *trans_class = GST_BASE_TRANSFORM_CLASS(klass);

    gobject_class->set_property = vorlund_avi_set_property;
    gobject_class->get_property = vorlund_avi_get_property;
    gobject_class->finalize = vorlund_avi_finalize;

    const auto flags
        = GParamFlags(G_PARAM_READWRITE | G_PARAM_STATIC_STRINGS | GST_PARAM_MUTABLE_PLAYING);
    g_object_class_install_property(
        gobject_class, PROP_GATE,
        g_param_spec_boolean("gate", "Gate", "Pass buffers (closed: drop them)", FALSE, flags));
    g_object_class_install_property(gobject_class, PROP_GATE_TIME, vorlund::GateTimeParamSpec());
    g_object_class_install_property(
        gobject_class, PROP_STAMP,
        g_param_spec_boolean("stamp", "Stamp", "Draw the date/time stamp", FALSE, flags));
    g_object_class_install_property(
        gobject_class, PROP_STAMP_AT_TOP,
        g_param_spec_boolean("stamp-at-top", "Stamp at top",
                             "Stamp BGR frames at the top (else at the bottom)", FALSE, flags));
    g_object_class_install_property(gobject_class, PROP_ACCEPT_INTERLEAVED,
                                    g_param_spec_boolean("accept-interleaved", "Accept interleaved",
                                                         "Also accept DV system streams", FALSE,
                                                         flags));
    g_object_class_install_property(
        gobject_class, PROP_PASS_THROUGH,
        g_param_spec_boolean("pass-through", "Pass through",
                             "No re-timing; the gate follows this value", FALSE, flags));
    g_object_class_install_property(
        gobject_class, PROP_HOLD_MODE,
        g_param_spec_boolean("hold-mode", "Hold mode", "Only a changed gate request moves the gate",
                             FALSE, flags));
    g_object_class_install_property(
        gobject_class, PROP_REQUIRE_VIDEO_INFO,
        g_param_spec_boolean("require-video-info", "Require video info",
                             "Refuse raw video caps without a frame rate", FALSE, flags));
    g_object_class_install_property(
        gobject_class, PROP_LAST_START_TIME,
        g_param_spec_int64("last-start-time", "Last start time",
                           "Start time (ns) of the latest buffer seen while the gate was closed", 0,
                           G_MAXINT64, 0, GParamFlags(G_PARAM_READABLE | G_PARAM_STATIC_STRINGS)));

    avi_signals[SIGNAL_RESTORE_GATE] = g_signal_new_class_handler(
        "restore-gate", G_TYPE_FROM_CLASS(klass), GSignalFlags(G_SIGNAL_RUN_LAST | G_SIGNAL_ACTION),
        G_CALLBACK(vorlund_avi_restore_gate), nullptr, nullptr, nullptr, G_TYPE_NONE, 1,
        G_TYPE_INT);

    gst_element_class_set_static_metadata(
        element_class, "Vorlund AVI", "Filter/Video",
        "Recording gate: re-times passed frames, drops while closed, stamps date and time",
        "Vorlund developers");
    gst_element_class_add_static_metadata(element_class, "class-id", VORLUND_AVI_CLASS_ID);
    gst_element_class_add_static_metadata(element_class, "control-id", VORLUND_AVI_CONTROL_ID);
    gst_element_class_add_static_metadata(element_class, "file-version", VORLUND_AVI_FILE_VERSION);
    gst_element_class_add_static_pad_template(element_class, &sink_template);
    gst_element_class_add_static_pad_template(element_class, &src_template);

    trans_class->transform_caps = GST_DEBUG_FUNCPTR(vorlund_avi_transform_caps);
    trans_class->accept_caps = GST_DEBUG_FUNCPTR(vorlund_avi_accept_caps);
    trans_class->set_caps = GST_DEBUG_FUNCPTR(vorlund_avi_set_caps);
    trans_class->transform_ip = GST_DEBUG_FUNCPTR(vorlund_avi_transform_ip);
    trans_class->passthrough_on_same_caps = FALSE;
    trans_class->transform_ip_on_passthrough = FALSE;
}

static void vorlund_avi_init(VorlundAvi *self)
{
    // Always in place and never pass-through: the base class hands over a writable buffer.
    gst_base_transform_set_in_place(GST_BASE_TRANSFORM(self), TRUE);
    gst_base_transform_set_passthrough(GST_BASE_TRANSFORM(self), FALSE);
    gst_base_transform_set_qos_enabled(GST_BASE_TRANSFORM(self), FALSE);
    self->input = AVI_INPUT_NONE;
    new (&self->stops) vorlund::StopTimeFill();
    new (&self->schedule) vorlund::GateSchedule();
    gst_video_info_init(&self->info);
    self->stamp.second = -1;
}
