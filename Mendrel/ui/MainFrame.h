#pragma once

#include "LockKeys.h"

#include <QDialog>
#include <QMainWindow>

#include <memory>

class CMendrelView;
class IFileChooser;
class QAction;
class QLabel;
class QToolBar;
namespace vorlund {
class INotifier;
}

class CAboutDlg : public QDialog
{
    Q_OBJECT

public:
    explicit CAboutDlg(QWidget *parent = nullptr);
};

// The frame: menu, toolbar and status bar around the view. Each action's objectName is its
// command id ("57601" is the repair); the status bar's panes are the message pane and the
// indicators CAPS, NUM and SCRL (objectNames kCapsPane, kNumPane, kScrollPane).
class CMainFrame : public QMainWindow
{
    Q_OBJECT

public:
    static constexpr int kCapsPane = 59137, kNumPane = 59138, kScrollPane = 59139;

    // Without `lockKeys` the indicators follow the X server's keyboard.
    CMainFrame(vorlund::INotifier &notifier, IFileChooser &chooser,
               std::unique_ptr<ILockKeys> lockKeys = nullptr);

    CMendrelView *View() const { return m_view; }
    QAction *Command(int id) const;
    // The text of the message pane (0) or of an indicator pane.
    QString PaneText(int pane) const;
    // Shows the lock keys' state now rather than at the next poll.
    void UpdateIndicators();

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void CreateActions();
    void CreateStatusBar();
    void OnAppAbout();
    void OnFileNew();

    CMendrelView *m_view;
    QToolBar *m_toolBar = nullptr;
    std::unique_ptr<ILockKeys> m_lockKeys;
    QLabel *m_message = nullptr;
    QLabel *m_caps = nullptr;
    QLabel *m_num = nullptr;
    QLabel *m_scroll = nullptr;
};
