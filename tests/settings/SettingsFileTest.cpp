#include "SettingsTestHelpers.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>

namespace vorlund {
namespace {

using namespace vorlund::test;

TEST(SettingsFile, DefaultsFileHasEveryValueAtItsOffset)
{
    const std::vector<uint8_t> f = WriteDeviceFile(DefaultConfig());
    ASSERT_EQ(f.size(), 2505u);

    bool zeros = false;
    EXPECT_EQ(TextAt(f, 0, 128, &zeros), "Front Door Cam");
    EXPECT_TRUE(zeros);
    EXPECT_EQ(TextAt(f, 128, 64, &zeros), "WMVideo9 Encoder DMO");
    EXPECT_TRUE(zeros);
    EXPECT_EQ(TextAt(f, 192, 260), "/var/lib/vorlund/CaptureData");
    for (size_t off : { 452u, 468u, 532u, 596u, 660u, 724u, 1954u, 2006u, 2224u })
        EXPECT_EQ(f[off], 0) << off;

    // The block at 749.
    EXPECT_EQ(I32At(f, 749), 1); // SwitcherComPort
    EXPECT_EQ(I32At(f, 753), 200); // DetectionPeriod
    EXPECT_EQ(I32At(f, 757), 6000); // SnapshotLimit
    EXPECT_EQ(I32At(f, 761), 1); // CameraCount
    for (int c = 0; c < 4; ++c) {
        EXPECT_EQ(f[765 + c], 1); // MotionEnabled
        EXPECT_EQ(f[769 + c], 1); // RecordOnMotion
        EXPECT_EQ(I32At(f, 773 + 4 * c), 1); // RecordSeconds
        EXPECT_EQ(f[789 + c], 1); // SnapOnMotion
        EXPECT_EQ(I32At(f, 793 + 4 * c), 50); // JpegQuality
        EXPECT_EQ(f[809 + c], 0); // MailOnMotion
        EXPECT_EQ(f[826 + c], 0); // SoundOnMotion
        EXPECT_EQ(I32At(f, 849 + 4 * c), 25); // Sensitivity
    }
    for (size_t off = 813; off < 825; ++off)
        EXPECT_EQ(f[off], 0) << "reserved " << off;
    const int hours[] = { 19, 6, 6, 10, 10, 14, 14, 19 };
    for (int i = 0; i < 8; ++i)
        EXPECT_EQ(I32At(f, 865 + 4 * i), hours[i]);
    EXPECT_EQ(f[897], 1); // RemoteEnabled
    EXPECT_EQ(f[898], 1); // RolloverOn
    EXPECT_EQ(I32At(f, 901), 49330);
    EXPECT_EQ(I32At(f, 905), 320);
    EXPECT_EQ(I32At(f, 909), 240);
    const std::vector<uint8_t> rgb24 { 0x7d, 0xeb, 0x36, 0xe4, 0x4f, 0x52, 0xce, 0x11,
                                       0x9f, 0x53, 0x00, 0x20, 0xaf, 0x0b, 0xa7, 0x70 };
    EXPECT_EQ(std::vector<uint8_t>(f.begin() + 913, f.begin() + 929), rgb24);
    for (size_t off = 929; off < 1953; ++off)
        ASSERT_EQ(f[off], 1) << "ZoneMask " << off;

    // After the block.
    EXPECT_EQ(f[1953], 1); // RemoteMode
    for (int c = 0; c < 4; ++c) {
        EXPECT_EQ(f[2058 + c], 0);
        EXPECT_EQ(F32At(f, 2062 + 4 * c), 15.0f);
        EXPECT_EQ(I32At(f, 2078 + 4 * c), 5000);
        EXPECT_EQ(I32At(f, 2110 + 4 * c), 0);
        EXPECT_EQ(I32At(f, 2361 + 4 * c), 12); // MotionDistance
    }
    EXPECT_EQ(f[2127], 0); // RecordAudio
    EXPECT_EQ(TextAt(f, 2128, 64), "USB Mic");
    EXPECT_EQ(TextAt(f, 2192, 24), "Microphone");
    EXPECT_EQ(I32At(f, 2216), 1); // InputLevel
    EXPECT_EQ(I32At(f, 2352), 0); // FrameDuration, both halves
    EXPECT_EQ(I32At(f, 2356), 0);
    EXPECT_EQ(I32At(f, 2398), 3); // PtzComPort
    EXPECT_EQ(I32At(f, 2406), 2400); // PtzBaud
    EXPECT_EQ(std::vector<uint8_t>(f.begin() + 2410, f.begin() + 2414),
              (std::vector<uint8_t> { 0, 1, 2, 3 }));
    EXPECT_EQ(I32At(f, 2414), 0); // RolloverMode
    EXPECT_EQ(I32At(f, 2418), 250); // RolloverMBytes
    for (size_t off = 2422; off < 2438; ++off)
        EXPECT_EQ(f[off], 25); // ZoneSensitivity
    EXPECT_EQ(I32At(f, 2438), 0);
    EXPECT_EQ(f[2447], 1); // VideoTimestamp
    EXPECT_EQ(I32At(f, 2448), 4); // TvChannel
    EXPECT_EQ(I32At(f, 2456), 15000); // RecycleMBytes
    EXPECT_EQ(I32At(f, 2460), 0); // PtzProtocol
    EXPECT_EQ(I32At(f, 2464), 0); // SwitchType
    EXPECT_EQ(F32At(f, 2468), 24.0f);
    EXPECT_EQ(f[2472], 1); // Wmv9Vbr
    EXPECT_EQ(I32At(f, 2473), 50);
    EXPECT_EQ(I32At(f, 2477), 700000);
    EXPECT_EQ(I32At(f, 2481), 50);
    EXPECT_EQ(std::vector<uint8_t>(f.begin() + 2485, f.begin() + 2501), rgb24);
    EXPECT_EQ(I32At(f, 2501), -1);
}

// The committed seed files are real files of each layout; the writer must keep producing
// the same bytes.
TEST(SettingsFile, CommittedFilesMatchTheWriter)
{
    const std::filesystem::path corpus = VORLUND_SETTINGS_CORPUS;
    EXPECT_EQ(ReadBytes(corpus / "defaults-2505.cfg"), WriteDeviceFile(DefaultConfig()));
    EXPECT_EQ(ReadBytes(corpus / "layout-2505.cfg"), WriteDeviceFile(UnusualConfig()));
    for (size_t size : kDeviceFileLayouts) {
        DeviceConfig read = DefaultConfig();
        EXPECT_TRUE(
            ReadDeviceFile(ReadBytes(corpus / ("layout-" + std::to_string(size) + ".cfg")), read));
        EXPECT_EQ(read.Block.Sensitivity[4], 120) << size;
    }
}

TEST(SettingsFile, EveryFieldSurvivesARoundTrip)
{
    const DeviceConfig written = UnusualConfig();
    const std::vector<uint8_t> bytes = WriteDeviceFile(written);
    ASSERT_EQ(bytes.size(), kDeviceFileSize);

    DeviceConfig read = DefaultConfig();
    ASSERT_TRUE(ReadDeviceFile(bytes, read));
    EXPECT_EQ(read.PtzAddress[4], 4); // not in the file: the value in force stays
    EXPECT_TRUE(read == written);

    // Every value of the unusual record is in range: the check changes nothing.
    std::vector<std::string> log;
    EXPECT_EQ(CheckDeviceConfig(read, DefaultConfig(), "t",
                                [&](std::string_view l) { log.emplace_back(l); }),
              0);
    EXPECT_TRUE(log.empty()) << log.front();
    EXPECT_TRUE(read == written);
    EXPECT_EQ(WriteDeviceFile(read), bytes);
}

// The groups of fields as they lie in the current layout, and the file size above which an
// older layout holds each (0: always).
struct Group
{
    size_t begin, end, presentAfter;
};
constexpr Group kGroups[]
    = { { 0, 596, 0 },        { 596, 749, 1974 },   { 749, 1953, 0 },     { 1953, 2058, 1800 },
        { 2058, 2127, 1905 }, { 2127, 2352, 2127 }, { 2352, 2406, 2352 }, { 2406, 2414, 2406 },
        { 2414, 2442, 2414 }, { 2442, 2452, 2442 }, { 2452, 2460, 2452 }, { 2460, 2485, 2460 },
        { 2485, 2505, 2485 } };

TEST(SettingsFile, EachOlderLayoutLoadsWhatItHoldsAndKeepsTheRest)
{
    const DeviceConfig unusual = UnusualConfig();
    const std::vector<uint8_t> current = WriteDeviceFile(unusual);
    // The values in force differ from the file's everywhere.
    const DeviceConfig inForce = DefaultConfig({ "Front Door Cam", "/elsewhere", "Other Mic" });
    for (size_t size : kDeviceFileLayouts) {
        SCOPED_TRACE(size);
        DeviceConfig read = inForce;
        ASSERT_TRUE(ReadDeviceFile(OlderLayout(current, size), read));

        // Expected: a current-layout file with the groups the old one holds, the rest in force.
        std::vector<uint8_t> merged = WriteDeviceFile(inForce);
        for (const Group &g : kGroups) {
            if (size > g.presentAfter)
                std::copy(current.begin() + g.begin, current.begin() + g.end,
                          merged.begin() + g.begin);
        }
        DeviceConfig expected = inForce;
        ASSERT_TRUE(ReadDeviceFile(merged, expected));
        expected.CaptureSubtype = unusual.CaptureSubtype; // the block's copy is in every layout
        EXPECT_TRUE(read == expected);
        EXPECT_EQ(read.Block.CameraCount, 4);
        EXPECT_EQ(read.SmtpServer, size > 1974 ? "smtp.example.com" : "");
        EXPECT_EQ(read.TvFormat, size > 2485 ? 0x10 : -1);
    }
}

TEST(SettingsFile, TheBlocksCaptureSubtypeIsTheOneApplied)
{
    // The two copies only differ in a damaged or hand-made file: the block's copy wins, as the
    // block is applied after the fields that follow it.
    const DeviceConfig unusual = UnusualConfig();
    std::vector<uint8_t> bytes = WriteDeviceFile(unusual);
    std::fill(bytes.begin() + 2485, bytes.begin() + 2501, 0x5a);
    DeviceConfig read = DefaultConfig();
    ASSERT_TRUE(ReadDeviceFile(bytes, read));
    EXPECT_TRUE(read.CaptureSubtype == unusual.CaptureSubtype);
    EXPECT_EQ(read.TvFormat, unusual.TvFormat);
}

TEST(SettingsFile, TooShortOrOddSizedFiles)
{
    const std::vector<uint8_t> current = WriteDeviceFile(UnusualConfig());
    DeviceConfig read = DefaultConfig();
    const DeviceConfig before = read;
    EXPECT_FALSE(ReadDeviceFile(OlderLayout(current, 1799), read));
    EXPECT_TRUE(read == before);
    EXPECT_EQ(ReadDeviceName(OlderLayout(current, 1799)), "Front Door Cam");
    EXPECT_EQ(ReadDeviceName({}), "");

    // A size between layouts: groups announced by the size are read as far as the file
    // holds complete fields; a cut field keeps its value.
    std::vector<uint8_t> odd(current.begin(), current.begin() + 2130);
    read = DefaultConfig();
    ASSERT_TRUE(ReadDeviceFile(odd, read));
    EXPECT_EQ(read.RecordAudio, 1);
    EXPECT_EQ(read.AudioDevice, "USB Mic"); // cut off at 2130
    EXPECT_EQ(read.TimeLapseCount[4], 4);

    // A longer file is read in the current layout; the tail is ignored.
    std::vector<uint8_t> longer = current;
    longer.resize(4000, 0xff);
    read = DefaultConfig();
    ASSERT_TRUE(ReadDeviceFile(longer, read));
    EXPECT_TRUE(read == UnusualConfig());
}

TEST(SettingsFile, TextsAreBoundedToTheirFields)
{
    std::vector<uint8_t> bytes = WriteDeviceFile(DefaultConfig());
    // No terminating zero anywhere in the name or the folder.
    std::fill(bytes.begin(), bytes.begin() + 128, 'A');
    std::fill(bytes.begin() + 192, bytes.begin() + 452, 'B');
    std::fill(bytes.begin() + 452, bytes.begin() + 468, 'C');
    DeviceConfig read = DefaultConfig();
    ASSERT_TRUE(ReadDeviceFile(bytes, read));
    EXPECT_EQ(read.DeviceName, std::string(127, 'A'));
    EXPECT_EQ(ReadDeviceName(bytes), std::string(127, 'A'));
    EXPECT_EQ(read.VideoFolder, std::string(259, 'B'));
    EXPECT_EQ(read.RemotePassword, std::string(15, 'C'));
    EXPECT_EQ(read.MailTo, "");

    // Writing cuts long texts to width - 1 bytes, never inside a UTF-8 character.
    DeviceConfig c = DefaultConfig();
    c.RemotePassword = "abcdefghijklmn\xc3\xa9xyz"; // the é spans bytes 14 and 15
    c.DeviceName = std::string(300, 'D');
    const std::vector<uint8_t> out = WriteDeviceFile(c);
    ASSERT_EQ(out.size(), kDeviceFileSize);
    EXPECT_EQ(TextAt(out, 452, 16), "abcdefghijklmn");
    EXPECT_EQ(TextAt(out, 0, 128), std::string(127, 'D'));
    EXPECT_EQ(StoredText(std::string_view("ab\0cd", 5), 16), "ab");
}

void PutI32(std::vector<uint8_t> &b, size_t off, int32_t v)
{
    for (int i = 0; i < 4; ++i)
        b[off + i] = static_cast<uint8_t>(static_cast<uint32_t>(v) >> (8 * i));
}
void PutF32(std::vector<uint8_t> &b, size_t off, float v)
{
    uint32_t bits;
    std::memcpy(&bits, &v, 4);
    PutI32(b, off, static_cast<int32_t>(bits));
}

TEST(SettingsFile, BadValuesFallBackAndAreLogged)
{
    const DeviceConfig unusual = UnusualConfig();
    std::vector<uint8_t> b = WriteDeviceFile(unusual);
    PutI32(b, 761, 9); // CameraCount
    PutI32(b, 797, 5); // JpegQuality camera 2
    PutI32(b, 901, 70000); // RemotePort
    PutI32(b, 905, 1000); // CaptureWidth
    PutI32(b, 909, -5); // CaptureHeight
    PutI32(b, 865 + 4 * 3, 30); // ZoneHours, end of zone 2
    PutF32(b, 2062, std::numeric_limits<float>::quiet_NaN());
    PutF32(b, 2066, std::numeric_limits<float>::infinity());
    PutF32(b, 2070, -1.0f);
    PutF32(b, 2074, 0.0f);
    PutI32(b, 2078, 0); // TimeLapseLimit camera 1
    b[2094] = 24; // TimeLapseWindow camera 1 from-hour
    b[2394 + 1] = 60; // RecordWindow from-minute
    PutI32(b, 2414, 7); // RolloverMode
    PutI32(b, 2460, 2); // PtzProtocol
    PutI32(b, 2464, -1); // SwitchType
    PutI32(b, 2216, -3); // InputLevel
    b[765] = 7; // MotionEnabled camera 1: any non-zero is on
    std::fill(b.begin() + 192, b.begin() + 452, 0); // empty video folder

    DeviceConfig inForce = DefaultConfig();
    inForce.TimeLapseWindow[1] = { 6, 0, 7, 0 };
    inForce.RecordWindow = { 1, 2, 3, 4 };
    DeviceConfig read = inForce;
    ASSERT_TRUE(ReadDeviceFile(b, read));
    std::vector<std::string> log;
    const int replaced = CheckDeviceConfig(read, inForce, "device2.cfg",
                                           [&](std::string_view line) { log.emplace_back(line); });
    EXPECT_EQ(replaced, 18);
    ASSERT_EQ(log.size(), 18u);
    EXPECT_EQ(log[1], "device2.cfg: CameraCount 9 is out of range, using 1");

    EXPECT_EQ(read.VideoFolder, "/var/lib/vorlund/CaptureData");
    EXPECT_EQ(read.Block.CameraCount, 1);
    EXPECT_EQ(read.Block.JpegQuality[2], 50);
    EXPECT_EQ(read.Block.JpegQuality[3], 90);
    EXPECT_EQ(read.Block.RemotePort, 49330);
    EXPECT_EQ(read.Block.CaptureWidth, 320);
    EXPECT_EQ(read.Block.CaptureHeight, 240);
    EXPECT_EQ(read.Block.ZoneHours[3], 10);
    EXPECT_EQ(read.Block.ZoneHours[2], 3);
    for (int c = 1; c <= 4; ++c)
        EXPECT_EQ(read.TimeLapseMinutes[c], 15.0f);
    EXPECT_EQ(read.TimeLapseLimit[1], 5000);
    EXPECT_EQ(read.TimeLapseWindow[1], (TimeWindow { 6, 0, 7, 0 }));
    EXPECT_EQ(read.TimeLapseWindow[2], unusual.TimeLapseWindow[2]);
    EXPECT_EQ(read.RecordWindow, (TimeWindow { 1, 2, 3, 4 }));
    EXPECT_EQ(read.RolloverMode, 0);
    EXPECT_EQ(read.PtzProtocol, 0);
    EXPECT_EQ(read.SwitchType, 0);
    EXPECT_EQ(read.InputLevel, 1);
    EXPECT_EQ(read.Block.MotionEnabled[1], 1);
    EXPECT_EQ(read.TvWindow, unusual.TvWindow); // 255 marks an unset window
}

TEST(SettingsFile, DetectionPeriodOfFifteenHundredOrMoreBecomes220)
{
    for (const auto &[stored, used] : { std::pair { 1499, 1499 }, { 1500, 220 }, { 5000, 220 } }) {
        DeviceConfig c = DefaultConfig();
        c.Block.DetectionPeriod = stored;
        DeviceConfig read = DefaultConfig();
        ASSERT_TRUE(ReadDeviceFile(WriteDeviceFile(c), read));
        EXPECT_EQ(CheckDeviceConfig(read, DefaultConfig(), "t", {}), 0);
        EXPECT_EQ(read.Block.DetectionPeriod, used);
    }
}

TEST(SettingsFile, ComPortNames)
{
    EXPECT_EQ(ComPortName(3), "Com3");
    EXPECT_EQ(ComPortNumber("Com3"), 3);
    EXPECT_EQ(ComPortNumber("COM12"), 12);
    EXPECT_EQ(ComPortNumber("Com"), 0);
    EXPECT_EQ(ComPortNumber("Comx"), 0);
}

} // namespace
} // namespace vorlund
