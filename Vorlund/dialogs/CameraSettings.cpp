#include "CameraSettings.h"

#include "CamSettingsDialog.h"
#include "TvCardDialog.h"

namespace vorlund {

CameraSettings::CameraSettings(ServerContext &context, MainTick &tick)
    : m_context(context), m_apply(context, tick)
{ }

CameraSettings::~CameraSettings() = default;

void CameraSettings::OnCameraSettings(int commandId, QWidget *parent)
{
    CamSettingsValues values;
    switch (m_apply.OnCameraSettings(commandId, values)) {
    case CameraSettingsApply::OpenAction::TvDialog:
        OpenTvDialog(parent);
        return;
    case CameraSettingsApply::OpenAction::Open:
        if (!m_dialog)
            m_dialog = std::make_unique<CCamSettings>(m_context.sink, m_context.notifier, parent);
        m_dialog->Values = values;
        m_dialog->show();
        m_dialog->raise();
        return;
    case CameraSettingsApply::OpenAction::BringForward:
        // Hidden means its close is on its way: nothing to bring forward.
        if (m_dialog && m_dialog->isVisible()) {
            m_dialog->raise();
            m_dialog->activateWindow();
        }
        return;
    case CameraSettingsApply::OpenAction::ContinuousMessage:
    case CameraSettingsApply::OpenAction::None:
        return;
    }
}

void CameraSettings::OpenTvDialog(QWidget *parent)
{
    if (m_tv && m_tv->isVisible()) {
        m_tv->raise();
        m_tv->activateWindow();
        return;
    }
    m_tv = std::make_unique<CTVCard>(m_context.notifier, parent);
    const TvSettingsValues v = m_apply.TvValues();
    m_tv->RecordNow = v.recordNow;
    m_tv->Record = v.record;
    m_tv->From = WindowStart(v.window);
    m_tv->To = WindowEnd(v.window);
    m_tv->Channel = v.channel;
    CTVCard *tv = m_tv.get();
    QObject::connect(tv, &QDialog::finished, tv, [this, tv](int result) {
        if (result != QDialog::Accepted)
            return;
        m_apply.ApplyTvSettings(
            { tv->RecordNow, tv->Record, MakeWindow(tv->From, tv->To), tv->Channel });
    });
    tv->setWindowModality(Qt::WindowModal);
    tv->open();
}

int CameraSettings::ApplyLiveSetting(uintptr_t wParam)
{
    return m_apply.ApplyLiveSetting(wParam);
}

bool CameraSettings::OnSettingsDialogClosed(uintptr_t wParam)
{
    const CamSettingsValues none;
    if (!m_apply.OnSettingsDialogClosed(wParam, m_dialog ? m_dialog->Values : none))
        return false;
    if (m_dialog)
        m_dialog->hide();
    return true;
}

} // namespace vorlund
