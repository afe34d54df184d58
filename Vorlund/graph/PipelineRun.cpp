#include "PipelineRun.h"

#include "GraphDebug.h"

#include "GraphMessages.h"
#include "GraphUtils.h"
#include "Messages.h"

#include <algorithm>
#include <filesystem>
#include <utility>

namespace vorlund {

namespace {

// How long a stopped pipeline's end-of-stream sends may take to return.
constexpr std::chrono::milliseconds kEosSendWait { 2000 };

} // namespace

void PipelineRun::Watch(GstElement *pipeline, std::function<void()> drain)
{
    BusRef bus(gst_pipeline_get_bus(GST_PIPELINE(pipeline)), RefMode::HasRef);
    m_busWatch = std::make_unique<BusWatch>(bus.get(), std::move(drain));
}

bool PipelineRun::Start(GstElement *pipeline)
{
    m_faulted = false;
    m_endReachedFile = false;
    if (gst_element_set_state(pipeline, GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE)
        return false;
    m_running = true;
    return true;
}

void PipelineRun::Stop(const GraphParts &parts, std::chrono::milliseconds eosWait)
{
    GstElement *pipeline = parts.m_pGraph.get();
    if (!pipeline)
        return;
    // After an error the stream is dead somewhere: an end of stream would never come through,
    // and the file stays as the fault left it.
    if (m_running && !m_faulted) {
        if (m_busWatch)
            m_busWatch->SetEnabled(false);
        EndStreams(parts);
        BusRef bus(gst_element_get_bus(pipeline), RefMode::HasRef);
        MessageRef done(
            gst_bus_timed_pop_filtered(bus.get(), GstClockTime(eosWait.count()) * GST_MSECOND,
                                       GstMessageType(GST_MESSAGE_EOS | GST_MESSAGE_ERROR)),
            RefMode::HasRef);
        m_endReachedFile = done && GST_MESSAGE_TYPE(done.get()) == GST_MESSAGE_EOS;
        GST_INFO("stop: %s",
                 m_endReachedFile ? "the end of stream reached the file"
                     : done       ? "an error came before the end of stream"
                                  : "no end of stream in time");
    } else if (m_running) {
        GST_INFO("stop after an error: no end of stream can come through");
    }
    gst_element_set_state(pipeline, GST_STATE_NULL);
    // Stopped streaming threads let go of their locks: a send still waiting ends now. One that
    // does not must never reach the kept device in the next run.
    if (!m_endOfStream.WaitSent(kEosSendWait))
        m_context.engine.KeepDeviceFilter = 0;
    m_running = false;
    // What the old run reported is no news for the next one.
    BusRef bus(gst_element_get_bus(pipeline), RefMode::HasRef);
    gst_bus_set_flushing(bus.get(), TRUE);
    gst_bus_set_flushing(bus.get(), FALSE);
    if (m_busWatch)
        m_busWatch->SetEnabled(true);
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

GraphEvent PipelineRun::ErrorEvent(const GraphParts &parts, const GError *error,
                                   GstObject *source)
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
            m_faulted = true;
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
