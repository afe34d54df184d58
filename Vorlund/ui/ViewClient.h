#pragma once

// The server's view as the main frame hosts it: the frame's commands and its update path go
// to the view core.

#include "CVorlundView.h"
#include "CommandIds.h"
#include "FrameClient.h"
#include "MainFrame.h"

#include <QAction>

namespace vorlund {

class ViewClient : public IFrameClient
{
public:
    ViewClient(CVorlundView &view, CMainFrame &frame) : m_view(view), m_frame(frame) { }
    QWidget *Widget() override { return &m_view; }
    void OnCommand(int id) override { m_view.Core().OnCommand(id); }
    bool IsCommandEnabled(int id) const override
    {
        // The Review item says whether it enters or leaves review mode.
        if (QAction *review = id == Cmd::Review ? m_frame.Action(id) : nullptr)
            review->setText(QString::fromStdString(m_view.Core().ReviewMenuText()));
        return m_view.Core().IsCommandEnabled(id);
    }
    bool IsCommandChecked(int id) const override { return m_view.Core().IsCommandChecked(id); }
    void OnServiceClose() override { m_view.Core().OnServiceClose(); }
    void OnSnapshotRequest() override { m_view.Core().Sink().PostMessage(WM_REQUEST_SNAPSHOT); }
    void OnClose() override { m_view.Core().OnClose(); }

private:
    CVorlundView &m_view;
    CMainFrame &m_frame;
};

// Wires the view's hooks to the frame: panes, the idle prompt, the run-time menus and the
// command state after each status tick.
inline void ConnectViewToFrame(CVorlundView &view, CMainFrame &frame)
{
    CVorlundView *v = &view;
    view.Hooks.setPaneText = [&frame](int pane, const std::string &text) {
        frame.SetPaneText(pane, QString::fromStdString(text));
    };
    view.Hooks.rebuildCameraMenu
        = [&frame, v] { frame.RebuildCameraMenu(v->Core().Engine().CameraCount); };
    view.Hooks.rebuildCommandMenu = [&frame, v] {
        frame.RebuildCommandMenu(v->Core().HasCrossbar(), v->Core().HasVideoSettingsPage(),
                                 v->Core().HasTvTuner(), v->Core().View().AudioDevicePresent);
    };
    view.Hooks.rebuildDeviceMenu = [&frame, v] {
        const auto &names = v->Core().View().VideoDeviceNames;
        frame.SetVideoDeviceMenu(std::vector<std::string>(names.begin(), names.end()));
    };
    view.Core().StatusTicked = [&frame] { frame.OnStatusTick(); };
}

} // namespace vorlund
