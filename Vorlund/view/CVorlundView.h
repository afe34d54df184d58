#pragma once

#include "QtViewDialogs.h"
#include "ViewCore.h"

#include <QImage>
#include <QMessageBox>
#include <QPointer>
#include <QWidget>

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace vorlund {

// What the view needs of its main frame; main.cpp connects these to the frame.
struct FrameHooks
{
    std::function<void(int pane, const std::string &text)> setPaneText;
    std::function<void()> rebuildCameraMenu;
    std::function<void()> rebuildCommandMenu;
    std::function<void()> rebuildDeviceMenu;
};

// The server's view: paints the camera tiles from copies of the engine's live frames and
// carries the core that does the work.
class CVorlundView : public QWidget, public IViewShell
{
public:
    CVorlundView(Profile &profile, INotifier &notifier, const ViewCore::Options &options,
                 QWidget *parent = nullptr);
    ~CVorlundView() override;

    ViewCore &Core() { return *m_core; }
    FrameHooks Hooks;

    // IViewShell
    void ShowBalloon(const BalloonRequest &balloon) override;
    void SetPaneText(int pane, std::string_view text) override;
    void UpdateLayout(int width, int height) override;
    void Repaint(int camera) override;
    bool IsShown() const override;
    void RebuildCameraMenu() override;
    void RebuildCommandMenu() override;
    void RebuildDeviceMenu() override;
    void ShowNotice(std::string_view text) override;
    void CloseNotice() override;

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void keyReleaseEvent(QKeyEvent *event) override;
    void focusOutEvent(QFocusEvent *event) override;

private:
    // Where camera `camera` (1..4) is drawn: the quadrants of the current display size.
    QRect TileRect(int camera) const;
    void PaintTile(QPainter &painter, int camera, const QRect &tile);
    // The painter's own image when a tile can be written into it directly, else null.
    QImage *DirectTarget(QPainter &painter, const QRect &tile) const;
    void PaintOverlays(QPainter &painter);

    QPointer<QMessageBox> m_notice;
    // Outlives the core, which runs its dialogs through it.
    QtViewDialogs m_dialogs;
    std::unique_ptr<ViewCore> m_core;
    // One live frame copied out upright, where the painter's image is not 32-bit.
    QImage m_tileImage;
    int m_layoutDepth = 0;
};

} // namespace vorlund
