#include "GraphUtils.h"

#include "Notifier.h"

#include <array>
#include <utility>
#include <vector>

namespace vorlund {

namespace {

std::vector<PadRef> PadsOf(GstElement *element, GstPadDirection direction)
{
    std::vector<PadRef> pads;
    GST_OBJECT_LOCK(element);
    GList *list = direction == GST_PAD_SRC ? element->srcpads : element->sinkpads;
    for (GList *l = list; l; l = l->next)
        pads.emplace_back(GST_PAD(l->data), RefMode::NeedsRef);
    GST_OBJECT_UNLOCK(element);
    return pads;
}

bool CarriesMajorType(const GstCaps *caps, MajorType type)
{
    if (!caps || gst_caps_is_any(caps))
        return false;
    for (guint i = 0; i < gst_caps_get_size(caps); ++i) {
        if (MajorTypeOf(gst_caps_get_structure(caps, i)) == type)
            return true;
    }
    return false;
}

bool IsRequestPad(GstPad *pad)
{
    GstPadTemplate *templ = gst_pad_get_pad_template(pad);
    if (!templ)
        return false;
    const bool request = GST_PAD_TEMPLATE_PRESENCE(templ) == GST_PAD_REQUEST;
    gst_object_unref(templ);
    return request;
}

bool LinkToHead(GstPad *pad, GstElement *head)
{
    if (!head)
        return false;
    PadRef sink(gst_element_get_static_pad(head, "sink"), RefMode::HasRef);
    return sink && !gst_pad_is_linked(sink.get())
        && gst_pad_link(pad, sink.get()) == GST_PAD_LINK_OK;
}

void OnPadAdded(GstElement *element, GstPad *pad, gpointer data)
{
    auto *links = static_cast<PadLinks *>(data);
    CapsRef caps(gst_pad_query_caps(pad, nullptr), RefMode::HasRef);
    const GstStructure *s = caps && !gst_caps_is_empty(caps.get()) && !gst_caps_is_any(caps.get())
        ? gst_caps_get_structure(caps.get(), 0)
        : nullptr;
    const MajorType type = MajorTypeOf(s);
    if (type == MajorType::Video) {
        LinkToHead(pad, links->videoHead.get());
        return;
    }
    if (type != MajorType::Audio || !links->audioHead || !links->mux)
        return;
    GstPad *muxPad = gst_element_request_pad_simple(links->mux.get(), "audio_%u");
    if (!muxPad)
        return;
    PadRef muxRef(muxPad, RefMode::HasRef);
    PadRef tail(gst_element_get_static_pad(links->audioTail.get(), "src"), RefMode::HasRef);
    if (gst_pad_link(tail.get(), muxPad) != GST_PAD_LINK_OK) {
        gst_element_release_request_pad(links->mux.get(), muxPad);
        return;
    }
    if (LinkToHead(pad, links->audioHead.get()))
        gst_element_post_message(
            element,
            gst_message_new_application(GST_OBJECT(element),
                                        gst_structure_new_empty(kDvAudioMessage)));
}

} // namespace

ElementRef FindElementByName(GstBin *bin, std::string_view name)
{
    if (!bin)
        return {};
    const std::string n(name);
    return ElementRef(gst_bin_get_by_name(bin, n.c_str()), RefMode::HasRef);
}

PadRef FindPinByDirection(GstElement *element, GstPadDirection direction, unsigned n)
{
    if (!element)
        return {};
    std::vector<PadRef> pads = PadsOf(element, direction);
    if (n >= pads.size())
        return {};
    return std::move(pads[n]);
}

MajorType MajorTypeOf(const GstStructure *structure)
{
    if (!structure)
        return MajorType::Other;
    const std::string_view name = gst_structure_get_name(structure);
    gboolean system = FALSE;
    const bool systemStream
        = gst_structure_get_boolean(structure, "systemstream", &system) && system;
    if (name == "video/x-dv")
        return systemStream ? MajorType::Interleaved : MajorType::Video;
    if (name == "video/mpegts" || name == "video/x-msvideo" || name == "video/quicktime"
        || name == "video/x-ms-asf" || (name == "video/mpeg" && systemStream))
        return MajorType::Stream;
    if (name.starts_with("video/") || name.starts_with("image/"))
        return MajorType::Video;
    if (name.starts_with("audio/"))
        return MajorType::Audio;
    return MajorType::Other;
}

PadRef GetPinByMajorType(GstElement *element, GstPadDirection direction, MajorType type)
{
    if (!element)
        return {};
    for (PadRef &pad : PadsOf(element, direction)) {
        CapsRef caps;
        if (gst_pad_is_linked(pad.get()))
            caps = CapsRef(gst_pad_get_current_caps(pad.get()), RefMode::HasRef);
        if (!caps)
            caps = CapsRef(gst_pad_query_caps(pad.get(), nullptr), RefMode::HasRef);
        if (CarriesMajorType(caps.get(), type))
            return std::move(pad);
    }
    return {};
}

void RemoveDownstreamFilters(GstElement *element)
{
    if (!element)
        return;
    const std::vector<PadRef> pads = PadsOf(element, GST_PAD_SRC);
    for (const PadRef &pad : pads) {
        PadRef peer(gst_pad_get_peer(pad.get()), RefMode::HasRef);
        if (!peer || GST_PAD_DIRECTION(peer.get()) != GST_PAD_SINK)
            continue;
        ElementRef downstream(gst_pad_get_parent_element(peer.get()), RefMode::HasRef);
        if (!downstream)
            continue;
        RemoveDownstreamFilters(downstream.get());
        gst_pad_unlink(pad.get(), peer.get());
        gst_element_set_state(downstream.get(), GST_STATE_NULL);
        GstObject *parent = gst_object_get_parent(GST_OBJECT(downstream.get()));
        if (parent) {
            if (GST_IS_BIN(parent))
                gst_bin_remove(GST_BIN(parent), downstream.get());
            gst_object_unref(parent);
        }
    }
    // A tee's output pads are made on request; a rebuild asks for new ones.
    for (const PadRef &pad : pads) {
        if (IsRequestPad(pad.get()))
            gst_element_release_request_pad(element, pad.get());
    }
}

std::string_view PackageForFactory(std::string_view factory)
{
    static constexpr std::array<std::pair<std::string_view, std::string_view>, 22> table { {
        { "videotestsrc", "gstreamer1.0-plugins-base" },
        { "audiotestsrc", "gstreamer1.0-plugins-base" },
        { "videoconvert", "gstreamer1.0-plugins-base" },
        { "audioconvert", "gstreamer1.0-plugins-base" },
        { "appsink", "gstreamer1.0-plugins-base" },
        { "v4l2src", "gstreamer1.0-plugins-good" },
        { "dv1394src", "gstreamer1.0-plugins-good" },
        { "dvdemux", "gstreamer1.0-plugins-good" },
        { "dvdec", "gstreamer1.0-plugins-good" },
        { "deinterlace", "gstreamer1.0-plugins-good" },
        { "jpegdec", "gstreamer1.0-plugins-good" },
        { "avimux", "gstreamer1.0-plugins-good" },
        { "mp4mux", "gstreamer1.0-plugins-good" },
        { "lamemp3enc", "gstreamer1.0-plugins-good" },
        { "pulsesrc", "gstreamer1.0-plugins-good" },
        { "asfmux", "gstreamer1.0-plugins-bad" },
        { "x264enc", "gstreamer1.0-plugins-ugly" },
        { "avenc_msmpeg4", "gstreamer1.0-libav" },
        { "avenc_msmpeg4v2", "gstreamer1.0-libav" },
        { "avenc_wmv2", "gstreamer1.0-libav" },
        { "avenc_wmav2", "gstreamer1.0-libav" },
        { "avenc_aac", "gstreamer1.0-libav" },
    } };
    for (const auto &[name, package] : table) {
        if (name == factory)
            return package;
    }
    if (factory.starts_with("avenc_") || factory.starts_with("avdec_"))
        return "gstreamer1.0-libav";
    return {};
}

std::string MissingElementMessage(std::string_view factory)
{
    std::string text = "The GStreamer element \"" + std::string(factory) + "\" is not installed";
    if (factory.starts_with("vorlund"))
        text += " (one of Vorlund's own plugins: check the plugin folder)";
    else if (const std::string_view package = PackageForFactory(factory); !package.empty())
        text += " (Debian package " + std::string(package) + ")";
    return text + ".";
}

CreatedFilter CreateFilter(std::string_view factory, GstBin *graph, std::string_view name,
                           INotifier *notifier)
{
    CreatedFilter out;
    const std::string factoryName(factory), elementName(name);
    GstRef<GstElementFactory> found(gst_element_factory_find(factoryName.c_str()), RefMode::HasRef);
    if (found) {
        out.element = ElementRef(gst_element_factory_create(found.get(), elementName.c_str()),
                                 RefMode::HasRef);
    }
    if (!out.element) {
        out.status = CreateFilterStatus::MissingPlugin;
        out.error = MissingElementMessage(factory);
        return out;
    }
    if (graph && !gst_bin_add(graph, out.element.get())) {
        out.status = CreateFilterStatus::AddFailed;
        out.error = "CreateFilter: Failed to add filter!";
        if (notifier)
            notifier->ShowMessage(out.error, "Error!");
        out.element.reset();
        return out;
    }
    out.status = CreateFilterStatus::Ok;
    return out;
}

void ConnectPadLinks(GstElement *element, PadLinks *links)
{
    g_signal_connect_data(
        element, "pad-added", G_CALLBACK(OnPadAdded), links,
        [](gpointer data, GClosure *) { delete static_cast<PadLinks *>(data); }, GConnectFlags(0));
}

CapsRef CapsOf(GstElement *capsfilter)
{
    GstCaps *caps = nullptr;
    if (capsfilter)
        g_object_get(capsfilter, "caps", &caps, nullptr);
    return CapsRef(caps, RefMode::HasRef);
}

CapsRef RawCaps(const char *format, PictureSize size, FrameRate rate)
{
    GstCaps *caps
        = gst_caps_new_simple("video/x-raw", "format", G_TYPE_STRING, format, "width", G_TYPE_INT,
                              size.width, "height", G_TYPE_INT, size.height, nullptr);
    if (rate.num > 0)
        gst_caps_set_simple(caps, "framerate", GST_TYPE_FRACTION, rate.num, rate.den, nullptr);
    return CapsRef(caps, RefMode::HasRef);
}

bool Link(GstElement *a, GstElement *b)
{
    return a && b && gst_element_link(a, b);
}

std::optional<int> SourceDeviceFd(GstElement *source)
{
    if (!source || !g_object_class_find_property(G_OBJECT_GET_CLASS(source), "device-fd"))
        return std::nullopt;
    int fd = -1;
    g_object_get(source, "device-fd", &fd, nullptr);
    if (fd < 0)
        return std::nullopt;
    return fd;
}

} // namespace vorlund
