#include "EndOfStream.h"

namespace vorlund {

EndOfStreamSender::EndOfStreamSender() : m_pending(std::make_shared<PendingCount>()) { }

void EndOfStreamSender::Send(GstElement *element, GstPad *pad)
{
    m_pending->Add();
    auto *job = new Job { m_pending, pad ? GST_PAD(gst_object_ref(pad)) : nullptr };
    gst_element_call_async(
        element,
        [](GstElement *target, gpointer data) {
            auto *job = static_cast<Job *>(data);
            if (job->pad)
                gst_pad_send_event(job->pad, gst_event_new_eos());
            else
                gst_element_send_event(target, gst_event_new_eos());
        },
        job,
        [](gpointer data) {
            auto *job = static_cast<Job *>(data);
            if (job->pad)
                gst_object_unref(job->pad);
            job->pending->Done();
            delete job;
        });
}

bool EndOfStreamSender::WaitSent(std::chrono::milliseconds bound)
{
    return m_pending->WaitNone(bound);
}

} // namespace vorlund
