#include "gstvorlundavi.h"

#include <gst/gst.h>
#include <gtest/gtest.h>

int main(int argc, char **argv)
{
    gst_init(&argc, &argv);
    ::testing::InitGoogleTest(&argc, argv);
    // The element is linked in, so this also works in sanitizer builds, where GStreamer could
    // not load an instrumented module.
    if (!GST_ELEMENT_REGISTER(vorlundavi, nullptr))
        return 1;
    return RUN_ALL_TESTS();
}
