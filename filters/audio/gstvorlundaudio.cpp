#include "gstvorlundaudio.h"

#include "AudioTimeline.h"
#include "CaptureTime.h"
#include "GateSchedule.h"
#include "StopTime.h"

#include <gst/audio/audio.h>

#include <atomic>
#include <new>
#include <optional>

GST_DEBUG_CATEGORY_STATIC(audio_debug);
#define GST_CAT_DEFAULT audio_debug

enum {
    PROP_0,
    PROP_GATE,
    PROP_GATE_TIME,
    PROP_RETIMING,
    PROP_REFERENCE_TIME,
    PROP_START_TIME,
    PROP_ENCODER_DELAY,
};

#define DEFAULT_GATE FALSE
#define DEFAULT_RETIMING FALSE
#define DEFAULT_REFERENCE_TIME 0

// Raw sound is cut at the samples nearest the switches; compressed sound (behind its encoder)
// passes whole packets.
#define AUDIO_CAPS "audio/x-raw; audio/mpeg"
static GstStaticPadTemplate sink_template
    = GST_STATIC_PAD_TEMPLATE("sink", GST_PAD_SINK, GST_PAD_ALWAYS, GST_STATIC_CAPS(AUDIO_CAPS));
static GstStaticPadTemplate src_template
    = GST_STATIC_PAD_TEMPLATE("src", GST_PAD_SRC, GST_PAD_ALWAYS, GST_STATIC_CAPS(AUDIO_CAPS));

namespace {

struct AudioState
{
    // 0 = closed: a new element drops everything until it is opened.
    vorlund::GateSchedule gate { DEFAULT_GATE };
    // Streaming thread only: the sound passed follows the time the gate was open for.
    vorlund::GateBalance balance;
    // Set by the server; while it is 0 the gate records the start of each dropped buffer.
    std::atomic<gint64> reference { DEFAULT_REFERENCE_TIME };
    // Written by the streaming thread, read by the property getter.
    std::atomic<gint64> recordStart { 0 };

    // Streaming thread only. Never reset: the timeline carries over stops and restarts.
    vorlund::audio::AudioTimeline stream; // PTS .. PTS + duration, nanoseconds
    vorlund::audio::AudioTimeline media; // offset .. offset end, samples
    vorlund::StopTimeFill stops; // for buffers that come without a duration
    // From the negotiated caps, to time buffers that come without a duration; 0: not known.
    // Compressed sound has a rate but no bytes per frame.
    gint rate = 0;
    gint bytesPerFrame = 0;
    // An encoder ahead of the gate stamps each packet with the time its input began, but the
    // packet carries sound captured this many samples earlier (the encoder's delay).
    std::atomic<guint> delaySamples { 0 };
    bool droppedSincePass = false;
};

} // namespace

struct _VorlundAudio
{
    GstBaseTransform parent;

    // Settings read by the streaming thread once per buffer.
    gint retiming;

    AudioState state; // constructed in init, destroyed in finalize
};

G_DEFINE_TYPE_WITH_CODE(VorlundAudio, vorlund_audio, GST_TYPE_BASE_TRANSFORM,
                        GST_DEBUG_CATEGORY_INIT(audio_debug, "vorlundaudio", 0, "audio gate"));
GST_ELEMENT_REGISTER_DEFINE(vorlundaudio, "vorlundaudio", GST_RANK_NONE, VORLUND_TYPE_AUDIO);

// --- streaming ----------------------------------------------------------------------------

// Times written back to a buffer: a re-timed time before zero cannot be expressed.
static guint64 not_negative(gint64 t)
{
    return t < 0 ? 0 : guint64(t);
}

// How long the buffer's samples last at the negotiated rate; 0 when the caps do not say.
static gint64 samples_duration(const AudioState &state, GstBuffer *buf)
{
    if (state.rate <= 0 || state.bytesPerFrame <= 0)
        return 0;
    const guint64 samples = gst_buffer_get_size(buf) / guint(state.bytesPerFrame);
    return gint64(
        MIN(gst_util_uint64_scale_int_round(samples, GST_SECOND, state.rate), guint64(G_MAXINT64)));
}

// A buffer without a start time has no span; one without a duration is taken to last as long
// as its samples, or as the spacing of the buffers before it.
static gboolean stream_span(AudioState &state, GstBuffer *buf, vorlund::Span *span)
{
    const GstClockTime pts = GST_BUFFER_PTS(buf);
    const GstClockTime duration = GST_BUFFER_DURATION(buf);
    if (!GST_CLOCK_TIME_IS_VALID(pts) || pts > G_MAXINT64)
        return FALSE;
    std::optional<gint64> length;
    if (GST_CLOCK_TIME_IS_VALID(duration)) {
        if (duration > G_MAXINT64 - pts)
            return FALSE;
        length = gint64(duration);
    }
    const std::optional<gint64> stop
        = state.stops.Stop(gint64(pts), length, length ? 0 : samples_duration(state, buf));
    if (!stop)
        return FALSE;
    *span = { gint64(pts), *stop };
    return TRUE;
}

static gboolean media_span(GstBuffer *buf, vorlund::Span *span)
{
    const guint64 start = GST_BUFFER_OFFSET(buf);
    const guint64 stop = GST_BUFFER_OFFSET_END(buf);
    if (start == GST_BUFFER_OFFSET_NONE || stop == GST_BUFFER_OFFSET_NONE || start > G_MAXINT64
        || stop > G_MAXINT64)
        return FALSE;
    *span = { gint64(start), gint64(stop) };
    return TRUE;
}

// A buffer without both ends of a span is not re-timed on that axis and changes nothing.
static void retime(VorlundAudio *self, GstBuffer *buf, bool gate)
{
    AudioState &state = self->state;
    vorlund::Span t;
    if (stream_span(state, buf, &t)) {
        if (gate) {
            state.stream.Open(t);
            const guint64 start = not_negative(t.start);
            const guint64 stop = not_negative(t.stop);
            GST_BUFFER_PTS(buf) = start;
            GST_BUFFER_DURATION(buf) = stop > start ? stop - start : 0;
            if (GST_CLOCK_TIME_IS_VALID(GST_BUFFER_DTS(buf)))
                GST_BUFFER_DTS(buf) = start;
        } else {
            state.stream.Closed(t);
            if (state.reference.load(std::memory_order_relaxed) == 0)
                state.recordStart.store(t.start, std::memory_order_relaxed);
        }
    }
    if (media_span(buf, &t)) {
        if (gate) {
            state.media.Open(t);
            GST_BUFFER_OFFSET(buf) = not_negative(t.start);
            GST_BUFFER_OFFSET_END(buf) = not_negative(t.stop);
        } else {
            state.media.Closed(t);
        }
    }
}

// Keeps only the samples of `buf` inside the open part of its capture span: the sound starts
// and stops at the samples nearest the switches, as the pictures do at theirs. The dropped head
// counts as closed time for the re-timing. False when no sample is left.
static bool keep_open_samples(VorlundAudio *self, GstBuffer *buf, std::int64_t start,
                              const vorlund::GateSchedule::Share &open)
{
    AudioState &state = self->state;
    const guint64 samples = gst_buffer_get_size(buf) / guint(state.bytesPerFrame);
    const auto toSamples = [&](std::int64_t t) {
        return MIN(gst_util_uint64_scale_int_round(guint64(t), state.rate, GST_SECOND), samples);
    };
    const guint64 head = toSamples(open.from - start);
    const guint64 kept = MIN(toSamples(open.length), samples - head);
    if (kept == 0)
        return false;
    const GstClockTime pts = GST_BUFFER_PTS(buf);
    const GstClockTime skipped = gst_util_uint64_scale_int_round(head, GST_SECOND, state.rate);
    const guint64 offset = GST_BUFFER_OFFSET(buf);
    const bool counted = offset != GST_BUFFER_OFFSET_NONE
        && GST_BUFFER_OFFSET_END(buf) != GST_BUFFER_OFFSET_NONE && offset <= G_MAXINT64 - head;
    if (head > 0 && g_atomic_int_get(&self->retiming)) {
        state.stream.Closed({ gint64(pts), gint64(pts + skipped) });
        if (counted)
            state.media.Closed({ gint64(offset), gint64(offset + head) });
    }
    gst_buffer_resize(buf, gssize(head * guint(state.bytesPerFrame)),
                      gssize(kept * guint(state.bytesPerFrame)));
    GST_BUFFER_PTS(buf) = pts + skipped;
    if (GST_CLOCK_TIME_IS_VALID(GST_BUFFER_DTS(buf)))
        GST_BUFFER_DTS(buf) = pts + skipped;
    GST_BUFFER_DURATION(buf)
        = gst_util_uint64_scale_int_round(head + kept, GST_SECOND, state.rate) - skipped;
    if (counted) {
        GST_BUFFER_OFFSET(buf) = offset + head;
        GST_BUFFER_OFFSET_END(buf) = offset + head + kept;
    }
    return true;
}

// Behind an encoder a packet is stamped with the time its input began, but its sound was
// captured the encoder's delay earlier: stamped with that time, it is gated with the pictures
// of that moment and played with them. False for the packets of the encoder's start, whose
// sound began before the stream (the encoder's padding and a sample or two).
static bool stamp_capture_time(AudioState &state, GstBuffer *buf)
{
    const guint samples = state.delaySamples.load(std::memory_order_relaxed);
    const GstClockTime pts = GST_BUFFER_PTS(buf);
    if (samples == 0 || state.rate <= 0 || !GST_CLOCK_TIME_IS_VALID(pts))
        return true;
    const GstClockTime delay = gst_util_uint64_scale_int_round(samples, GST_SECOND, state.rate);
    if (pts < delay)
        return false;
    GST_BUFFER_PTS(buf) = pts - delay;
    if (GST_CLOCK_TIME_IS_VALID(GST_BUFFER_DTS(buf)))
        GST_BUFFER_DTS(buf) = GST_BUFFER_DTS(buf) < delay ? 0 : GST_BUFFER_DTS(buf) - delay;
    return true;
}

static GstFlowReturn vorlund_audio_transform_ip(GstBaseTransform *trans, GstBuffer *buf)
{
    VorlundAudio *self = VORLUND_AUDIO(trans);
    // Decided once: a change in the middle must not re-time a buffer as passed and then drop it.
    // A buffer that a switch cuts keeps its open samples; when its samples cannot be counted
    // it goes whole to the side that keeps the sound as long as the pictures, which pass whole
    // frames from the same switch times.
    AudioState &state = self->state;
    if (!stamp_capture_time(state, buf))
        return GST_BASE_TRANSFORM_FLOW_DROPPED;
    bool gate;
    if (const auto span = vorlund::CaptureSpan(trans, buf)) {
        const vorlund::GateSchedule::Share open = state.gate.OpenWithin(span->first, span->second);
        const std::int64_t length = span->second - span->first;
        if (open.length > 0 && open.length < length && state.rate > 0 && state.bytesPerFrame > 0)
            gate = keep_open_samples(self, buf, span->first, open);
        else
            gate = state.balance.Pass(open.length, length);
    } else {
        gate = state.gate.At(vorlund::CaptureTime(trans, buf));
    }
    if (g_atomic_int_get(&self->retiming))
        retime(self, buf, gate);
    if (!gate) {
        self->state.droppedSincePass = true;
        return GST_BASE_TRANSFORM_FLOW_DROPPED;
    }
    if (self->state.droppedSincePass) {
        GST_BUFFER_FLAG_SET(buf, GST_BUFFER_FLAG_DISCONT);
        self->state.droppedSincePass = false;
    }
    return GST_FLOW_OK;
}

static gboolean vorlund_audio_set_caps(GstBaseTransform *trans, GstCaps *incaps, GstCaps *)
{
    AudioState &state = VORLUND_AUDIO(trans)->state;
    // Any raw audio passes; only buffers without a duration and cuts inside a buffer need the
    // rate. Compressed packets have no samples to count.
    GstAudioInfo info;
    const GstStructure *format = gst_caps_get_structure(incaps, 0);
    state.rate = 0;
    state.bytesPerFrame = 0;
    if (format && gst_structure_has_name(format, "audio/x-raw")
        && gst_audio_info_from_caps(&info, incaps)) {
        state.rate = GST_AUDIO_INFO_RATE(&info);
        state.bytesPerFrame = GST_AUDIO_INFO_BPF(&info);
    } else if (format) {
        gst_structure_get_int(format, "rate", &state.rate);
    }
    if (state.rate < 0)
        state.rate = 0;
    return TRUE;
}

// --- control ------------------------------------------------------------------------------

static void vorlund_audio_set_property(GObject *object, guint prop_id, const GValue *value,
                                       GParamSpec *pspec)
{
    VorlundAudio *self = VORLUND_AUDIO(object);
    switch (prop_id) {
    case PROP_GATE:
        self->state.gate.Set(g_value_get_boolean(value));
        break;
    case PROP_GATE_TIME:
        self->state.gate.NextChangeAt(vorlund::GateTimeOf(value));
        break;
    case PROP_RETIMING:
        g_atomic_int_set(&self->retiming, g_value_get_boolean(value) ? 1 : 0);
        break;
    case PROP_REFERENCE_TIME:
        self->state.reference.store(g_value_get_int64(value), std::memory_order_relaxed);
        break;
    case PROP_ENCODER_DELAY:
        self->state.delaySamples.store(g_value_get_uint(value), std::memory_order_relaxed);
        break;
    default:
        G_OBJECT_WARN_INVALID_PROPERTY_ID(object, prop_id, pspec);
        break;
    }
}

static void vorlund_audio_get_property(GObject *object, guint prop_id, GValue *value,
                                       GParamSpec *pspec)
{
    VorlundAudio *self = VORLUND_AUDIO(object);
    switch (prop_id) {
    case PROP_GATE:
        g_value_set_boolean(value, self->state.gate.Newest());
        break;
    case PROP_RETIMING:
        g_value_set_boolean(value, g_atomic_int_get(&self->retiming));
        break;
    case PROP_REFERENCE_TIME:
        g_value_set_int64(value, self->state.reference.load(std::memory_order_relaxed));
        break;
    case PROP_START_TIME:
        g_value_set_int64(value, self->state.recordStart.load(std::memory_order_relaxed));
        break;
    case PROP_ENCODER_DELAY:
        g_value_set_uint(value, self->state.delaySamples.load(std::memory_order_relaxed));
        break;
    default:
        G_OBJECT_WARN_INVALID_PROPERTY_ID(object, prop_id, pspec);
        break;
    }
}

static void vorlund_audio_finalize(GObject *object)
{
    VORLUND_AUDIO(object)->state.~AudioState();
    G_OBJECT_CLASS(vorlund_audio_parent_class)->finalize(object);
}

static void vorlund_audio_class_init(VorlundAudioClass *klass)
{
    GObjectClass *gobject_class = G_OBJECT_CLASS(klass);
    GstElementClass *element_class = GST_ELEMENT_CLASS(klass);
    GstBaseTransformClass *trans_class = GST_BASE_TRANSFORM_CLASS(klass);

    gobject_class->set_property = vorlund_audio_set_property;
    gobject_class->get_property = vorlund_audio_get_property;
    gobject_class->finalize = vorlund_audio_finalize;

    const auto flags
        = GParamFlags(G_PARAM_READWRITE | G_PARAM_STATIC_STRINGS | GST_PARAM_MUTABLE_PLAYING);
    g_object_class_install_property(gobject_class, PROP_GATE,
                                    g_param_spec_boolean("gate", "Gate",
                                                         "Pass buffers (closed: drop them)",
                                                         DEFAULT_GATE, flags));
    g_object_class_install_property(gobject_class, PROP_GATE_TIME, vorlund::GateTimeParamSpec());
    g_object_class_install_property(
        gobject_class, PROP_RETIMING,
        g_param_spec_boolean("retiming", "Re-timing",
                             "Move passed buffers so closed periods leave no hole",
                             DEFAULT_RETIMING, flags));
    g_object_class_install_property(
        gobject_class, PROP_REFERENCE_TIME,
        g_param_spec_int64("reference-time", "Reference time",
                           "Reference time in nanoseconds; while 0 the start of each dropped "
                           "buffer is recorded as start-time",
                           G_MININT64, G_MAXINT64, DEFAULT_REFERENCE_TIME, flags));
    g_object_class_install_property(
        gobject_class, PROP_START_TIME,
        g_param_spec_int64("start-time", "Start time",
                           "Start (nanoseconds) of the latest buffer dropped while the "
                           "reference time was 0",
                           G_MININT64, G_MAXINT64, 0,
                           GParamFlags(G_PARAM_READABLE | G_PARAM_STATIC_STRINGS)));
    g_object_class_install_property(
        gobject_class, PROP_ENCODER_DELAY,
        g_param_spec_uint("encoder-delay", "Encoder delay",
                          "Samples by which the sound of each packet precedes the packet's time "
                          "(the delay of an encoder ahead of the gate)",
                          0, 1 << 20, 0, flags));

    gst_element_class_set_static_metadata(element_class, "Vorlund Audio", "Filter/Audio",
                                          "Audio gate of the recording, re-timed without holes",
                                          "Vorlund developers");
    gst_element_class_add_static_metadata(element_class, "class-id", VORLUND_AUDIO_CLASS_ID);
    gst_element_class_add_static_metadata(element_class, "control-id", VORLUND_AUDIO_CONTROL_ID);
    gst_element_class_add_static_metadata(element_class, "file-version",
                                          VORLUND_AUDIO_FILE_VERSION);
    gst_element_class_add_static_pad_template(element_class, &sink_template);
    gst_element_class_add_static_pad_template(element_class, &src_template);

    trans_class->set_caps = vorlund_audio_set_caps;
    trans_class->transform_ip = vorlund_audio_transform_ip;
    trans_class->passthrough_on_same_caps = FALSE;
}

static void vorlund_audio_init(VorlundAudio *self)
{
    self->retiming = DEFAULT_RETIMING;
    new (&self->state) AudioState();
    // Only metadata changes, but that needs a writable buffer.
    gst_base_transform_set_in_place(GST_BASE_TRANSFORM(self), TRUE);
    gst_base_transform_set_passthrough(GST_BASE_TRANSFORM(self), FALSE);
}
