#include "core/clock.h"

#include <windows.h>

std::uint32_t tick_now() { return GetTickCount(); }

std::int64_t unix_now() {
    FILETIME ft;
    GetSystemTimeAsFileTime(&ft);
    const std::uint64_t ticks = (std::uint64_t(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
    return static_cast<std::int64_t>(ticks / 10000000ULL) - 11644473600LL;
}

std::int64_t monotonic_ns() {
    LARGE_INTEGER frequency, counter;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&counter);
    const std::int64_t f = frequency.QuadPart;
    const std::int64_t c = counter.QuadPart;
    return (c / f) * 1000000000LL + (c % f) * 1000000000LL / f;
}

void sleep_ms(std::uint32_t ms) { Sleep(ms); }

bool utc_tm(std::time_t t, std::tm& out) { return gmtime_s(&out, &t) == 0; }
bool local_tm(std::time_t t, std::tm& out) { return localtime_s(&out, &t) == 0; }
