#include "CVorlundView.h"
#include "TilePixels.h"

#include "HelpBalloon.h"
#include "OnScreen.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPaintEngine>
#include <QPaintEvent>
#include <QPainter>

#include <algorithm>
#include <cmath>

namespace vorlund {

CVorlundView::CVorlundView(Profile &profile, INotifier &notifier, const ViewCore::Options &options,
                           QWidget *parent)
    : QWidget(parent), m_dialogs(this, options.desktop)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
    setFocusPolicy(Qt::StrongFocus);
    setAutoFillBackground(false);
    m_core = std::make_unique<ViewCore>(profile, notifier, *this, m_dialogs, options);
    const ViewState &view = m_core->View();
    setFixedSize(view.DisplayWidth, view.DisplayHeight);
}

CVorlundView::~CVorlundView() = default;

void CVorlundView::ShowBalloon(const BalloonRequest &b)
{
    const QPoint centre = mapToGlobal(rect().center());
    LaunchBalloon(QString::fromStdString(b.title), QString::fromStdString(b.text), centre, b.icon,
                  b.options, nullptr, QString(), b.milliseconds);
}

void CVorlundView::SetPaneText(int pane, std::string_view text)
{
    if (Hooks.setPaneText)
        Hooks.setPaneText(pane, std::string(text));
}

void CVorlundView::RebuildCameraMenu()
{
    if (Hooks.rebuildCameraMenu)
        Hooks.rebuildCameraMenu();
}

void CVorlundView::RebuildCommandMenu()
{
    if (Hooks.rebuildCommandMenu)
        Hooks.rebuildCommandMenu();
}

void CVorlundView::RebuildDeviceMenu()
{
    if (Hooks.rebuildDeviceMenu)
        Hooks.rebuildDeviceMenu();
}

void CVorlundView::ShowNotice(std::string_view text)
{
    // Modeless: the ticks go on while it is open.
    if (!m_notice) {
        m_notice = new QMessageBox(QMessageBox::Information, "Vorlund", QString(), QMessageBox::Ok,
                                   this);
        m_notice->setAttribute(Qt::WA_DeleteOnClose);
        m_notice->setModal(false);
    }
    m_notice->setText(QString::fromUtf8(text.data(), qsizetype(text.size())));
    m_notice->show();
}

void CVorlundView::CloseNotice()
{
    if (m_notice)
        m_notice->close();
}

void CVorlundView::UpdateLayout(int width, int height)
{
    const ViewState &view = m_core->View();
    const int cameras = std::clamp<int>(m_core->Engine().CameraCount, 1, kMaxCameras);
    if (width == 0 && height == 0) {
        width = view.DisplayWidth * (cameras >= 2 ? 2 : 1);
        height = view.DisplayHeight * (cameras >= 3 ? 2 : 1);
    }
    if (width <= 0 || height <= 0 || m_layoutDepth > 0)
        return;
    ++m_layoutDepth;
    // The view's client area is the image; the frame adds its menu, toolbar and status bar.
    setFixedSize(width, height);
    if (QWidget *frame = window(); frame != this) {
        const bool onTop = view.Startup.WindowOnTop != 0;
        if (frame->windowFlags().testFlag(Qt::WindowStaysOnTopHint) != onTop) {
            frame->setWindowFlag(Qt::WindowStaysOnTopHint, onTop);
            frame->show();
        }
        frame->adjustSize();
    }
    --m_layoutDepth;
    update();
}

void CVorlundView::Repaint(int camera)
{
    if (camera < 1 || camera > kMaxCameras) {
        update();
        return;
    }
    update(TileRect(camera));
}

bool CVorlundView::IsShown() const
{
    return IsOnScreen(*this);
}

QRect CVorlundView::TileRect(int camera) const
{
    const ViewState &view = m_core->View();
    const int w = view.DisplayWidth;
    const int h = view.DisplayHeight;
    return QRect((camera == 2 || camera == 4) ? w : 0, camera >= 3 ? h : 0, w, h);
}

void CVorlundView::PaintTile(QPainter &painter, int camera, const QRect &tile)
{
    EngineState &engine = m_core->Engine();
    const ViewState &view = m_core->View();
    const int w = tile.width();
    const int h = tile.height();
    engine.FreshFrame[camera] = 0;
    const size_t bytes = size_t(std::max(w, 0)) * size_t(std::max(h, 0)) * 3;
    if (w <= 0 || h <= 0 || bytes > kFrameBufferSize) {
        painter.fillRect(tile, Qt::black);
        return;
    }
    // The last picture is dimmed while stopped, unless it is the intro.
    const bool dim = view.Idle && camera == 1 && !view.IntroShown && !engine.ReviewMode;
    // Copied out under the lock in one pass from the bottom-up BGR rows to upright 32-bit
    // pixels: straight into the painter's image where it is one (the window's backing store),
    // else into a tile image the painter copies without converting.
    QImage *target = DirectTarget(painter, tile);
    QPoint at(0, 0);
    if (target) {
        at = painter.deviceTransform().map(tile.topLeft());
    } else {
        if (m_tileImage.width() != w || m_tileImage.height() != h)
            m_tileImage = QImage(w, h, QImage::Format_RGB32);
        target = &m_tileImage;
    }
    const qsizetype stride = target->bytesPerLine();
    uint8_t *pixels = target->bits() + at.y() * stride + at.x() * 4;
    engine.ReadLiveFrame(camera, bytes, [&](const uint8_t *frame, size_t) {
        BottomUpBgrToRgb32(frame, w, h, pixels, stride, dim);
    });
    if (target == &m_tileImage)
        painter.drawImage(tile.topLeft(), m_tileImage);
}

QImage *CVorlundView::DirectTarget(QPainter &painter, const QRect &tile) const
{
    QPaintEngine *engine = painter.paintEngine();
    if (!engine || engine->type() != QPaintEngine::Raster || !rect().contains(tile))
        return nullptr;
    QPaintDevice *device = engine->paintDevice();
    if (!device || device->devType() != QInternal::Image)
        return nullptr;
    auto *image = static_cast<QImage *>(device);
    // Opaque 32-bit pixels at whole-pixel offsets, and never an image shared with another
    // owner (writing would detach it from the painter).
    const QImage::Format format = image->format();
    const QTransform &t = painter.deviceTransform();
    if ((format != QImage::Format_RGB32 && format != QImage::Format_ARGB32_Premultiplied
         && format != QImage::Format_ARGB32)
        || !image->isDetached() || t.type() > QTransform::TxTranslate
        || t.dx() != std::floor(t.dx()) || t.dy() != std::floor(t.dy()))
        return nullptr;
    return image->rect().contains(t.mapRect(tile)) ? image : nullptr;
}

void CVorlundView::PaintOverlays(QPainter &painter)
{
    EngineState &engine = m_core->Engine();
    const ViewState &view = m_core->View();
    if (!(view.TimedZonesOpen || view.CamSettingsOpen || engine.SnapshotRequest.IsPending()
          || engine.RecordCountdown > 0))
        return;
    const ZoneGrid &grid = view.Grid;
    const auto box = [&](const GridRect &r) {
        painter.drawRect(QRect(QPoint(r.left, r.top), QPoint(r.right, r.bottom)));
    };
    const auto cross = [&](const GridRect &r) {
        painter.drawLine(r.left, r.top, r.right, r.bottom);
        painter.drawLine(r.left, r.bottom, r.right, r.top);
    };
    const int current = engine.CurrentCamera;
    const auto hitBoxes = [&](const QColor &colour) {
        if (!IsCamera(current))
            return;
        painter.setPen(QPen(colour, 3));
        const ZoneMaskBytes hits = engine.GetHitMap(current);
        for (int cell = 0; cell < kCells; ++cell)
            if (hits[size_t(cell)])
                box(grid.cells[current][size_t(cell)]);
    };
    painter.setPen(QPen(Qt::white, 3));
    if (view.TimedZonesOpen) {
        if (view.EditZone < 1 || view.EditZone > 4)
            return;
        const int cameras = std::clamp<int>(engine.CameraCount, 1, kMaxCameras);
        for (int c = 1; c <= cameras; ++c) {
            const ZoneMaskBytes mask = engine.GetZoneMask(c, view.EditZone);
            for (int cell = 0; cell < kCells; ++cell) {
                if (mask[size_t(cell)])
                    box(grid.cells[c][size_t(cell)]);
                else
                    cross(grid.cells[c][size_t(cell)]);
            }
        }
        if (view.CamSettingsOpen)
            hitBoxes(Qt::cyan);
        return;
    }
    if (!engine.ReviewMode)
        hitBoxes(Qt::white);
}

void CVorlundView::mousePressEvent(QMouseEvent *event)
{
    const QPoint p = event->position().toPoint();
    if (event->button() == Qt::LeftButton)
        m_core->OnLButtonDown(p.x(), p.y());
    QWidget::mousePressEvent(event);
}

void CVorlundView::mouseMoveEvent(QMouseEvent *event)
{
    const QPoint p = event->position().toPoint();
    m_core->OnMouseMove(p.x(), p.y(), event->buttons().testFlag(Qt::LeftButton));
    update();
    QWidget::mouseMoveEvent(event);
}

void CVorlundView::mouseReleaseEvent(QMouseEvent *event)
{
    const QPoint p = event->position().toPoint();
    if (event->button() == Qt::LeftButton) {
        m_core->OnLButtonUp(p.x(), p.y());
        update();
    }
    QWidget::mouseReleaseEvent(event);
}

void CVorlundView::keyPressEvent(QKeyEvent *event)
{
    const bool shift = event->modifiers().testFlag(Qt::ShiftModifier);
    if (event->key() == Qt::Key_Backspace)
        m_core->OnReviewKey(kReviewKeyBackspace, shift);
    else if (event->key() == Qt::Key_Space)
        m_core->OnReviewKey(kReviewKeySpace, shift);
    if (!event->isAutoRepeat())
        m_core->OnKeyDown(PtzKeyFromQt(event->key()),
                          event->modifiers().testFlag(Qt::ControlModifier));
    QWidget::keyPressEvent(event);
}

void CVorlundView::keyReleaseEvent(QKeyEvent *event)
{
    if (!event->isAutoRepeat())
        m_core->OnKeyUp(PtzKeyFromQt(event->key()));
    QWidget::keyReleaseEvent(event);
}

void CVorlundView::focusOutEvent(QFocusEvent *event)
{
    // A key released while another window has the focus never arrives: stop a held move.
    if (m_core->PanTiltZoom().MoveBits() != 0)
        m_core->OnKeyUp(PtzKeyFromQt(Qt::Key_Home));
    QWidget::focusOutEvent(event);
}

void CVorlundView::paintEvent(QPaintEvent *event)
{
    QPainter painter(this);
    const ViewState &view = m_core->View();
    const int cameras = view.Idle && view.IntroShown
        ? 1
        : std::clamp<int>(m_core->Engine().CameraCount, 1, kMaxCameras);
    // Each tile paints all of itself; only what no tile covers is filled.
    QRegion uncovered(rect());
    for (int c = 1; c <= cameras; ++c) {
        const QRect tile = TileRect(c);
        uncovered -= tile;
        if (event->region().intersects(tile))
            PaintTile(painter, c, tile);
    }
    for (const QRect &r : uncovered)
        painter.fillRect(r, Qt::black);
    PaintOverlays(painter);
    const Ptz &ptz = m_core->PanTiltZoom();
    if (ptz.Dragging()) {
        painter.setPen(QPen(Qt::white, 2));
        painter.setBrush(Qt::NoBrush);
        const GridPoint a = ptz.DragStart();
        const GridPoint b = ptz.DragCornerPoint();
        painter.drawRect(QRect(QPoint(a.x, a.y), QPoint(b.x, b.y)).normalized());
    }
}

} // namespace vorlund
