#pragma once

#include "FrameClient.h"

#include <QElapsedTimer>
#include <QMainWindow>
#include <QPointer>

#include <map>
#include <string>
#include <vector>

class QAction;
class QLabel;
class QMenu;
class QToolBar;

namespace vorlund {

class IProfileStore;
class ToolLaunchers;
struct ScreenMetrics;

// The server's main window: menu 128, toolbar 160, status panes 101-103 with the idle prompt,
// placement in the profile's "Frame" section, no maximising, context help, the service close.
class CMainFrame : public QMainWindow
{
public:
    CMainFrame(IProfileStore &profile, ToolLaunchers &launchers, QWidget *parent = nullptr);
    ~CMainFrame() override;

    // Hosts the view; the frame takes over its widget. The client outlives the frame's use
    // of it (it is released before the frame goes).
    void SetClient(IFrameClient *client);
    IFrameClient *Client() const { return m_client; }

    // What the view asks of its frame.
    void SetPaneText(int pane, const QString &text);
    QString PaneText(int pane) const;
    void SetIdlePrompt(const QString &text);
    QString IdlePrompt() const { return m_idleText; }
    void SetAlwaysOnTop(bool on);
    bool IsToolbarShown() const;
    bool IsStatusBarShown() const;
    QToolBar *ToolBar() const { return m_toolBar; }
    // Camera popup: "Cam&1" ... for cameras 1 to `cameraCount`.
    void RebuildCameraMenu(int cameraCount);
    // Command popup: what the device offers after the fixed items.
    void RebuildCommandMenu(bool crossbar, bool videoSettings, bool tvTuner, bool audio);
    // "Video &Device" popup: one item per enumerated name, id 112 + its slot (at most four).
    void SetVideoDeviceMenu(const std::vector<std::string> &names);
    // Runs every command's enabling and check rule for menus and toolbar.
    void UpdateCommandUI();
    // The view's status tick ran: the rules are run again on its wake-up when they are due, so
    // the frame's own refresh timer, which takes over while no status tick runs, never wakes
    // the thread meanwhile.
    void OnStatusTick();

    // Routes a chosen command (menus, toolbar, accelerators all come here).
    void OnCommand(int id);
    QAction *Action(int id) const;
    QMenu *Popup(int index) const; // 0 File ... 4 Help

    // Context help balloon of a command (id 0 or unknown: the "no help" balloon).
    void ShowContextHelp(int id);
    void EnterContextHelpMode();
    void LeaveContextHelpMode();
    bool InContextHelpMode() const { return m_helpMode; }
    // Where a command's help balloon points, in frame coordinates.
    QPoint HelpAnchor(int id) const;

    void OnServiceClose();
    void OnSnapshotRequest();

    // The placement that would be stored now.
    void SavePlacement();

protected:
    void closeEvent(QCloseEvent *event) override;
    void changeEvent(QEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QAction *MakeAction(int id, const QString &menuText);
    void CreateMenus();
    void CreateToolBar();
    void CreateStatusBar();
    void RestorePlacement();
    ScreenMetrics Metrics() const;
    bool HandleHelpClick(QObject *watched, QEvent *event);
    void RefreshCommandUI();

    IProfileStore &m_profile;
    ToolLaunchers &m_launchers;
    IFrameClient *m_client = nullptr;
    std::map<int, QAction *> m_actions;
    std::vector<QMenu *> m_popups;
    QMenu *m_deviceMenu = nullptr;
    std::vector<QAction *> m_commandExtras; // added to the Command popup by the last rebuild
    QToolBar *m_toolBar = nullptr;
    std::map<int, QLabel *> m_panes;
    QLabel *m_prompt = nullptr;
    QString m_idleText;
    bool m_helpMode = false;
    QTimer *m_commandUi = nullptr;
    QElapsedTimer m_commandUiAge; // since the rules last ran
    bool m_closed = false;
};

} // namespace vorlund
