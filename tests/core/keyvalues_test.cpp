#include "core/keyvalues.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

// The value at "block>block>key" in the parsed text; "<rejected>" when the
// text does not parse, nullopt when the path leads nowhere.
std::optional<std::string> lookup(std::string_view text, std::string_view path) {
    const std::optional<KvNode> root = kv_parse(text);
    if (!root) return "<rejected>";
    const KvNode* node = &*root;
    for (std::size_t cut; node && (cut = path.find('>')) != std::string_view::npos; path.remove_prefix(cut + 1))
        node = kv_find_child(*node, path.substr(0, cut));
    const std::string* value = node ? kv_find_value(*node, path) : nullptr;
    return value ? std::optional<std::string>(*value) : std::nullopt;
}

std::string nested(int levels) {
    std::string text;
    for (int i = 0; i < levels; ++i) text += "\"k\" { ";
    return text + "\"leaf\" \"v\" " + std::string(static_cast<std::size_t>(levels) * 2, '}');
}

TEST(KeyValues, EdgeCasesOfTheText) {
    const std::string rejected = "<rejected>";
    struct Row { const char* name; std::string text; const char* path; std::optional<std::string> value; };
    const Row rows[] = {
        {"case matters for lookups", "Apps { Path v }", "apps>path", std::nullopt},
        {"quoted escapes, an unknown one keeps its letter", R"("k" "a\nb\tc\\d\"e\qf")", "k", "a\nb\tc\\d\"eqf"},
        {"a trailing comment", "key value // trailing\r\n", "key", "value"},
        {"a byte order mark at the start is skipped", "\xEF\xBB\xBF\"k\" \"v\"", "k", "v"},
        {"bytes are kept, NUL included", std::string("\"\xff\" \"\xc3\x28\0z\"", 10), "\xff",
         std::string("\xc3\x28\0z", 4)},
        {"an unterminated value", "\"k\" \"unterminated", "k", rejected},
        {"a trailing backslash cannot close a string", "\"k\" \"v\\", "k", rejected},
        {"a block without a key", "{ \"k\" \"v\" }", "k", rejected},
        {"a key without a value", "\"lonely\"", "k", rejected},
        {"the deepest nesting allowed", nested(kKvMaxDepth), "k", std::nullopt},
        {"one level too deep", nested(kKvMaxDepth + 1), "k", rejected},
        {"unclosed blocks count towards the depth", [] { std::string s; for (int i = 0; i < 100000; ++i) s += "k{"; return s; }(), "k", rejected},
        {"10 MiB of backslashes", "\"k\" \"" + std::string(10u << 20, '\\'), "k", rejected},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(lookup(row.text, row.path), row.value);
    }
    // Every byte value in a block: no crash, any answer.
    for (int b = 0; b < 256; ++b) (void)kv_parse("a { \"b\" " + std::string(1, static_cast<char>(b)) + " }");
}
