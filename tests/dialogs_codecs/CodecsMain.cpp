#include "gstvorlundaudio.h"
#include "gstvorlundavi.h"
#include "gstvorlundcolorspace.h"

#include <QApplication>

#include <gst/gst.h>
#include <gtest/gtest.h>

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    gst_init(&argc, &argv);
    QApplication app(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    // Linked in: the graph's own elements need no plugin scan.
    if (!GST_ELEMENT_REGISTER(vorlundavi, nullptr) || !GST_ELEMENT_REGISTER(vorlundaudio, nullptr)
        || !GST_ELEMENT_REGISTER(vorlundcolorspace, nullptr))
        return 1;
    return RUN_ALL_TESTS();
}
