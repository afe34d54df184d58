#include "ShellView.h"
#include "Dialogs.h"
#include "MainFrame.h"

#include <QPainter>

namespace vorlund::viewer {

ShellView::ShellView(QSettings &profile, INotifier &notifier, QWidget *parent)
    : QWidget(parent), m_profile(profile), m_notifier(notifier),
      m_settings(LoadViewerSettings(profile))
{ }

ShellView::~ShellView()
{
    SaveViewerSettings(m_profile, m_settings);
}

void ShellView::OnCommand(int id)
{
    if (id == ID_CONFIGURE) {
        RunConfiguration(m_settings, m_notifier, this);
    } else if (id == ID_ALWAYS_ON_TOP) {
        m_settings.windowOnTop = !m_settings.windowOnTop;
        if (auto *frame = qobject_cast<CMainFrame *>(window()))
            frame->SetAlwaysOnTop(m_settings.windowOnTop);
    } else if (id >= ID_CAM1 && id < ID_CAM1 + 4) {
        m_settings.cameraOn[size_t(id - ID_CAM1)] = !m_settings.cameraOn[size_t(id - ID_CAM1)];
    }
}

bool ShellView::IsCommandEnabled(int id) const
{
    return id == ID_CONFIGURE || id == ID_ALWAYS_ON_TOP;
}

bool ShellView::IsCommandChecked(int id) const
{
    if (id == ID_ALWAYS_ON_TOP)
        return m_settings.windowOnTop;
    if (id >= ID_CAM1 && id < ID_CAM1 + 4)
        return m_settings.cameraOn[size_t(id - ID_CAM1)];
    return false;
}

QSize ShellView::sizeHint() const
{
    return { 2 * m_settings.imageWidth, 2 * m_settings.imageHeight };
}

void ShellView::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.fillRect(rect(), Qt::black);
}

} // namespace vorlund::viewer
