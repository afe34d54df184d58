// The WMV9 settings and their fallback encoder, Windows Media profiles, and a recording made
// each of the three ways read back through GStreamer.
#include "Encoders.h"
#include "CaptureGraphSupport.h"
#include "GraphUtils.h"
#include "WmProfile.h"
#include "WmTestProfiles.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

namespace vorlund::test {

namespace {

// Builds, runs, records for about `frames` frames through the gate, tears down; the file.
std::filesystem::path Record(GraphFixture &f, int frames)
{
    EXPECT_EQ(f.graph.Build(), kGraphOk)
        << (f.notifier.entries.empty() ? "" : f.notifier.entries.back().text);
    if (!f.graph.IsBuilt())
        return {};
    const std::filesystem::path file = f.graph.RecordFile();
    const bool dv = f.graph.Parts().kind == SourceKind::Dv;
    ElementRef gate
        = FindElementByName(GST_BIN(f.graph.Pipeline()), dv ? names::kAvi2 : names::kAvi);
    BufferCounter passed(gate.get(), "src");
    EXPECT_TRUE(f.graph.RunGraph());
    EXPECT_TRUE(WaitFor([&] { return f.graph.Grabber().FramesDelivered() > 2; }));
    f.graph.SetGateOpen(true);
    EXPECT_TRUE(WaitFor([&] { return passed.Count() >= frames; }));
    f.graph.SetGateOpen(false);
    f.graph.TearDownGraph();
    return file;
}

} // namespace

TEST(Encoders, DefaultBitRateFollowsSizeAndRate)
{
    struct Case
    {
        int32_t width, height;
        int64_t avgTimePerFrame;
        double frameRate;
        int32_t expected;
    };
    const Case cases[] = {
        { 320, 240, 333667, 0, 920678 }, // 10,000,000 / 333,667 frames a second
        { 320, 240, 0, 0, 920678 }, // 29.97
        { 320, 240, 333667, 24, 737280 },
        { 352, 288, 400000, 0, 1013750 },
    };
    for (const Case &c : cases)
        EXPECT_EQ(ComputeDefaultBitrate(c.width, c.height, c.avgTimePerFrame, c.frameRate),
                  c.expected);

    DeviceConfig config;
    const EncoderParams params = MakeEncoderParams(config, 3);
    EXPECT_EQ(params.BitRate, 700000);
    EXPECT_EQ(params.FrameRate, 24.0f);
    EXPECT_EQ(params.KeyDistance, 8);
    EXPECT_EQ(params.VideoWindow, 5000);
    EXPECT_EQ(params.Complexity, 3);
    EXPECT_EQ(params.DecoderComplexity, 0);
    EXPECT_EQ(params.Vbr, 1);
    EXPECT_STREQ(params.FourCC, "WMV3");
    EXPECT_TRUE(IsWmv9CodecName("WMVideo9 Encoder DMO"));
    EXPECT_TRUE(IsWmv9CodecName("WMVideo Advanced Encoder DMO"));
    EXPECT_FALSE(IsWmv9CodecName("WMVideo8 Encoder DMO"));
}

TEST(Encoders, ProfilesAreReadForTheirStreamsAndBadOnesRefused)
{
    struct Case
    {
        const char *name;
        std::vector<uint8_t> bytes;
        int streams; // -1: refused
    };
    std::string ascii = ProfileText(false, true);
    std::vector<uint8_t> oversized = Utf16(ProfileText(false, true));
    oversized.resize(kMaxProfileBytes + 2, 0x20);
    std::string many = "<profile>";
    for (int i = 0; i < 20; ++i)
        many += std::string(kAudioStreamConfig);
    const Case cases[] = {
        { "audio and video", Utf16(ProfileText(true, true)), 2 },
        { "video", Utf16(ProfileText(false, true)), 1 },
        { "no streams", Utf16("<profile></profile>"), -1 },
        { "not utf-16", { ascii.begin(), ascii.end() }, -1 },
        { "odd length", { 0xFF, 0xFE, '<' }, -1 },
        { "unknown stream", Utf16(R"(<profile><streamconfig majortype="{x}"/></profile>)"), -1 },
        { "unterminated", Utf16(R"(<profile><streamconfig bitrate="1)"), -1 },
        { "too many streams", Utf16(many), -1 },
        { "over 1 MiB", oversized, -1 },
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const std::optional<WmProfileInfo> profile = ParseWmProfile(c.bytes);
        ASSERT_EQ(profile ? int(profile->streams.size()) : -1, c.streams);
    }
    const WmProfileInfo both = *ParseWmProfile(Utf16(ProfileText(true, true)));
    ASSERT_TRUE(both.Video() && both.Audio());
    EXPECT_EQ(both.Video()->bitrate, 400000);
    EXPECT_EQ(both.Video()->width, 320);
    EXPECT_EQ(both.Video()->height, 240);
    EXPECT_EQ(both.Audio()->bitrate, 64016);

    TempFolder folder;
    RecordingNotifier notifier;
    std::filesystem::path profiles;
    EXPECT_EQ(RunProfileEditor(1, folder.path, notifier, profiles), 0);
    EXPECT_EQ(profiles, folder.path / "profiles");
    EXPECT_NE(RunProfileEditor(0, folder.path, notifier, profiles), 0);
    ASSERT_EQ(notifier.entries.size(), 1u);
    EXPECT_TRUE(notifier.entries[0].text.starts_with(
        "Could not open the Windows Media Profile Editor.\nTo use this editor to create/edit your "
        "own custom profiles you\nmust install the Windows Media Encoder 9 Series.\n"));
}

TEST(EncoderGraph, AskingForTheWmv9EncoderRecordsMpeg4V3InAviAndSaysSo)
{
    GraphFixture f(DvFile());
    f.Configure(kTestCameraName, kSubtypeRgb24, 320, 240, "WMVideo9 Encoder DMO");
    f.settings.Config.Wmv9Vbr = 0;
    f.settings.Config.Wmv9Bitrate = 0; // the default bit rate
    const std::filesystem::path file = Record(f, 45);
    EXPECT_EQ(f.settings.Config.CodecName, "Microsoft MPEG-4 Video Codec V3");
    EXPECT_EQ(file.extension(), ".avi");
    EXPECT_NE(ReadText(f.log.Path())
                  .find("Error using WMVideo9 Encoder DMO Codec, switching to "
                        "Microsoft MPEG-4 Video Codec V3 filter."),
              std::string::npos);
    ASSERT_EQ(f.shell.balloons.size(), 1u);
    EXPECT_EQ(f.shell.balloons[0].title, "video compression");
    EXPECT_EQ(f.shell.balloons[0].text, "\nusing Microsoft MPEG-4 Codec V3\n\nsee Error Log\n");
    EXPECT_EQ(f.shell.balloons[0].options, 0x140u);
    EXPECT_EQ(f.shell.balloons[0].milliseconds, 3000);
    EXPECT_TRUE(f.notifier.entries.empty());
    EXPECT_NE(ReadText(file).find("MP43"), std::string::npos);
    const ReadBack back = ReadRecording(file);
    EXPECT_TRUE(back.ok);
    EXPECT_TRUE(back.gapless);
    EXPECT_GE(back.frames, 45);
    EXPECT_NEAR(back.seconds, back.frames / 30.0, 0.1);
}

TEST(EncoderGraph, WindowsMediaRecordingsCarryTheProfilesStreams)
{
    struct Case
    {
        const char *name;
        std::string_view device;
        Guid subtype;
        bool audio;
        double rate;
    };
    const Case cases[] = {
        { "camera, video profile", kTestCameraName, kSubtypeRgb24, false, 30 },
        { "camcorder, audio and video profile", kDvFileCamera, kSubtypeDvsd, true, 12.5 },
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        GraphFixture f(DvFile());
        f.Configure(c.device, c.subtype, 320, 240, "(None)");
        f.settings.Config.UseWmProfile = 1;
        f.settings.Config.WmProfilePath = (f.folder.path / "test.prx").string();
        WriteBytes(f.settings.Config.WmProfilePath, Utf16(ProfileText(c.audio, true)));
        const std::filesystem::path file = Record(f, int(c.rate * 1.5));
        EXPECT_EQ(file.extension(), ".wmv");
        const ReadBack back = ReadRecording(file);
        EXPECT_TRUE(back.ok);
        EXPECT_GE(back.frames, int(c.rate * 1.5) - 1);
        EXPECT_NEAR(back.seconds, back.frames / c.rate, 0.2);
        EXPECT_EQ(back.audioBuffers > 0, c.audio);
    }
}

TEST(EncoderGraph, ABadProfileIsReportedAndNothingIsBuilt)
{
    struct Case
    {
        const char *name;
        std::vector<uint8_t> bytes; // empty: no file
        bool audio;
        std::string_view first;
    };
    std::vector<uint8_t> oversized = Utf16(ProfileText(false, true));
    oversized.resize(kMaxProfileBytes + 2, 0x20);
    const std::string ascii = ProfileText(false, true);
    const Case cases[] = {
        { "missing", {}, false, "Can't open Custom Profile\nError 2: No such file or directory" },
        { "oversized", oversized, false, "Failed to create profile" },
        { "not utf-16", { ascii.begin(), ascii.end() }, false, "Failed to create profile" },
        { "two streams, no sound", Utf16(ProfileText(true, true)), false,
          "WM Profile streams do not match.\r\nYou have chosen to record Video only (1 stream)" },
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        GraphFixture f(DvFile());
        f.Configure(kTestCameraName, kSubtypeRgb24, 320, 240, "(None)");
        f.settings.Config.UseWmProfile = 1;
        f.settings.Config.WmProfilePath = (f.folder.path / "bad.prx").string();
        if (!c.bytes.empty())
            WriteBytes(f.settings.Config.WmProfilePath, c.bytes);
        EXPECT_LT(f.graph.Build(), 0);
        ASSERT_FALSE(f.notifier.entries.empty());
        EXPECT_TRUE(f.notifier.entries[0].text.starts_with(c.first)) << f.notifier.entries[0].text;
        EXPECT_FALSE(f.graph.IsBuilt());
        f.graph.TearDownGraph();
    }
}

} // namespace vorlund::test
