// Mendrel: the window around the repair; "--repair DAMAGED GOOD" runs it for scripts instead.
#include "MainFrame.h"
#include "MendrelView.h"
#include "QtNotifier.h"

#include <QApplication>

#include <cstring>

int MendrelRepairMain(int argc, char **argv);

int main(int argc, char **argv)
{
    if (argc > 1 && std::strcmp(argv[1], "--repair") == 0)
        return MendrelRepairMain(argc, argv);
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Mendrel"));
    vorlund::QtNotifier notifier;
    QtFileChooser chooser;
    CMainFrame frame(notifier, chooser);
    frame.show();
    return app.exec();
}
