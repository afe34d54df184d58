#pragma once

#include "ClickSound.h"
#include "LinkMessageEvent.h"
#include "Notifier.h"
#include "RemoteView.h"
#include "ViewerCore.h"

#include <QSettings>
#include <QTimer>
#include <QWidget>

namespace vorlund::viewer {

class CMainFrame;

// The viewer's view window: paints the camera bitmaps into their quadrants and forwards
// timer 101, the link's messages, commands, keys and mouse to ViewerCore, which decides.
// Owns the settings: read at creation, written when it goes.
class CVorlundRemoteView : public QWidget, public IRemoteView, private IViewHost
{
    Q_OBJECT

public:
    CVorlundRemoteView(QSettings &profile, INotifier &notifier, QString workingFolder,
                       const IClock &clock = SystemClock::Instance(), QWidget *parent = nullptr);
    ~CVorlundRemoteView() override;

    // Fits the frame and, in Automatic mode, connects at once (the login dialog opens).
    void OnInitialUpdate();

    QWidget *Widget() override { return this; }
    void OnCommand(int id) override;
    bool IsCommandEnabled(int id) const override;
    bool IsCommandChecked(int id) const override;
    void OnHostDisconnect() override { m_core.OnHostDisconnect(); }

    ViewerCore &Core() { return m_core; }
    ViewerSettings &Settings() { return m_core.Settings(); }
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;
    void customEvent(QEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void keyReleaseEvent(QKeyEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    // IViewHost
    void SetStatusText(const std::string &text) override;
    void SetRateText(const std::string &text) override;
    void SetQualityText(const std::string &text) override;
    void SetModeText(const std::string &text) override;
    void SetSlideShowCommandText(const std::string &text) override;
    void StartTick(int ms) override;
    void StopTick() override;
    bool IsMinimised() const override;
    void FitFrameToImages(int width, int height) override;
    void RepaintQuadrant(int camera) override;
    void RepaintAll() override;
    std::optional<std::string> AskLoginId(const std::string &stored) override;
    std::optional<std::string> AskPassword() override;
    void PostStartConnect() override;
    void Beep() override;
    void PlayClick() override;

    CMainFrame *Frame() const;
    // A text for one of the frame's panes (the frame may not be there yet).
    void ToFrame(void (CMainFrame::*set)(const QString &), const std::string &text);

    QSettings &m_profile;
    INotifier &m_notifier;
    QString m_workingFolder;
    QueuedLinkSink m_sink { this };
    ViewerCore m_core;
    QTimer m_tick { this };
    ClickSound m_click;
};

} // namespace vorlund::viewer
