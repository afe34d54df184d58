#include "TimedZones.h"

#include "DeviceSettings.h"
#include "Schedules.h"

namespace vorlund {

TimedZoneEditor::TimedZoneEditor(ServerContext &context) : m_context(context) { }

int TimedZoneEditor::CurrentZone()
{
    EngineState &e = m_context.engine;
    if (!IsCamera(e.CurrentZone)) {
        const int hour = m_context.clock.Now().hour;
        e.CurrentZone
            = uint8_t(ZoneForHour(m_context.settings.Config.Block.ZoneHours, hour).value_or(1));
    }
    return e.CurrentZone;
}

TimedZoneEditor::Hours TimedZoneEditor::ZoneHoursOf(int zone) const
{
    const auto &hours = m_context.settings.Config.Block.ZoneHours;
    return { hours[size_t(2 * (zone - 1))], hours[size_t(2 * (zone - 1) + 1)] };
}

void TimedZoneEditor::SetZoneHours(int zone, Hours h)
{
    auto &hours = m_context.settings.Config.Block.ZoneHours;
    hours[size_t(2 * (zone - 1))] = h.begin;
    hours[size_t(2 * (zone - 1) + 1)] = h.end;
}

std::string TimedZoneEditor::ZoneLabel() const
{
    return "Zone " + std::to_string(int(m_context.engine.CurrentZone));
}

TimedZoneEditor::Hours TimedZoneEditor::Open()
{
    EngineState &e = m_context.engine;
    if (!m_open) {
        m_backupHours = m_context.settings.Config.Block.ZoneHours;
        for (int c = 1; c <= kMaxCameras; ++c)
            for (int z = 1; z <= kMaxCameras; ++z)
                m_backupMasks[c][z] = e.GetZoneMask(c, z);
    }
    m_open = true;
    e.ZoneEditing = 1;
    m_context.view.TimedZonesOpen = true;
    if (!IsCamera(e.CurrentZone))
        m_context.notifier.ShowMessage("Timed Zones not set. err3a", kPlainCaption);
    const int zone = CurrentZone();
    m_context.view.EditZone = zone;
    m_context.shell.Repaint(0);
    return ZoneHoursOf(zone);
}

TimedZoneEditor::Hours TimedZoneEditor::NextZone(bool shift, Hours entered)
{
    EngineState &e = m_context.engine;
    const int left = CurrentZone();
    SetZoneHours(left, entered);
    PerCamera<ZoneMaskBytes> previous {};
    for (int c = 1; c <= kMaxCameras; ++c)
        previous[c] = e.GetZoneMask(c, left);
    const int zone = left >= 4 ? 1 : left + 1;
    e.CurrentZone = uint8_t(zone);
    m_context.view.EditZone = zone;
    if (shift)
        for (int c = 1; c <= kMaxCameras; ++c)
            e.SetZoneMask(c, zone, previous[c]);
    m_context.shell.SetPaneText(kPaneZone, "z" + std::to_string(zone));
    m_context.shell.Repaint(0);
    return ZoneHoursOf(zone);
}

void TimedZoneEditor::Close(bool ok, Hours entered)
{
    EngineState &e = m_context.engine;
    if (!m_open)
        return;
    m_open = false;
    if (!ok) {
        m_context.settings.Config.Block.ZoneHours = m_backupHours;
        for (int c = 1; c <= kMaxCameras; ++c)
            for (int z = 1; z <= kMaxCameras; ++z)
                e.SetZoneMask(c, z, m_backupMasks[c][z]);
    } else {
        SetZoneHours(CurrentZone(), entered);
        SaveDeviceSettings(m_context);
    }
    e.ZoneEditing = 0;
    m_context.view.TimedZonesOpen = false;
    m_context.view.EditZone = 0;
    // The next main tick recomputes the zone from the time of day and saves.
    e.SlowCounter = 12001;
    m_context.shell.SetPaneText(kPaneZone, "z" + std::to_string(int(e.CurrentZone)));
    m_context.shell.Repaint(0);
}

void TimedZoneEditor::OnLButtonDown(int x, int y)
{
    EngineState &e = m_context.engine;
    const ZoneGrid &grid = m_context.view.Grid;
    int camera = 0;
    for (int c = 1; c <= kMaxCameras && camera == 0; ++c) {
        const GridRect &t = grid.tiles[c];
        if (t.right > t.left && x >= t.left && x < t.right && y >= t.top && y < t.bottom)
            camera = c;
    }
    if (camera == 0)
        return;
    if (e.ZoneEditing || e.DialogCamera) {
        const int cell = grid.CellAt(camera, x, y);
        if (cell < 0)
            return;
        const int zone = CurrentZone();
        ZoneMaskBytes mask = e.GetZoneMask(camera, zone);
        mask[size_t(cell)] = mask[size_t(cell)] == 0 ? 1 : 0;
        e.SetZoneMask(camera, zone, mask);
        return;
    }
    if (m_context.view.Idle || e.ReviewMode) {
        m_context.view.ReviewCamera = camera;
        m_context.shell.SetPaneText(kPaneCamera, std::to_string(camera));
        m_context.sound.PlaySound("clickerx.wav");
        if (ShowReviewImages)
            ShowReviewImages(camera);
    }
}

} // namespace vorlund
