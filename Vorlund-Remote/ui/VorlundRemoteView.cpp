#include "VorlundRemoteView.h"
#include "Dialogs.h"
#include "MainFrame.h"

#include <QApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>

namespace vorlund::viewer {

namespace {

const QEvent::Type kStartConnectEvent = QEvent::Type(QEvent::registerEventType());

ViewKey KeyOf(int key)
{
    switch (key) {
    case Qt::Key_Left:
        return ViewKey::Left;
    case Qt::Key_Right:
        return ViewKey::Right;
    case Qt::Key_Up:
        return ViewKey::Up;
    case Qt::Key_Down:
        return ViewKey::Down;
    case Qt::Key_Insert:
        return ViewKey::Insert;
    case Qt::Key_Delete:
        return ViewKey::Delete;
    case Qt::Key_Home:
        return ViewKey::Home;
    case Qt::Key_End:
        return ViewKey::End;
    case Qt::Key_Backspace:
        return ViewKey::Backspace;
    case Qt::Key_Space:
        return ViewKey::Space;
    default:
        return ViewKey::Other;
    }
}

} // namespace

CVorlundRemoteView::CVorlundRemoteView(QSettings &profile, INotifier &notifier,
                                       QString workingFolder, const IClock &clock, QWidget *parent)
    : QWidget(parent), m_profile(profile), m_notifier(notifier),
      m_workingFolder(std::move(workingFolder)),
      m_core(*this, notifier, m_sink, clock, LoadViewerSettings(profile))
{
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_OpaquePaintEvent);
    connect(&m_tick, &QTimer::timeout, this, [this] { m_core.OnViewTick(); });
}

CVorlundRemoteView::~CVorlundRemoteView()
{
    m_tick.stop();
    SaveViewerSettings(m_profile, m_core.Settings());
}

void CVorlundRemoteView::OnInitialUpdate()
{
    FitFrameToImages(0, 0);
    setFocus();
    if (m_core.Settings().mode == 0)
        m_core.OnHostConnect();
}

void CVorlundRemoteView::OnCommand(int id)
{
    switch (id) {
    case ID_HOST_CONNECT:
        m_core.OnHostConnect();
        break;
    case ID_CONFIGURE:
        if (RunConfiguration(m_core.Settings(), m_notifier, this))
            m_core.OnConfigured();
        break;
    case ID_HOST_DISCONNECT:
        m_core.OnHostDisconnect();
        break;
    case ID_GO_LIVE:
        m_core.OnGoLive();
        break;
    case ID_REVIEW:
        m_core.OnReview();
        break;
    case ID_SLIDESHOW:
        m_core.OnSlideShow();
        break;
    case ID_ALWAYS_ON_TOP:
        m_core.ToggleAlwaysOnTop();
        break;
    case ID_VIEW_TOOLBAR:
    case ID_VIEW_STATUS_BAR:
        m_core.OnBarToggled();
        break;
    default:
        if (id >= ID_CAM1 && id < ID_CAM1 + 4)
            m_core.ToggleCamera(id - ID_CAM1 + 1);
        break;
    }
}

bool CVorlundRemoteView::IsCommandEnabled(int id) const
{
    return m_core.IsCommandEnabled(id);
}

bool CVorlundRemoteView::IsCommandChecked(int id) const
{
    return m_core.IsCommandChecked(id);
}

QSize CVorlundRemoteView::sizeHint() const
{
    const auto [w, h] = m_core.Extent();
    return { w, h };
}

void CVorlundRemoteView::paintEvent(QPaintEvent *event)
{
    QPainter painter(this);
    painter.fillRect(event->rect(), Qt::black);
    for (int camera = 1; camera <= m_core.CameraCount(); ++camera) {
        const auto q = m_core.Quadrant(camera);
        const QRect quadrant(q.left, q.top, q.right - q.left, q.bottom - q.top);
        if (!event->region().intersects(quadrant))
            continue;
        const BitmapView b = m_core.CameraBitmap(camera);
        // The bitmap is bottom-up, one to one into its quadrant.
        const QImage image(b.data, b.width, b.height, b.stride, QImage::Format_BGR888);
        painter.drawImage(quadrant.topLeft(), image.mirrored(false, true));
    }
}

void CVorlundRemoteView::customEvent(QEvent *event)
{
    if (event->type() == LinkMessageEvent::kType)
        m_core.OnLinkMessage(static_cast<LinkMessageEvent *>(event)->message());
    else if (event->type() == kStartConnectEvent)
        m_core.OnStartConnect();
}

void CVorlundRemoteView::keyPressEvent(QKeyEvent *event)
{
    const ViewKey key = KeyOf(event->key());
    if (key != ViewKey::Other) {
        m_core.OnKeyDown(key);
        return;
    }
    if (event->text().size() == 1 && event->text()[0].unicode() < 0x80)
        m_core.OnChar(char(event->text()[0].unicode()));
    else
        QWidget::keyPressEvent(event);
}

void CVorlundRemoteView::keyReleaseEvent(QKeyEvent *event)
{
    // A held key repeats its press only; its release counts once, when it is let go.
    if (event->isAutoRepeat())
        return;
    m_core.OnKeyUp(KeyOf(event->key()), event->modifiers() & Qt::ShiftModifier);
}

void CVorlundRemoteView::mousePressEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton)
        m_core.OnLButtonDown(int(event->position().x()), int(event->position().y()));
}

void CVorlundRemoteView::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton)
        m_core.OnLButtonUp();
}

CMainFrame *CVorlundRemoteView::Frame() const
{
    return qobject_cast<CMainFrame *>(window());
}

void CVorlundRemoteView::ToFrame(void (CMainFrame::*set)(const QString &), const std::string &text)
{
    if (auto *frame = Frame())
        (frame->*set)(QString::fromStdString(text));
}

void CVorlundRemoteView::SetStatusText(const std::string &text)
{
    ToFrame(&CMainFrame::SetStatusText, text);
}

void CVorlundRemoteView::SetRateText(const std::string &text)
{
    ToFrame(&CMainFrame::SetRateText, text);
}

void CVorlundRemoteView::SetQualityText(const std::string &text)
{
    ToFrame(&CMainFrame::SetQualityText, text);
}

void CVorlundRemoteView::SetModeText(const std::string &text)
{
    ToFrame(&CMainFrame::SetModeText, text);
}

void CVorlundRemoteView::SetSlideShowCommandText(const std::string &text)
{
    if (auto *frame = Frame())
        frame->SetCommandText(ID_SLIDESHOW, QString::fromStdString(text));
}

void CVorlundRemoteView::StartTick(int ms)
{
    m_tick.start(ms);
}

void CVorlundRemoteView::StopTick()
{
    m_tick.stop();
}

bool CVorlundRemoteView::IsMinimised() const
{
    const auto *frame = Frame();
    return frame && frame->IsMinimised();
}

void CVorlundRemoteView::FitFrameToImages(int width, int height)
{
    // 0 x 0: the picture area stays as it is.
    const bool fit = width > 0 && height > 0;
    if (fit)
        setFixedSize(width, height);
    if (auto *frame = Frame()) {
        frame->SetAlwaysOnTop(m_core.Settings().windowOnTop);
        // Also after a bar was shown or hidden: the window follows the bars.
        if (fit)
            frame->adjustSize();
    }
}

void CVorlundRemoteView::RepaintQuadrant(int camera)
{
    const auto q = m_core.Quadrant(camera);
    repaint(QRect(q.left, q.top, q.right - q.left, q.bottom - q.top));
}

void CVorlundRemoteView::RepaintAll()
{
    update();
}

std::optional<std::string> CVorlundRemoteView::AskLoginId(const std::string &stored)
{
    CLogin login(this);
    login.m_LoginId = QString::fromStdString(stored);
    if (login.exec() != QDialog::Accepted)
        return std::nullopt;
    return login.m_LoginId.toStdString();
}

std::optional<std::string> CVorlundRemoteView::AskPassword()
{
    CPassword password(this);
    if (password.exec() != QDialog::Accepted)
        return std::nullopt;
    return password.m_Password.toStdString();
}

void CVorlundRemoteView::PostStartConnect()
{
    QCoreApplication::postEvent(this, new QEvent(kStartConnectEvent));
}

void CVorlundRemoteView::Beep()
{
    QApplication::beep();
}

void CVorlundRemoteView::PlayClick()
{
    m_click.Play(m_workingFolder, QStringLiteral("CLICKERX.wav"));
}

} // namespace vorlund::viewer
