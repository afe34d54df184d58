#pragma once

#include <QDialog>
#include <QMainWindow>

class CMendrelView;
class IFileChooser;
class QAction;
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
// command id ("57601" is the repair).
class CMainFrame : public QMainWindow
{
    Q_OBJECT

public:
    CMainFrame(vorlund::INotifier &notifier, IFileChooser &chooser);

    CMendrelView *View() const { return m_view; }
    QAction *Command(int id) const;

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void CreateActions();
    void OnAppAbout();
    void OnFileNew();

    CMendrelView *m_view;
    QToolBar *m_toolBar = nullptr;
};
