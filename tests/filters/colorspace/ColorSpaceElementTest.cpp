// The element in a harness and in a real pipeline.
#include "../PipelineRun.h"
#include "Yuy2ToBgr.h"
#include "gstvorlundcolorspace.h"

#include <gst/app/gstappsink.h>
#include <gst/app/gstappsrc.h>
#include <gst/check/gstharness.h>
#include <gst/video/video.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

namespace vorlund {
namespace {

struct HarnessDeleter
{
    void operator()(GstHarness *h) const { gst_harness_teardown(h); }
};
using Harness = std::unique_ptr<GstHarness, HarnessDeleter>;

std::string Caps(const char *format, int width, int height)
{
    return "video/x-raw,format=" + std::string(format) + ",width=" + std::to_string(width)
        + ",height=" + std::to_string(height) + ",framerate=25/1";
}

Harness NewHarness(int width, int height)
{
    Harness h(gst_harness_new("vorlundcolorspace"));
    gst_harness_set_caps_str(h.get(), Caps("YUY2", width, height).c_str(),
                             Caps("BGR", width, height).c_str());
    return h;
}

// A YUY2 frame with its default (padded) stride; luma and chroma vary along and across rows.
std::vector<uint8_t> RampFrame(const GstVideoInfo &info)
{
    std::vector<uint8_t> frame(GST_VIDEO_INFO_SIZE(&info), 0);
    const int stride = GST_VIDEO_INFO_PLANE_STRIDE(&info, 0);
    for (int row = 0; row < GST_VIDEO_INFO_HEIGHT(&info); ++row) {
        for (int pair = 0; pair < (GST_VIDEO_INFO_WIDTH(&info) + 1) / 2; ++pair) {
            uint8_t *p = frame.data() + row * stride + 4 * pair;
            p[0] = uint8_t(16 + (pair * 3 + row) % 220);
            p[1] = uint8_t(pair * 9 + row * 5);
            p[2] = uint8_t(16 + (pair * 5 + row * 2) % 220);
            p[3] = uint8_t(255 - pair * 7 - row);
        }
    }
    return frame;
}

class ColorSpaceWidthTest : public ::testing::TestWithParam<int>
{
};

TEST_P(ColorSpaceWidthTest, ConvertsEveryRowOnTheNegotiatedStrides)
{
    const int width = GetParam(), height = 5;
    GstVideoInfo in, out;
    gst_video_info_set_format(&in, GST_VIDEO_FORMAT_YUY2, width, height);
    gst_video_info_set_format(&out, GST_VIDEO_FORMAT_BGR, width, height);
    const std::vector<uint8_t> frame = RampFrame(in);

    Harness h = NewHarness(width, height);
    GstBuffer *buffer = gst_buffer_new_memdup(frame.data(), frame.size());
    GST_BUFFER_PTS(buffer) = 0;
    ASSERT_EQ(gst_harness_push(h.get(), buffer), GST_FLOW_OK);
    GstBuffer *result = gst_harness_pull(h.get());
    ASSERT_NE(result, nullptr);

    GstMapInfo map;
    ASSERT_TRUE(gst_buffer_map(result, &map, GST_MAP_READ));
    ASSERT_GE(map.size, GST_VIDEO_INFO_SIZE(&out));
    const int inStride = GST_VIDEO_INFO_PLANE_STRIDE(&in, 0);
    const int outStride = GST_VIDEO_INFO_PLANE_STRIDE(&out, 0);
    std::vector<uint8_t> expected(size_t(width) * 3);
    for (int row = 0; row < height; ++row) {
        ConvertYuy2RowPlain(frame.data() + row * inStride, expected.data(), width);
        EXPECT_EQ(0, memcmp(map.data + row * outStride, expected.data(), expected.size()))
            << "row " << row;
    }
    EXPECT_EQ(GST_BUFFER_PTS(result), 0u);
    gst_buffer_unmap(result, &map);
    gst_buffer_unref(result);
}

INSTANTIATE_TEST_SUITE_P(Widths, ColorSpaceWidthTest, ::testing::Values(2, 6, 7, 642, 720));

TEST(ColorSpaceElement, RefusesAnythingButYuy2In)
{
    Harness h(gst_harness_new("vorlundcolorspace"));
    gst_harness_set_src_caps_str(h.get(), Caps("I420", 8, 8).c_str());
    GstBuffer *buffer = gst_buffer_new_allocate(nullptr, 8 * 8 * 3 / 2, nullptr);
    EXPECT_EQ(gst_harness_push(h.get(), buffer), GST_FLOW_NOT_NEGOTIATED);
}

TEST(ColorSpaceElement, ControlSettingsAreKeptAndChangeNothing)
{
    Harness h = NewHarness(8, 2);
    GstElement *element = h->element;
    g_object_set(element, "gate", TRUE, "stamp", TRUE, nullptr);
    gboolean gate = FALSE, stamp = FALSE;
    g_object_get(element, "gate", &gate, "stamp", &stamp, nullptr);
    EXPECT_TRUE(gate);
    EXPECT_TRUE(stamp);

    std::vector<uint8_t> white(8 * 2 * 2);
    for (size_t i = 0; i < white.size(); i += 2) {
        white[i] = 235;
        white[i + 1] = 128;
    }
    ASSERT_EQ(gst_harness_push(h.get(), gst_buffer_new_memdup(white.data(), white.size())),
              GST_FLOW_OK);
    GstBuffer *result = gst_harness_pull(h.get());
    ASSERT_NE(result, nullptr);
    GstMapInfo map;
    ASSERT_TRUE(gst_buffer_map(result, &map, GST_MAP_READ));
    EXPECT_EQ(std::vector<uint8_t>(map.data, map.data + 8 * 3), std::vector<uint8_t>(8 * 3, 255));
    gst_buffer_unmap(result, &map);
    gst_buffer_unref(result);
}

// A YUY2 frame of uniform white, `bytes` long (a whole frame or less).
GstBuffer *WhiteYuy2(size_t bytes)
{
    std::vector<uint8_t> data(bytes);
    for (size_t i = 0; i < bytes; ++i)
        data[i] = i % 2 ? 128 : 235;
    GstBuffer *buffer = bytes ? gst_buffer_new_memdup(data.data(), data.size()) : gst_buffer_new();
    GST_BUFFER_PTS(buffer) = 0;
    return buffer;
}

TEST(ColorSpaceElement, ShortOrEmptyInputDeliversNothingAndTheNextFrameConverts)
{
    const size_t frame = 8 * 2 * 2;
    for (const size_t bytes : { size_t(0), size_t(1), frame - 4, frame - 1 }) {
        Harness h = NewHarness(8, 2);
        EXPECT_EQ(gst_harness_push(h.get(), WhiteYuy2(bytes)), GST_FLOW_OK) << bytes;
        EXPECT_EQ(gst_harness_buffers_received(h.get()), 0u) << bytes;
        ASSERT_EQ(gst_harness_push(h.get(), WhiteYuy2(frame)), GST_FLOW_OK) << bytes;
        ASSERT_EQ(gst_harness_buffers_received(h.get()), 1u) << bytes;
        GstBuffer *result = gst_harness_pull(h.get());
        GstMapInfo map;
        ASSERT_TRUE(gst_buffer_map(result, &map, GST_MAP_READ));
        EXPECT_EQ(std::vector<uint8_t>(map.data, map.data + 8 * 3),
                  std::vector<uint8_t>(8 * 3, 255));
        gst_buffer_unmap(result, &map);
        gst_buffer_unref(result);
    }
}

// Short and empty buffers among whole frames: the file gets the whole frames only.
TEST(ColorSpacePipeline, FileHoldsOnlyTheWholeFrames)
{
    const int width = 64, height = 48;
    const size_t frame = size_t(width) * height * 2;
    const std::filesystem::path file = std::filesystem::temp_directory_path()
        / ("vorlundcolorspace-" + std::to_string(getpid()) + ".bgr");
    const std::string launch = "appsrc name=src format=time caps=" + Caps("YUY2", width, height)
        + " ! vorlundcolorspace ! filesink location=" + file.string();
    GstElement *pipeline = gst_parse_launch(launch.c_str(), nullptr);
    ASSERT_NE(pipeline, nullptr);
    // The source queues everything up to the end before the pipeline starts.
    GstElement *src = gst_bin_get_by_name(GST_BIN(pipeline), "src");
    for (const size_t bytes : { frame, size_t(0), frame / 2, frame - 1, frame })
        ASSERT_EQ(gst_app_src_push_buffer(GST_APP_SRC(src), WhiteYuy2(bytes)), GST_FLOW_OK);
    gst_app_src_end_of_stream(GST_APP_SRC(src));
    gst_object_unref(src);
    const test::PipelineEnd end = test::RunPipeline(pipeline);
    EXPECT_TRUE(end.eos) << end.error;
    gst_object_unref(pipeline);

    std::ifstream in(file, std::ios::binary);
    const std::vector<uint8_t> written { std::istreambuf_iterator<char>(in), {} };
    std::filesystem::remove(file);
    EXPECT_EQ(written, std::vector<uint8_t>(2 * size_t(width) * height * 3, 255));
}

// A white bar painted over the top rows of a black test picture, before the converter.
GstPadProbeReturn PaintTopRows(GstPad *, GstPadProbeInfo *info, gpointer)
{
    GstBuffer *buffer = gst_buffer_make_writable(GST_PAD_PROBE_INFO_BUFFER(info));
    GST_PAD_PROBE_INFO_DATA(info) = buffer;
    GstMapInfo map;
    if (gst_buffer_map(buffer, &map, GST_MAP_WRITE)) {
        const size_t stride = 64 * 2;
        for (size_t i = 0; i < 4 * stride; i += 2) {
            map.data[i] = 235;
            map.data[i + 1] = 128;
        }
        gst_buffer_unmap(buffer, &map);
    }
    return GST_PAD_PROBE_OK;
}

TEST(ColorSpacePipeline, MarkerAtTheTopStaysAtTheTop)
{
    GError *error = nullptr;
    GstElement *pipeline = gst_parse_launch(
        "videotestsrc num-buffers=3 pattern=black ! video/x-raw,format=YUY2,width=64,height=48 "
        "! identity name=painter ! vorlundcolorspace ! video/x-raw,format=BGR "
        "! appsink name=sink sync=false",
        &error);
    ASSERT_NE(pipeline, nullptr) << (error ? error->message : "");
    GstElement *painter = gst_bin_get_by_name(GST_BIN(pipeline), "painter");
    GstPad *pad = gst_element_get_static_pad(painter, "src");
    gst_pad_add_probe(pad, GST_PAD_PROBE_TYPE_BUFFER, PaintTopRows, nullptr, nullptr);
    gst_object_unref(pad);
    gst_object_unref(painter);
    GstElement *sink = gst_bin_get_by_name(GST_BIN(pipeline), "sink");
    ASSERT_NE(gst_element_set_state(pipeline, GST_STATE_PLAYING), GST_STATE_CHANGE_FAILURE);

    GstSample *sample = gst_app_sink_try_pull_sample(GST_APP_SINK(sink), 5 * GST_SECOND);
    ASSERT_NE(sample, nullptr);
    GstVideoInfo info;
    ASSERT_TRUE(gst_video_info_from_caps(&info, gst_sample_get_caps(sample)));
    GstMapInfo map;
    ASSERT_TRUE(gst_buffer_map(gst_sample_get_buffer(sample), &map, GST_MAP_READ));
    const int stride = GST_VIDEO_INFO_PLANE_STRIDE(&info, 0);
    auto rowIs = [&](int row, uint8_t value) {
        const uint8_t *p = map.data + row * stride;
        return std::all_of(p, p + 64 * 3, [&](uint8_t b) { return b == value; });
    };
    for (int row = 0; row < 4; ++row)
        EXPECT_TRUE(rowIs(row, 255)) << "row " << row;
    for (int row = 4; row < 48; ++row)
        EXPECT_TRUE(rowIs(row, 0)) << "row " << row;
    gst_buffer_unmap(gst_sample_get_buffer(sample), &map);
    gst_sample_unref(sample);

    gst_element_set_state(pipeline, GST_STATE_NULL);
    gst_object_unref(sink);
    gst_object_unref(pipeline);
}

} // namespace
} // namespace vorlund

int main(int argc, char **argv)
{
    gst_init(&argc, &argv);
    GST_ELEMENT_REGISTER(vorlundcolorspace, nullptr);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
