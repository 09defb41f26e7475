#include "core/text.h"

#include <charconv>
#include <cstring>

std::string ascii_lower(std::string_view text) {
    std::string out(text);
    for (char& c : out) c = ascii_lower(c);
    return out;
}

bool equal_ignoring_ascii_case(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (ascii_lower(a[i]) != ascii_lower(b[i])) return false;
    return true;
}

static bool is_trim_space(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

std::string_view trim(std::string_view text) {
    std::size_t begin = 0;
    while (begin < text.size() && is_trim_space(text[begin])) ++begin;
    std::size_t end = text.size();
    while (end > begin && is_trim_space(text[end - 1])) --end;
    return text.substr(begin, end - begin);
}

bool contains(std::string_view text, std::string_view needle) {
    if (needle.empty()) return true;
    if (needle.size() > text.size()) return false;
    const char* p = text.data();
    const char* last = text.data() + (text.size() - needle.size());
    while (p <= last) {
        const void* hit = std::memchr(p, needle[0], static_cast<std::size_t>(last - p) + 1);
        if (!hit) return false;
        p = static_cast<const char*>(hit);
        if (std::memcmp(p, needle.data(), needle.size()) == 0) return true;
        ++p;
    }
    return false;
}

bool starts_with(std::string_view text, std::string_view prefix) {
    return prefix.size() <= text.size() && text.compare(0, prefix.size(), prefix) == 0;
}

// Length of the valid UTF-8 sequence at s[i], or 0 when it is not one.
static std::size_t utf8_sequence_length(std::string_view s, std::size_t i) {
    const auto b0 = static_cast<unsigned char>(s[i]);
    if (b0 < 0x80) return 1;
    std::size_t len;
    unsigned char lo = 0x80, hi = 0xBF;
    if (b0 >= 0xC2 && b0 <= 0xDF) len = 2;
    else if (b0 == 0xE0) { len = 3; lo = 0xA0; }
    else if (b0 >= 0xE1 && b0 <= 0xEC) len = 3;
    else if (b0 == 0xED) { len = 3; hi = 0x9F; }   // no surrogates
    else if (b0 >= 0xEE && b0 <= 0xEF) len = 3;
    else if (b0 == 0xF0) { len = 4; lo = 0x90; }
    else if (b0 >= 0xF1 && b0 <= 0xF3) len = 4;
    else if (b0 == 0xF4) { len = 4; hi = 0x8F; }
    else return 0;
    if (i + len > s.size()) return 0;
    for (std::size_t k = 1; k < len; ++k) {
        const auto b = static_cast<unsigned char>(s[i + k]);
        if (b < (k == 1 ? lo : 0x80) || b > (k == 1 ? hi : 0xBF)) return 0;
    }
    return len;
}

std::string valid_utf8(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t len = utf8_sequence_length(text, i);
        if (len == 0) {
            out += "\xEF\xBF\xBD";
            ++i;
        } else {
            out.append(text.data() + i, len);
            i += len;
        }
    }
    return out;
}

// Length of the UTF-8 sequence at s[i] when it is a format character that
// reorders or splits a terminal line: the bidi controls (U+061C, U+200E,
// U+200F, U+202A-U+202E, U+2066-U+2069) and the line and paragraph
// separators (U+2028, U+2029); 0 otherwise. `s` is valid UTF-8.
static std::size_t line_format_length(std::string_view s, std::size_t i) {
    const auto at = [&](std::size_t k) { return i + k < s.size() ? static_cast<unsigned char>(s[i + k]) : 0u; };
    if (at(0) == 0xD8 && at(1) == 0x9C) return 2;                       // U+061C
    if (at(0) != 0xE2) return 0;
    if (at(1) == 0x80 && (at(2) == 0x8E || at(2) == 0x8F)) return 3;    // U+200E, U+200F
    if (at(1) == 0x80 && at(2) >= 0xA8 && at(2) <= 0xAE) return 3;      // U+2028-U+202E
    if (at(1) == 0x81 && at(2) >= 0xA6 && at(2) <= 0xA9) return 3;      // U+2066-U+2069
    return 0;
}

std::string printable_text(std::string_view text) {
    const std::string valid = valid_utf8(text);
    std::string out;
    out.reserve(valid.size());
    for (std::size_t i = 0; i < valid.size(); ++i) {
        const auto byte = static_cast<unsigned char>(valid[i]);
        if ((byte < 0x20 && byte != '\n' && byte != '\t') || byte == 0x7F) {
            out += '?';
        } else if (byte == 0xC2 && static_cast<unsigned char>(valid[i + 1]) <= 0x9F) {
            out += '?';   // a C1 control: CSI and OSC to terminals that take them
            ++i;
        } else if (const std::size_t format = line_format_length(valid, i); format != 0) {
            out += '?';   // would reorder the rest of the line, or break it
            i += format - 1;
        } else {
            out += valid[i];
        }
    }
    return out;
}

std::string hex_lower(const unsigned char* bytes, std::size_t size) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string text;
    text.reserve(size * 2);
    for (std::size_t i = 0; i < size; ++i) {
        text += kDigits[bytes[i] >> 4];
        text += kDigits[bytes[i] & 0x0f];
    }
    return text;
}

DecimalPrefix decimal_prefix(std::string_view text) {
    DecimalPrefix number;
    // from_chars would take a leading '-' for a signed type only; for an
    // unsigned one it stops at anything but a digit, which is the rule here.
    const char* const first = text.data();
    const char* const last = first + text.size();
    // On an overflow from_chars leaves the value as it was (0) and still
    // reads past every digit.
    const auto [end, error] = std::from_chars(first, last, number.value);
    number.length = static_cast<std::size_t>(end - first);
    if (error == std::errc::result_out_of_range) number.overflow = true;
    return number;
}

std::optional<std::uint64_t> parse_decimal(std::string_view text) {
    const DecimalPrefix number = decimal_prefix(text);
    if (number.length == 0 || number.overflow || number.length != text.size()) return std::nullopt;
    return number.value;
}
