#pragma once

#include "DeviceConfig.h"

#include <array>
#include <cstdint>
#include <optional>

namespace vorlund {

// Pure rules of the day's schedules. Times are minutes of the day (hour * 60 + minute); a
// window's hours and minutes of 255 (unset) make it never inside and never ended.

// Inside a window from (h1, m1) to (h2, m2): a window whose start hour is later than its end
// hour runs across midnight.
bool InsideWindow(const TimeWindow &window, int minuteOfDay);
// The window is over for today: past its end (same-day window) or between its end and its next
// start (window across midnight).
bool WindowEnded(const TimeWindow &window, int minuteOfDay);

// The timed zone 1..4 whose hours hold `hour` (the last match wins), or nothing when none does.
std::optional<int> ZoneForHour(const std::array<int32_t, 8> &zoneHours, int hour);

// Hours at which a time rollover of `mode` falls (0: midnight; 1: also noon; 2: every six
// hours); other modes never.
bool RolloverHour(int32_t mode, int hour);

// A time-lapse interval in whole milliseconds, or 0 (off) when the minutes are not a positive
// number of at most 999.
uint32_t TimeLapseInterval(float minutes);

} // namespace vorlund
