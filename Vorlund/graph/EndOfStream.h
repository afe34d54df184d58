// Ends a pipeline's streams without the UI thread waiting on a streaming lock.
#pragma once

#include <gst/gst.h>

#include "PendingCount.h"

#include <chrono>
#include <memory>

namespace vorlund {

// Sending an end of stream into a live source takes that source's stream lock, which its thread
// holds while it is blocked downstream (a full queue in front of a multiplexer that waits for
// the other stream). The sends therefore run on the pipeline's thread pool; the caller waits for
// the end of stream on the bus with a bound, and after the pipeline is stopped, for the sends.
class EndOfStreamSender
{
public:
    EndOfStreamSender();
    // An end of stream into `element`, or into its `pad` when one is given.
    void Send(GstElement *element, GstPad *pad);
    // True once every send returned; waits at most `bound`.
    bool WaitSent(std::chrono::milliseconds bound);

private:
    struct Job
    {
        std::shared_ptr<PendingCount> pending; // outlives the sender if a send does
        GstPad *pad = nullptr; // owned
    };
    std::shared_ptr<PendingCount> m_pending;
};

} // namespace vorlund
