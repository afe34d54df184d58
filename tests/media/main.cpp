#include <QGuiApplication>

#include <gtest/gtest.h>

#include <cstdlib>

// The stamp's font needs a GUI application; the offscreen platform needs no display.
int main(int argc, char **argv)
{
    if (!std::getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QGuiApplication app(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
