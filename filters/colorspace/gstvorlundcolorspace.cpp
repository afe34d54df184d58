#include "gstvorlundcolorspace.h"

#include "Yuy2ToBgr.h"

#include <gst/video/video.h>

GST_DEBUG_CATEGORY_STATIC(colorspace_debug);
#define GST_CAT_DEFAULT colorspace_debug

enum {
    PROP_0,
    PROP_GATE,
    PROP_STAMP,
};

#define DEFAULT_GATE FALSE
#define DEFAULT_STAMP FALSE

static GstStaticPadTemplate sink_template = GST_STATIC_PAD_TEMPLATE(
    "sink", GST_PAD_SINK, GST_PAD_ALWAYS, GST_STATIC_CAPS(GST_VIDEO_CAPS_MAKE("YUY2")));

static GstStaticPadTemplate src_template = GST_STATIC_PAD_TEMPLATE(
    "src", GST_PAD_SRC, GST_PAD_ALWAYS, GST_STATIC_CAPS(GST_VIDEO_CAPS_MAKE("BGR")));

struct _VorlundColorSpace
{
    GstVideoFilter parent;

    // Row converter picked when the caps were set; null until then.
    vorlund::Yuy2RowConverter convert_row;

    // Control settings that the server may set; the conversion does not depend on them.
    gint gate;
    gint stamp;
};

G_DEFINE_TYPE_WITH_CODE(VorlundColorSpace, vorlund_color_space, GST_TYPE_VIDEO_FILTER,
                        GST_DEBUG_CATEGORY_INIT(colorspace_debug, "vorlundcolorspace", 0,
                                                "YUY2 to BGR"));
GST_ELEMENT_REGISTER_DEFINE(vorlundcolorspace, "vorlundcolorspace", GST_RANK_NONE,
                            VORLUND_TYPE_COLOR_SPACE);

static void vorlund_color_space_set_property(GObject *object, guint prop_id, const GValue *value,
                                             GParamSpec *pspec)
{
    VorlundColorSpace *self = VORLUND_COLOR_SPACE(object);
    switch (prop_id) {
    case PROP_GATE:
        g_atomic_int_set(&self->gate, g_value_get_boolean(value) ? 1 : 0);
        break;
    case PROP_STAMP:
        g_atomic_int_set(&self->stamp, g_value_get_boolean(value) ? 1 : 0);
        break;
    default:
        G_OBJECT_WARN_INVALID_PROPERTY_ID(object, prop_id, pspec);
        break;
    }
}

static void vorlund_color_space_get_property(GObject *object, guint prop_id, GValue *value,
                                             GParamSpec *pspec)
{
    VorlundColorSpace *self = VORLUND_COLOR_SPACE(object);
    switch (prop_id) {
    case PROP_GATE:
        g_value_set_boolean(value, g_atomic_int_get(&self->gate));
        break;
    case PROP_STAMP:
        g_value_set_boolean(value, g_atomic_int_get(&self->stamp));
        break;
    default:
        G_OBJECT_WARN_INVALID_PROPERTY_ID(object, prop_id, pspec);
        break;
    }
}

// Same picture geometry and rate on both sides; only the format changes.
static GstCaps *vorlund_color_space_transform_caps(GstBaseTransform *trans,
                                                   GstPadDirection direction, GstCaps *caps,
                                                   GstCaps *filter)
{
    const char *format = direction == GST_PAD_SINK ? "BGR" : "YUY2";
    GstCaps *result = gst_caps_new_empty();
    const guint n = gst_caps_get_size(caps);
    for (guint i = 0; i < n; ++i) {
        GstStructure *s = gst_structure_copy(gst_caps_get_structure(caps, i));
        gst_structure_set(s, "format", G_TYPE_STRING, format, nullptr);
        gst_structure_remove_fields(s, "colorimetry", "chroma-site", nullptr);
        GstCapsFeatures *features = gst_caps_get_features(caps, i);
        result = gst_caps_merge_structure_full(
            result, s, features ? gst_caps_features_copy(features) : nullptr);
    }
    if (filter) {
        GstCaps *both = gst_caps_intersect_full(filter, result, GST_CAPS_INTERSECT_FIRST);
        gst_caps_unref(result);
        result = both;
    }
    GST_DEBUG_OBJECT(trans, "%" GST_PTR_FORMAT " -> %" GST_PTR_FORMAT, caps, result);
    return result;
}

static gboolean vorlund_color_space_set_info(GstVideoFilter *filter, GstCaps *, GstVideoInfo *in,
                                             GstCaps *, GstVideoInfo *out)
{
    VorlundColorSpace *self = VORLUND_COLOR_SPACE(filter);
    self->convert_row = nullptr;
    if (GST_VIDEO_INFO_FORMAT(in) != GST_VIDEO_FORMAT_YUY2
        || GST_VIDEO_INFO_FORMAT(out) != GST_VIDEO_FORMAT_BGR
        || GST_VIDEO_INFO_WIDTH(in) != GST_VIDEO_INFO_WIDTH(out)
        || GST_VIDEO_INFO_HEIGHT(in) != GST_VIDEO_INFO_HEIGHT(out)) {
        GST_ERROR_OBJECT(self, "cannot convert %s %dx%d to %s %dx%d", GST_VIDEO_INFO_NAME(in),
                         GST_VIDEO_INFO_WIDTH(in), GST_VIDEO_INFO_HEIGHT(in),
                         GST_VIDEO_INFO_NAME(out), GST_VIDEO_INFO_WIDTH(out),
                         GST_VIDEO_INFO_HEIGHT(out));
        return FALSE;
    }
    self->convert_row = vorlund::BestYuy2RowConverter();
    return TRUE;
}

static GstFlowReturn vorlund_color_space_transform_frame(GstVideoFilter *filter, GstVideoFrame *in,
                                                         GstVideoFrame *out)
{
    VorlundColorSpace *self = VORLUND_COLOR_SPACE(filter);
    const auto convert = self->convert_row;
    if (!convert)
        return GST_FLOW_NOT_NEGOTIATED;

    const int width = GST_VIDEO_FRAME_WIDTH(in);
    const int height = GST_VIDEO_FRAME_HEIGHT(in);
    const gint srcStride = GST_VIDEO_FRAME_PLANE_STRIDE(in, 0);
    const gint dstStride = GST_VIDEO_FRAME_PLANE_STRIDE(out, 0);
    // Strides may come from upstream's video meta: a row must hold what the converter touches.
    if (srcStride < (width + 1) / 2 * 4 || dstStride < width * 3) {
        GST_ELEMENT_ERROR(
            self, STREAM, FORMAT, (nullptr),
            ("row strides %d/%d too small for width %d", srcStride, dstStride, width));
        return GST_FLOW_ERROR;
    }
    const auto *src = static_cast<const guint8 *>(GST_VIDEO_FRAME_PLANE_DATA(in, 0));
    auto *dst = static_cast<guint8 *>(GST_VIDEO_FRAME_PLANE_DATA(out, 0));
    for (int row = 0; row < height; ++row)
        convert(src + gsize(row) * srcStride, dst + gsize(row) * dstStride, width);
    return GST_FLOW_OK;
}

// Maps both frames itself: GstVideoFilter would only warn about an input buffer too short for
// the negotiated frame and still deliver the output frame, never written.
static GstFlowReturn vorlund_color_space_transform(GstBaseTransform *trans, GstBuffer *inbuf,
                                                   GstBuffer *outbuf)
{
    GstVideoFilter *filter = GST_VIDEO_FILTER(trans);
    if (!filter->negotiated)
        return GST_FLOW_NOT_NEGOTIATED;
    GstVideoFrame in, out;
    if (!gst_video_frame_map(
            &in, &filter->in_info, inbuf,
            GstMapFlags(int(GST_MAP_READ) | int(GST_VIDEO_FRAME_MAP_FLAG_NO_REF)))) {
        GST_DEBUG_OBJECT(trans, "dropping a buffer of %" G_GSIZE_FORMAT " bytes: not a whole frame",
                         gst_buffer_get_size(inbuf));
        return GST_BASE_TRANSFORM_FLOW_DROPPED;
    }
    if (!gst_video_frame_map(
            &out, &filter->out_info, outbuf,
            GstMapFlags(int(GST_MAP_WRITE) | int(GST_VIDEO_FRAME_MAP_FLAG_NO_REF)))) {
        gst_video_frame_unmap(&in);
        GST_ELEMENT_ERROR(trans, CORE, FAILED, (nullptr), ("output frame not mapped"));
        return GST_FLOW_ERROR;
    }
    const GstFlowReturn ret = vorlund_color_space_transform_frame(filter, &in, &out);
    gst_video_frame_unmap(&out);
    gst_video_frame_unmap(&in);
    return ret;
}

static void vorlund_color_space_class_init(VorlundColorSpaceClass *klass)
{
    GObjectClass *gobject_class = G_OBJECT_CLASS(klass);
    GstElementClass *element_class = GST_ELEMENT_CLASS(klass);
    GstBaseTransformClass *trans_class = GST_BASE_TRANSFORM_CLASS(klass);
    GstVideoFilterClass *filter_class = GST_VIDEO_FILTER_CLASS(klass);

    gobject_class->set_property = vorlund_color_space_set_property;
    gobject_class->get_property = vorlund_color_space_get_property;

    const auto flags
        = GParamFlags(G_PARAM_READWRITE | G_PARAM_STATIC_STRINGS | GST_PARAM_MUTABLE_PLAYING);
    g_object_class_install_property(
        gobject_class, PROP_GATE,
        g_param_spec_boolean("gate", "Gate", "Last gate setting (kept, changes nothing)",
                             DEFAULT_GATE, flags));
    g_object_class_install_property(
        gobject_class, PROP_STAMP,
        g_param_spec_boolean("stamp", "Stamp", "Last stamp setting (kept, changes nothing)",
                             DEFAULT_STAMP, flags));

    gst_element_class_set_static_metadata(
        element_class, "Vorlund ColorSpace", "Filter/Converter/Video",
        "Converts YUY2 frames to BGR for the frame grabber", "Vorlund developers");
    gst_element_class_add_static_metadata(element_class, "class-id", VORLUND_COLOR_SPACE_CLASS_ID);
    gst_element_class_add_static_metadata(element_class, "control-id",
                                          VORLUND_COLOR_SPACE_CONTROL_ID);
    gst_element_class_add_static_metadata(element_class, "file-version",
                                          VORLUND_COLOR_SPACE_FILE_VERSION);
    gst_element_class_add_static_pad_template(element_class, &sink_template);
    gst_element_class_add_static_pad_template(element_class, &src_template);

    trans_class->transform_caps = vorlund_color_space_transform_caps;
    trans_class->passthrough_on_same_caps = FALSE;
    trans_class->transform = vorlund_color_space_transform;
    filter_class->set_info = vorlund_color_space_set_info;
    // Called from our own transform only, but its presence keeps the base class from
    // switching the element to in-place.
    filter_class->transform_frame = vorlund_color_space_transform_frame;
}

static void vorlund_color_space_init(VorlundColorSpace *self)
{
    self->gate = DEFAULT_GATE;
    self->stamp = DEFAULT_STAMP;
}
