#include "core/text.h"

#include <gtest/gtest.h>

TEST(Text, TrimRemovesOnlyTheFourBlanks) {
    EXPECT_EQ(trim("\t x \r\n"), "x");
    EXPECT_EQ(trim("    "), "");
    EXPECT_EQ(trim(""), "");
    EXPECT_EQ(trim("\vx\f"), "\vx\f");   // vertical tab and form feed are kept
    EXPECT_EQ(trim(" a  b "), "a  b");
}

TEST(Text, ContainsAndStartsWith) {
    EXPECT_TRUE(contains("abc", ""));
    EXPECT_TRUE(contains("", ""));
    EXPECT_FALSE(contains("", "a"));
    EXPECT_TRUE(contains("aaab", "aab"));
    EXPECT_FALSE(contains("abc", "abcd"));
    EXPECT_FALSE(contains("ABC", "b"));
    EXPECT_TRUE(contains(std::string_view("a\0b", 3), std::string_view("\0b", 2)));
    EXPECT_TRUE(starts_with("Client: x", "Client:"));
    EXPECT_FALSE(starts_with("Cl", "Client:"));
    EXPECT_TRUE(starts_with("x", ""));
}

TEST(Text, WideRoundTripKeepsEveryScript) {
    const std::string text = "Z:\\Игры\\Steam \xE4\xB8\xAD\xE6\x96\x87 \xF0\x9F\x98\x80";  // Cyrillic, CJK, emoji
    EXPECT_EQ(wide_to_utf8(utf8_to_wide(text)), text);
    EXPECT_EQ(utf8_to_wide(""), L"");
    EXPECT_EQ(wide_to_utf8(L""), "");
    EXPECT_EQ(path_to_utf8(path_from_utf8(text)), text);
}

TEST(Text, InvalidUtf8BecomesReplacementCharacters) {
    EXPECT_EQ(wide_to_utf8(utf8_to_wide("a\xFFz")), "a\xEF\xBF\xBDz");
    EXPECT_EQ(valid_utf8("ok \xC3\xA9"), "ok \xC3\xA9");
    // A name cut in the middle of a character, an overlong form and a surrogate.
    EXPECT_EQ(valid_utf8("ab\xE2\x82"), "ab\xEF\xBF\xBD\xEF\xBF\xBD");
    EXPECT_EQ(valid_utf8("\xC0\xAF"), "\xEF\xBF\xBD\xEF\xBF\xBD");
    EXPECT_EQ(valid_utf8("\xED\xA0\x80"), "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD");
}

TEST(Text, PrintableTextKeepsNoControlCharacter) {
    struct Row {
        const char* guards;
        std::string in;
        std::string out;
    };
    const Row rows[] = {
        {"escape and bell of a title sequence", "name \x1b]0;pwned\x07 ok\r", "name ?]0;pwned? ok?"},
        {"line feeds, tabs and letters stay", "two\nlines\tand \xC3\xA9", "two\nlines\tand \xC3\xA9"},
        {"DEL", "a\x7F" "b", "a?b"},
        {"C1 CSI and OSC, one mark each", "\xC2\x9B" "31m \xC2\x9D" "0;t \xC2\x80", "?31m ?0;t ?"},
        {"U+00A0 and later are letters", "\xC2\xA0\xC2\xBF", "\xC2\xA0\xC2\xBF"},
        {"a name cut mid-character", "cut \xE2\x82", "cut \xEF\xBF\xBD\xEF\xBF\xBD"},
        {"a lone C2 at the end", "x\xC2", "x\xEF\xBF\xBD"},
    };
    for (const Row& row : rows) EXPECT_EQ(printable_text(row.in), row.out) << row.guards;
}
