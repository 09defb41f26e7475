// Text helpers shared by every module. Text inside the program is UTF-8 in
// narrow strings; the only way in and out of paths and wide strings is here,
// so the ANSI code page never touches a name.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

// UTF-8 to wide text and back (code page 65001 on Windows). Invalid input comes
// out with replacement characters; empty input, or a conversion that reports
// nothing, gives an empty result.
// On Windows the wide text is UTF-16 (what the W functions take); elsewhere
// wchar_t is 32 bits wide and the wide text is UTF-32.
std::wstring utf8_to_wide(std::string_view text);
std::string wide_to_utf8(std::wstring_view text);

// Paths from and to UTF-8 text. Never build a path from narrow text any other way.
std::filesystem::path path_from_utf8(std::string_view text);
std::string path_to_utf8(const std::filesystem::path& path);

// Removes blanks, tabs, line feeds and carriage returns (only these four)
// from both ends; the view points into the same storage.
std::string_view trim(std::string_view text);

// A to Z lowered; every other byte, those of multi-byte characters included,
// kept as it is.
inline char ascii_lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }
std::string ascii_lower(std::string_view text);
bool equal_ignoring_ascii_case(std::string_view a, std::string_view b);

// Exact byte comparisons. An empty needle is contained in every text.
bool contains(std::string_view text, std::string_view needle);
bool starts_with(std::string_view text, std::string_view prefix);

// The text with every invalid UTF-8 sequence replaced by U+FFFD, so that it can
// go into JSON. Valid text comes back unchanged.
std::string valid_utf8(std::string_view text);

// What the console shows of text from outside (player names, personas,
// links): valid UTF-8 with every control character but line feed and tab
// (C0, DEL and the C1 range U+0080-U+009F) replaced by '?', so that no name
// can send an escape sequence to the player's terminal; the same for the
// bidi format characters (U+202E and its kin, U+2066-U+2069), which would
// reorder the line, and the Unicode line and paragraph separators. Every console line
// built from outside text goes through it; records keep the exact bytes.
std::string printable_text(std::string_view text);

// The bytes as lower-case hexadecimal, high nibble first.
std::string hex_lower(const unsigned char* bytes, std::size_t size);

// Decimal numbers, read with std::from_chars and nothing else: ASCII digits
// with nothing around them (no sign, no blank, no thousands separator);
// leading zeros are fine. What an overflow means (no value, a cap, an error)
// stays the caller's.
struct DecimalPrefix {
    std::uint64_t value = 0;   // 0 when there are no digits or they overflow
    std::size_t length = 0;    // digits read; 0: the text does not start with one
    bool overflow = false;     // digits there, but more than 64 bits hold
};
// The number at the start of the text, up to the first byte that is not a
// digit; the text may go on after it.
DecimalPrefix decimal_prefix(std::string_view text);
// The whole text as one number that fits in 64 bits; anything else is none.
std::optional<std::uint64_t> parse_decimal(std::string_view text);
