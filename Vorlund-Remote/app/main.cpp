// Vorlund-Remote: start-up of the viewer program.
#include "MainFrame.h"
#include "QtNotifier.h"
#include "ShellRules.h"
#include "VorlundRemoteView.h"

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

    const auto folder = WorkingFolder(QDir::currentPath());
    if (!folder)
        notifier.ShowMessage(kInvalidWorkingFolder, "Vorlund-Remote");

    auto *view = new CVorlundRemoteView(profile, notifier, folder.value_or(QString()));
    CMainFrame frame(profile, *view);
    frame.SetAlwaysOnTop(view->Settings().windowOnTop);
    frame.SetModeText(view->Settings().mode == 0 ? QStringLiteral("Auto")
                                                 : QStringLiteral("Manual"));
    frame.show();
    view->OnInitialUpdate();
    return app.exec();
}
