// The date/time stamp in the pixels of frames passed through the element.
#include "AviStamp.h"
#include "AviTestSupport.h"

#include <gtest/gtest.h>

#include <cstring>
#include <ctime>
#include <vector>

using namespace vorlund::test;
namespace avi = vorlund::avi;

namespace {

constexpr guint8 kFill = 0x40;

// Frame bytes after one stamped pass through a fresh element.
struct Stamped
{
    std::vector<guint8> bytes;
    int stride;
    std::time_t before, after;
};

Stamped StampOnce(const char *format, int width, int height, bool atTop, guint8 fill = kFill)
{
    Harness h = MakeAvi(RawCaps(format, width, height));
    g_object_set(h->element, "gate", TRUE, "stamp", TRUE, "stamp-at-top", gboolean(atTop), nullptr);
    GstVideoInfo info;
    gst_video_info_set_format(&info, gst_video_format_from_string(format), width, height);
    Stamped s;
    s.stride = GST_VIDEO_INFO_PLANE_STRIDE(&info, 0);
    s.before = std::time(nullptr);
    EXPECT_EQ(gst_harness_push(h.get(), MakeFrame(info.size, 0, fill)), GST_FLOW_OK);
    s.after = std::time(nullptr);
    BufferPtr out(gst_harness_pull(h.get()));
    GstMapInfo map;
    EXPECT_TRUE(gst_buffer_map(out.get(), &map, GST_MAP_READ));
    s.bytes.assign(map.data, map.data + map.size);
    gst_buffer_unmap(out.get(), &map);
    return s;
}

// The ink the element must have drawn: the text of one of the seconds the push spanned.
bool InkMatches(const Stamped &s, int x, int y, std::time_t when)
{
    char text[avi::kStampTextLength + 1];
    if (!avi::FormatStampText(when, text))
        return false;
    std::uint8_t ink[avi::kStampHeight][avi::kStampWidth];
    avi::RenderStampText(text, ink);
    for (int r = 0; r < avi::kStampHeight; ++r) {
        for (int c = 0; c < avi::kStampWidth; ++c) {
            const guint8 *p = &s.bytes[(y + r) * s.stride + (x + c) * 3];
            const guint8 want = ink[r][c] ? 0 : 255;
            if (p[0] != want || p[1] != want || p[2] != want)
                return false;
        }
    }
    return true;
}

// Only the box at (x, y) changed; it holds black text on white.
void ExpectBgrBoxAt(const Stamped &s, int width, int height, int x, int y)
{
    EXPECT_TRUE(InkMatches(s, x, y, s.before) || InkMatches(s, x, y, s.after));
    int changed = 0;
    for (int r = 0; r < height; ++r) {
        for (int c = 0; c < width * 3; ++c) {
            const bool inBox = r >= y && r < y + avi::kStampHeight && c >= x * 3
                && c < (x + avi::kStampWidth) * 3;
            if (!inBox)
                changed += s.bytes[r * s.stride + c] != kFill;
        }
    }
    EXPECT_EQ(changed, 0);
    // The box's border rows and first column are white.
    EXPECT_EQ(s.bytes[y * s.stride + x * 3], 255);
    EXPECT_EQ(s.bytes[(y + 15) * s.stride + (x + 132) * 3 + 2], 255);
}

} // namespace

TEST(AviStamp, BgrAtTheTopAndAtTheBottom)
{
    const Stamped top = StampOnce("BGR", 320, 240, true);
    ExpectBgrBoxAt(top, 320, 240, 5, 2);
    const Stamped bottom = StampOnce("BGR", 320, 240, false);
    ExpectBgrBoxAt(bottom, 320, 240, 5, 240 - 20);
}

TEST(AviStamp, Yuy2AtTheTopLeftWhateverThePosition)
{
    for (bool atTop : { true, false }) {
        const Stamped s = StampOnce("YUY2", 320, 240, atTop, 0x50);
        int ink = 0;
        for (int r = 0; r < 16; ++r) {
            const guint8 *row = &s.bytes[r * s.stride];
            for (int b = 0; b < 266; b += 2) {
                ASSERT_TRUE(row[b] == 235 || row[b] == 16) << "row " << r << " byte " << b;
                ink += row[b] == 16;
                ASSERT_EQ(row[b + 1], 128) << "row " << r << " byte " << b + 1;
            }
            // Right of the box and below it the frame is untouched.
            for (int b = 266; b < 320 * 2; ++b)
                ASSERT_EQ(row[b], 0x50) << "row " << r << " byte " << b;
        }
        EXPECT_GT(ink, 100);
        EXPECT_EQ(s.bytes[0], 235); // white box corner
        for (int b = 0; b < 320 * 2; ++b)
            ASSERT_EQ(s.bytes[16 * s.stride + b], 0x50);
    }
}

TEST(AviStamp, TinyFramesAreClipped)
{
    struct Size
    {
        const char *format;
        int width, height;
    };
    const Size sizes[]
        = { { "BGR", 1, 1 },  { "BGR", 7, 3 },  { "BGR", 132, 15 },  { "BGR", 140, 21 },
            { "YUY2", 1, 1 }, { "YUY2", 2, 2 }, { "YUY2", 131, 15 }, { "YUY2", 134, 17 } };
    for (const Size &size : sizes) {
        for (bool atTop : { true, false }) {
            const Stamped s = StampOnce(size.format, size.width, size.height, atTop);
            ASSERT_EQ(s.bytes.size(), FrameSize(size.format, size.width, size.height));
        }
    }
    // A 132 x 15 YUY2 frame gets all its columns but only 15 rows of the strip.
    const Stamped s = StampOnce("YUY2", 132, 15, true, 0x50);
    EXPECT_EQ(s.bytes[0], 235);
    EXPECT_EQ(s.bytes[14 * s.stride + 131 * 2 - 1], 128);
}

TEST(AviStamp, DvPassesUnstamped)
{
    Harness h = MakeAvi("video/x-dv,systemstream=true");
    g_object_set(h->element, "accept-interleaved", TRUE, nullptr);
    gst_harness_set_src_caps_str(h.get(), "video/x-dv,systemstream=true");
    g_object_set(h->element, "gate", TRUE, "stamp", TRUE, "stamp-at-top", TRUE, nullptr);
    ASSERT_EQ(gst_harness_push(h.get(), MakeFrame(144000, 0, 0x11)), GST_FLOW_OK);
    BufferPtr out(gst_harness_pull(h.get()));
    GstMapInfo map;
    ASSERT_TRUE(gst_buffer_map(out.get(), &map, GST_MAP_READ));
    gsize changed = 0;
    for (gsize i = 0; i < map.size; ++i)
        changed += map.data[i] != 0x11;
    gst_buffer_unmap(out.get(), &map);
    EXPECT_EQ(changed, 0u);
}

TEST(AviStamp, CapsChangeMovesTheStamp)
{
    Harness h = MakeAvi(RawCaps("BGR", 320, 240));
    g_object_set(h->element, "gate", TRUE, "stamp", TRUE, nullptr);
    ASSERT_EQ(gst_harness_push(h.get(), MakeFrame(FrameSize("BGR", 320, 240), 0)), GST_FLOW_OK);
    BufferPtr first(gst_harness_pull(h.get()));
    gst_harness_set_src_caps_str(h.get(), RawCaps("BGR", 160, 100).c_str());
    const gsize size = FrameSize("BGR", 160, 100);
    ASSERT_EQ(gst_harness_push(h.get(), MakeFrame(size, 1)), GST_FLOW_OK);
    BufferPtr second(gst_harness_pull(h.get()));
    GstMapInfo map;
    ASSERT_TRUE(gst_buffer_map(second.get(), &map, GST_MAP_READ));
    const int stride = 160 * 3;
    // The bottom box is at row 80 of the smaller picture, not at row 220 of the first one.
    EXPECT_EQ(map.data[80 * stride + 5 * 3], 255);
    EXPECT_EQ(map.data[79 * stride + 5 * 3], kFill);
    gst_buffer_unmap(second.get(), &map);
}

TEST(AviStampText, MonthDayYearAnd24HourTime)
{
    std::tm t {};
    t.tm_year = 2006 - 1900;
    t.tm_mon = 6;
    t.tm_mday = 4;
    t.tm_hour = 18;
    t.tm_min = 30;
    t.tm_sec = 5;
    t.tm_isdst = -1;
    char text[avi::kStampTextLength + 1];
    ASSERT_TRUE(avi::FormatStampText(std::mktime(&t), text));
    EXPECT_STREQ(text, "07-04-2006 18:30:05");

    // Every character of the text has its own glyph.
    std::uint8_t a[avi::kStampHeight][avi::kStampWidth];
    std::uint8_t b[avi::kStampHeight][avi::kStampWidth];
    const char *chars = "0123456789-:";
    for (int i = 0; chars[i]; ++i) {
        for (int j = i + 1; chars[j]; ++j) {
            const char ta[2] = { chars[i], 0 }, tb[2] = { chars[j], 0 };
            avi::RenderStampText(ta, a);
            avi::RenderStampText(tb, b);
            EXPECT_NE(std::memcmp(a, b, sizeof a), 0) << chars[i] << " vs " << chars[j];
        }
    }
}
