// The two-needle scan against the plain search, around the edges of its
// 64-byte blocks and of the text.
#include "console/byte_search.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

std::size_t plain(std::string_view text, std::string_view a, std::string_view b) {
    return std::min(text.find(a), text.find(b));
}

TEST(FindEither, FindsTheFirstOfTwoNeedlesWhereverItLies) {
    const std::string header = "----- Status -----", connect = "Client:";
    struct Row { const char* name; std::string text; };
    std::vector<Row> rows = {
        {"empty", ""},
        {"shorter than either", "Clien"},
        {"only the shorter fits", "xx" + connect},
        {"neither", std::string(500, 'x')},
        {"near misses", std::string(100, '-') + " Status ---- Client; Cxxxxx: " + std::string(100, 'x')},
    };
    for (std::size_t at : {0u, 1u, 46u, 47u, 63u, 64u, 65u, 127u, 128u, 300u}) {
        for (const std::string* needle : {&header, &connect}) {
            std::string text(at, 'x');
            text += *needle;
            rows.push_back({"at the end", text});
            rows.push_back({"before more text", text + std::string(200, 'y')});
            rows.push_back({"before the other needle", text + " " + (needle == &header ? connect : header)});
        }
    }
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name + (": " + std::to_string(row.text.size())));
        EXPECT_EQ(find_either(row.text, header, connect), plain(row.text, header, connect));
        EXPECT_EQ(find_either(row.text, connect, header), plain(row.text, header, connect));
    }
    EXPECT_EQ(find_either("abc", "", "x"), 0u);
}

}  // namespace
