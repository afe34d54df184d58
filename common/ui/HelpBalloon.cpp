#include "HelpBalloon.h"

#include <QApplication>
#include <QCloseEvent>
#include <QCursor>
#include <QDesktopServices>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QIcon>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPropertyAnimation>
#include <QScreen>
#include <QStyle>
#include <QStyleOption>
#include <QToolTip>
#include <QUrl>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <optional>
#include <utility>

namespace vorlund {

namespace {

// Largest icon edge we accept from a caller; anything bigger is a mistake, not a balloon.
constexpr int kMaxIconEdge = 256;

QScreen *ScreenNearest(QPoint p)
{
    if (QScreen *s = QGuiApplication::screenAt(p))
        return s;
    QScreen *best = QGuiApplication::primaryScreen();
    long bestDistance = LONG_MAX;
    for (QScreen *s : QGuiApplication::screens()) {
        const QRect g = s->geometry();
        const long dx = p.x() < g.left() ? g.left() - p.x() : std::max(0, p.x() - g.right());
        const long dy = p.y() < g.top() ? g.top() - p.y() : std::max(0, p.y() - g.bottom());
        if (dx + dy < bestDistance) {
            bestDistance = dx + dy;
            best = s;
        }
    }
    return best;
}

QRect ToQRect(const BalloonRect &r)
{
    return QRect(r.left, r.top, r.Width(), r.Height());
}

QRegion ShapeOf(const BalloonPlacement &p)
{
    QPainterPath body;
    body.addRoundedRect(QRectF(ToQRect(p.body)), kBalloonCornerEllipse / 2.0,
                        kBalloonCornerEllipse / 2.0);
    QRegion shape(body.toFillPolygon().toPolygon());
    const QPolygon tail { QPoint(p.tailBaseStart.x, p.tailBaseStart.y),
                          QPoint(p.tailBaseEnd.x, p.tailBaseEnd.y),
                          QPoint(p.tailTip.x, p.tailTip.y) };
    return shape.united(QRegion(tail, Qt::OddEvenFill));
}

// The band of the given width just inside the region's edge.
QRegion FrameOf(const QRegion &region, int width)
{
    QRegion inner = region;
    for (int i = 0; i < width; ++i)
        inner = inner & inner.translated(1, 0) & inner.translated(-1, 0) & inner.translated(0, 1)
            & inner.translated(0, -1);
    return region.subtracted(inner);
}

void Fill(QPainter &p, const QRegion &region, const QColor &colour)
{
    for (const QRect &r : region)
        p.fillRect(r, colour);
}

bool IsBalloon(const QWidget *w)
{
    return qobject_cast<const CHelpBalloon *>(w) != nullptr;
}

unsigned ButtonBit(Qt::MouseButton button, bool press)
{
    using namespace BalloonOption;
    switch (button) {
    case Qt::LeftButton:
        return press ? CloseOnLeftDown : CloseOnLeftUp;
    case Qt::MiddleButton:
        return press ? CloseOnMiddleDown : CloseOnMiddleUp;
    case Qt::RightButton:
        return press ? CloseOnRightDown : CloseOnRightUp;
    default:
        return 0;
    }
}

std::optional<QStyle::StandardPixmap> SystemIcon(int iconId)
{
    static constexpr std::pair<int, QStyle::StandardPixmap> kIcons[] = {
        { kBalloonIconError, QStyle::SP_MessageBoxCritical },
        { kBalloonIconQuestion, QStyle::SP_MessageBoxQuestion },
        { kBalloonIconWarning, QStyle::SP_MessageBoxWarning },
        { kBalloonIconInformation, QStyle::SP_MessageBoxInformation },
    };
    for (const auto &[id, pixmap] : kIcons)
        if (id == iconId)
            return pixmap;
    return std::nullopt;
}

QSize CaptionButtonSize(const QStyle *style)
{
    const int edge = style->pixelMetric(QStyle::PM_TitleBarButtonSize);
    return edge > 0 ? QSize(edge, edge) : QSize(18, 18);
}

} // namespace

CHelpBalloon::CHelpBalloon()
{
    setAttribute(Qt::WA_ShowWithoutActivating);
    // Outside its rounded shape the balloon is see-through, also where no window mask
    // exists (some platforms, grab()).
    setAttribute(Qt::WA_TranslucentBackground);
    setFocusPolicy(Qt::NoFocus);
    setMouseTracking(true);

    const QPalette tips = QToolTip::palette();
    m_background = tips.color(QPalette::ToolTipBase);
    m_textColour = tips.color(QPalette::ToolTipText);

    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, &CHelpBalloon::OnTimer);
}

CHelpBalloon::~CHelpBalloon()
{
    RemoveHooks();
    WatchAnchorWindow(false);
}

QWidget *CHelpBalloon::DefaultOwner()
{
    if (QWidget *modal = QApplication::activeModalWidget())
        return modal;
    if (QWidget *active = QApplication::activeWindow(); active && !IsBalloon(active))
        return active;
    for (QWidget *w : QApplication::topLevelWidgets()) {
        const Qt::WindowType type = w->windowType();
        if (w->isVisible() && !IsBalloon(w) && type != Qt::ToolTip && type != Qt::Popup)
            return w;
    }
    return nullptr;
}

bool CHelpBalloon::CreateBalloon(const QString &title, const QString &text, QPoint anchor,
                                 unsigned options, QWidget *parent, const QString &link,
                                 int timeoutMs)
{
    if (m_state != State::Made)
        return false;
    m_content = text;
    SetAnchor(anchor, parent);
    m_options = options;
    m_link = link;
    m_timeoutMs = std::max(0, timeoutMs);

    QWidget *owner = parent ? parent->window() : DefaultOwner();
    if (!owner)
        return false;
    // A window blocked by a modal dialog would block the balloon's clicks too.
    if (QWidget *modal = QApplication::activeModalWidget())
        owner = modal;

    m_contentFont = QApplication::font();
    m_titleFont = m_contentFont;
    m_titleFont.setWeight(QFont::Bold);

    if (!QApplication::isEffectEnabled(Qt::UI_AnimateTooltip)
        || !QApplication::isEffectEnabled(Qt::UI_FadeTooltip))
        m_options |= BalloonOption::NoFadeIn | BalloonOption::NoFadeOut;

    // A tool-tip window: no frame, no taskbar entry, never activated, and placed exactly where
    // asked on every platform (a plain tool window may be moved by the window manager).
    Qt::WindowFlags flags = Qt::ToolTip | Qt::FramelessWindowHint | Qt::WindowDoesNotAcceptFocus;
    if (m_options & BalloonOption::TopMost)
        flags |= Qt::WindowStaysOnTopHint;
    if (m_options & BalloonOption::NoShadow)
        flags |= Qt::NoDropShadowWindowHint;
    setParent(owner, flags);
    setWindowTitle(title);

    PlaceBalloon();
    if (m_options & BalloonOption::AnyMouse)
        m_cursorAtShow = QCursor::pos();
    InstallHooks();
    Show();
    return true;
}

void CHelpBalloon::SetAnchor(QPoint point, QWidget *window)
{
    WatchAnchorWindow(false);
    m_anchor = point;
    m_anchorWindow = window;
    m_lastAnchorOnScreen = window ? window->mapToGlobal(point) : point;
    WatchAnchorWindow(true);
    if (m_state == State::Shown)
        PlaceBalloon();
}

QPoint CHelpBalloon::AnchorOnScreen() const
{
    // An anchor window that went away leaves the balloon where it last pointed.
    return m_anchorWindow ? m_anchorWindow->mapToGlobal(m_anchor) : m_lastAnchorOnScreen;
}

void CHelpBalloon::WatchAnchorWindow(bool on)
{
    if (!m_anchorWindow)
        return;
    for (QWidget *w : { m_anchorWindow.data(), m_anchorWindow->window() }) {
        if (on)
            w->installEventFilter(this);
        else
            w->removeEventFilter(this);
    }
}

void CHelpBalloon::SetBalloonIcon(const QPixmap &image)
{
    if (image.width() > kMaxIconEdge || image.height() > kMaxIconEdge)
        m_icon = image.scaled(kMaxIconEdge, kMaxIconEdge, Qt::KeepAspectRatio,
                              Qt::SmoothTransformation);
    else
        m_icon = image;
    if (m_state == State::Shown)
        PlaceBalloon();
}

void CHelpBalloon::SetBalloonIcon(const QPixmap &bitmap, const QColor &maskColour)
{
    QPixmap masked = bitmap;
    if (!masked.isNull())
        masked.setMask(masked.createMaskFromColor(maskColour, Qt::MaskInColor));
    SetBalloonIcon(masked);
}

void CHelpBalloon::SetBalloonIconScaled(const QIcon &icon, int width, int height)
{
    if (icon.isNull() || width <= 0 || height <= 0) {
        SetBalloonIcon(QPixmap());
        return;
    }
    width = std::min(width, kMaxIconEdge);
    height = std::min(height, kMaxIconEdge);
    QPixmap pixmap = icon.pixmap(QSize(width, height));
    if (pixmap.deviceIndependentSize().toSize() != QSize(width, height))
        pixmap = pixmap.scaled(width, height, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    SetBalloonIcon(pixmap);
}

QSize CHelpBalloon::CloseButtonSize() const
{
    if (!(m_options & BalloonOption::CloseButton))
        return QSize();
    return CaptionButtonSize(style());
}

BalloonParts CHelpBalloon::MeasureParts(int textWidthLimit) const
{
    BalloonParts parts;
    if (!m_icon.isNull()) {
        const QSize s = m_icon.deviceIndependentSize().toSize();
        parts.icon = { s.width(), s.height() };
    }
    const QSize close = CloseButtonSize();
    parts.closeButton = { close.width(), close.height() };
    const QString title = windowTitle();
    if (!title.isEmpty()) {
        const QRect r = QFontMetrics(m_titleFont)
                            .boundingRect(QRect(), Qt::TextSingleLine | Qt::TextExpandTabs, title);
        parts.title = { r.width(), r.height() };
    }
    if (!m_content.isEmpty()) {
        const QRect r = QFontMetrics(m_contentFont)
                            .boundingRect(QRect(0, 0, textWidthLimit, INT_MAX / 4),
                                          Qt::TextWordWrap | Qt::TextExpandTabs, m_content);
        parts.text = { r.width(), r.height() };
    }
    return parts;
}

void CHelpBalloon::PlaceBalloon()
{
    const QPoint anchor = AnchorOnScreen();
    m_lastAnchorOnScreen = anchor;
    QScreen *screen = ScreenNearest(anchor);
    if (!screen)
        return;
    const QRect wa = screen->availableGeometry();
    const BalloonRect work { wa.x(), wa.y(), wa.x() + wa.width(), wa.y() + wa.height() };
    const BalloonSize size = BalloonWindowSize(MeasureParts(std::max(1, wa.width() / 2)));
    m_placement = PlaceBalloonGeometry(size, { anchor.x(), anchor.y() }, work);
    setGeometry(m_placement.position.x, m_placement.position.y, size.width, size.height);

    const QRegion shape = ShapeOf(m_placement);
    if (shape != m_region) {
        m_region = shape;
        setMask(shape);
    }
    update();
}

QRect CHelpBalloon::ClientRect() const
{
    return ToQRect(BalloonClientRect({ width(), height() }, m_placement.tailOnTop));
}

QRect CHelpBalloon::CloseButtonRect() const
{
    const QSize s = CloseButtonSize();
    if (s.isEmpty())
        return QRect();
    const QRect client = ClientRect();
    return QRect(client.right() + 1 - s.width(), client.top(), s.width(), s.height());
}

void CHelpBalloon::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    // Only the shape is painted: the mask alone leaves square corners where masks are not
    // honoured.
    p.setClipRegion(m_region);
    p.fillRect(rect(), m_background);

    if (m_options & BalloonOption::Embossed) {
        auto channel = [](int bg, int text) { return std::clamp(text / 3 + 2 * (bg / 3), 0, 255); };
        const QColor light(m_background.red() / 3 + 170, m_background.green() / 3 + 170,
                           m_background.blue() / 3 + 170);
        const QColor dark(channel(m_background.red(), m_textColour.red()),
                          channel(m_background.green(), m_textColour.green()),
                          channel(m_background.blue(), m_textColour.blue()));
        Fill(p, FrameOf(m_region.translated(1, 1), 2), light);
        Fill(p, FrameOf(m_region.translated(-1, -1), 2), dark);
    }
    Fill(p, FrameOf(m_region, 1), m_textColour);

    const QRect client = ClientRect();
    const BalloonParts parts = MeasureParts(client.width());
    const int headerHeight = BalloonHeaderSize(parts).height;

    int titleLeft = client.left();
    int titleRight = client.right() + 1;
    if (!m_icon.isNull()) {
        p.drawPixmap(client.topLeft(), m_icon);
        titleLeft += parts.icon.width + kBalloonPartGap;
    }
    if (m_options & BalloonOption::CloseButton) {
        const QRect button = CloseButtonRect();
        if (m_closeHot) {
            QStyleOption opt;
            opt.initFrom(this);
            opt.rect = button;
            opt.state = QStyle::State_Enabled | QStyle::State_AutoRaise | QStyle::State_MouseOver
                | (m_closePressed ? QStyle::State_Sunken : QStyle::State_Raised);
            style()->drawPrimitive(QStyle::PE_PanelButtonTool, &opt, &p, this);
        }
        const int inset = std::max(1, button.width() / 6);
        style()
            ->standardIcon(QStyle::SP_TitleBarCloseButton, nullptr, this)
            .paint(&p, button.adjusted(inset, inset, -inset, -inset));
        titleRight -= parts.closeButton.width + kBalloonPartGap;
    }

    p.setPen(m_textColour);
    p.setFont(m_titleFont);
    p.drawText(QRect(titleLeft, client.top(), std::max(0, titleRight - titleLeft), headerHeight),
               Qt::AlignCenter | Qt::TextSingleLine | Qt::TextExpandTabs, windowTitle());
    p.setFont(m_contentFont);
    const int textTop = client.top() + headerHeight + kBalloonHeaderGap;
    p.drawText(QRect(client.left(), textTop, client.width(), client.bottom() + 1 - textTop),
               Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap | Qt::TextExpandTabs, m_content);
}

void CHelpBalloon::mouseMoveEvent(QMouseEvent *event)
{
    const bool hot = CloseButtonRect().contains(event->position().toPoint());
    if (hot != m_closeHot) {
        m_closeHot = hot;
        update(CloseButtonRect());
    }
}

void CHelpBalloon::leaveEvent(QEvent *)
{
    if (m_closeHot) {
        m_closeHot = false;
        update(CloseButtonRect());
    }
}

void CHelpBalloon::mousePressEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton
        && CloseButtonRect().contains(event->position().toPoint())) {
        m_closePressed = true;
        update(CloseButtonRect());
    }
}

void CHelpBalloon::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton)
        return;
    const QPoint pos = event->position().toPoint();
    if (m_closePressed) {
        m_closePressed = false;
        update(CloseButtonRect());
        if (CloseButtonRect().contains(pos))
            OnClose();
        return;
    }
    if (!m_link.isEmpty() && ClientRect().contains(pos)) {
        QDesktopServices::openUrl(QUrl::fromUserInput(m_link));
        OnClose();
    }
}

void CHelpBalloon::closeEvent(QCloseEvent *event)
{
    // Closed from outside (the program shutting down): go at once, without delay or fade.
    if (m_state != State::Destroyed)
        Destroy();
    event->accept();
}

bool CHelpBalloon::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::Move && m_anchorWindow
        && (watched == m_anchorWindow || watched == m_anchorWindow->window())) {
        if (m_state == State::Shown)
            PlaceBalloon();
        return false;
    }
    if (!m_hooksInstalled || m_state != State::Shown)
        return false;

    switch (event->type()) {
    case QEvent::KeyPress:
    // A key bound to a shortcut is offered as this and never arrives as a key press.
    case QEvent::ShortcutOverride:
        if (m_options & BalloonOption::CloseOnKey)
            PostClose();
        break;
    case QEvent::MouseMove:
    case QEvent::NonClientAreaMouseMove:
        if (m_options & BalloonOption::CloseOnMouseMove) {
            const QPoint at = static_cast<QMouseEvent *>(event)->globalPosition().toPoint();
            if (std::abs(at.x() - m_cursorAtShow.x()) > m_mouseTolerance
                || std::abs(at.y() - m_cursorAtShow.y()) > m_mouseTolerance)
                PostClose();
        }
        break;
    case QEvent::MouseButtonPress:
    case QEvent::NonClientAreaMouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::NonClientAreaMouseButtonRelease: {
        const bool press = event->type() == QEvent::MouseButtonPress
            || event->type() == QEvent::NonClientAreaMouseButtonPress;
        if (m_options & ButtonBit(static_cast<QMouseEvent *>(event)->button(), press))
            PostClose();
        break;
    }
    default:
        break;
    }
    return false;
}

void CHelpBalloon::PostClose()
{
    // One input event reaches the filter once per receiver it passes; it closes once.
    if (m_closePosted)
        return;
    m_closePosted = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            m_closePosted = false;
            OnClose();
        },
        Qt::QueuedConnection);
}

void CHelpBalloon::InstallHooks()
{
    if (m_hooksInstalled || !(m_options & (BalloonOption::AnyMouse | BalloonOption::CloseOnKey)))
        return;
    qApp->installEventFilter(this);
    m_hooksInstalled = true;
}

void CHelpBalloon::RemoveHooks()
{
    if (!m_hooksInstalled)
        return;
    qApp->removeEventFilter(this);
    m_hooksInstalled = false;
}

void CHelpBalloon::StartTimer()
{
    if (m_timeoutMs > 0)
        m_timer.start(m_timeoutMs);
}

void CHelpBalloon::OnTimer()
{
    m_timer.stop();
    OnClose();
}

void CHelpBalloon::Show()
{
    m_state = State::Shown;
    if (m_options & BalloonOption::NoFadeIn) {
        show();
    } else {
        m_fade = new QPropertyAnimation(this, "windowOpacity", this);
        m_fade->setDuration(kBalloonFadeMs);
        m_fade->setStartValue(0.0);
        m_fade->setEndValue(1.0);
        setWindowOpacity(0.0);
        show();
        m_fade->start();
    }
    if (!(m_options & BalloonOption::DelayClose))
        StartTimer();
}

void CHelpBalloon::OnClose()
{
    if (m_state != State::Shown)
        return;
    if (m_options & BalloonOption::DelayClose) {
        m_options &= ~(BalloonOption::DelayClose | BalloonOption::AnyMouse);
        StartTimer();
        return;
    }
    m_timer.stop();
    if (m_options & BalloonOption::NoFadeOut) {
        Destroy();
        return;
    }
    m_state = State::Closing;
    if (!m_fade)
        m_fade = new QPropertyAnimation(this, "windowOpacity", this);
    m_fade->stop();
    m_fade->setDuration(kBalloonFadeMs);
    m_fade->setStartValue(windowOpacity());
    m_fade->setEndValue(0.0);
    connect(m_fade, &QPropertyAnimation::finished, this, &CHelpBalloon::Destroy,
            Qt::UniqueConnection);
    m_fade->start();
}

void CHelpBalloon::Destroy()
{
    if (m_state == State::Destroyed)
        return;
    m_state = State::Destroyed;
    m_timer.stop();
    if (m_fade)
        m_fade->stop();
    RemoveHooks();
    WatchAnchorWindow(false);
    hide();
    if (m_options & BalloonOption::DeleteSelf)
        deleteLater();
}

bool LaunchBalloon(const QString &title, const QString &text, QPoint anchor, int iconId,
                   unsigned options, QWidget *parent, const QString &link, int timeoutMs)
{
    auto *balloon = new CHelpBalloon;
    // An unknown icon leaves the balloon without one.
    if (const std::optional<QStyle::StandardPixmap> which = SystemIcon(iconId)) {
        const QStyle *style = QApplication::style();
        const int edge = std::max(CaptionButtonSize(style).width(),
                                  style->pixelMetric(QStyle::PM_SmallIconSize));
        balloon->SetBalloonIconScaled(style->standardIcon(*which), edge, edge);
    }
    if (!balloon->CreateBalloon(title, text, anchor, options | BalloonOption::DeleteSelf, parent,
                                link, timeoutMs)) {
        delete balloon;
        return false;
    }
    return true;
}

} // namespace vorlund
