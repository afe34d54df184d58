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
        { ID_START, false, true, true },
        { ID_STOP, true, false, true },
        { ID_TIMED_ZONES, true, false, true },
        { ID_CONFIGURATION, false, true, true },
        { ID_VIDEO_FORMAT, false, true, false },
        { ID_VIDEO_COMPRESSION, false, true, false },
        { ID_VIDEO_CROSSBAR, false, false, false },
        { ID_TV_TUNER, true, true, true },
        { ID_AUDIO_RECORDING, true, true, true },
        { ID_REVIEW, false, false, false },
        { ID_PLAY_VIDEO, false, false, false },
    };
    for (const Case &c : cases) {
        EXPECT_EQ(ViewCommandDisabled(c.id, stopped), c.stoppedDisabled) << c.id;
        EXPECT_EQ(ViewCommandDisabled(c.id, running), c.runningDisabled) << c.id;
        EXPECT_EQ(ViewCommandDisabled(c.id, notReady), c.notReadyDisabled) << c.id;
    }
    CommandState tv = running;
    tv.tvMode = true;
    EXPECT_FALSE(ViewCommandDisabled(ID_TV_TUNER, tv));
    EXPECT_TRUE(ViewCommandDisabled(ID_REVIEW, tv));
    EXPECT_TRUE(ViewCommandDisabled(ID_TIMED_ZONES, tv));
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
