#pragma once

#include "ServerContext.h"

#include <cstdint>
#include <functional>

namespace vorlund {

// Starts, stops and restarts capture, reacts to graph events and sets up the capture device.
// UI thread only.
class RunControl : public IRunControl
{
public:
    RunControl(ServerContext &context, ICaptureGraph &graph, ICameraSwitch &cameras,
               IDevicePages &pages, IRemoteLink &remote);

    // Commands 132 and 133: a manual Start or Stop cancels a pending automatic restart.
    void OnStartCommand();
    void OnStopCommand();

    void StartCapture() override;
    void StopCapture() override;
    void RestartCapture() override;
    void OnRestartTimer();
    void OnFirstFrameTimer();
    void OnGraphEvent();
    // A dialog that holds back restarts closed: a restart that fell meanwhile runs now.
    void OnDialogClosed();

    BuildResult OpenNextVideoDevice();
    void SelectDeviceCommand();
    void ChangeVideoDevice(bool announce);

    // Called with every start before the graph runs (the view resets its own run state).
    std::function<void()> OnPrime;

    static constexpr uint32_t kRestartDelayMs = 3000;
    static constexpr uint32_t kFirstFrameMs = 5000;
    static constexpr uint32_t kAbortWindowMs = 30000;
    static constexpr int kRestartRetries = 3;

private:
    bool Start(bool automatic);
    void StartFailed(const char *reason);
    void Stop(bool cancelRestart, bool keepLink = false);
    // A restart that ended with capture stopped lets the viewers go after all.
    void ReleaseKeptLink();

    ServerContext &m_context;
    ICaptureGraph &m_graph;
    ICameraSwitch &m_cameras;
    IDevicePages &m_pages;
    IRemoteLink &m_remote;

    bool m_automaticStart = false; // the run now starting came from the restart timer
    bool m_restartAfterDialog = false;
    // Stopped for a restart with the remote link left up, so viewers stay connected.
    bool m_linkKept = false;
    int m_restartRetries = 0;
};

} // namespace vorlund
