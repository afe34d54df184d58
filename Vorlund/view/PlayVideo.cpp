#include "PlayVideo.h"

#include "Desktop.h"
#include "Notifier.h"

#include <QFileDialog>
#include <QFileSystemModel>
#include <QHeaderView>
#include <QTreeView>

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vorlund {

namespace {

constexpr off_t kMinimumVideoBytes = 130564;

class CmyFileDialog : public QFileDialog
{
public:
    CmyFileDialog(QWidget *parent, const std::filesystem::path &folder,
                  const std::filesystem::path &recordingNow, INotifier &notifier, IDesktop &desktop)
        : QFileDialog(parent, "Play Video", QString::fromStdString(folder.string()),
                      "Video files (*.avi *.wmv *.mp4)"),
          m_recordingNow(recordingNow), m_notifier(notifier), m_desktop(desktop)
    {
        setFileMode(QFileDialog::ExistingFile);
        setOption(QFileDialog::DontUseNativeDialog);
        setSizeGripEnabled(true);
        resize(sizeHint() + QSize(120, 80));
        // Size, type and date get room for their whole text once a folder is listed (after
        // the model's own sorting, hence queued).
        auto *list = findChild<QTreeView *>();
        auto *model = list ? qobject_cast<QFileSystemModel *>(list->model()) : nullptr;
        if (model)
            connect(
                model, &QFileSystemModel::directoryLoaded, list,
                [list] {
                    for (int column = 1; column < list->header()->count(); ++column)
                        list->resizeColumnToContents(column);
                },
                Qt::QueuedConnection);
    }

protected:
    void accept() override
    {
        const QStringList chosen = selectedFiles();
        if (chosen.isEmpty() || QFileInfo(chosen.first()).isDir()) {
            QFileDialog::accept(); // into the folder
            return;
        }
        std::filesystem::path path = chosen.first().toStdString();
        switch (CheckVideoToPlay(path, m_recordingNow)) {
        case PlayVideoVerdict::Play:
            OpenDocumentOrSay(m_desktop, m_notifier, path);
            break;
        case PlayVideoVerdict::NoVideo:
            m_notifier.ShowMessage(kNoVideoContentText, kPlainCaption);
            break;
        case PlayVideoVerdict::InUse:
            m_notifier.ShowMessage(kVideoInUseText, kPlainCaption);
            break;
        case PlayVideoVerdict::CannotOpen:
            break;
        }
        // The dialog stays open for the next video.
    }

private:
    std::filesystem::path m_recordingNow;
    INotifier &m_notifier;
    IDesktop &m_desktop;
};

} // namespace

PlayVideoVerdict CheckVideoToPlay(std::filesystem::path &path,
                                  const std::filesystem::path &recordingNow)
{
    if (path.string().find('.') == std::string::npos)
        path += ".avi";
    std::error_code ec;
    if (!recordingNow.empty() && std::filesystem::equivalent(path, recordingNow, ec))
        return PlayVideoVerdict::InUse;
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return PlayVideoVerdict::CannotOpen;
    // A recorder holds its file locked while it grows.
    if (flock(fd, LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK) {
        close(fd);
        return PlayVideoVerdict::InUse;
    }
    struct stat info
    {
    };
    const bool sized = fstat(fd, &info) == 0;
    close(fd);
    if (!sized || !S_ISREG(info.st_mode))
        return PlayVideoVerdict::CannotOpen;
    return info.st_size > kMinimumVideoBytes ? PlayVideoVerdict::Play : PlayVideoVerdict::NoVideo;
}

void RunPlayVideoDialog(QWidget *parent, const std::filesystem::path &videoFolder,
                        const std::filesystem::path &recordingNow, INotifier &notifier,
                        IDesktop &desktop)
{
    CmyFileDialog dialog(parent, videoFolder, recordingNow, notifier, desktop);
    dialog.exec();
}

} // namespace vorlund
