// Arithmetic on times from outside (Steam's co-play times, the system clock),
// where any 64-bit value may come in and an overflow must not wrap.
#pragma once

#include <cstdint>
#include <limits>
#include <optional>

// a - b, or none when the difference does not fit in 64 signed bits.
inline std::optional<std::int64_t> checked_difference(std::int64_t a, std::int64_t b) {
    constexpr std::int64_t kMin = std::numeric_limits<std::int64_t>::min();
    constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
    if (b > 0 && a < kMin + b) return std::nullopt;
    if (b < 0 && a > kMax + b) return std::nullopt;
    return a - b;
}
