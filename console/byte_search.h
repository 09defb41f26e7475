// Fast substring search over long stretches of console.log.
#pragma once

#include <cstddef>
#include <string_view>

// Where `needle` first occurs in `text`, or std::string_view::npos. Uses the C
// library's vectorised memmem where there is one.
std::size_t find_bytes(std::string_view text, std::string_view needle);
