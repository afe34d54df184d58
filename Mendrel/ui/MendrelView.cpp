#include "MendrelView.h"

#include "AviRepair.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QPainter>

#include <unistd.h>

namespace {

constexpr std::string_view kCaption = "Mendrel";

std::string Local(const QString &s)
{
    return QFile::encodeName(s).toStdString();
}

} // namespace

std::optional<QString> QtFileChooser::ChooseAvi(QWidget *parent, const QString &title,
                                                const QString &folder)
{
    QFileDialog dialog(parent, title, folder);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setNameFilter(QStringLiteral("*.avi"));
    if (QFileInfo(folder).isFile())
        dialog.selectFile(folder);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    return dialog.selectedFiles().front();
}

CMendrelView::CMendrelView(vorlund::INotifier &notifier, IFileChooser &chooser, QWidget *parent)
    : QWidget(parent), m_notifier(notifier), m_chooser(chooser)
{
    char buf[4096];
    const QString cwd = ::getcwd(buf, sizeof buf) ? QFile::decodeName(buf) : QString();
    m_workingFolder = WorkingFolderFrom(cwd);
    if (m_workingFolder.isEmpty())
        m_notifier.ShowMessage("Current working directory is invalid!", kCaption);
    else
        m_captureFolder
            = m_workingFolder + (m_workingFolder.endsWith('/') ? "" : "/") + "CaptureData";
    m_status = QString::fromLatin1(mendrel::kReady.data(), qsizetype(mendrel::kReady.size()));
    setAutoFillBackground(true);
}

CMendrelView::~CMendrelView()
{
    // Only wait: the queued status calls die with the view.
    if (m_worker.joinable())
        m_worker.join();
}

QString CMendrelView::WorkingFolderFrom(const QString &currentDirectory)
{
    QString folder = currentDirectory;
    while (folder.size() > 1 && folder.endsWith('/'))
        folder.chop(1);
    if (folder.isEmpty() || !QFileInfo(folder).isReadable())
        return {};
    return folder;
}

void CMendrelView::OnRepairAvi()
{
    if (IsRepairing())
        return;
    m_status = QString::fromLatin1(mendrel::kReady.data(), qsizetype(mendrel::kReady.size()));
    update();
    const std::optional<QString> damaged
        = m_chooser.ChooseAvi(this, QStringLiteral("Repair Avi File"), m_captureFolder);
    if (!damaged)
        return;
    m_damagedPath = QFile::decodeName(mendrel::WithAviExtension(Local(*damaged)).c_str());
    switch (mendrel::CheckDamagedFile(Local(m_damagedPath))) {
    case mendrel::EntryCheck::CantOpen:
        return;
    case mendrel::EntryCheck::NoVideo:
        m_notifier.ShowMessage(mendrel::kNoVideo, kCaption);
        return;
    case mendrel::EntryCheck::Ok:
        break;
    }
    m_notifier.ShowMessage(mendrel::kSelectGood, kCaption);
    const std::optional<QString> good
        = m_chooser.ChooseAvi(this, QStringLiteral("Select good Avi File"), m_damagedPath);
    if (!good)
        return;
    m_goodPath = QFile::decodeName(mendrel::WithAviExtension(Local(*good)).c_str());
    QCoreApplication::postEvent(this, new QEvent(QEvent::Type(WM_REPAIR_START)));
}

void CMendrelView::customEvent(QEvent *event)
{
    if (event->type() == QEvent::Type(WM_REPAIR_START))
        RepairAviFile();
}

void CMendrelView::RepairAviFile()
{
    if (IsRepairing())
        return;
    WaitForRepair();
    m_done = false;
    emit RepairRunning(true);
    const std::string damaged = Local(m_damagedPath);
    const std::string good = Local(m_goodPath);
    m_worker = std::thread([this, damaged, good] {
        const mendrel::RepairOutcome out
            = mendrel::RepairAviFile(damaged, good, [this](std::string_view l) {
                  const QString line = QString::fromUtf8(l.data(), qsizetype(l.size()));
                  QMetaObject::invokeMethod(
                      this, [this, line] { AppendStatus(line); }, Qt::QueuedConnection);
              });
        const int status = int(out.status);
        const QString message = QString::fromUtf8(out.message.c_str());
        QMetaObject::invokeMethod(
            this, [this, status, message] { OnRepairDone(status, message); }, Qt::QueuedConnection);
    });
}

void CMendrelView::AppendStatus(const QString &line)
{
    m_status += line;
    update();
}

void CMendrelView::OnRepairDone(int status, const QString &message)
{
    m_done = true;
    if (m_worker.joinable())
        m_worker.join();
    emit RepairRunning(false);
    if (mendrel::RepairStatus(status) != mendrel::RepairStatus::Repaired && !message.isEmpty())
        m_notifier.ShowMessage(message.toStdString(), kCaption);
}

void CMendrelView::WaitForRepair()
{
    if (m_worker.joinable())
        m_worker.join();
    // Deliver the status lines and the end of the repair that are still queued.
    QCoreApplication::sendPostedEvents(this, QEvent::MetaCall);
}

void CMendrelView::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    const QFontMetrics metrics = painter.fontMetrics();
    const QStringList lines = m_status.split('\n');
    // Text after the last line end is not drawn.
    for (qsizetype i = 0; i + 1 < lines.size(); ++i)
        painter.drawText(1, int(20 * i) + metrics.ascent(), lines[i]);
}
