#include "PipelineRun.h"

#include "GraphDebug.h"

#include "GraphMessages.h"
#include "GraphUtils.h"
#include "Messages.h"

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <utility>

namespace vorlund {

namespace {

// How long a stopped pipeline's end-of-stream sends may take to return.
constexpr std::chrono::milliseconds kEosSendWait { 2000 };
// How often the stop looks whether the end of stream reached the file.
constexpr std::chrono::milliseconds kEosPoll { 10 };

} // namespace

bool FailSourceOnce(GstElement *source)
{
    PadRef pad(source ? gst_element_get_static_pad(source, "src") : nullptr, RefMode::HasRef);
    if (!pad)
        return false;
    gst_pad_add_probe(
        pad.get(), GST_PAD_PROBE_TYPE_BUFFER,
        +[](GstPad *pad, GstPadProbeInfo *info, gpointer data) {
            if (static_cast<std::atomic<bool> *>(data)->exchange(true))
                return GST_PAD_PROBE_REMOVE;
            GstElement *element = GST_ELEMENT(gst_pad_get_parent(pad));
            GST_ELEMENT_ERROR(element, RESOURCE, READ, ("Could not read from the device."),
                              ("injected source fault"));
            gst_object_unref(element);
            gst_mini_object_unref(GST_MINI_OBJECT(GST_PAD_PROBE_INFO_DATA(info)));
            GST_PAD_PROBE_INFO_FLOW_RETURN(info) = GST_FLOW_ERROR;
            return GST_PAD_PROBE_HANDLED;
        },
        new std::atomic<bool>(false),
        [](gpointer data) { delete static_cast<std::atomic<bool> *>(data); });
    return true;
}

void PipelineRun::Watch(GstElement *pipeline, std::function<void()> drain)
{
    BusRef bus(gst_pipeline_get_bus(GST_PIPELINE(pipeline)), RefMode::HasRef);
    m_busWatch = std::make_unique<BusWatch>(bus.get(), std::move(drain));
}

bool PipelineRun::Start(GstElement *pipeline)
{
    if (gst_element_set_state(pipeline, GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE)
        return false;
    m_running = true;
    return true;
}

void PipelineRun::Stop(const GraphParts &parts, std::chrono::milliseconds eosWait,
                       const std::function<bool()> &fileEnded)
{
    GstElement *pipeline = parts.m_pGraph.get();
    if (!pipeline)
        return;
    BusRef bus(gst_element_get_bus(pipeline), RefMode::HasRef);
    // After an error too: a failed source pushes its own end of stream, and the other branch's
    // end still carries the multiplexer to the end of the file.
    if (m_running) {
        if (m_busWatch)
            m_busWatch->SetEnabled(false);
        EndStreams(parts);
        const auto deadline = std::chrono::steady_clock::now() + eosWait;
        bool ended = false;
        while (!ended && !m_fileWriteFailed) {
            if (fileEnded && fileEnded()) {
                ended = true;
                break;
            }
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0)
                break;
            MessageRef message(gst_bus_timed_pop_filtered(
                                   bus.get(),
                                   GstClockTime(std::min(left, kEosPoll).count()) * GST_MSECOND,
                                   GstMessageType(GST_MESSAGE_EOS | GST_MESSAGE_ERROR)),
                               RefMode::HasRef);
            if (message && GST_MESSAGE_TYPE(message.get()) == GST_MESSAGE_EOS)
                ended = true;
            else if (message)
                NoteError(parts, message.get());
        }
        GST_INFO("stop: %s",
                 ended                   ? "the end of stream reached the file"
                     : m_fileWriteFailed ? "the file sink failed"
                                         : "no end of stream in time");
    }
    gst_element_set_state(pipeline, GST_STATE_NULL);
    // Stopped streaming threads let go of their locks: a send still waiting ends now. One that
    // does not must never reach the kept device in the next run.
    if (!m_endOfStream.WaitSent(kEosSendWait))
        m_context.engine.KeepDeviceFilter = 0;
    m_running = false;
    // What the old run reported is no news for the next one, save a failed write of its file.
    while (GstMessage *raw = gst_bus_pop_filtered(bus.get(), GST_MESSAGE_ERROR)) {
        MessageRef message(raw, RefMode::HasRef);
        NoteError(parts, raw);
    }
    gst_bus_set_flushing(bus.get(), TRUE);
    gst_bus_set_flushing(bus.get(), FALSE);
    if (m_busWatch)
        m_busWatch->SetEnabled(true);
}

void PipelineRun::NoteError(const GraphParts &parts, GstMessage *error)
{
    GstElement *sink = parts.m_pFileSink.get();
    if (sink && GST_MESSAGE_SRC(error) == GST_OBJECT(sink))
        m_fileWriteFailed = true;
}

void PipelineRun::EndStreams(const GraphParts &parts)
{
    std::vector<ElementRef> sources;
    GstIterator *it = gst_bin_iterate_sources(GST_BIN(parts.m_pGraph.get()));
    GValue item = G_VALUE_INIT;
    while (gst_iterator_next(it, &item) == GST_ITERATOR_OK) {
        sources.emplace_back(GST_ELEMENT(g_value_get_object(&item)), RefMode::NeedsRef);
        g_value_reset(&item);
    }
    g_value_unset(&item);
    gst_iterator_free(it);
    // The picture first: while its gate is shut the multiplexer may hold the sound branch, and
    // only the picture's end of stream lets it go.
    std::stable_partition(sources.begin(), sources.end(), [&parts](const ElementRef &source) {
        return source.get() == parts.m_pCapture.get();
    });
    for (const ElementRef &source : sources)
        m_endOfStream.Send(source.get(), nullptr);
    // A splitter or decoder that never saw a frame has no pads to pass the end on.
    for (GstElement *head : { parts.dvVideoHead.get(), parts.decodedHead.get() }) {
        PadRef sink(head ? gst_element_get_static_pad(head, "sink") : nullptr, RefMode::HasRef);
        if (sink && !gst_pad_is_linked(sink.get()))
            m_endOfStream.Send(head, sink.get());
    }
}

GstClockTime PipelineRun::RunningTime(GstElement *pipeline) const
{
    if (!m_running || !pipeline)
        return GST_CLOCK_TIME_NONE;
    ClockRef clock(gst_element_get_clock(pipeline), RefMode::HasRef);
    if (!clock)
        return GST_CLOCK_TIME_NONE;
    const GstClockTime now = gst_clock_get_time(clock.get());
    const GstClockTime base = gst_element_get_base_time(pipeline);
    return now >= base ? now - base : GST_CLOCK_TIME_NONE;
}

void PipelineRun::AddEvent(GraphEvent event)
{
    m_events.push_back(std::move(event));
    if (!m_eventPosted) {
        m_eventPosted = true;
        m_context.sink.PostMessage(WM_GRAPH_EVENT, 0);
    }
}

GraphEvent PipelineRun::ErrorEvent(const GraphParts &parts, const GError *error, GstObject *source)
{
    GraphEvent event;
    event.code = ErrorCode(error);
    event.text = error && error->message ? error->message : "";
    // The capture source failing on a device node that is gone: the device was removed.
    GstElement *capture = parts.m_pCapture.get();
    if (capture && source == GST_OBJECT(capture) && error && error->domain == GST_RESOURCE_ERROR
        && g_object_class_find_property(G_OBJECT_GET_CLASS(capture), "device")) {
        gchar *device = nullptr;
        g_object_get(capture, "device", &device, nullptr);
        std::error_code ec;
        if (device && *device && !std::filesystem::exists(device, ec))
            event.kind = GraphEvent::Kind::DeviceLost;
        g_free(device);
    }
    return event;
}

uint32_t PipelineRun::ErrorCode(const GError *error)
{
    // 0x8xDDCCCC: D = the error's domain (1 core, 2 library, 3 resource, 4 stream), C its code.
    if (!error)
        return 0x80000000u;
    uint32_t domain = 0;
    if (error->domain == GST_CORE_ERROR)
        domain = 1;
    else if (error->domain == GST_LIBRARY_ERROR)
        domain = 2;
    else if (error->domain == GST_RESOURCE_ERROR)
        domain = 3;
    else if (error->domain == GST_STREAM_ERROR)
        domain = 4;
    return 0x80000000u | (domain << 16) | (uint32_t(error->code) & 0xFFFFu);
}

void PipelineRun::DrainBus(const GraphParts &parts)
{
    GstElement *pipeline = parts.m_pGraph.get();
    if (!pipeline)
        return;
    BusRef bus(gst_element_get_bus(pipeline), RefMode::HasRef);
    while (GstMessage *raw = gst_bus_pop(bus.get())) {
        MessageRef message(raw, RefMode::HasRef);
        switch (GST_MESSAGE_TYPE(raw)) {
        case GST_MESSAGE_ERROR: {
            NoteError(parts, raw);
            GError *error = nullptr;
            gst_message_parse_error(raw, &error, nullptr);
            AddEvent(ErrorEvent(parts, error, GST_MESSAGE_SRC(raw)));
            g_clear_error(&error);
            break;
        }
        case GST_MESSAGE_EOS:
            // An end of stream nobody asked for: the source stopped.
            AddEvent({ GraphEvent::Kind::Abort, kEndOfStreamCode, "end of stream" });
            break;
        case GST_MESSAGE_APPLICATION:
            if (gst_structure_has_name(gst_message_get_structure(raw), kDvAudioMessage))
                m_context.shell.SetPaneText(kPaneDevice, "DV Cam - Audio ON");
            break;
        default:
            break;
        }
    }
}

std::vector<GraphEvent> PipelineRun::TakeEvents()
{
    m_eventPosted = false;
    return std::exchange(m_events, {});
}

} // namespace vorlund
