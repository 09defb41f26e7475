#include "core/text.h"

#include <gtest/gtest.h>

namespace {
std::string trimmed(std::string_view s) { return std::string(trim(s)); }
std::string wide_round_trip(std::string_view s) { return wide_to_utf8(utf8_to_wide(s)); }
}  // namespace

TEST(Text, HelpersTurnEachInputIntoItsExpectedText) {
    const std::string cut = "\xEF\xBF\xBD";   // U+FFFD, the replacement character
    struct Row { const char* name; std::string (*fn)(std::string_view); std::string in, out; };
    const Row rows[] = {
        {"trim takes the four blanks from both ends", trimmed, "\t x \r\n", "x"},
        {"an invalid byte becomes U+FFFD on the way to UTF-16", wide_round_trip, "a\xFFz", "a" + cut + "z"},
        {"valid UTF-8 is kept", valid_utf8, "ok \xC3\xA9", "ok \xC3\xA9"},
        {"a name cut mid-character", valid_utf8, "ab\xE2\x82", "ab" + cut + cut},
        {"an overlong form", valid_utf8, "\xC0\xAF", cut + cut},
        {"a surrogate", valid_utf8, "\xED\xA0\x80", cut + cut + cut},
        {"line feeds, tabs and letters stay", printable_text, "a\nb\tc \xC3\xA9", "a\nb\tc \xC3\xA9"},
        {"DEL", printable_text, "a\x7F" "b", "a?b"},
        {"C1 CSI and OSC, one mark each", printable_text, "\xC2\x9B" "31m \xC2\x9D" "0 \xC2\x80", "?31m ?0 ?"},
        {"U+00A0 and later are letters", printable_text, "\xC2\xA0\xC2\xBF", "\xC2\xA0\xC2\xBF"},
        {"a lone C2 at the end", printable_text, "x\xC2", "x" + cut},
        {"right-to-left override in a name", printable_text, "evil\xE2\x80\xAEgpj.exe", "evil?gpj.exe"},
        {"isolates U+2066-U+2069 and the marks", printable_text, "\xE2\x81\xA6\xE2\x81\xA9\xE2\x80\x8F\xD8\x9C",
         "????"},
        {"line separator U+2028", printable_text, "a\xE2\x80\xA8[ 99.9s] ROOM", "a?[ 99.9s] ROOM"},
        {"U+2010 and U+2070 next to them stay", printable_text, "\xE2\x80\x90\xE2\x81\xB0", "\xE2\x80\x90\xE2\x81\xB0"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(row.fn(row.in), row.out);
    }
}

TEST(Text, DecimalReaderTakesDigitsOnlyAndReportsOverflow) {
    struct Row { std::string in; std::uint64_t value; std::size_t length; bool overflow; bool whole; };
    const Row rows[] = {
        {"0", 0, 1, false, true},
        {"0042", 42, 4, false, true},
        {"27015 humans", 27015, 5, false, false},
        {"18446744073709551615", 18446744073709551615u, 20, false, true},
        {"18446744073709551616", 0, 20, true, false},   // one past 64 bits
        {"99999999999999999999999x", 0, 23, true, false},
        {"", 0, 0, false, false},
        {"-1", 0, 0, false, false},
        {"+1", 0, 0, false, false},
        {" 1", 0, 0, false, false},
        {"\xEF\xBC\x91", 0, 0, false, false},   // a full-width digit is no digit
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.in);
        const DecimalPrefix number = decimal_prefix(row.in);
        EXPECT_EQ(number.value, row.value);
        EXPECT_EQ(number.length, row.length);
        EXPECT_EQ(number.overflow, row.overflow);
        EXPECT_EQ(parse_decimal(row.in).has_value(), row.whole);
    }
}
