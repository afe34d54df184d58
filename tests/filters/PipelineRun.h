// Running a test pipeline to its end, shared by the filter tests that use real pipelines.
#pragma once

#include <gst/gst.h>

#include <string>

namespace vorlund::test {

struct PipelineEnd
{
    bool eos = false;
    std::string error; // the error's text; "timed out" when neither EOS nor an error came
};

// Sets `pipeline` playing, waits for EOS or an error, then sets it to NULL.
inline PipelineEnd RunPipeline(GstElement *pipeline, GstClockTime timeout = 20 * GST_SECOND)
{
    PipelineEnd end;
    if (gst_element_set_state(pipeline, GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE) {
        end.error = "could not start";
        gst_element_set_state(pipeline, GST_STATE_NULL);
        return end;
    }
    GstBus *bus = gst_element_get_bus(pipeline);
    GstMessage *msg = gst_bus_timed_pop_filtered(
        bus, timeout, GstMessageType(GST_MESSAGE_EOS | GST_MESSAGE_ERROR));
    if (!msg) {
        end.error = "timed out";
    } else if (GST_MESSAGE_TYPE(msg) == GST_MESSAGE_EOS) {
        end.eos = true;
    } else {
        GError *err = nullptr;
        gst_message_parse_error(msg, &err, nullptr);
        end.error = err ? err->message : "error";
        if (err)
            g_error_free(err);
    }
    if (msg)
        gst_message_unref(msg);
    gst_object_unref(bus);
    gst_element_set_state(pipeline, GST_STATE_NULL);
    return end;
}

} // namespace vorlund::test
