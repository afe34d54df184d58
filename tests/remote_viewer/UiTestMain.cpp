#include <QApplication>
#include <QTemporaryDir>

#include <gtest/gtest.h>

// Offscreen, with the viewer's settings in a scratch XDG_CONFIG_HOME.
int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir config;
    qputenv("XDG_CONFIG_HOME", config.path().toUtf8());
    ::testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("Vorlund"));
    QCoreApplication::setApplicationName(QStringLiteral("Vorlund-Remote"));
    return RUN_ALL_TESTS();
}
