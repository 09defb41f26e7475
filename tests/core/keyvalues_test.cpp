#include "core/keyvalues.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string nested(int levels) {
    std::string text;
    for (int i = 0; i < levels; ++i) text += "\"k\" { ";
    text += "\"leaf\" \"v\" ";
    for (int i = 0; i < levels; ++i) text += "} ";
    return text;
}

}  // namespace

TEST(KeyValues, ReadsLibraryFoldersShape) {
    auto root = kv_parse(
        "\"libraryfolders\"\n{\n"
        "\t\"0\"\n\t{\n\t\t\"path\"\t\t\"C:\\\\Games\\\\Steam\"\n"
        "\t\t\"apps\"\n\t\t{\n\t\t\t\"730\"\t\t\"123\"\n\t\t}\n\t}\n"
        "\t\"1\" { \"path\" \"D:\\\\SteamLibrary\" }\n}\n");
    ASSERT_TRUE(root);
    ASSERT_EQ(root->children.size(), 1u);
    EXPECT_TRUE(root->pairs.empty());
    const KvNode* top = kv_find_child(*root, "libraryfolders");
    ASSERT_NE(top, nullptr);
    ASSERT_EQ(top->children.size(), 2u);
    EXPECT_EQ(top->children[0].key, "0");
    EXPECT_EQ(*kv_find_value(top->children[0].node, "path"), "C:\\Games\\Steam");
    EXPECT_EQ(*kv_find_value(top->children[1].node, "path"), "D:\\SteamLibrary");
    const KvNode* apps = kv_find_child(top->children[0].node, "apps");
    ASSERT_NE(apps, nullptr);
    EXPECT_EQ(*kv_find_value(*apps, "730"), "123");
    // Case matters for lookups.
    EXPECT_EQ(kv_find_child(*root, "LibraryFolders"), nullptr);
    EXPECT_EQ(kv_find_value(top->children[0].node, "PATH"), nullptr);
}

TEST(KeyValues, DuplicatesStayInOrderAndTheFirstIsFound) {
    auto root = kv_parse("a 1 a 2 b { x y } b { x z }");
    ASSERT_TRUE(root);
    ASSERT_EQ(root->pairs.size(), 2u);
    EXPECT_EQ(root->pairs[1].second, "2");
    EXPECT_EQ(*kv_find_value(*root, "a"), "1");
    ASSERT_EQ(root->children.size(), 2u);
    EXPECT_EQ(*kv_find_value(*kv_find_child(*root, "b"), "x"), "y");
    EXPECT_EQ(kv_find_value(*root, "missing"), nullptr);
}

TEST(KeyValues, Escapes) {
    auto root = kv_parse(R"("k" "a\nb\tc\\d\"e\qf" "line" "one
two")");
    ASSERT_TRUE(root);
    EXPECT_EQ(*kv_find_value(*root, "k"), "a\nb\tc\\d\"eqf");
    EXPECT_EQ(*kv_find_value(*root, "line"), "one\ntwo");
    // Unquoted tokens take no escapes and end at braces and blanks.
    root = kv_parse(R"(k a\nb"c k{x y})");
    ASSERT_TRUE(root);
    EXPECT_EQ(*kv_find_value(*root, "k"), "a\\nb\"c");
    EXPECT_EQ(*kv_find_value(*kv_find_child(*root, "k"), "x"), "y");
}

TEST(KeyValues, Comments) {
    auto root = kv_parse("// header\nkey value // trailing\r\n\"q\" \"a//b\" u a//b / x\n//");
    ASSERT_TRUE(root);
    ASSERT_EQ(root->pairs.size(), 4u);
    EXPECT_EQ(*kv_find_value(*root, "key"), "value");
    EXPECT_EQ(*kv_find_value(*root, "q"), "a//b");
    EXPECT_EQ(*kv_find_value(*root, "u"), "a//b");
    EXPECT_EQ(*kv_find_value(*root, "/"), "x");   // a single slash is a token
}

TEST(KeyValues, ByteOrderMarkIsSkipped) {
    auto with = kv_parse("\xEF\xBB\xBF\"k\" \"v\"");
    ASSERT_TRUE(with);
    EXPECT_EQ(*kv_find_value(*with, "k"), "v");
    // Only at the start, and only the whole mark.
    auto partial = kv_parse("\xEF\xBB k");
    ASSERT_TRUE(partial);
    EXPECT_EQ(*kv_find_value(*partial, "\xEF\xBB"), "k");
}

TEST(KeyValues, AcceptedEndings) {
    // Missing closing braces at the end of the text close every open block.
    auto root = kv_parse("\"a\" { \"b\" { \"c\" \"d\"");
    ASSERT_TRUE(root);
    EXPECT_EQ(*kv_find_value(*kv_find_child(*kv_find_child(*root, "a"), "b"), "c"), "d");
    // A closing brace at the top level ends the document.
    root = kv_parse("\"a\" \"1\" } \"b\" \"2\" {{{");
    ASSERT_TRUE(root);
    EXPECT_EQ(root->pairs.size(), 1u);
    EXPECT_EQ(kv_find_value(*root, "b"), nullptr);
    // Empty texts, empty blocks and empty strings.
    EXPECT_TRUE(kv_parse(""));
    EXPECT_TRUE(kv_parse(" \r\n\t// only a comment"));
    root = kv_parse("\"\" \"\" e {}");
    ASSERT_TRUE(root);
    EXPECT_EQ(*kv_find_value(*root, ""), "");
    EXPECT_TRUE(kv_find_child(*root, "e")->pairs.empty());
}

TEST(KeyValues, RejectedShapes) {
    EXPECT_FALSE(kv_parse("\"k\" \"unterminated"));
    EXPECT_FALSE(kv_parse("\"unterminated key"));
    EXPECT_FALSE(kv_parse("\"k\" \"v\\"));     // a trailing backslash cannot close it
    EXPECT_FALSE(kv_parse("{ \"k\" \"v\" }"));  // a block without a key
    EXPECT_FALSE(kv_parse("a { { } }"));
    EXPECT_FALSE(kv_parse("\"lonely\""));       // a key without a value
    EXPECT_FALSE(kv_parse("a { k }"));
    EXPECT_FALSE(kv_parse("a { k"));
}

TEST(KeyValues, DepthLimit) {
    EXPECT_TRUE(kv_parse(nested(kKvMaxDepth)));
    EXPECT_FALSE(kv_parse(nested(kKvMaxDepth + 1)));
    // Unbalanced depth counts too: the end of the text closes the open blocks.
    std::string open_only;
    for (int i = 0; i < 100000; ++i) open_only += "k{";
    EXPECT_FALSE(kv_parse(open_only));
}

TEST(KeyValues, HostileInputNeverCrashesOrHangs) {
    const std::size_t big = 10u * 1024 * 1024;
    std::string long_unquoted(big, 'x');
    auto root = kv_parse("k " + long_unquoted);
    ASSERT_TRUE(root);
    EXPECT_EQ(kv_find_value(*root, "k")->size(), big);

    std::string long_quoted = "\"k\" \"" + std::string(big, 'y') + "\"";
    root = kv_parse(long_quoted);
    ASSERT_TRUE(root);
    EXPECT_EQ(kv_find_value(*root, "k")->size(), big);

    EXPECT_FALSE(kv_parse("\"k\" \"" + std::string(big, '\\')));   // escapes up to the end
    EXPECT_TRUE(kv_parse("//" + std::string(big, '/')));              // one long comment
    std::string many_closes(big, '}');
    EXPECT_TRUE(kv_parse(many_closes));

    // Bytes are kept as they are: invalid UTF-8 and NULs included.
    std::string odd = std::string("\"\xff\xfe\" \"\xc3\x28") + std::string(1, '\0') + "z\"";
    root = kv_parse(odd);
    ASSERT_TRUE(root);
    EXPECT_EQ(*kv_find_value(*root, "\xff\xfe"), std::string("\xc3\x28") + std::string(1, '\0') + "z");

    // Every byte value in every position: no crash, any answer.
    for (int b = 0; b < 256; ++b) {
        std::string text = "a { \"b\" ";
        text.push_back(static_cast<char>(b));
        text += " }";
        (void)kv_parse(text);
        (void)kv_parse(std::string(1, static_cast<char>(b)));
    }
}
