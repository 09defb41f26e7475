// The two clocks of the agent: a 32-bit millisecond tick count for elapsed and
// due times (compare with unsigned subtraction, so the 49.7-day wrap is
// harmless) and wall-clock seconds since 1970 (UTC).
#pragma once

#include <cstdint>
#include <ctime>
#include <optional>

std::uint32_t tick_now();         // GetTickCount on Windows
std::int64_t unix_now();          // seconds since 1970, UTC
std::int64_t monotonic_ns();      // high-resolution monotonic clock
void sleep_ms(std::uint32_t ms);

// Milliseconds from `earlier` to `later`, right across the wrap.
inline std::uint32_t ticks_since(std::uint32_t later, std::uint32_t earlier) {
    return later - earlier;
}

// Wall-clock time in 100-nanosecond units since 1970 (UTC).
std::int64_t unix_now_100ns();

// A calendar time, as printed in logs, labels and file names.
struct CivilTime {
    int year = 1970, month = 1, day = 1;
    int hour = 0, minute = 0, second = 0;
};
// None when the system cannot convert the time (far outside its calendar).
std::optional<CivilTime> utc_time(std::int64_t unix_seconds);
std::optional<CivilTime> local_time(std::int64_t unix_seconds);

// The platform part of the two above: the C library's thread-safe gmtime
// and localtime.
bool utc_tm(std::time_t t, std::tm& out);
bool local_tm(std::time_t t, std::tm& out);
