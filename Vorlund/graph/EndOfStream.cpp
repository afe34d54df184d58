#include "EndOfStream.h"

namespace vorlund {

EndOfStreamSender::EndOfStreamSender() : m_pending(std::make_shared<Pending>()) { }

void EndOfStreamSender::Send(GstElement *element, GstPad *pad)
{
    {
        std::lock_guard lock(m_pending->lock);
        ++m_pending->count;
    }
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
            {
                std::lock_guard lock(job->pending->lock);
                --job->pending->count;
                job->pending->done.notify_all();
            }
            delete job;
        });
}

bool EndOfStreamSender::WaitSent(std::chrono::milliseconds bound)
{
    std::unique_lock lock(m_pending->lock);
    return m_pending->done.wait_for(lock, bound, [this] { return m_pending->count == 0; });
}

} // namespace vorlund
