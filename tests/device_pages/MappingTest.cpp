#include "DevicePages.h"
#include "FormatChoices.h"
#include "SettingsFile.h"
#include "TunerChannels.h"
#include "V4l2Standards.h"

#include <linux/videodev2.h>

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

namespace vorlund {
namespace {

TEST(V4l2Standards, StoredStandardsMapBothWays)
{
    struct Case
    {
        int32_t stored;
        uint64_t v4l2;
    };
    const Case cases[] = {
        { 0x1, V4L2_STD_NTSC_M },
        { 0x10, V4L2_STD_PAL_B | V4L2_STD_PAL_B1 },
        { 0x10 | 0x40, V4L2_STD_PAL_B | V4L2_STD_PAL_B1 | V4L2_STD_PAL_G },
        { 0x200, V4L2_STD_PAL_M },
        { 0x40000, V4L2_STD_SECAM_L },
        { 0x100000, V4L2_STD_PAL_Nc },
    };
    for (const Case &c : cases) {
        EXPECT_EQ(StandardForTvFormat(c.stored), c.v4l2) << c.stored;
        EXPECT_EQ(TvFormatForStandard(c.v4l2), std::optional<int32_t>(c.stored)) << c.stored;
    }
    EXPECT_EQ(StandardForTvFormat(-1), 0u); // leave the device's own
    EXPECT_EQ(StandardForTvFormat(0x8), 0u); // no such standard
    EXPECT_EQ(TvFormatForStandard(0), std::nullopt);
    // A driver's group reads back as its members.
    EXPECT_EQ(TvFormatForStandard(V4L2_STD_PAL_BG), std::optional<int32_t>(0x10 | 0x40));
}

TEST(TunerChannels, TablesUnitsAndReadBack)
{
    const std::vector<TunerChannel> &us = ChannelTable("us-bcast");
    EXPECT_EQ(&ChannelTable("no such table"), &us);
    EXPECT_EQ(ChannelFrequency(us, 2), std::optional<uint32_t>(55250));
    EXPECT_EQ(ChannelFrequency(us, 5), std::optional<uint32_t>(77250));
    EXPECT_EQ(ChannelFrequency(us, 13), std::optional<uint32_t>(211250));
    EXPECT_EQ(ChannelFrequency(us, 69), std::optional<uint32_t>(801250));
    EXPECT_EQ(ChannelFrequency(us, 1), std::nullopt);
    const std::vector<TunerChannel> &eu = ChannelTable("europe-west");
    EXPECT_EQ(ChannelFrequency(eu, 21), std::optional<uint32_t>(471250));
    EXPECT_EQ(ChannelFrequency(eu, 13), std::nullopt);
    for (bool low : { false, true }) {
        for (const TunerChannel &entry : us) {
            const uint32_t back = KiloHertz(TunerUnits(entry.kHz, low), low);
            EXPECT_EQ(ChannelForFrequency(us, back), std::optional<int>(entry.channel));
        }
    }
    EXPECT_EQ(ChannelForFrequency(us, 60000), std::nullopt);
}

TEST(FormatChoices, TestCameraFormatsAreOfferedWithinTheLimit)
{
    GstElement *source = gst_element_factory_make("videotestsrc", nullptr);
    ASSERT_TRUE(source);
    gst_object_ref_sink(source);
    ASSERT_NE(gst_element_set_state(source, GST_STATE_READY), GST_STATE_CHANGE_FAILURE);
    GstPad *pad = gst_element_get_static_pad(source, "src");
    CapsRef offered(gst_pad_query_caps(pad, nullptr), RefMode::HasRef);
    gst_object_unref(pad);
    gst_element_set_state(source, GST_STATE_NULL);
    gst_object_unref(source);

    const std::vector<FormatOption> options = FormatOptions(offered.get());
    auto find = [&](const Guid &g) {
        return std::find_if(options.begin(), options.end(),
                            [&](const FormatOption &o) { return o.subtype == g; });
    };
    for (const Guid &g : { kSubtypeRgb24, kSubtypeYuy2, kSubtypeI420 }) {
        const auto it = find(g);
        ASSERT_NE(it, options.end());
        EXPECT_NE(std::find(it->sizes.begin(), it->sizes.end(), FrameSize { 720, 576 }),
                  it->sizes.end());
        for (const FrameSize &size : it->sizes) {
            EXPECT_LE(size.width, 720);
            EXPECT_LE(size.height, 576);
        }
        EXPECT_EQ(it->frameDurations.front(), 333333); // 30 fps first
    }
    EXPECT_EQ(find(kSubtypeRgb24)->name, "BGR");
    // Each stored subtype once (YUY2 also stands for YUYV).
    EXPECT_EQ(std::count_if(options.begin(), options.end(),
                            [](const FormatOption &o) { return o.subtype == kSubtypeYuy2; }),
              1);

    CapsRef fixed(gst_caps_from_string("video/x-raw,format=YUY2,width=352,height=288,"
                                       "framerate=30000/1001"),
                  RefMode::HasRef);
    const std::optional<StoredFormat> read = FormatFromCaps(fixed.get());
    ASSERT_TRUE(read);
    EXPECT_EQ(read->subtype, kSubtypeYuy2);
    EXPECT_EQ(read->width, 352);
    EXPECT_EQ(read->height, 288);
    EXPECT_EQ(read->frameDuration, 333666);
    CapsRef dv(gst_caps_from_string("video/x-dv,systemstream=true"), RefMode::HasRef);
    EXPECT_EQ(FormatFromCaps(dv.get())->subtype, kSubtypeDvsd);
    CapsRef unknown(gst_caps_from_string("video/x-h264"), RefMode::HasRef);
    EXPECT_EQ(FormatFromCaps(unknown.get()), std::nullopt);
    EXPECT_TRUE(FormatOptions(nullptr).empty());
}

TEST(V4l2Device, AFileThatIsNoVideoDeviceOffersNothing)
{
    const int fd = ::open("/dev/null", O_RDWR);
    ASSERT_GE(fd, 0);
    V4l2Device device(fd);
    uint32_t index = 0;
    uint64_t standard = 0;
    TunerInfo tuner;
    EXPECT_TRUE(ReadVideoInputs(device).empty());
    EXPECT_EQ(device.GetInput(index), ENOTTY);
    EXPECT_FALSE(device.SetInput(1));
    EXPECT_TRUE(device.EnumStandards().empty());
    EXPECT_EQ(device.GetStandard(standard), ENOTTY);
    EXPECT_TRUE(device.QueryControls().empty());
    EXPECT_EQ(device.GetTuner(tuner), ENOTTY);
    EXPECT_EQ(device.SetAudioMute(true), ENOTTY);
    ::close(fd);
}

TEST(StoredNames, LongNamesMatchByTheirStoredCut)
{
    const std::string name = std::string(62, 'x') + "\xC3\xA9"; // 64 bytes, é at the cut
    const std::string stored = StoredText(name, 64);
    EXPECT_EQ(stored, std::string(62, 'x'));
    EXPECT_TRUE(MatchesStoredName(name, stored, 64));
    EXPECT_TRUE(MatchesStoredName("Mic", "Mic", 24));
    EXPECT_FALSE(MatchesStoredName("Mic 2", "Mic", 24));
    EXPECT_FALSE(MatchesStoredName(std::string(62, 'x') + "yy", stored, 64));
}

} // namespace
} // namespace vorlund
