// The built pipeline's run: its start, its stop (the end of stream first, so the file is
// finished, unless a fault means none can come through) and the events its bus reports to the
// run control. UI thread only.
#pragma once

#include "BusWatch.h"
#include "EndOfStream.h"
#include "GraphParts.h"
#include "ServerContext.h"

#include <gst/gst.h>

#include <chrono>
#include <functional>
#include <memory>
#include <vector>

namespace vorlund {

class PipelineRun
{
public:
    explicit PipelineRun(ServerContext &context) : m_context(context) {}
    PipelineRun(const PipelineRun &) = delete;
    PipelineRun &operator=(const PipelineRun &) = delete;

    // `drain` runs on this thread whenever the pipeline's bus holds messages.
    void Watch(GstElement *pipeline, std::function<void()> drain);
    void Unwatch() { m_busWatch.reset(); }

    bool Start(GstElement *pipeline);
    // Ends the streams and waits up to `eosWait` for the end to reach the file, then stops.
    void Stop(const GraphParts &parts, std::chrono::milliseconds eosWait);
    bool Running() const { return m_running; }
    // Whether the last stop's end of stream reached the file (false again for a new file).
    bool EndReachedFile() const { return m_endReachedFile; }
    void NewFile() { m_endReachedFile = false; }
    // The pipeline's running time now; none while it does not run.
    GstClockTime RunningTime(GstElement *pipeline) const;

    // Reads what the bus holds into events; the first one waiting posts WM_GRAPH_EVENT.
    void DrainBus(const GraphParts &parts);
    std::vector<GraphEvent> TakeEvents();

    static uint32_t ErrorCode(const GError *error);
    static constexpr uint32_t kEndOfStreamCode = 0x80050000u;

private:
    // The end of stream into every source (and head that never got pads), off the UI thread.
    void EndStreams(const GraphParts &parts);
    void AddEvent(GraphEvent event);
    static GraphEvent ErrorEvent(const GraphParts &parts, const GError *error,
                                 GstObject *source);

    ServerContext &m_context;
    std::unique_ptr<BusWatch> m_busWatch;
    EndOfStreamSender m_endOfStream;
    std::vector<GraphEvent> m_events;
    bool m_eventPosted = false;
    bool m_running = false;
    bool m_faulted = false; // an error came during this run: no end of stream can finish it
    bool m_endReachedFile = false;
};

} // namespace vorlund
