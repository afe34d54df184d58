#pragma once

#include "Desktop.h"
#include "DevicePageDialogs.h"
#include "ViewDialogs.h"

class QWidget;

namespace vorlund {

// The production dialogs, over the view's window. The device pages run without a parent, as
// they always have.
class QtViewDialogs : public IViewDialogs
{
public:
    // `desktop` opens recordings in the user's player; null is the desktop's own.
    QtViewDialogs(QWidget *parent, IDesktop *desktop);

    IDevicePageDialogs &DevicePages() override { return m_pages; }
    std::unique_ptr<ICameraSettingsWindows> MakeCameraSettings(ServerContext &context,
                                                               MainTick &tick) override;
    std::unique_ptr<ITimedZonesWindow> MakeTimedZones(TimedZoneEditor &zones) override;
    bool RunConfiguration(ServerContext &context, ConfigEnvironment &environment) override;
    bool ChooseVideoCodec(ServerContext &context, ICaptureGraph &graph) override;
    bool AskReviewKind(bool &motion) override;
    void PlayVideo(const std::filesystem::path &videoFolder,
                   const std::filesystem::path &recordingNow, INotifier &notifier) override;

private:
    QWidget *m_parent;
    QtDesktop m_qtDesktop;
    IDesktop &m_desktop;
    QtDevicePageDialogs m_pages { nullptr };
};

} // namespace vorlund
