#include "Desktop.h"

#include <QDesktopServices>
#include <QProcess>
#include <QString>
#include <QUrl>

namespace vorlund {

namespace {

QString ToQString(const std::filesystem::path &p)
{
    return QString::fromStdString(p.string());
}

} // namespace

bool QtDesktop::OpenDocument(const std::filesystem::path &file)
{
    return QDesktopServices::openUrl(QUrl::fromLocalFile(ToQString(file)));
}

bool QtDesktop::StartDetached(const std::filesystem::path &program,
                              const std::filesystem::path &workingFolder)
{
    return QProcess::startDetached(ToQString(program), {}, ToQString(workingFolder));
}

std::string NoOpenerText(const std::filesystem::path &file)
{
    return "Could not open " + file.string()
        + "\nThere is no program on this desktop to open this kind of file.";
}

bool OpenDocumentOrSay(IDesktop &desktop, INotifier &notifier, const std::filesystem::path &file)
{
    if (desktop.OpenDocument(file))
        return true;
    notifier.ShowMessage(NoOpenerText(file), kPlainCaption);
    return false;
}

} // namespace vorlund
