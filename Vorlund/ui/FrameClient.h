#pragma once

class QWidget;

namespace vorlund {

// What the main frame needs of the view it hosts. The frame owns menus, toolbar, status bar,
// placement and context help; everything else a command does is the view's. All calls are
// made on the UI thread.
class IFrameClient
{
public:
    virtual ~IFrameClient() = default;

    // The widget the frame shows as its central widget; the frame takes it over.
    virtual QWidget *Widget() = 0;

    // A chosen command the frame does not handle itself: the view's commands, cameras 106-109,
    // devices 112-115, Play Video, Always on Top, Show Filters, and the Toolbar and Status Bar
    // items (before the frame toggles the bar).
    virtual void OnCommand(int id) = 0;
    // State of the commands whose rule is the view's (CommandUi::FromView).
    virtual bool IsCommandEnabled(int id) const = 0;
    virtual bool IsCommandChecked(int id) const { return (void)id, false; }

    // SIGUSR1: save the device settings, stop capture, release the graph, cancel a pending
    // restart. The window stays; the frame shows "SvcClose" in pane 101 afterwards.
    virtual void OnServiceClose() = 0;
    // SIGUSR2: a snapshot request (WM_REQUEST_SNAPSHOT).
    virtual void OnSnapshotRequest() = 0;
    // The frame is closing: stop capture (end of stream first) and release the graph. The
    // frame then writes its placement and goes.
    virtual void OnClose() = 0;
};

} // namespace vorlund
