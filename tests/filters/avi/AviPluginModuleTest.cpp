// The built VorlundAVI module loaded from the plugin folder, as the server loads it.
#include "AviFilterControl.h"
#include "PluginFolder.h"

#include <gst/gst.h>
#include <gtest/gtest.h>

#include <filesystem>

TEST(AviPluginModule, LoadsFromThePluginFolderAtRankNone)
{
    ASSERT_TRUE(vorlund::AddPluginFolder(VORLUND_PLUGIN_DIR));
    const std::filesystem::path file = vorlund::PluginFileName("VorlundAVI");
    ASSERT_FALSE(file.empty());
    EXPECT_EQ(std::filesystem::canonical(file.parent_path()),
              std::filesystem::canonical(VORLUND_PLUGIN_DIR));

    GstElementFactory *factory = gst_element_factory_find("vorlundavi");
    ASSERT_NE(factory, nullptr);
    EXPECT_EQ(gst_plugin_feature_get_rank(GST_PLUGIN_FEATURE(factory)), guint(GST_RANK_NONE));
    EXPECT_STREQ(gst_element_factory_get_metadata(factory, GST_ELEMENT_METADATA_LONGNAME),
                 "Vorlund AVI");
    EXPECT_STREQ(gst_element_factory_get_metadata(factory, "class-id"),
                 vorlund::IAviFilterControl::kClassId);
    EXPECT_STREQ(gst_element_factory_get_metadata(factory, "control-id"),
                 vorlund::IAviFilterControl::kInterfaceId);
    gst_object_unref(factory);
}

TEST(AviPluginModule, RunsInAPipelineAndTakesControl)
{
    ASSERT_TRUE(vorlund::AddPluginFolder(VORLUND_PLUGIN_DIR));
    GError *error = nullptr;
    GstElement *pipeline = gst_parse_launch("videotestsrc num-buffers=10 ! "
                                            "video/x-raw,format=YUY2,width=320,height=240 ! "
                                            "vorlundavi name=VorlundAVI ! fakesink name=sink",
                                            &error);
    ASSERT_NE(pipeline, nullptr) << (error ? error->message : "");
    GstElement *avi = gst_bin_get_by_name(GST_BIN(pipeline), "VorlundAVI");
    {
        vorlund::IAviFilterControl control(avi);
        ASSERT_TRUE(control.IsValid());
        control.SetGateOpen(1);
        control.SetStampEnabled(1);
    }
    gst_object_unref(avi);
    ASSERT_NE(gst_element_set_state(pipeline, GST_STATE_PLAYING), GST_STATE_CHANGE_FAILURE);
    GstBus *bus = gst_element_get_bus(pipeline);
    GstMessage *msg = gst_bus_timed_pop_filtered(
        bus, 10 * GST_SECOND, GstMessageType(GST_MESSAGE_EOS | GST_MESSAGE_ERROR));
    ASSERT_NE(msg, nullptr);
    EXPECT_EQ(GST_MESSAGE_TYPE(msg), GST_MESSAGE_EOS);
    gst_message_unref(msg);
    gst_object_unref(bus);
    gst_element_set_state(pipeline, GST_STATE_NULL);
    gst_object_unref(pipeline);
}

TEST(AviPluginModule, MissingFolderIsReported)
{
    EXPECT_FALSE(vorlund::AddPluginFolder("/nonexistent/vorlund-plugins"));
    EXPECT_FALSE(vorlund::AddPluginFolder(""));
}

int main(int argc, char **argv)
{
    gst_init(&argc, &argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
