#include "core/clock.h"

#include <chrono>
#include <ctime>

std::int64_t unix_now_100ns() {
    using namespace std::chrono;
    return duration_cast<duration<std::int64_t, std::ratio<1, 10000000>>>(
               system_clock::now().time_since_epoch())
        .count();
}

static CivilTime civil_from_tm(const std::tm& t) {
    return CivilTime{t.tm_year + 1900, t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec};
}

std::optional<CivilTime> utc_time(std::int64_t unix_seconds) {
    std::tm out{};
    if (!utc_tm(static_cast<std::time_t>(unix_seconds), out)) return std::nullopt;
    return civil_from_tm(out);
}

std::optional<CivilTime> local_time(std::int64_t unix_seconds) {
    std::tm out{};
    if (!local_tm(static_cast<std::time_t>(unix_seconds), out)) return std::nullopt;
    return civil_from_tm(out);
}
