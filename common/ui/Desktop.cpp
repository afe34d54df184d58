#include "Desktop.h"

#include <QObject>
#include <QProcess>
#include <QStandardPaths>

#include <unistd.h>

namespace vorlund {

namespace {

QString ToQString(const std::filesystem::path &p)
{
    return QString::fromStdString(p.string());
}

// The opener runs under a shell that only waits for it and passes on its exit code. Both are
// in a session of their own, so neither a Ctrl+C on the server's terminal nor the server's
// end reaches the opener or the viewer it starts; when the server ends while a viewer is
// open, Qt kills the waiting shell only.
constexpr char kWaitForOpener[] = "\"$0\" \"$1\"; exit $?";

} // namespace

QtDesktop::QtDesktop(QString opener)
    : m_opener(std::move(opener)), m_watches(std::make_unique<QObject>())
{ }

QtDesktop::~QtDesktop()
{
    // Ending the server is no failure of the opener: nothing is said about it.
    for (QProcess *process : m_watches->findChildren<QProcess *>())
        QObject::disconnect(process, nullptr, nullptr, nullptr);
}

bool QtDesktop::OpenDocument(const std::filesystem::path &file, std::function<void()> failed)
{
    const QString opener = QStandardPaths::findExecutable(m_opener);
    if (opener.isEmpty())
        return false;
    auto *process = new QProcess(m_watches.get());
    process->setProgram(QStringLiteral("/bin/sh"));
    process->setArguments(
        { QStringLiteral("-c"), QString::fromLatin1(kWaitForOpener), opener, ToQString(file) });
    process->setStandardInputFile(QProcess::nullDevice());
    process->setProcessChannelMode(QProcess::ForwardedChannels);
    process->setChildProcessModifier([] { ::setsid(); });
    QObject::connect(process, &QProcess::finished, process,
                     [process, failed](int code, QProcess::ExitStatus status) {
                         process->deleteLater();
                         if (status == QProcess::NormalExit && code != 0 && failed)
                             failed();
                     });
    QObject::connect(process, &QProcess::errorOccurred, process,
                     [process, failed](QProcess::ProcessError error) {
                         if (error != QProcess::FailedToStart)
                             return;
                         process->deleteLater();
                         if (failed)
                             failed();
                     });
    process->start();
    return true;
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
    const auto say = [&notifier, file] { notifier.ShowMessage(NoOpenerText(file), kPlainCaption); };
    if (desktop.OpenDocument(file, say))
        return true;
    say();
    return false;
}

} // namespace vorlund
