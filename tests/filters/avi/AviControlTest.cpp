// The server's IAviFilterControl driving a real element.
#include "AviFilterControl.h"
#include "AviTestSupport.h"

#include <gtest/gtest.h>

using namespace vorlund::test;
using vorlund::IAviFilterControl;

namespace {

bool Flag(GstElement *e, const char *name)
{
    gboolean v = FALSE;
    g_object_get(e, name, &v, nullptr);
    return v;
}

} // namespace

TEST(AviFilterControl, MethodsSetTheElementsProperties)
{
    Harness h = MakeAvi(RawCaps("BGR", 64, 48));
    IAviFilterControl control(h->element);
    ASSERT_TRUE(control.IsValid());
    EXPECT_TRUE(control.SetStampEnabled(7));
    EXPECT_TRUE(control.SetStampAtTop(1));
    EXPECT_TRUE(control.SetAcceptInterleaved(1));
    EXPECT_TRUE(control.SetHoldMode(1));
    EXPECT_TRUE(control.SetRequireVideoInfo(1));
    EXPECT_TRUE(Flag(h->element, "stamp"));
    EXPECT_TRUE(Flag(h->element, "stamp-at-top"));
    EXPECT_TRUE(Flag(h->element, "accept-interleaved"));
    EXPECT_TRUE(Flag(h->element, "hold-mode"));
    EXPECT_TRUE(Flag(h->element, "require-video-info"));

    // Closed gate: the start of the latest dropped buffer is reported.
    const gsize size = FrameSize("BGR", 64, 48);
    ASSERT_EQ(gst_harness_push(h.get(), MakeFrame(size, 3)), GST_FLOW_OK);
    EXPECT_EQ(control.GetLastStartTime(), gint64(3 * kFrame));

    EXPECT_TRUE(control.SetGateOpen(1));
    EXPECT_TRUE(Flag(h->element, "gate"));
    EXPECT_TRUE(control.RestoreGate(0));
    EXPECT_TRUE(Flag(h->element, "gate"));
    EXPECT_TRUE(control.SetPassThrough(0));
    EXPECT_FALSE(Flag(h->element, "gate"));
    EXPECT_FALSE(Flag(h->element, "pass-through"));
    EXPECT_TRUE(control.SetPassThrough(1));
    EXPECT_TRUE(Flag(h->element, "gate"));

    IAviFilterControl moved(std::move(control));
    EXPECT_FALSE(control.IsValid());
    EXPECT_TRUE(moved.IsValid());
}

TEST(AviFilterControl, OtherElementsAreNotControlled)
{
    GstElement *identity = gst_element_factory_make("identity", nullptr);
    ASSERT_NE(identity, nullptr);
    gst_object_ref_sink(identity);
    IAviFilterControl control(identity);
    EXPECT_FALSE(control.IsValid());
    EXPECT_FALSE(control.SetGateOpen(1));
    EXPECT_EQ(control.GetLastStartTime(), 0);
    gst_object_unref(identity);

    IAviFilterControl none(nullptr);
    EXPECT_FALSE(none.RestoreGate(1));
}
