// The server's IAudioFilterControl on a real vorlundaudio.
#include "AudioFilterControl.h"

#include <gst/gst.h>
#include <gtest/gtest.h>

#include <memory>

namespace vorlund {
namespace {

struct ElementDeleter
{
    void operator()(GstElement *e) const { gst_object_unref(e); }
};
using ElementPtr = std::unique_ptr<GstElement, ElementDeleter>;

ElementPtr Make(const char *factory)
{
    return ElementPtr(GST_ELEMENT(gst_object_ref_sink(gst_element_factory_make(factory, nullptr))));
}

TEST(AudioFilterControl, MethodsSetTheElementsProperties)
{
    ElementPtr element = Make("vorlundaudio");
    IAudioFilterControl control(element.get());
    ASSERT_TRUE(control.IsValid());

    EXPECT_TRUE(control.SetGateOpen(5));
    EXPECT_TRUE(control.SetRetiming(1, nullptr));
    EXPECT_TRUE(control.SetReferenceTime(123456789));
    gboolean gate = FALSE, retiming = FALSE;
    gint64 reference = 0;
    g_object_get(element.get(), "gate", &gate, "retiming", &retiming, "reference-time", &reference,
                 nullptr);
    EXPECT_TRUE(gate);
    EXPECT_TRUE(retiming);
    EXPECT_EQ(reference, 123456789);
    EXPECT_EQ(control.GetStartTime(), 0);

    EXPECT_TRUE(control.SetGateOpen(0));
    EXPECT_TRUE(control.SetRetiming(0, nullptr));
    g_object_get(element.get(), "gate", &gate, "retiming", &retiming, nullptr);
    EXPECT_FALSE(gate);
    EXPECT_FALSE(retiming);
}

TEST(AudioFilterControl, OtherElementsAreNotControlled)
{
    ElementPtr identity = Make("identity");
    IAudioFilterControl control(identity.get());
    EXPECT_FALSE(control.IsValid());
    EXPECT_FALSE(control.SetGateOpen(1));
    EXPECT_FALSE(control.SetReferenceTime(0));
    EXPECT_EQ(control.GetStartTime(), 0);
    EXPECT_FALSE(IAudioFilterControl(nullptr).IsValid());
}

TEST(AudioFilterControl, HoldsItsOwnReferenceAndMovesIt)
{
    GstElement *raw
        = GST_ELEMENT(gst_object_ref_sink(gst_element_factory_make("vorlundaudio", nullptr)));
    IAudioFilterControl moved;
    {
        IAudioFilterControl control(raw);
        gst_object_unref(raw); // the control's reference keeps it alive
        moved = std::move(control);
        EXPECT_FALSE(control.IsValid());
    }
    ASSERT_TRUE(moved.IsValid());
    EXPECT_EQ(GST_OBJECT_REFCOUNT_VALUE(moved.Element()), 1);
    EXPECT_TRUE(moved.SetGateOpen(1));
}

} // namespace
} // namespace vorlund
