#include "agent/settings.h"

#include <filesystem>
#include <optional>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "core/text.h"
#include "gsi/cfg_files.h"
#include "tests/support/test_support.h"

bool is_new_token(const std::string& token) {
    return token.size() == 16 && token.find_first_not_of("0123456789abcdef") == std::string::npos;
}

// agent.json (nullopt: none) and the GSI cfg's token as they are found, the
// overrides of the command line, and the settings that come of them. A file
// that cannot be used is kept beside it, byte for byte, before the defaults
// are written, and a problem says where it went.
TEST(Settings, WhatIsFoundAndWhatIsUsed) {
    const std::string def = kDefaultApiBase;
    const std::string new_token;   // a fresh one
    struct Row { const char* name; std::optional<std::string> file; std::string cfg_token; std::int32_t port_override;
                 std::string api_override, token; std::uint32_t port; std::string api; std::size_t problems; bool kept; };
    const Row rows[] = {
        {"nothing yet: a new token", std::nullopt, "", 0, "", new_token, 47474, def, 0, false},
        {"the token is taken over from the GSI cfg", std::nullopt, "cafe0123beef4567", 0, "", "cafe0123beef4567", 47474, def, 0, false},
        {"a damaged file loses nothing CS2 already has", "{\"gsi_token\": \"cafe", "cafe0123beef4567", 0, "", "cafe0123beef4567", 47474, def, 1, true},
        {"a cfg token that JSON cannot hold is not taken over", std::nullopt, "Fh3kQ\xc5\x89\xab\xcdLpA", 0, "", new_token, 47474, def, 0, false},
        {"an array", "[1, 2, 3]", "", 0, "", new_token, 47474, def, 1, true},
        {"empty: nothing to keep", "", "", 0, "", new_token, 47474, def, 0, false},
        {"wrong types are read key by key", "{\"gsi_token\": 5, \"api_base_url\": null}", "", 0, "", new_token, 47474, def, 0, false},
        {"a fraction of a port is cut, UTF-8 kept, extra keys dropped",
         R"({"gsi_token":"t0k3n","gsi_port":5000.9,"api_base_url":"https://ex\u00e4mple.test","extra":1})", "", 0, "",
         "t0k3n", 5000, "https://ex\xc3\xa4mple.test", 0, false},
        {"a port override is saved", R"({"gsi_token":"abc","gsi_port":5000,"api_base_url":"https://x.test"})", "", 6000, "", "abc", 6000, "https://x.test", 0, false},
        {"an API override is saved", R"({"gsi_token":"abc","gsi_port":5000,"api_base_url":"https://x.test"})", "", 0, "http://127.0.0.1:9/", "abc", 5000, "http://127.0.0.1:9/", 0, false},
        {"only the file switches the API off", R"({"gsi_token":"abc","api_base_url":""})", "", 0, "", "abc", 47474, "", 0, false},
        {"port 0", R"({"gsi_token":"abc","gsi_port":0})", "", 0, "", "abc", 47474, def, 1, false},
        {"port 65536", R"({"gsi_token":"abc","gsi_port":65536})", "", 0, "", "abc", 47474, def, 1, false},
        {"an override hides a bad port", R"({"gsi_token":"abc","gsi_port":0})", "", 6000, "", "abc", 6000, def, 0, false},
        {"a token with a quote would rewrite the cfg", R"({"gsi_token":"x\" } \"uri\" \"http://elsewhere/"})", "", 0, "", new_token, 47474, def, 1, false},
        {"a token with letters beyond ASCII is fine", R"({"gsi_token":"caf\u00e9"})", "", 0, "", "caf\xc3\xa9", 47474, def, 0, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const auto root = make_temp_dir("settings");
        const auto data = root / "vantor", file = data / "agent.json";
        if (row.file) write_test_file(file, *row.file);
        if (!row.cfg_token.empty()) write_test_file(root / "cfg" / kGsiCfgName, gsi_cfg_text(47474, row.cfg_token));
        const auto [s, problems] = load_settings(data, root / "cfg", row.port_override, row.api_override);
        EXPECT_TRUE(row.token.empty() ? is_new_token(s.gsi_token) : s.gsi_token == row.token) << s.gsi_token;
        EXPECT_EQ(std::to_string(s.gsi_port) + " " + s.api_base_url + " " + std::to_string(problems.size()),
                  std::to_string(row.port) + " " + row.api + " " + std::to_string(row.problems));
        // What was used is what was saved, and nothing else.
        const nlohmann::json saved = nlohmann::json::parse(read_test_file(file), nullptr, false);
        EXPECT_EQ(saved, (nlohmann::json{{"gsi_token", s.gsi_token}, {"gsi_port", s.gsi_port}, {"api_base_url", s.api_base_url}}));
        std::vector<std::filesystem::path> kept;
        for (const auto& item : std::filesystem::directory_iterator(data))
            if (item.path() != file) kept.push_back(item.path());
        ASSERT_EQ(kept.size(), row.kept ? 1u : 0u);
        if (!row.kept) continue;
        EXPECT_EQ(read_test_file(kept[0]), *row.file);
        ASSERT_FALSE(problems.empty());
        EXPECT_TRUE(contains(problems[0], path_to_utf8(file))) << problems[0];
        EXPECT_TRUE(contains(problems[0], " -- kept it as " + path_to_utf8(kept[0]) + "; using the default settings"))
            << problems[0];
    }
}

TEST(Settings, AnUnwritableDataFolderStillGivesSettings) {
    const auto data = make_temp_dir("settings-unwritable") / "vantor";
    write_test_file(data, "a file where the folder should be");
    const AgentSettings settings = load_settings(data, data / "cfg", 0, "https://y.test").settings;
    EXPECT_TRUE(is_new_token(settings.gsi_token));
    EXPECT_EQ(settings.api_base_url, "https://y.test");
    EXPECT_NE(new_gsi_token(), new_gsi_token());
}
