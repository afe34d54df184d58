#pragma once

#include "BalloonLayout.h"

#include <QColor>
#include <QFont>
#include <QPixmap>
#include <QPoint>
#include <QPointer>
#include <QRegion>
#include <QString>
#include <QTimer>
#include <QWidget>

class QIcon;
class QPropertyAnimation;

namespace vorlund {

// Option bits of a balloon.
namespace BalloonOption {
inline constexpr unsigned CloseOnLeftUp = 0x0001; // anywhere in the program
inline constexpr unsigned CloseOnMiddleUp = 0x0002;
inline constexpr unsigned CloseOnRightUp = 0x0004;
inline constexpr unsigned CloseOnLeftDown = 0x0008;
inline constexpr unsigned CloseOnMiddleDown = 0x0010;
inline constexpr unsigned CloseOnRightDown = 0x0020;
inline constexpr unsigned CloseOnMouseMove = 0x0040; // beyond the tolerance
inline constexpr unsigned CloseOnKey = 0x0080;
inline constexpr unsigned DelayClose = 0x0100; // first close event starts the timeout
inline constexpr unsigned DeleteSelf = 0x0200;
inline constexpr unsigned CloseButton = 0x0400;
inline constexpr unsigned Embossed = 0x0800;
inline constexpr unsigned TopMost = 0x1000;
inline constexpr unsigned NoShadow = 0x2000;
inline constexpr unsigned NoFadeIn = 0x4000;
inline constexpr unsigned NoFadeOut = 0x8000;

inline constexpr unsigned AnyMouse = 0x007F;
} // namespace BalloonOption

// System icons by their resource numbers.
inline constexpr int kBalloonIconError = 32513;
inline constexpr int kBalloonIconQuestion = 32514;
inline constexpr int kBalloonIconWarning = 32515;
inline constexpr int kBalloonIconInformation = 32516;

// Options and time-out of the settings dialogs' help.
inline constexpr unsigned kDialogHelpOptions
    = BalloonOption::CloseOnMouseMove | BalloonOption::DelayClose;
inline constexpr int kDialogHelpTimeoutMs = 1000;

// A speech-balloon pop-up pointing at an anchor. It never takes the focus. Close events
// (keys, mouse) are watched for the whole program only, never for other programs.
class CHelpBalloon : public QWidget
{
    Q_OBJECT

public:
    CHelpBalloon();
    ~CHelpBalloon() override;

    // Shows the balloon. The anchor is in the parent's coordinates when a parent is given,
    // else on the screen. Fails when there is no window to own the balloon.
    bool CreateBalloon(const QString &title, const QString &text, QPoint anchor, unsigned options,
                       QWidget *parent, const QString &link, int timeoutMs);

    // With a window the balloon follows it when it moves.
    void SetAnchor(QPoint point, QWidget *window);

    void SetBalloonIcon(const QPixmap &image);
    void SetBalloonIcon(const QPixmap &bitmap, const QColor &maskColour);
    void SetBalloonIconScaled(const QIcon &icon, int width, int height);

    void PlaceBalloon();

    QString Content() const { return m_content; }
    QString Link() const { return m_link; }
    unsigned Options() const { return m_options; }
    int TimeoutMs() const { return m_timeoutMs; }
    bool HasIcon() const { return !m_icon.isNull(); }
    QPoint AnchorOnScreen() const;
    const BalloonPlacement &Placement() const { return m_placement; }
    QRect CloseButtonRect() const;
    QRect ClientRect() const;

    // The owner a balloon without a parent gets: the running modal dialog, else the active
    // window, else any shown top-level window that is no balloon.
    static QWidget *DefaultOwner();

protected:
    void paintEvent(QPaintEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void leaveEvent(QEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    enum class State { Made, Shown, Closing, Destroyed };

    void OnClose();
    void PostClose();
    void OnTimer();
    void StartTimer();
    void Show();
    void Destroy();
    void InstallHooks();
    void RemoveHooks();
    void WatchAnchorWindow(bool on);
    BalloonParts MeasureParts(int textWidthLimit) const;
    QSize CloseButtonSize() const;

    State m_state = State::Made;
    unsigned m_options = 0;
    int m_timeoutMs = 0;
    QTimer m_timer;
    QString m_content;
    QString m_link;
    QPointer<QWidget> m_anchorWindow;
    QPoint m_anchor;
    QPoint m_lastAnchorOnScreen;
    QPixmap m_icon;
    QFont m_titleFont;
    QFont m_contentFont;
    QColor m_background;
    QColor m_textColour;
    BalloonPlacement m_placement;
    QRegion m_region;
    QPoint m_cursorAtShow;
    bool m_closePressed = false;
    bool m_closeHot = false;
    bool m_hooksInstalled = false;
    bool m_closePosted = false;
    int m_mouseTolerance = 3;
    QPropertyAnimation *m_fade = nullptr;
};

// Makes a balloon that lives on its own and deletes itself when it closes. iconId is one
// of the kBalloonIcon numbers or 0 for none. Returns whether the balloon is shown.
bool LaunchBalloon(const QString &title, const QString &text, QPoint anchor, int iconId,
                   unsigned options, QWidget *parent, const QString &link, int timeoutMs);

} // namespace vorlund
