#pragma once

#include "ServerContext.h"

#include <array>
#include <functional>
#include <string>

namespace vorlund {

// The timed-zone editor's logic: a backup at opening, "Next" through the zones (Shift copies the
// masks along), OK stores and saves, Cancel restores; clicks toggle mask cells while an editor
// is open and otherwise pick the review camera. UI thread only.
class TimedZoneEditor
{
public:
    explicit TimedZoneEditor(ServerContext &context);

    struct Hours
    {
        int begin = 0;
        int end = 0;
    };

    // Opens (or refreshes) the editor; returns the current zone's hours. A second open keeps
    // the backup taken by the first.
    Hours Open();
    // "Next": stores the hours entered for the zone left, moves to the following zone and
    // returns its hours.
    Hours NextZone(bool shift, Hours entered);
    void Close(bool ok, Hours entered);
    bool IsOpen() const { return m_open; }

    std::string ZoneLabel() const;

    // A left click in the view's client area.
    void OnLButtonDown(int x, int y);
    // Shows the stored pictures of another camera (review mode).
    std::function<void(int camera)> ShowReviewImages;

private:
    // A zone outside 1..4 (capture never started) is taken from the time of day first.
    int CurrentZone();
    Hours ZoneHoursOf(int zone) const;
    void SetZoneHours(int zone, Hours hours);

    ServerContext &m_context;
    bool m_open = false;
    std::array<int32_t, 8> m_backupHours {};
    PerCamera<PerCamera<ZoneMaskBytes>> m_backupMasks {};
};

} // namespace vorlund
