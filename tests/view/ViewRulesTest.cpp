#include "TilePixels.h"
#include "ViewCommands.h"

#include <cstring>
#include <vector>

#include <gtest/gtest.h>

using namespace vorlund;

TEST(ViewRules, StartupDeviceChoice)
{
    struct Case
    {
        int profileId, commandLine;
        std::string last;
        std::array<std::string, 4> names;
        int expected;
    };
    const Case cases[] = {
        { 112, 2, "", { "A", "", "", "" }, 112 }, // device 2 asked, only one: stepped down
        { 112, -1, "C", { "A", "B", "C", "" }, 114 }, // the remembered name is the third
        { 113, -1, "gone", { "A", "B", "", "" }, 113 }, // no match: the profile's id stays
        { 115, -1, "", { "A", "", "", "" }, 112 }, // stepped down past three missing slots
        { 112, 4, "A", { "A", "B", "C", "D" }, 115 }, // the command line wins
        { 112, 9, "", { "A", "B", "", "" }, 112 }, // only 1-4 count
        { 999, -1, "", { "A", "B", "", "" }, 112 },
    };
    for (const Case &c : cases)
        EXPECT_EQ(ChooseStartupDevice(c.profileId, c.commandLine, c.last, c.names), c.expected)
            << c.profileId << " " << c.commandLine << " " << c.last;
}

TEST(ViewRules, CommandEnabling)
{
    CommandState stopped;
    stopped.device = stopped.ready = true;
    CommandState running = stopped;
    running.idle = false;
    CommandState notReady = stopped;
    notReady.ready = false;

    struct Case
    {
        int id;
        bool stoppedDisabled, runningDisabled, notReadyDisabled;
    };
    const Case cases[] = {
        { Cmd::Start, false, true, true },           { Cmd::Stop, true, false, true },
        { Cmd::TimedZones, true, false, true },      { Cmd::Configuration, false, true, true },
        { Cmd::VideoFormat, false, true, false },    { Cmd::VideoCompression, false, true, false },
        { Cmd::VideoCrossbar, false, false, false }, { Cmd::TvTuner, true, true, true },
        { Cmd::AudioRecording, true, true, true },   { Cmd::Review, false, false, false },
        { Cmd::PlayVideo, false, false, false },
    };
    for (const Case &c : cases) {
        EXPECT_EQ(ViewCommandDisabled(c.id, stopped), c.stoppedDisabled) << c.id;
        EXPECT_EQ(ViewCommandDisabled(c.id, running), c.runningDisabled) << c.id;
        EXPECT_EQ(ViewCommandDisabled(c.id, notReady), c.notReadyDisabled) << c.id;
    }
    CommandState tv = running;
    tv.tvMode = true;
    EXPECT_FALSE(ViewCommandDisabled(Cmd::TvTuner, tv));
    EXPECT_TRUE(ViewCommandDisabled(Cmd::Review, tv));
    EXPECT_TRUE(ViewCommandDisabled(Cmd::TimedZones, tv));
}

// Cameras up to the camera count, outside review mode; devices only in an enumerated slot and
// only while stopped; the current device and Always on Top carry the check mark.
TEST(ViewRules, CameraAndDeviceCommands)
{
    struct Case
    {
        int cameras;
        bool review, idle;
        std::array<bool, 4> slots;
        int current;
        std::array<bool, 4> camerasEnabled, devicesEnabled;
    };
    const Case cases[] = {
        { 1, false, true, { true, false, false, false }, 112, { 1, 0, 0, 0 }, { 1, 0, 0, 0 } },
        { 4, false, true, { true, true, false, false }, 113, { 1, 1, 1, 1 }, { 1, 1, 0, 0 } },
        { 4, true, false, { true, true, true, true }, 112, { 0, 0, 0, 0 }, { 0, 0, 0, 0 } },
        { 2, false, false, { true, false, false, true }, 115, { 1, 1, 0, 0 }, { 0, 0, 0, 0 } },
        { 0, false, true, {}, 112, { 0, 0, 0, 0 }, { 0, 0, 0, 0 } },
    };
    for (const Case &c : cases) {
        CommandState s;
        s.cameraCount = c.cameras;
        s.reviewMode = c.review;
        s.idle = c.idle;
        s.deviceSlots = c.slots;
        s.deviceCommandId = c.current;
        for (int i = 0; i < 4; ++i) {
            EXPECT_EQ(!ViewCommandDisabled(Cmd::CameraCommand(i + 1), s), c.camerasEnabled[i])
                << c.cameras << " cameras, camera " << i + 1;
            EXPECT_EQ(!ViewCommandDisabled(Cmd::DeviceCommand(i), s), c.devicesEnabled[i])
                << "slot " << i;
            EXPECT_EQ(ViewCommandChecked(Cmd::DeviceCommand(i), s),
                      Cmd::DeviceCommand(i) == c.current);
        }
    }
    CommandState onTop;
    EXPECT_FALSE(ViewCommandChecked(Cmd::AlwaysOnTop, onTop));
    onTop.windowOnTop = true;
    EXPECT_TRUE(ViewCommandChecked(Cmd::AlwaysOnTop, onTop));
    EXPECT_FALSE(ViewCommandChecked(Cmd::Start, onTop));
}

// The painter's conversion: upright, 0xFFRRGGBB, and with `dim` every other pixel of the
// bottom-up buffer black (odd widths alternate per row). The fast form must match exactly,
// also in row tails and with a padded destination.
TEST(ViewRules, TilePixelsUprightAndDimmed)
{
    const std::pair<int, int> sizes[]
        = { { 1, 1 }, { 3, 2 }, { 15, 3 }, { 16, 2 }, { 17, 5 }, { 33, 4 }, { 720, 3 } };
    for (const auto &[w, h] : sizes) {
        std::vector<uint8_t> src(size_t(w) * h * 3);
        for (size_t i = 0; i < src.size(); ++i)
            src[i] = uint8_t(i * 7 + 3);
        for (const bool dim : { false, true }) {
            const std::ptrdiff_t stride = std::ptrdiff_t(w) * 4 + 8;
            std::vector<uint8_t> plain(size_t(stride) * h, 0xAB), fast(plain);
            BottomUpBgrToRgb32Plain(src.data(), w, h, plain.data(), stride, dim);
            for (int y = 0; y < h; ++y) {
                for (int x = 0; x < w; ++x) {
                    const size_t p = size_t(h - 1 - y) * w + x;
                    const uint8_t *s = &src[p * 3];
                    const uint32_t want = dim && p % 2 == 0
                        ? 0xFF000000u
                        : 0xFF000000u | uint32_t(s[2]) << 16 | uint32_t(s[1]) << 8 | s[0];
                    uint32_t got;
                    std::memcpy(&got, &plain[size_t(y) * stride + size_t(x) * 4], 4);
                    ASSERT_EQ(got, want)
                        << w << "x" << h << " dim " << dim << " at " << x << "," << y;
                }
            }
            if (BottomUpBgrToRgb32Fast(src.data(), w, h, fast.data(), stride, dim)) {
                EXPECT_EQ(fast, plain) << w << "x" << h << " dim " << dim;
            }
        }
    }
}
