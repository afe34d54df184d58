// The server program: application, profile, plugin folder, signals, main frame and view.

#include "Commands.h"
#include "Launchers.h"
#include "MainFrame.h"
#include "PlaceholderView.h"
#include "PluginFolder.h"
#include "Profile.h"
#include "QtNotifier.h"
#include "SignalBridge.h"
#include "VorlundApp.h"

#include <QApplication>
#include <QDir>

#include <gst/gst.h>

#include <string>
#include <vector>

namespace {

std::filesystem::path FromQString(const QString &s)
{
    return std::filesystem::path(s.toStdString());
}

// The build's plugins lie in build/plugins beside build/Vorlund; an installed program finds
// them under lib/vorlund/plugins next to its bin folder.
void AddOwnPlugins(const std::filesystem::path &programFolder)
{
    const std::filesystem::path root = programFolder.parent_path();
    for (const std::filesystem::path &folder : { root / "plugins", root / "lib/vorlund/plugins" })
        vorlund::AddPluginFolder(folder.string());
}

} // namespace

int main(int argc, char **argv)
{
    GError *gstError = nullptr;
    const bool gstReady = gst_init_check(&argc, &argv, &gstError);
    QApplication app(argc, argv);
    QApplication::setApplicationName("Vorlund");
    vorlund::QtNotifier notifier;
    if (!gstReady) {
        // Without GStreamer there is no capture at all: say why and end.
        vorlund::ShowErrorBox(notifier,
                              std::string("GStreamer could not be initialised: ")
                                  + (gstError && gstError->message ? gstError->message : "?"));
        g_clear_error(&gstError);
        return 1;
    }

    vorlund::CVorlundApp theApp;
    theApp.ProgramFolder = FromQString(QCoreApplication::applicationDirPath());
    AddOwnPlugins(theApp.ProgramFolder);

    std::vector<std::string> args;
    const QStringList arguments = QCoreApplication::arguments();
    for (qsizetype i = 1; i < arguments.size(); ++i)
        args.push_back(arguments[i].toStdString());
    theApp.Device = vorlund::ParseDeviceSwitch(args);
    theApp.WorkingFolder = vorlund::WorkingFolderFrom(QDir::currentPath().toStdString());

    // The one profile of the process; with no usable working folder (the view says so) it
    // stays in memory rather than land in the root folder.
    vorlund::Profile profile(theApp.WorkingFolder.empty()
                                 ? std::filesystem::path()
                                 : theApp.WorkingFolder / vorlund::kProfileFileName);
    vorlund::QtDesktop desktop;
    vorlund::ToolLaunchers launchers(theApp.WorkingFolder, theApp.ProgramFolder, notifier, desktop,
                                     VORLUND_TUTORIAL_PAGE);

    vorlund::CMainFrame frame(profile, launchers);
    auto *view = new vorlund::PlaceholderView; // the frame owns its widget
    frame.SetClient(view);
    vorlund::SignalBridge bridge({ [&frame] { frame.OnServiceClose(); },
                                   [&frame] { frame.OnSnapshotRequest(); },
                                   [&frame] { frame.close(); } });
    frame.show();
    const int rc = QApplication::exec();
    gst_deinit();
    return rc;
}
