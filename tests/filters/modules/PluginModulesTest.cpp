// The three plugin modules loaded from the plugin folder, as the server loads them: registered
// at rank NONE with their identifiers, and working in a pipeline under the server's control.
#include "../PipelineRun.h"
#include "AudioFilterControl.h"
#include "AviFilterControl.h"
#include "ColorSpaceFilterControl.h"
#include "PluginFolder.h"

#include <gst/gst.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

namespace vorlund {
namespace {

struct Module
{
    const char *plugin;
    const char *factory;
    const char *longName;
    const char *classId;
    const char *controlId;
};

void PrintTo(const Module &m, std::ostream *os)
{
    *os << m.plugin;
}

class PluginModuleTest : public ::testing::TestWithParam<Module>
{
protected:
    void SetUp() override { ASSERT_TRUE(AddPluginFolder(VORLUND_PLUGIN_DIR)); }
};

TEST_P(PluginModuleTest, LoadsFromThePluginFolderAtRankNone)
{
    const Module &m = GetParam();
    const std::filesystem::path file = PluginFileName(m.plugin);
    ASSERT_FALSE(file.empty());
    EXPECT_EQ(std::filesystem::canonical(file.parent_path()),
              std::filesystem::canonical(VORLUND_PLUGIN_DIR));

    GstElementFactory *factory = gst_element_factory_find(m.factory);
    ASSERT_NE(factory, nullptr);
    EXPECT_EQ(gst_plugin_feature_get_rank(GST_PLUGIN_FEATURE(factory)), guint(GST_RANK_NONE));
    EXPECT_STREQ(gst_element_factory_get_metadata(factory, GST_ELEMENT_METADATA_LONGNAME),
                 m.longName);
    EXPECT_STREQ(gst_element_factory_get_metadata(factory, "class-id"), m.classId);
    EXPECT_STREQ(gst_element_factory_get_metadata(factory, "control-id"), m.controlId);
    gst_object_unref(factory);
}

INSTANTIATE_TEST_SUITE_P(
    Modules, PluginModuleTest,
    ::testing::Values(Module { "VorlundAVI", IAviFilterControl::kFactoryName, "Vorlund AVI",
                               IAviFilterControl::kClassId, IAviFilterControl::kInterfaceId },
                      Module { "VorlundAudio", IAudioFilterControl::kFactoryName, "Vorlund Audio",
                               IAudioFilterControl::kClassId, IAudioFilterControl::kInterfaceId },
                      Module { "VorlundColorSpace", IColorSpaceFilterControl::kFactoryName,
                               "Vorlund ColorSpace", IColorSpaceFilterControl::kClassId,
                               IColorSpaceFilterControl::kInterfaceId }),
    [](const auto &info) { return std::string(info.param.plugin); });

// Runs `description` to its end; the element named `name` is handed to `control` first.
template <typename Control, typename Setup>
void RunToEos(const char *description, const char *name, Setup setup)
{
    ASSERT_TRUE(AddPluginFolder(VORLUND_PLUGIN_DIR));
    GError *error = nullptr;
    GstElement *pipeline = gst_parse_launch(description, &error);
    ASSERT_NE(pipeline, nullptr) << (error ? error->message : "");
    GstElement *element = gst_bin_get_by_name(GST_BIN(pipeline), name);
    {
        Control control(element);
        ASSERT_TRUE(control.IsValid());
        setup(control);
    }
    gst_object_unref(element);
    const test::PipelineEnd end = test::RunPipeline(pipeline, 10 * GST_SECOND);
    EXPECT_TRUE(end.eos) << end.error;
    gst_object_unref(pipeline);
}

TEST(PluginModulePipelines, AviGateRunsUnderTheServersControl)
{
    RunToEos<IAviFilterControl>("videotestsrc num-buffers=10 ! "
                                "video/x-raw,format=YUY2,width=320,height=240 ! "
                                "vorlundavi name=VorlundAVI ! fakesink",
                                "VorlundAVI", [](IAviFilterControl &control) {
                                    control.SetGateOpen(1);
                                    control.SetStampEnabled(1);
                                });
}

TEST(PluginModulePipelines, MissingFolderIsReported)
{
    EXPECT_FALSE(AddPluginFolder("/nonexistent/vorlund-plugins"));
    EXPECT_FALSE(AddPluginFolder(""));
}

TEST(PluginModulePipelines, AudioGateRunsUnderTheServersControl)
{
    RunToEos<IAudioFilterControl>("audiotestsrc num-buffers=20 ! vorlundaudio name=VorlundAudio "
                                  "! fakesink",
                                  "VorlundAudio", [](IAudioFilterControl &control) {
                                      control.SetRetiming(1, nullptr);
                                      control.SetGateOpen(1);
                                      control.SetReferenceTime(0);
                                  });
}

TEST(PluginModulePipelines, ColorSpaceConverterRunsUnderTheServersControl)
{
    RunToEos<IColorSpaceFilterControl>(
        "videotestsrc num-buffers=5 ! video/x-raw,format=YUY2,width=320,height=240 "
        "! vorlundcolorspace name=VorlundColorSpace ! video/x-raw,format=BGR ! fakesink",
        "VorlundColorSpace", [](IColorSpaceFilterControl &control) { control.SetStampEnabled(1); });
}

} // namespace
} // namespace vorlund

int main(int argc, char **argv)
{
    gst_init(&argc, &argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
