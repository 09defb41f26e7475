// Fast substring search over long stretches of console.log.
#pragma once

#include <cstddef>
#include <string_view>

// Where `needle` first occurs in `text`, or std::string_view::npos. Uses the C
// library's vectorised memmem where there is one.
std::size_t find_bytes(std::string_view text, std::string_view needle);

// Where the first occurrence of either needle begins, or npos when neither
// occurs; an empty needle occurs at 0. One pass over the text, however far
// the first hit is, in blocks that the compiler can vectorise: each position
// is tested on the first and last byte of both needles at once, and only the
// blocks with a candidate are compared in full.
std::size_t find_either(std::string_view text, std::string_view a, std::string_view b);
