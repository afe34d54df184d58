#include "gstvorlundaudio.h"
#include "gstvorlundavi.h"
#include "gstvorlundcolorspace.h"

#include <QCoreApplication>

#include <gst/gst.h>
#include <gtest/gtest.h>

int main(int argc, char **argv)
{
    gst_init(&argc, &argv);
    // The bus watch needs an event loop to wake it.
    QCoreApplication app(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    // Linked in, so sanitizer builds need no plugin scan.
    if (!GST_ELEMENT_REGISTER(vorlundavi, nullptr) || !GST_ELEMENT_REGISTER(vorlundaudio, nullptr)
        || !GST_ELEMENT_REGISTER(vorlundcolorspace, nullptr))
        return 1;
    return RUN_ALL_TESTS();
}
