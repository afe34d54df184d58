#include "QtViewDialogs.h"

#include "CameraSettings.h"
#include "PlayVideo.h"
#include "RunConfiguration.h"
#include "RunVideoCodecs.h"
#include "SmallDialogs.h"
#include "TimedZones.h"
#include "TimedZonesDialog.h"

namespace vorlund {

namespace {

class CameraSettingsWindows : public ICameraSettingsWindows
{
public:
    CameraSettingsWindows(ServerContext &context, MainTick &tick, QWidget *parent)
        : m_settings(context, tick), m_parent(parent)
    { }
    void OnCameraSettings(int commandId) override
    {
        m_settings.OnCameraSettings(commandId, m_parent);
    }
    void ApplyLiveSetting(uintptr_t wParam) override { m_settings.ApplyLiveSetting(wParam); }
    void OnSettingsDialogClosed(uintptr_t wParam) override
    {
        m_settings.OnSettingsDialogClosed(wParam);
    }

private:
    CameraSettings m_settings;
    QWidget *m_parent;
};

class TimedZonesWindow : public ITimedZonesWindow
{
public:
    TimedZonesWindow(TimedZoneEditor &zones, QWidget *parent) : m_zones(zones), m_dialog(parent)
    {
        m_dialog.OnNext = [this](bool shift, TimedZoneEditor::Hours entered) {
            const TimedZoneEditor::Hours hours = m_zones.NextZone(shift, entered);
            m_dialog.SetZone(m_zones.ZoneLabel(), hours);
        };
        m_dialog.OnClosed
            = [this](bool ok, TimedZoneEditor::Hours entered) { m_zones.Close(ok, entered); };
    }
    void Show() override
    {
        const TimedZoneEditor::Hours hours = m_zones.Open();
        m_dialog.SetZone(m_zones.ZoneLabel(), hours);
        m_dialog.show();
        m_dialog.raise();
    }

private:
    TimedZoneEditor &m_zones;
    CTimedZones m_dialog;
};

} // namespace

QtViewDialogs::QtViewDialogs(QWidget *parent, IDesktop *desktop)
    : m_parent(parent), m_desktop(desktop ? *desktop : m_qtDesktop)
{ }

std::unique_ptr<ICameraSettingsWindows> QtViewDialogs::MakeCameraSettings(ServerContext &context,
                                                                          MainTick &tick)
{
    return std::make_unique<CameraSettingsWindows>(context, tick, m_parent);
}

std::unique_ptr<ITimedZonesWindow> QtViewDialogs::MakeTimedZones(TimedZoneEditor &zones)
{
    return std::make_unique<TimedZonesWindow>(zones, m_parent);
}

bool QtViewDialogs::RunConfiguration(ServerContext &context, ConfigEnvironment &environment)
{
    return vorlund::RunConfiguration(m_parent, context, environment);
}

bool QtViewDialogs::ChooseVideoCodec(ServerContext &context, ICaptureGraph &graph)
{
    return vorlund::ChooseVideoCodec(m_parent, context, graph, graph.CodecAccess());
}

bool QtViewDialogs::AskReviewKind(bool &motion)
{
    return RunSelectReviewMode(m_parent, motion);
}

void QtViewDialogs::PlayVideo(const std::filesystem::path &videoFolder,
                              const std::filesystem::path &recordingNow, INotifier &notifier)
{
    RunPlayVideoDialog(m_parent, videoFolder, recordingNow, notifier, m_desktop);
}

} // namespace vorlund
