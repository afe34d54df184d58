#pragma once

#include <cstdint>

namespace vorlund {

struct LocalDateTime
{
    int year = 1970;
    int month = 1; // 1..12
    int day = 1; // 1..31
    int hour = 0;
    int minute = 0;
    int second = 0;
    int dayOfWeek = 4; // 0 = Sunday
};

// Durations come from TickCount (milliseconds of a monotonic clock, compared as unsigned
// differences); the wall clock is only read for stamps, names and schedules.
class IClock
{
public:
    virtual ~IClock() = default;
    virtual uint32_t TickCount() const = 0;
    virtual LocalDateTime Now() const = 0;
};

class SystemClock : public IClock
{
public:
    uint32_t TickCount() const override;
    LocalDateTime Now() const override;
    static const SystemClock &Instance();
};

// For tests: time moves only when told.
class FakeClock : public IClock
{
public:
    uint32_t TickCount() const override { return ticks; }
    LocalDateTime Now() const override { return now; }
    void Advance(uint32_t ms) { ticks += ms; }

    uint32_t ticks = 0;
    LocalDateTime now {};
};

} // namespace vorlund
