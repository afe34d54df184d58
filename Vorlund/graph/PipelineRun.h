// The built pipeline's run: its start, its stop (the end of stream first, so the file is
// finished, after a fault too: a failed source ends its own stream and the others still can)
// and the events its bus reports to the run control. UI thread only.
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

// Test hook: `source` fails at its next buffer (a read error, then its own end of stream).
bool FailSourceOnce(GstElement *source);

class PipelineRun
{
public:
    explicit PipelineRun(ServerContext &context) : m_context(context) { }
    PipelineRun(const PipelineRun &) = delete;
    PipelineRun &operator=(const PipelineRun &) = delete;

    // `drain` runs on this thread whenever the pipeline's bus holds messages.
    void Watch(GstElement *pipeline, std::function<void()> drain);
    void Unwatch() { m_busWatch.reset(); }

    bool Start(GstElement *pipeline);
    // Ends the streams and waits up to `eosWait` for the end to reach the file (`fileEnded`
    // says it did; without it, every sink's end is awaited), then stops. The wait ends early
    // once the file sink failed: no end of stream can finish that file.
    void Stop(const GraphParts &parts, std::chrono::milliseconds eosWait,
              const std::function<bool()> &fileEnded = {});
    bool Running() const { return m_running; }
    // The file sink reported an error since the file was made.
    bool FileWriteFailed() const { return m_fileWriteFailed; }
    void NewFile() { m_fileWriteFailed = false; }
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
    void NoteError(const GraphParts &parts, GstMessage *error);
    static GraphEvent ErrorEvent(const GraphParts &parts, const GError *error, GstObject *source);

    ServerContext &m_context;
    std::unique_ptr<BusWatch> m_busWatch;
    EndOfStreamSender m_endOfStream;
    std::vector<GraphEvent> m_events;
    bool m_eventPosted = false;
    bool m_running = false;
    bool m_fileWriteFailed = false;
};

} // namespace vorlund
