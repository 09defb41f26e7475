#include "core/clock.h"

#include <ctime>

std::uint32_t tick_now() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<std::uint32_t>(static_cast<std::uint64_t>(ts.tv_sec) * 1000u +
                                      static_cast<std::uint64_t>(ts.tv_nsec) / 1000000u);
}

std::int64_t unix_now() { return static_cast<std::int64_t>(std::time(nullptr)); }

std::int64_t monotonic_ns() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<std::int64_t>(ts.tv_sec) * 1000000000LL + ts.tv_nsec;
}

void sleep_ms(std::uint32_t ms) {
    timespec ts{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
    while (nanosleep(&ts, &ts) != 0) {}
}

bool utc_tm(std::time_t t, std::tm& out) { return gmtime_r(&t, &out) != nullptr; }
bool local_tm(std::time_t t, std::tm& out) { return localtime_r(&t, &out) != nullptr; }
