// Vorlund-Remote: start-up of the viewer program.
#include "MainFrame.h"
#include "QtNotifier.h"
#include "ShellRules.h"
#include "ShellView.h"

#include <QApplication>
#include <QDir>
#include <QSettings>

using namespace vorlund;
using namespace vorlund::viewer;

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("Vorlund"));
    QCoreApplication::setApplicationName(QStringLiteral("Vorlund-Remote"));
    QSettings profile;
    QtNotifier notifier;

    if (!WorkingFolder(QDir::currentPath()))
        notifier.ShowMessage(kInvalidWorkingFolder, "Vorlund-Remote");

    auto *view = new ShellView(profile, notifier);
    CMainFrame frame(profile, *view);
    frame.SetAlwaysOnTop(view->Settings().windowOnTop);
    frame.SetModeText(view->Settings().mode == 0 ? QStringLiteral("Auto")
                                                 : QStringLiteral("Manual"));
    frame.show();
    return app.exec();
}
