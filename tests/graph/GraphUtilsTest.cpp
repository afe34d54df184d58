#include "GraphUtils.h"
#include "Notifier.h"

#include <gtest/gtest.h>

using namespace vorlund;

namespace {

ElementRef Parse(const char *description)
{
    GError *error = nullptr;
    GstElement *pipeline = gst_parse_launch(description, &error);
    EXPECT_EQ(error, nullptr) << (error ? error->message : "");
    if (error)
        g_error_free(error);
    return ElementRef(pipeline, RefMode::HasRef);
}

int ChildCount(GstElement *bin)
{
    return int(GST_BIN(bin)->numchildren);
}

bool Has(GstElement *bin, const char *name)
{
    return bool(FindElementByName(GST_BIN(bin), name));
}

} // namespace

TEST(GraphUtils, RemovesEverythingDownstreamOfTheSource)
{
    ElementRef graph = Parse("videotestsrc name=capture ! capsfilter ! tee name=InfTee "
                             "InfTee. ! queue ! fakesink name=record "
                             "InfTee. ! queue leaky=downstream ! fakesink name=SampleGrabber "
                             "audiotestsrc name=audio ! queue name=aq ! fakesink name=asink");
    ASSERT_TRUE(graph);
    GstBin *bin = GST_BIN(graph.get());
    ElementRef capture = FindElementByName(bin, "capture");
    ASSERT_TRUE(capture);
    ASSERT_EQ(gst_element_set_state(graph.get(), GST_STATE_PAUSED), GST_STATE_CHANGE_ASYNC);
    gst_element_get_state(graph.get(), nullptr, nullptr, 5 * GST_SECOND);
    gst_element_set_state(graph.get(), GST_STATE_NULL);

    RemoveDownstreamFilters(capture.get());
    EXPECT_EQ(ChildCount(graph.get()), 4);
    EXPECT_TRUE(Has(graph.get(), "capture"));
    EXPECT_FALSE(Has(graph.get(), "InfTee"));
    EXPECT_FALSE(Has(graph.get(), "SampleGrabber"));
    EXPECT_TRUE(Has(graph.get(), "asink"));
    PadRef out = FindFirstPin(capture.get(), GST_PAD_SRC);
    ASSERT_TRUE(out);
    EXPECT_FALSE(gst_pad_is_linked(out.get()));

    ElementRef audio = FindElementByName(bin, "audio");
    RemoveDownstreamFilters(audio.get());
    EXPECT_EQ(ChildCount(graph.get()), 2);
    RemoveDownstreamFilters(audio.get()); // nothing left to remove
    EXPECT_EQ(ChildCount(graph.get()), 2);
}

TEST(GraphUtils, SharedSinkIsRemovedOnceAndTeePadsAreReleased)
{
    ElementRef graph = Parse("videotestsrc name=a ! funnel name=mux ! fakesink name=file "
                             "videotestsrc name=b ! mux. "
                             "videotestsrc name=c ! tee name=InfTee ! queue ! fakesink "
                             "InfTee. ! queue ! fakesink");
    ASSERT_TRUE(graph);
    GstBin *bin = GST_BIN(graph.get());
    ElementRef a = FindElementByName(bin, "a"), b = FindElementByName(bin, "b");
    RemoveDownstreamFilters(a.get());
    EXPECT_FALSE(Has(graph.get(), "mux"));
    EXPECT_FALSE(Has(graph.get(), "file"));
    PadRef bOut = FindFirstPin(b.get(), GST_PAD_SRC);
    EXPECT_FALSE(gst_pad_is_linked(bOut.get()));

    ElementRef tee = FindElementByName(bin, "InfTee");
    EXPECT_TRUE(FindPinByDirection(tee.get(), GST_PAD_SRC, 1));
    RemoveDownstreamFilters(tee.get());
    EXPECT_TRUE(Has(graph.get(), "InfTee"));
    EXPECT_FALSE(FindFirstPin(tee.get(), GST_PAD_SRC));
    EXPECT_TRUE(FindFirstPin(tee.get(), GST_PAD_SINK));
    EXPECT_EQ(ChildCount(graph.get()), 4); // a, b, c and the tee
}

TEST(GraphUtils, FindsPadsByDirectionAndMajorType)
{
    ElementRef convert(gst_element_factory_make("videoconvert", nullptr), RefMode::HasRef);
    PadRef sink = FindPinByDirection(convert.get(), GST_PAD_SINK, 0);
    ASSERT_TRUE(sink);
    EXPECT_EQ(GST_PAD_DIRECTION(sink.get()), GST_PAD_SINK);
    EXPECT_FALSE(FindPinByDirection(convert.get(), GST_PAD_SRC, 1));
    EXPECT_FALSE(FindPinByDirection(nullptr, GST_PAD_SRC, 0));

    // An output is asked for: the video input never answers.
    PadRef video = GetPinByMajorType(convert.get(), GST_PAD_SRC, MajorType::Video);
    ASSERT_TRUE(video);
    EXPECT_EQ(GST_PAD_DIRECTION(video.get()), GST_PAD_SRC);
    EXPECT_FALSE(GetPinByMajorType(convert.get(), GST_PAD_SRC, MajorType::Audio));

    ElementRef tone(gst_element_factory_make("audiotestsrc", nullptr), RefMode::HasRef);
    EXPECT_TRUE(GetPinByMajorType(tone.get(), GST_PAD_SRC, MajorType::Audio));
    EXPECT_FALSE(GetPinByMajorType(tone.get(), GST_PAD_SRC, MajorType::Video));
}

TEST(GraphUtils, MajorTypesFromCaps)
{
    auto type = [](const char *caps) {
        CapsRef c(gst_caps_from_string(caps), RefMode::HasRef);
        return MajorTypeOf(gst_caps_get_structure(c.get(), 0));
    };
    EXPECT_EQ(type("video/x-raw,format=BGR"), MajorType::Video);
    EXPECT_EQ(type("image/jpeg"), MajorType::Video);
    EXPECT_EQ(type("video/x-dv,systemstream=true"), MajorType::Interleaved);
    EXPECT_EQ(type("video/x-dv,systemstream=false"), MajorType::Video);
    EXPECT_EQ(type("video/mpeg,mpegversion=2,systemstream=true"), MajorType::Stream);
    EXPECT_EQ(type("video/mpegts"), MajorType::Stream);
    EXPECT_EQ(type("audio/x-raw"), MajorType::Audio);
    EXPECT_EQ(type("application/x-rtp"), MajorType::Other);
}

TEST(GraphUtils, CreateFilterNamesWhatIsMissing)
{
    ElementRef graph(gst_pipeline_new("graph"), RefMode::HasRef);
    GstBin *bin = GST_BIN(graph.get());
    RecordingNotifier notifier;

    CreatedFilter tee = CreateFilter("tee", bin, "InfTee", &notifier);
    EXPECT_EQ(tee.status, CreateFilterStatus::Ok);
    ASSERT_TRUE(tee.element);
    EXPECT_EQ(FindElementByName(bin, "InfTee").get(), tee.element.get());

    CreatedFilter again = CreateFilter("queue", bin, "InfTee", &notifier);
    EXPECT_EQ(again.status, CreateFilterStatus::AddFailed);
    EXPECT_FALSE(again.element);
    ASSERT_EQ(notifier.entries.size(), 1u);
    EXPECT_EQ(notifier.entries[0].text, "CreateFilter: Failed to add filter!");
    EXPECT_EQ(notifier.entries[0].caption, "Error!");

    CreatedFilter missing = CreateFilter("no_such_element", bin, "x", &notifier);
    EXPECT_EQ(missing.status, CreateFilterStatus::MissingPlugin);
    EXPECT_EQ(missing.error, "The GStreamer element \"no_such_element\" is not installed.");
    EXPECT_EQ(notifier.entries.size(), 1u); // the caller reports it
    EXPECT_EQ(ChildCount(graph.get()), 1);

    EXPECT_EQ(MissingElementMessage("x264enc"),
              "The GStreamer element \"x264enc\" is not installed "
              "(Debian package gstreamer1.0-plugins-ugly).");
    EXPECT_EQ(MissingElementMessage("vorlundavi"),
              "The GStreamer element \"vorlundavi\" is not installed "
              "(one of Vorlund's own plugins: check the plugin folder).");
    EXPECT_EQ(PackageForFactory("avenc_mpeg4"), "gstreamer1.0-libav");
}
