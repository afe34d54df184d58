// The three plugin modules loaded from the plugin folder, as the server loads them: registered
// at rank NONE with their identifiers, and working in a pipeline under the server's control.
#include "../PipelineRun.h"
#include "AudioFilterControl.h"
#include "AviFilterControl.h"
#include "ColorSpaceFilterControl.h"
#include "PluginFolder.h"

#include <gst/gst.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

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

using Bytes = std::vector<uint8_t>;

// The buffers that went into and came out of one element.
struct Flow
{
    std::vector<Bytes> in, out;
};

GstPadProbeReturn Record(GstPad *, GstPadProbeInfo *info, gpointer data)
{
    auto *buffers = static_cast<std::vector<Bytes> *>(data);
    GstBuffer *buffer = GST_PAD_PROBE_INFO_BUFFER(info);
    GstMapInfo map;
    if (buffer && gst_buffer_map(buffer, &map, GST_MAP_READ)) {
        buffers->emplace_back(map.data, map.data + map.size);
        gst_buffer_unmap(buffer, &map);
    }
    return GST_PAD_PROBE_OK;
}

// Runs `description` to its end and records what the element named `name` was given and what
// it passed on; the element is handed to `control` first.
template <typename Control, typename Setup>
void RunToEos(const char *description, const char *name, Setup setup, Flow &flow)
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
    for (auto [pad, buffers] : { std::pair { "sink", &flow.in }, std::pair { "src", &flow.out } }) {
        GstPad *p = gst_element_get_static_pad(element, pad);
        ASSERT_NE(p, nullptr) << pad;
        gst_pad_add_probe(p, GST_PAD_PROBE_TYPE_BUFFER, Record, buffers, nullptr);
        gst_object_unref(p);
    }
    gst_object_unref(element);
    // Only the streaming thread records; it has stopped once the pipeline is back at NULL.
    const test::PipelineEnd end = test::RunPipeline(pipeline, 10 * GST_SECOND);
    EXPECT_TRUE(end.eos) << end.error;
    gst_object_unref(pipeline);
}

struct GateCase
{
    int open;
    int stamp;
    size_t passed; // buffers out of the element
    bool changed; // whether what passed differs from what came in
};

TEST(PluginModulePipelines, AviGateRunsUnderTheServersControl)
{
    const GateCase cases[] = { { 1, 0, 10, false }, { 0, 0, 0, false }, { 1, 1, 10, true } };
    for (const GateCase &c : cases) {
        SCOPED_TRACE(testing::Message() << "open " << c.open << " stamp " << c.stamp);
        Flow flow;
        RunToEos<IAviFilterControl>(
            "videotestsrc num-buffers=10 pattern=black ! "
            "video/x-raw,format=YUY2,width=320,height=240 ! "
            "vorlundavi name=VorlundAVI ! fakesink",
            "VorlundAVI",
            [&](IAviFilterControl &control) {
                control.SetGateOpen(c.open);
                control.SetStampEnabled(c.stamp);
            },
            flow);
        ASSERT_EQ(flow.in.size(), 10u);
        ASSERT_EQ(flow.out.size(), c.passed);
        for (size_t i = 0; i < flow.out.size(); ++i) {
            ASSERT_EQ(flow.out[i].size(), flow.in[i].size()) << "frame " << i;
            EXPECT_EQ(flow.out[i] != flow.in[i], c.changed) << "frame " << i;
        }
    }
}

TEST(PluginModulePipelines, MissingFolderIsReported)
{
    EXPECT_FALSE(AddPluginFolder("/nonexistent/vorlund-plugins"));
    EXPECT_FALSE(AddPluginFolder(""));
}

TEST(PluginModulePipelines, AudioGateRunsUnderTheServersControl)
{
    for (int open : { 1, 0 }) {
        SCOPED_TRACE(testing::Message() << "open " << open);
        Flow flow;
        RunToEos<IAudioFilterControl>(
            "audiotestsrc num-buffers=20 ! vorlundaudio "
            "name=VorlundAudio ! fakesink",
            "VorlundAudio",
            [&](IAudioFilterControl &control) {
                control.SetRetiming(1, nullptr);
                control.SetGateOpen(open);
                control.SetReferenceTime(0);
            },
            flow);
        ASSERT_EQ(flow.in.size(), 20u);
        // An open gate passes the sound as it came; a closed one passes nothing.
        if (open)
            EXPECT_EQ(flow.out, flow.in);
        else
            EXPECT_TRUE(flow.out.empty());
    }
}

TEST(PluginModulePipelines, ColorSpaceConverterRunsUnderTheServersControl)
{
    Flow flow;
    RunToEos<IColorSpaceFilterControl>(
        "videotestsrc num-buffers=5 pattern=white ! video/x-raw,format=YUY2,width=320,height=240 "
        "! vorlundcolorspace name=VorlundColorSpace ! video/x-raw,format=BGR ! fakesink",
        "VorlundColorSpace", [](IColorSpaceFilterControl &control) { control.SetStampEnabled(1); },
        flow);
    ASSERT_EQ(flow.in.size(), 5u);
    ASSERT_EQ(flow.out.size(), 5u);
    // White YUY2 in, white BGR out: three bytes a pixel, every one full.
    for (const Bytes &frame : flow.out) {
        ASSERT_EQ(frame.size(), 320u * 240 * 3);
        EXPECT_TRUE(std::all_of(frame.begin(), frame.end(), [](uint8_t b) { return b == 255; }));
    }
}

} // namespace
} // namespace vorlund

int main(int argc, char **argv)
{
    gst_init(&argc, &argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
