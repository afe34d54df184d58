#include "CaptureFormat.h"
#include "Clock.h"
#include "ErrorLog.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <unistd.h>

using namespace vorlund;

namespace {

CapsRef Caps(const char *text)
{
    return CapsRef(gst_caps_from_string(text), RefMode::HasRef);
}

std::string Text(const GstCaps *caps)
{
    return TakeGString(gst_caps_to_string(caps));
}

bool Equal(const GstCaps *a, const char *b)
{
    CapsRef other = Caps(b);
    return gst_caps_is_equal(a, other.get());
}

StoredFormat Format(Guid subtype, int w, int h, int64_t duration = 0)
{
    StoredFormat f;
    f.subtype = subtype;
    f.width = w;
    f.height = h;
    f.frameDuration = duration;
    return f;
}

// A webcam: YUY2 at two fixed sizes and rates, MJPEG up to 1280x720.
constexpr const char *kWebcam
    = "video/x-raw,format=YUY2,width=640,height=480,framerate={30/1,15/1};"
      "video/x-raw,format=YUY2,width=320,height=240,framerate={30/1,15/1};"
      "image/jpeg,width=1280,height=720,framerate=30/1;"
      "image/jpeg,width=640,height=480,framerate=30/1";

} // namespace

TEST(CaptureFormat, GuidsKeepTheFileLayout)
{
    const std::array<uint8_t, 16> rgb24 { 0x7D, 0xEB, 0x36, 0xE4, 0x4F, 0x52, 0xCE, 0x11,
                                          0x9F, 0x53, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70 };
    EXPECT_EQ(Guid::FromBytes(rgb24), kSubtypeRgb24);
    EXPECT_EQ(kSubtypeRgb24.ToBytes(), rgb24);
    const std::array<uint8_t, 16> yuy2 { 'Y',  'U',  'Y',  '2',  0x00, 0x00, 0x10, 0x00,
                                         0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71 };
    EXPECT_EQ(Guid::FromBytes(yuy2), kSubtypeYuy2);
}

TEST(CaptureFormat, SubtypesMapToCaps)
{
    EXPECT_STREQ(CapsForSubtype(kSubtypeRgb24)->format, "BGR");
    EXPECT_STREQ(CapsForSubtype(kSubtypeYuyv)->format, "YUY2");
    EXPECT_STREQ(CapsForSubtype(kSubtypeIyuv)->format, "I420");
    EXPECT_STREQ(CapsForSubtype(kSubtypeMjpg)->media, "image/jpeg");
    EXPECT_FALSE(CapsForSubtype(kSubtypeDvsd)->sized);
    EXPECT_FALSE(CapsForSubtype(Guid {}).has_value());
}

TEST(CaptureFormat, DurationsBecomeRates)
{
    auto rate = [](int64_t d) {
        FrameRate r = FrameRateForDuration(d);
        return std::to_string(r.num) + "/" + std::to_string(r.den);
    };
    EXPECT_EQ(rate(333333), "30/1");
    EXPECT_EQ(rate(333334), "30/1");
    EXPECT_EQ(rate(400000), "25/1");
    EXPECT_EQ(rate(666666), "15/1");
    EXPECT_EQ(rate(333667), "30000/1001");
    EXPECT_EQ(rate(417083), "24000/1001");
    EXPECT_EQ(rate(123000), "10000/123");
    EXPECT_EQ(rate(0), "0/1");
}

TEST(CaptureFormat, StoredFormatIsAppliedWhereTheDeviceOffersIt)
{
    CapsRef any = Caps("video/x-raw,format={BGR,YUY2},width=[1,1920],height=[1,1080],"
                       "framerate=[0/1,120/1]");
    CaptureCaps c = ComputeCaptureCaps(Format(kSubtypeRgb24, 320, 240, 333333), any.get());
    EXPECT_EQ(c.result, FormatResult::Applied);
    EXPECT_TRUE(Equal(c.caps.get(), "video/x-raw,format=BGR,width=320,height=240,framerate=30/1"))
        << Text(c.caps.get());

    // No duration keeps the device's rate; a top-down (negative) height counts by its size.
    c = ComputeCaptureCaps(Format(kSubtypeRgb24, 352, -288), any.get());
    EXPECT_EQ(c.result, FormatResult::Applied);
    EXPECT_TRUE(
        Equal(c.caps.get(), "video/x-raw,format=BGR,width=352,height=288,framerate=[0/1,120/1]"))
        << Text(c.caps.get());

    CapsRef webcam = Caps(kWebcam);
    c = ComputeCaptureCaps(Format(kSubtypeYuy2, 320, 240, 666666), webcam.get());
    EXPECT_EQ(c.result, FormatResult::Applied);
    EXPECT_TRUE(Equal(c.caps.get(), "video/x-raw,format=YUY2,width=320,height=240,framerate=15/1"))
        << Text(c.caps.get());

    c = ComputeCaptureCaps(Format(kSubtypeMjpg, 640, 480), webcam.get());
    EXPECT_EQ(c.result, FormatResult::Applied);
    EXPECT_TRUE(Equal(c.caps.get(), "image/jpeg,width=640,height=480,framerate=30/1"));
}

TEST(CaptureFormat, UnofferedOrRefusedFormatsLeaveTheDeviceWithinTheLimit)
{
    CapsRef webcam = Caps(kWebcam);
    const char *limited = "video/x-raw,format=YUY2,width=640,height=480,framerate={30/1,15/1};"
                          "video/x-raw,format=YUY2,width=320,height=240,framerate={30/1,15/1};"
                          "image/jpeg,width=640,height=480,framerate=30/1";

    // RGB24 (the default) on a device without it: nothing changes.
    CaptureCaps c = ComputeCaptureCaps(Format(kSubtypeRgb24, 320, 240), webcam.get());
    EXPECT_EQ(c.result, FormatResult::NotOffered);
    EXPECT_TRUE(Equal(c.caps.get(), limited)) << Text(c.caps.get());

    // Offered subtype, but a size or rate the device lacks, or a size above 720x576.
    for (StoredFormat f : { Format(kSubtypeYuy2, 352, 288), Format(kSubtypeYuy2, 320, 240, 200000),
                            Format(kSubtypeMjpg, 1280, 720), Format(kSubtypeYuy2, 0, 240) }) {
        c = ComputeCaptureCaps(f, webcam.get());
        EXPECT_EQ(c.result, FormatResult::Refused) << f.width << "x" << f.height;
        EXPECT_TRUE(Equal(c.caps.get(), limited)) << Text(c.caps.get());
    }

    CapsRef big = Caps("video/x-raw,format=BGR,width=[1,4096],height=[1,4096]");
    c = ComputeCaptureCaps(Format(kSubtypeRgb24, 800, 600), big.get());
    EXPECT_EQ(c.result, FormatResult::Refused);
    EXPECT_TRUE(Equal(c.caps.get(), "video/x-raw,format=BGR,width=[1,720],height=[1,576]"));
}

TEST(CaptureFormat, DvKeepsItsOwnPictureSize)
{
    CapsRef dv = Caps("video/x-dv,systemstream=true");
    CaptureCaps c = ComputeCaptureCaps(Format(kSubtypeDvsd, 320, 240, 333667), dv.get());
    EXPECT_EQ(c.result, FormatResult::Applied);
    EXPECT_TRUE(Equal(c.caps.get(), "video/x-dv,systemstream=true")) << Text(c.caps.get());
}

TEST(CaptureFormat, SetFormatOnARealSourceLogsOnlyARefusal)
{
    namespace fs = std::filesystem;
    const fs::path logFile
        = fs::temp_directory_path() / ("vorlund-setformat-" + std::to_string(getpid()) + ".log");
    fs::remove(logFile);
    FakeClock clock;
    ErrorLog log(logFile, clock);

    ElementRef source(gst_element_factory_make("videotestsrc", nullptr), RefMode::HasRef);
    ElementRef filter(gst_element_factory_make("capsfilter", nullptr), RefMode::HasRef);

    EXPECT_EQ(SetFormat(source.get(), filter.get(), Format(kSubtypeDvsd, 320, 240), &log),
              FormatResult::NotOffered);
    EXPECT_FALSE(fs::exists(logFile));

    EXPECT_EQ(SetFormat(source.get(), filter.get(), Format(kSubtypeYuy2, 800, 600), &log),
              FormatResult::Refused);
    std::ifstream in(logFile);
    std::stringstream text;
    text << in.rdbuf();
    EXPECT_NE(text.str().find("SetFormat() failed."), std::string::npos);

    EXPECT_EQ(SetFormat(source.get(), filter.get(), Format(kSubtypeYuy2, 640, 480, 400000), &log),
              FormatResult::Applied);
    GstCaps *set = nullptr;
    g_object_get(filter.get(), "caps", &set, nullptr);
    CapsRef applied(set, RefMode::HasRef);
    // The source's own extra fields may stay; size, format and rate are fixed.
    CapsRef expected = Caps("video/x-raw,format=YUY2,width=640,height=480,framerate=25/1");
    EXPECT_TRUE(gst_caps_is_subset(applied.get(), expected.get())) << Text(applied.get());

    gst_element_set_state(source.get(), GST_STATE_NULL);
    fs::remove(logFile);
}
