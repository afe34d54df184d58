#pragma once

#include "Notifier.h"

#include <QString>
#include <QWidget>

#include <mutex>
#include <optional>
#include <thread>

// Posted to the view when both files are chosen; its handler starts the repair.
constexpr int WM_REPAIR_START = 0x8001;

// The open-file dialog, injectable so tests never block on it.
class IFileChooser
{
public:
    virtual ~IFileChooser() = default;
    // The chosen path, or nothing when the dialog was cancelled.
    virtual std::optional<QString> ChooseAvi(QWidget *parent, const QString &title,
                                             const QString &folder)
        = 0;
};

class QtFileChooser : public IFileChooser
{
public:
    std::optional<QString> ChooseAvi(QWidget *parent, const QString &title,
                                     const QString &folder) override;
};

// The view: the two paths and the status lines of the last repair. The repair runs on a worker
// thread; its status lines come back to the UI thread as queued calls.
class CMendrelView : public QWidget
{
    Q_OBJECT

public:
    CMendrelView(vorlund::INotifier &notifier, IFileChooser &chooser, QWidget *parent = nullptr);
    ~CMendrelView() override;

    // The current directory without a trailing "/" (the root stays "/"); empty when it cannot
    // be read.
    static QString WorkingFolderFrom(const QString &currentDirectory);

    void OnRepairAvi();
    bool IsRepairing() const { return m_worker.joinable() && !m_done; }
    // Waits for a running repair, which is never cut off mid-write.
    void WaitForRepair();

    const QString &StatusText() const { return m_status; }
    const QString &CaptureFolder() const { return m_captureFolder; }

signals:
    void RepairRunning(bool running);

protected:
    void paintEvent(QPaintEvent *event) override;
    void customEvent(QEvent *event) override;

private:
    void RepairAviFile();
    void AppendStatus(const QString &line);
    void OnRepairDone(int status, const QString &message);

    vorlund::INotifier &m_notifier;
    IFileChooser &m_chooser;
    QString m_workingFolder;
    QString m_captureFolder;
    QString m_damagedPath;
    QString m_goodPath;
    QString m_status;
    std::thread m_worker;
    bool m_done = true;
};
