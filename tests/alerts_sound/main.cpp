#include <QCoreApplication>

#include <gst/gst.h>
#include <gtest/gtest.h>

int main(int argc, char **argv)
{
    gst_init(&argc, &argv);
    QCoreApplication app(argc, argv); // the player's bus is watched from the event loop
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
