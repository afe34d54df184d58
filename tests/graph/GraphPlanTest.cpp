// The graph's decisions that need no pipeline: source kinds, recording formats and names,
// picture sizes.
#include "GraphPlan.h"
#include "RecordingFile.h"
#include "ServerFixture.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sys/file.h>
#include <unistd.h>

namespace vorlund::test {

namespace {

struct CapsHolder
{
    explicit CapsHolder(const char *text) : caps(gst_caps_from_string(text)) { }
    ~CapsHolder() { gst_caps_unref(caps); }
    const GstStructure *s() const { return gst_caps_get_structure(caps, 0); }
    GstCaps *caps;
};

} // namespace

TEST(GraphPlan, SourceKindComesFromTheCaptureCaps)
{
    const std::pair<const char *, SourceKind> cases[] = {
        { "video/x-raw,format=BGR,width=320,height=240", SourceKind::Rgb24 },
        { "video/x-raw,format=YUY2,width=320,height=240", SourceKind::Yuy2 },
        { "video/x-raw,format=I420", SourceKind::Other },
        { "video/x-raw", SourceKind::Other },
        { "video/x-dv,systemstream=true,format=PAL", SourceKind::Dv },
        { "video/x-dv,systemstream=false", SourceKind::Other },
        { "image/jpeg,width=640,height=480", SourceKind::Other },
        { "video/mpeg,systemstream=true", SourceKind::Other },
    };
    for (const auto &[text, kind] : cases) {
        CapsHolder caps(text);
        EXPECT_EQ(SourceKindOf(caps.s()), kind) << text;
    }
    EXPECT_EQ(SourceKindOf(nullptr), SourceKind::Other);
    CapsHolder stream("video/mpegts,systemstream=true");
    EXPECT_TRUE(IsStreamSource(stream.s()));
    CapsHolder jpeg("image/jpeg");
    EXPECT_FALSE(IsStreamSource(jpeg.s()));
}

TEST(GraphPlan, RecordingFormatFollowsProfileAndCodecName)
{
    const std::tuple<int, const char *, RecordingFormat, const char *> cases[] = {
        { 0, "Microsoft MPEG-4 Video Codec V3", RecordingFormat::Avi, ".avi" },
        { 0, "(None)", RecordingFormat::Avi, ".avi" },
        { 0, "3ivx D4 Video Encoder", RecordingFormat::Mp4, ".mp4" },
        { 1, "3ivx D4 Video Encoder", RecordingFormat::Wmv, ".wmv" },
        { 2, "WMVideo9 Encoder DMO", RecordingFormat::Wmv, ".wmv" },
    };
    for (const auto &[wm, codec, format, extension] : cases) {
        EXPECT_EQ(ChooseRecordingFormat(wm, codec), format) << codec;
        EXPECT_EQ(ExtensionFor(format), extension);
    }
}

TEST(GraphPlan, RecordingNamesNeverReuseAFileOfTheSameMinute)
{
    TempFolder folder;
    const LocalDateTime now { 2026, 12, 8, 14, 5, 59, 2 };
    EXPECT_EQ(RecordingBaseName(now), "v12-08-2026-1405");
    EXPECT_EQ(RecordingBaseName(now, 3), "v12-08-2026-1405-3");

    std::ofstream(folder.path / "v12-08-2026-1405.avi") << "first";
    std::vector<RecordingFile> made;
    for (const char *expected : { "v12-08-2026-1405-2.avi", "v12-08-2026-1405-3.avi" }) {
        std::optional<RecordingFile> file
            = CreateRecordingFile(folder.path, now, RecordingFormat::Avi);
        ASSERT_TRUE(file);
        EXPECT_EQ(file->path.filename(), expected);
        // Held exclusively while it is being recorded.
        const int other = ::open(file->path.c_str(), O_RDONLY);
        EXPECT_NE(::flock(other, LOCK_EX | LOCK_NB), 0);
        ::close(other);
        made.push_back(std::move(*file));
    }
    std::ifstream first(folder.path / "v12-08-2026-1405.avi");
    std::string text;
    first >> text;
    EXPECT_EQ(text, "first");
    // Another format of the same minute has its own first name.
    EXPECT_EQ(CreateRecordingFile(folder.path, now, RecordingFormat::Mp4)->path.filename(),
              "v12-08-2026-1405.mp4");

    std::string error;
    EXPECT_FALSE(CreateRecordingFile(folder.path / "missing", now, RecordingFormat::Avi, &error));
    EXPECT_FALSE(error.empty());
}

// A frameless file a schedule takes over is named for the schedule's start, never over another.
TEST(GraphPlan, ARecordingFileTakesTheNameOfALaterMinute)
{
    TempFolder folder;
    const LocalDateTime made { 2026, 12, 8, 13, 59, 10, 2 };
    const LocalDateTime window { 2026, 12, 8, 14, 0, 5, 2 };
    std::optional<RecordingFile> file
        = CreateRecordingFile(folder.path, made, RecordingFormat::Avi);
    ASSERT_TRUE(file);
    std::ofstream(folder.path / "v12-08-2026-1400.avi") << "other";
    EXPECT_TRUE(RenameRecordingFile(*file, window, RecordingFormat::Avi));
    EXPECT_EQ(file->path.filename(), "v12-08-2026-1400-2.avi");
    EXPECT_TRUE(std::filesystem::exists(file->path));
    EXPECT_FALSE(std::filesystem::exists(folder.path / "v12-08-2026-1359.avi"));
    EXPECT_TRUE(RenameRecordingFile(*file, window, RecordingFormat::Avi)) << "already so named";
    EXPECT_EQ(file->path.filename(), "v12-08-2026-1400-2.avi");
    EXPECT_EQ(std::filesystem::file_size(folder.path / "v12-08-2026-1400.avi"), 5u);
}

// What the log says of an unfinished file fits its kind: the repair tool mends AVI files only.
TEST(GraphPlan, AnUnfinishedRecordingIsNamedWithAdviceForItsKind)
{
    const std::pair<RecordingFormat, const char *> cases[] = {
        { RecordingFormat::Avi, "Recording left unfinished: /v/a.avi (mend it with Repair Video)" },
        { RecordingFormat::Mp4,
          "Recording left unfinished: /v/a.avi (players read it as it stands, up to its last "
          "complete frame)" },
        { RecordingFormat::Wmv,
          "Recording left unfinished: /v/a.avi (players read it as it stands)" },
    };
    for (const auto &[format, text] : cases)
        EXPECT_EQ(UnfinishedRecordingText("/v/a.avi", format), text);
}

// A recording whose sync fails never reached the disk: the log names it, once. (A pipe cannot
// be synced.)
TEST(GraphPlan, AFailedSyncOfARecordingIsLoggedOnce)
{
    TempFolder folder;
    FakeClock clock;
    ErrorLog log(folder.path / "vorlund.log", clock);
    int pipeEnds[2] = { -1, -1 };
    ASSERT_EQ(::pipe(pipeEnds), 0);
    {
        RecordingSync sync;
        RecordingFile broken;
        broken.path = folder.path / "v12-08-2026-1405.avi";
        broken.fd = pipeEnds[1];
        sync.Finish(std::move(broken), log);
        std::optional<RecordingFile> good
            = CreateRecordingFile(folder.path, { 2026, 12, 8, 14, 6, 0, 2 }, RecordingFormat::Avi);
        ASSERT_TRUE(good);
        sync.Finish(std::move(*good), log);
        ASSERT_TRUE(sync.WaitSynced(std::chrono::seconds(10)));
    }
    ::close(pipeEnds[0]);
    std::ifstream in(folder.path / "vorlund.log");
    const std::string text((std::istreambuf_iterator<char>(in)), {});
    const std::string entry
        = NotSavedRecordingText(folder.path / "v12-08-2026-1405.avi", std::strerror(EINVAL));
    EXPECT_EQ(entry.rfind("Recording not saved to disk: ", 0), 0u);
    const size_t at = text.find(entry);
    EXPECT_NE(at, std::string::npos) << text;
    EXPECT_EQ(text.find(entry, at + 1), std::string::npos) << "once";
    EXPECT_EQ(text.find("v12-08-2026-1406"), std::string::npos) << text;
}

TEST(GraphPlan, PictureSizesStayWithinTheLimits)
{
    CapsHolder pal("video/x-dv,systemstream=true,format=PAL");
    CapsHolder ntsc("video/x-dv,systemstream=true,format=NTSC");
    EXPECT_EQ(DvPictureSize(pal.s(), true), (PictureSize { 720, 576 }));
    EXPECT_EQ(DvPictureSize(pal.s(), false), (PictureSize { 360, 288 }));
    EXPECT_EQ(DvPictureSize(ntsc.s(), false), (PictureSize { 360, 240 }));
    EXPECT_EQ(DvPictureSize(nullptr, true), (PictureSize { 720, 576 }));

    CapsHolder vga("image/jpeg,width=640,height=480");
    CapsHolder hd("video/x-raw,format=BGR,width=1280,height=720");
    CapsHolder unsized("video/mpeg,systemstream=true");
    EXPECT_EQ(DecodedPictureSize(vga.s(), 320, 240), (PictureSize { 640, 480 }));
    EXPECT_EQ(DecodedPictureSize(hd.s(), 320, 240), (PictureSize { 320, 240 }));
    EXPECT_EQ(DecodedPictureSize(hd.s(), 1920, -1080), (PictureSize { 720, 576 }));
    EXPECT_EQ(DecodedPictureSize(unsized.s(), 351, 287), (PictureSize { 350, 286 }));
    EXPECT_EQ(DecodedPictureSize(unsized.s(), 0, 0), (PictureSize { 320, 240 }));
}

} // namespace vorlund::test
