// The server program: application, profile, plugin folder, signals, main frame and view.

#include "CIdentify.h"
#include "CVorlundView.h"
#include "Commands.h"
#include "Launchers.h"
#include "LinkLibraries.h"
#include "MainFrame.h"
#include "MediaLibrary.h"
#include "Profile.h"
#include "QtNotifier.h"
#include "ServerNotifier.h"
#include "SignalBridge.h"
#include "Sounds.h"
#include "ViewClient.h"
#include "VorlundApp.h"

#include <QApplication>
#include <QDir>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <string>
#include <utility>
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
        vorlund::AddMediaPlugins(folder.string());
}

// Qt ends the process with exit() when its display connection breaks (the X server died):
// the recording is still finished and the settings saved, as a normal close does.
std::function<void()> g_endBeforeExit;

void EndBeforeExit()
{
    if (auto end = std::exchange(g_endBeforeExit, nullptr))
        end();
}

} // namespace

int main(int argc, char **argv)
{
    std::string mediaError;
    const bool mediaReady = vorlund::StartMediaLibrary(argc, argv, mediaError);
    QApplication app(argc, argv);
    QApplication::setApplicationName("Vorlund");
    vorlund::QtNotifier notifier;
    if (!mediaReady) {
        // Without GStreamer there is no capture at all: say why and end.
        vorlund::ShowErrorBox(notifier,
                              std::string("GStreamer could not be initialised: ") + mediaError);
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
    vorlund::ToolLaunchers launchers(theApp.WorkingFolder, theApp.ProgramFolder, notifier, desktop);

    vorlund::CMainFrame frame(profile, launchers);
    vorlund::ServerNotifier serverNotifier(&frame);
    vorlund::ViewCore::Options options;
    options.workingFolder = theApp.WorkingFolder;
    options.commandLineDevice = theApp.Device;
    options.desktop = &desktop;
    options.makeGraph = vorlund::MakeCaptureGraph;
    options.makeSound
        = [](const std::filesystem::path &folder) { return vorlund::MakeSoundPlayer(folder); };
    // The relay's web lookup; the suite's relay service answers it.
    vorlund::LookupAddress lookup;
    lookup.host = profile.GetProfileString("Settings", "RelayLookupHost", lookup.host);
    lookup.port = uint16_t(
        std::clamp(profile.GetProfileInt("Settings", "RelayLookupPort", lookup.port), 1, 65535));
    options.makeLinks = [lookup] { return std::make_unique<vorlund::LinkLibraries>(lookup); };
    auto *view = new vorlund::CVorlundView(profile, serverNotifier, options); // the frame owns it
    vorlund::ViewClient client(*view, frame);
    vorlund::ConnectViewToFrame(*view, frame);
    view->Core().Remote().AskCredentials
        = [&frame](const std::string &login, const std::string &password,
                   vorlund::RemoteServing::CredentialsDone done) {
              auto *dialog = new vorlund::CIdentify(&frame);
              dialog->setAttribute(Qt::WA_DeleteOnClose);
              dialog->m_Login = QString::fromStdString(login);
              dialog->m_Password = QString::fromStdString(password);
              QObject::connect(dialog, &QDialog::finished, dialog, [dialog, done](int result) {
                  done(result == QDialog::Accepted, dialog->m_Login.toStdString(),
                       dialog->m_Password.toStdString());
              });
              dialog->open();
          };
    view->Core().RunCredentials = [&frame](std::string &login, std::string &password) {
        vorlund::CIdentify dialog(&frame);
        dialog.m_Login = QString::fromStdString(login);
        dialog.m_Password = QString::fromStdString(password);
        if (dialog.exec() != QDialog::Accepted)
            return false;
        login = dialog.m_Login.toStdString();
        password = dialog.m_Password.toStdString();
        return true;
    };
    frame.SetClient(&client);
    view->Core().OnInitialUpdate();
    vorlund::SignalBridge bridge({ [&frame] { frame.OnServiceClose(); },
                                   [&frame] { frame.OnSnapshotRequest(); },
                                   [&frame] { frame.close(); } });
    frame.show();
    g_endBeforeExit = [view] {
        view->Core().Context().log.AppendErrorLog(
            "The display's connection broke: capture stopped and the server ended.");
        view->Core().OnDestroy();
    };
    std::atexit(EndBeforeExit);
    const int rc = QApplication::exec();
    g_endBeforeExit = nullptr;
    view->Core().OnDestroy();
    frame.SetClient(nullptr);
    delete view;
    vorlund::EndMediaLibrary();
    return rc;
}
