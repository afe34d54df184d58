#pragma once

#include "RemoteView.h"

#include <QMainWindow>
#include <QString>

#include <map>

class QAction;
class QLabel;
class QSettings;
class QToolBar;

namespace vorlund::viewer {

// The viewer's main window: menus, toolbar 133, the message pane and panes 101, 102 and 106,
// the remembered "Frame" rectangle, no maximising, always on top on request.
class CMainFrame : public QMainWindow
{
    Q_OBJECT

public:
    CMainFrame(QSettings &profile, IRemoteView &view, QWidget *parent = nullptr);

    // The texts of the panes; the mode text stands in the message pane.
    void SetStatusText(const QString &text);
    void SetRateText(const QString &text);
    void SetQualityText(const QString &text);
    void SetModeText(const QString &text);
    QString PaneText(int id) const; // 0 = message pane, 101, 102, 106

    bool IsMinimised() const { return m_minimised; }
    void SetAlwaysOnTop(bool on);
    // A command's menu text (the view renames 141 during a slide show).
    void SetCommandText(int id, const QString &text);

    QAction *Action(int id) const;
    QToolBar *ToolBar() const { return m_toolBar; }
    // Runs the enable and check rules of every command now (also on menus and every 100 ms).
    void UpdateCommandUi();
    // Opens the keyboard help modally (F1, Shift+F1, "Help Topics").
    void OnHelp();

protected:
    void closeEvent(QCloseEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    QAction *AddCommand(int id, const QString &text, const QString &prompt);
    void CreateMenusAndToolBar();
    void PlaceWindow();
    void OnCommand(int id);

    QSettings &m_profile;
    IRemoteView &m_view;
    std::map<int, QAction *> m_actions;
    QToolBar *m_toolBar = nullptr;
    QLabel *m_message = nullptr;
    std::map<int, QLabel *> m_panes;
    QString m_modeText;
    bool m_minimised = false;
};

} // namespace vorlund::viewer
