#include "Clock.h"

#include <chrono>
#include <ctime>

namespace vorlund {

uint32_t SystemClock::TickCount() const
{
    using namespace std::chrono;
    return static_cast<uint32_t>(
        duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

LocalDateTime SystemClock::Now() const
{
    std::time_t t = std::time(nullptr);
    std::tm tm {};
    localtime_r(&t, &tm);
    LocalDateTime d;
    d.year = tm.tm_year + 1900;
    d.month = tm.tm_mon + 1;
    d.day = tm.tm_mday;
    d.hour = tm.tm_hour;
    d.minute = tm.tm_min;
    d.second = tm.tm_sec;
    d.dayOfWeek = tm.tm_wday;
    return d;
}

const SystemClock &SystemClock::Instance()
{
    static const SystemClock clock;
    return clock;
}

} // namespace vorlund
