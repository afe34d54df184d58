// The server's IColorSpaceFilterControl on a real vorlundcolorspace.
#include "ColorSpaceFilterControl.h"

#include <gtest/gtest.h>

namespace vorlund {
namespace {

TEST(ColorSpaceFilterControl, KeepsItsSettingsOnTheElement)
{
    GstElement *element
        = GST_ELEMENT(gst_object_ref_sink(gst_element_factory_make("vorlundcolorspace", nullptr)));
    {
        IColorSpaceFilterControl control(element);
        ASSERT_TRUE(control.IsValid());
        EXPECT_TRUE(control.SetGateOpen(1));
        EXPECT_TRUE(control.SetStampEnabled(1));
    }
    gboolean gate = FALSE, stamp = FALSE;
    g_object_get(element, "gate", &gate, "stamp", &stamp, nullptr);
    EXPECT_TRUE(gate);
    EXPECT_TRUE(stamp);
    gst_object_unref(element);

    IColorSpaceFilterControl none(nullptr);
    EXPECT_FALSE(none.IsValid());
    EXPECT_FALSE(none.SetStampEnabled(1));
}

} // namespace
} // namespace vorlund
