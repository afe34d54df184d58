#include "Crossbar.h"
#include "GraphUtils.h"

#include <gst/gst.h>
#include <gtest/gtest.h>
#include <linux/videodev2.h>

#include <fcntl.h>
#include <unistd.h>

using namespace vorlund;

namespace {

class FakeInputs : public IVideoInputs
{
public:
    EnumInputStatus EnumInput(uint32_t index, VideoInput &input) override
    {
        ++calls;
        if (failFirst && index == 0)
            return EnumInputStatus::Failed;
        if (endless) {
            input = { index, "Camera", V4L2_INPUT_TYPE_CAMERA, 0 };
            return EnumInputStatus::Ok;
        }
        if (index >= inputs.size())
            return EnumInputStatus::End;
        input = inputs[index];
        return EnumInputStatus::Ok;
    }
    bool SetInput(uint32_t) override { return false; }
    std::vector<VideoInput> inputs;
    bool failFirst = false;
    bool endless = false;
    int calls = 0;
};

} // namespace

TEST(Crossbar, TvCardInputsAreRecognised)
{
    FakeInputs card;
    card.inputs = { { 0, "Television", V4L2_INPUT_TYPE_TUNER, 1 },
                    { 1, "Composite1", V4L2_INPUT_TYPE_CAMERA, 0 },
                    { 2, "S-Video", V4L2_INPUT_TYPE_CAMERA, 0 },
                    { 3, "Composite3", V4L2_INPUT_TYPE_CAMERA, 0 } };
    EXPECT_EQ(FindCrossbarPin(card, PhysicalConnector::VideoTuner, false), 0);
    EXPECT_EQ(FindCrossbarPin(card, PhysicalConnector::VideoComposite, false), 1);
    EXPECT_EQ(FindCrossbarPin(card, PhysicalConnector::VideoSVideo, false), 2);
    EXPECT_EQ(FindCrossbarPin(card, PhysicalConnector::AudioTuner, false), 0);
    EXPECT_EQ(FindCrossbarPin(card, PhysicalConnector::VideoDecoder, true), 0);
    EXPECT_EQ(FindCrossbarPin(card, PhysicalConnector::AudioDecoder, true), 1);
    // Outputs are not inputs and the other way round.
    EXPECT_EQ(FindCrossbarPin(card, PhysicalConnector::VideoDecoder, false), std::nullopt);
    EXPECT_EQ(FindCrossbarPin(card, PhysicalConnector::VideoComposite, true), std::nullopt);
}

TEST(Crossbar, WebcamHasNoTunerOrComposite)
{
    FakeInputs webcam;
    webcam.inputs = { { 0, "Camera 1", V4L2_INPUT_TYPE_CAMERA, 0 } };
    EXPECT_EQ(FindCrossbarPin(webcam, PhysicalConnector::VideoComposite, false), std::nullopt);
    EXPECT_EQ(FindCrossbarPin(webcam, PhysicalConnector::VideoTuner, false), std::nullopt);
    EXPECT_EQ(FindCrossbarPin(webcam, PhysicalConnector::AudioDecoder, true), std::nullopt);
    EXPECT_EQ(FindCrossbarPin(webcam, PhysicalConnector::VideoDecoder, true), 0);
}

TEST(Crossbar, FailuresAndRunawayDrivers)
{
    FakeInputs broken;
    broken.failFirst = true;
    EXPECT_EQ(FindCrossbarPin(broken, PhysicalConnector::VideoDecoder, true), std::nullopt);

    FakeInputs endless;
    endless.endless = true;
    EXPECT_EQ(FindCrossbarPin(endless, PhysicalConnector::VideoTuner, false), std::nullopt);
    EXPECT_LE(endless.calls, int(kMaxVideoInputs));

    // A descriptor that is no V4L2 device fails cleanly.
    const int fd = open("/dev/null", O_RDONLY);
    ASSERT_GE(fd, 0);
    V4l2VideoInputs notVideo(fd);
    VideoInput input;
    EXPECT_EQ(notVideo.EnumInput(0, input), EnumInputStatus::Failed);
    EXPECT_FALSE(notVideo.SetInput(1)) << "a refused input change reports failure";
    EXPECT_EQ(FindCrossbarPin(notVideo, PhysicalConnector::VideoComposite, false), std::nullopt);
    close(fd);
}

TEST(Crossbar, SourceDeviceFdOnlyForAnOpenDevice)
{
    GstElement *test = gst_element_factory_make("videotestsrc", nullptr);
    gst_object_ref_sink(test);
    EXPECT_EQ(SourceDeviceFd(test), std::nullopt);
    gst_object_unref(test);
    GstElement *v4l2 = gst_element_factory_make("v4l2src", nullptr);
    ASSERT_NE(v4l2, nullptr);
    gst_object_ref_sink(v4l2);
    EXPECT_EQ(SourceDeviceFd(v4l2), std::nullopt); // not opened
    gst_object_unref(v4l2);
}
