// The portable part of the byte search: the two-needle scan.
#include "console/byte_search.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr std::size_t kBlock = 64;

bool at(const char* p, std::string_view needle) {
    return std::memcmp(p, needle.data(), needle.size()) == 0;
}

}  // namespace

std::size_t find_either(std::string_view text, std::string_view a, std::string_view b) {
    if (a.empty() || b.empty()) return 0;
    const std::size_t longest = std::max(a.size(), b.size());
    const std::size_t shortest = std::min(a.size(), b.size());
    if (text.size() < shortest) return std::string_view::npos;
    const char* const p = text.data();
    const std::size_t n = text.size();
    const unsigned char a_first = static_cast<unsigned char>(a.front());
    const unsigned char a_last = static_cast<unsigned char>(a.back());
    const unsigned char b_first = static_cast<unsigned char>(b.front());
    const unsigned char b_last = static_cast<unsigned char>(b.back());
    const std::size_t a_end = a.size() - 1;
    const std::size_t b_end = b.size() - 1;

    std::size_t i = 0;
    // Whole blocks, where every position can hold the longer needle.
    for (; n >= longest && i + kBlock <= n - longest + 1; i += kBlock) {
        const auto* q = reinterpret_cast<const unsigned char*>(p + i);
        // A byte is 0 where a needle's first and last byte both match.
        unsigned char least = 0xFF;
        for (std::size_t k = 0; k < kBlock; ++k) {
            const auto in_a = static_cast<unsigned char>((q[k] ^ a_first) | (q[k + a_end] ^ a_last));
            const auto in_b = static_cast<unsigned char>((q[k] ^ b_first) | (q[k + b_end] ^ b_last));
            least = std::min(least, std::min(in_a, in_b));
        }
        if (least != 0) continue;
        for (std::size_t k = i; k < i + kBlock; ++k) {
            if (at(p + k, a) || at(p + k, b)) return k;
        }
    }
    // The rest, position by position, each needle where it still fits.
    for (; i < n; ++i) {
        if (n - i >= a.size() && at(p + i, a)) return i;
        if (n - i >= b.size() && at(p + i, b)) return i;
    }
    return std::string_view::npos;
}
