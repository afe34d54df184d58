#include "Schedules.h"

#include <cmath>

namespace vorlund {

namespace {

int Start(const TimeWindow &w)
{
    return w.FromHour * 60 + w.FromMinute;
}
int End(const TimeWindow &w)
{
    // The latest end the dialog offers, 23:59, means the end of the day: a window set to
    // 00:00-23:59 records all day instead of stopping for the last minute of each day.
    if (w.ToHour == 23 && w.ToMinute == 59)
        return 24 * 60;
    return w.ToHour * 60 + w.ToMinute;
}

} // namespace

bool InsideWindow(const TimeWindow &window, int m)
{
    if (window.FromHour > window.ToHour)
        return m >= Start(window) || m < End(window);
    return Start(window) <= m && m < End(window);
}

bool WindowEnded(const TimeWindow &window, int m)
{
    if (window.FromHour > window.ToHour)
        return End(window) <= m && m < Start(window);
    return m >= End(window);
}

std::optional<int> ZoneForHour(const std::array<int32_t, 8> &zoneHours, int hour)
{
    std::optional<int> zone;
    for (int z = 1; z <= 4; ++z) {
        const int32_t begin = zoneHours[2 * (z - 1)];
        const int32_t end = zoneHours[2 * (z - 1) + 1];
        const bool match
            = begin > end ? (hour >= begin || hour < end) : (begin <= hour && hour < end);
        if (match)
            zone = z;
    }
    return zone;
}

bool RolloverHour(int32_t mode, int hour)
{
    switch (mode) {
    case 0:
        return hour == 0;
    case 1:
        return hour == 0 || hour == 12;
    case 2:
        return hour % 6 == 0;
    default:
        return false;
    }
}

uint32_t TimeLapseInterval(float minutes)
{
    if (!std::isfinite(minutes) || minutes <= 0.0f || minutes > 999.0f)
        return 0;
    return static_cast<uint32_t>(static_cast<double>(minutes) * 60000.0);
}

} // namespace vorlund
