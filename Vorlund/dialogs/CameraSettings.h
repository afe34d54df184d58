#pragma once

#include "CameraSettingsApply.h"

#include <cstdint>
#include <memory>

class QWidget;

namespace vorlund {

class CCamSettings;
class CTVCard;
class MainTick;

// What the view does with its camera commands (UI thread): opens the modeless Camera Settings
// dialog, or the TV recording timer in TV mode, and handles the dialog's messages. The dialog
// posts through the context's sink; the view dispatches them back here.
class CameraSettings
{
public:
    CameraSettings(ServerContext &context, MainTick &tick);
    ~CameraSettings();

    // WM_CAMERA_SETTINGS with the command id 106..109. Never blocks: the TV dialog is
    // window-modal and applies when it closes.
    void OnCameraSettings(int commandId, QWidget *parent);
    // WM_LIVE_SETTING; returns 0.
    int ApplyLiveSetting(uintptr_t wParam);
    // WM_SETTINGS_CLOSED; false when the close was another dialog's (142: Timed Zones).
    bool OnSettingsDialogClosed(uintptr_t wParam);

    CCamSettings *Dialog() { return m_dialog.get(); }
    CTVCard *TvDialog() { return m_tv.get(); }
    bool IsOpen() const { return m_apply.IsOpen(); }

private:
    void OpenTvDialog(QWidget *parent);

    ServerContext &m_context;
    CameraSettingsApply m_apply;
    std::unique_ptr<CCamSettings> m_dialog;
    std::unique_ptr<CTVCard> m_tv;
};

} // namespace vorlund
