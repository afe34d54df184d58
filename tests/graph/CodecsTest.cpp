#include "Codecs.h"
#include "CaptureDevices.h"

#include <gtest/gtest.h>

using namespace vorlund;

using Names = std::vector<std::string>;

TEST(Codecs, NamesMapToEncoders)
{
    ASSERT_NE(FindCodec("Microsoft MPEG-4 Video Codec V3"), nullptr);
    EXPECT_EQ(FindCodec("Microsoft MPEG-4 Video Codec V3")->factory, "avenc_msmpeg4");
    EXPECT_EQ(FindCodec("MPEG Layer-3")->factory, "lamemp3enc");
    EXPECT_EQ(FindCodec("MPEG Layer-3")->kind, CodecKind::Audio);
    EXPECT_EQ(FindCodec("3ivx D4 Video Encoder")->factory, "x264enc");
    EXPECT_EQ(FindCodec("DV Video Encoder")->factory, "avenc_dvvideo");
    // No WMV9 encoder here: binding it fails, which makes the server fall back to MPEG-4 V3.
    EXPECT_EQ(FindCodec("WMVideo9 Encoder DMO"), nullptr);
    // Names match exactly, byte for byte.
    EXPECT_EQ(FindCodec("microsoft mpeg-4 video codec v3"), nullptr);
}

TEST(Codecs, ListsOnlyWhatIsInstalled)
{
    EXPECT_EQ(
        ListCompressors(CodecKind::Video, [](std::string_view f) { return f == "avenc_msmpeg4"; }),
        (Names { "Microsoft MPEG-4 Video Codec V3" }));
    EXPECT_TRUE(ListCompressors(CodecKind::Video, [](std::string_view) { return false; }).empty());
    const Names all = ListCompressors(CodecKind::Video, [](std::string_view) { return true; });
    EXPECT_EQ(all.front(), "Microsoft MPEG-4 Video Codec V3");
    EXPECT_EQ(std::count(all.begin(), all.end(), "MPEG Layer-3"), 0);
    EXPECT_EQ(ListCompressors(CodecKind::Audio, [](std::string_view) { return true; }),
              (Names { "MPEG Layer-3", "3ivx D4 Audio Encoder" }));

    // This machine has the encoders the server depends on.
    const Names installed = ListCompressors(CodecKind::Video);
    EXPECT_NE(std::find(installed.begin(), installed.end(), "Microsoft MPEG-4 Video Codec V3"),
              installed.end());
    EXPECT_FALSE(FactoryInstalled("no_such_encoder"));

    SystemDeviceEnumerator system;
    CaptureDevices devices(system);
    EXPECT_TRUE(devices.ListCodecs());
    EXPECT_EQ(devices.CodecNames, installed);
}

TEST(Codecs, BindsTheEncoderOfThatKind)
{
    ElementRef codec
        = BindCompressor(CodecKind::Video, "Microsoft MPEG-4 Video Codec V3", "Video Comp. Codec");
    ASSERT_TRUE(codec);
    EXPECT_STREQ(GST_OBJECT_NAME(gst_element_get_factory(codec.get())), "avenc_msmpeg4");
    EXPECT_STREQ(GST_OBJECT_NAME(codec.get()), "Video Comp. Codec");
    EXPECT_FALSE(BindCompressor(CodecKind::Video, "MPEG Layer-3", "x"));
    EXPECT_FALSE(BindCompressor(CodecKind::Video, "(None)", "x"));
    EXPECT_TRUE(BindCompressor(CodecKind::Audio, "MPEG Layer-3", "Audio Comp. Codec"));
}
