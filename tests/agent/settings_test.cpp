#include "agent/settings.h"

#include <filesystem>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "agent/options.h"
#include "core/text.h"
#include "gsi/cfg_files.h"
#include "tests/support/test_support.h"

namespace {

struct Folders {
    std::filesystem::path data;
    std::filesystem::path cfg;
};

Folders make_folders(std::string_view tag) {
    const auto root = make_temp_dir(tag);
    return {root / "vantor", root / "cfg"};
}

AgentSettings load(const Folders& f, std::int32_t port = 0, std::string_view api = {},
                   std::vector<std::string>* problems_out = nullptr) {
    std::vector<std::string> problems;
    AgentSettings settings = load_settings(f.data, f.cfg, port, api, problems);
    if (problems_out)
        *problems_out = problems;
    else
        EXPECT_TRUE(problems.empty()) << problems.front();
    return settings;
}

nlohmann::json saved(const Folders& f) {
    return nlohmann::json::parse(read_test_file(f.data / "agent.json"), nullptr, false);
}

bool is_lower_hex_token(const std::string& token) {
    return token.size() == 16 &&
           token.find_first_not_of("0123456789abcdef") == std::string::npos;
}

}  // namespace

TEST(Settings, FirstRunMakesATokenAndWritesTheFile) {
    const Folders f = make_folders("settings-first");
    const AgentSettings settings = load(f);
    EXPECT_TRUE(is_lower_hex_token(settings.gsi_token)) << settings.gsi_token;
    EXPECT_EQ(settings.gsi_port, 47474u);
    EXPECT_EQ(settings.api_base_url, kDefaultApiBase);
    EXPECT_EQ(read_test_file(f.data / "agent.json"),
              std::string("{\n  \"api_base_url\": \"") + kDefaultApiBase +
                  "\",\n  \"gsi_port\": 47474,\n  \"gsi_token\": \"" + settings.gsi_token +
                  "\"\n}\n");
    // A second run keeps what the first one saved.
    EXPECT_EQ(load(f).gsi_token, settings.gsi_token);
    EXPECT_NE(new_gsi_token(), new_gsi_token());
}

TEST(Settings, TokenIsTakenOverFromTheGsiCfg) {
    const Folders f = make_folders("settings-takeover");
    write_test_file(f.cfg / kGsiCfgName, gsi_cfg_text(47474, "cafe0123beef4567"));
    EXPECT_EQ(load(f).gsi_token, "cafe0123beef4567");
    // A damaged agent.json loses nothing CS2 already has.
    write_test_file(f.data / "agent.json", "{\"gsi_token\": \"cafe");
    std::vector<std::string> problems;
    EXPECT_EQ(load(f, 0, {}, &problems).gsi_token, "cafe0123beef4567");
}

TEST(Settings, CfgTokenThatIsNotUtf8IsNotTakenOver) {
    // agent.json could not hold it as it is: the next run would read back
    // another token than the one CS2 was given.
    const Folders f = make_folders("settings-takeover-bytes");
    write_test_file(f.cfg / kGsiCfgName, gsi_cfg_text(47474, "Fh3kQ\xc5\x89\xab\xcdLpA"));
    const std::string token = load(f).gsi_token;
    EXPECT_TRUE(is_lower_hex_token(token)) << token;
    EXPECT_EQ(load(f).gsi_token, token);
    EXPECT_FALSE(usable_gsi_token("Fh3kQ\xc5\x89\xab\xcdLpA"));
    EXPECT_TRUE(usable_gsi_token("caf\xc3\xa9"));
}

// A file that is there but cannot be used is kept beside it before the
// defaults are written, and the console says where it went.
TEST(Settings, DamagedArrayOrWronglyTypedFilesFallBackToDefaults) {
    struct Row {
        const char* guards;
        std::string text;
        const char* kept_because;   // null: nothing to keep
    };
    const Row rows[] = {
        {"one trailing comma, as a hand edit leaves it",
         "{\n  \"api_base_url\": \"\",\n  \"gsi_port\": 47480,\n  \"gsi_token\": \"9f86d081884c7d65\",\n}\n",
         "is not valid JSON"},
        {"cut short", "{not json", "is not valid JSON"},
        {"an array", "[1, 2, 3]", "is not a JSON object"},
        {"a string", "\"just text\"", "is not a JSON object"},
        {"empty: nothing to lose", "", nullptr},
        {"an object with wrong types: read key by key", "{\"gsi_token\": 5, \"api_base_url\": null}", nullptr},
    };
    for (const Row& row : rows) {
        const Folders f = make_folders("settings-damaged");
        write_test_file(f.data / "agent.json", row.text);
        std::vector<std::string> problems;
        const AgentSettings settings = load(f, 0, {}, &problems);
        EXPECT_TRUE(is_lower_hex_token(settings.gsi_token)) << row.guards;
        EXPECT_EQ(settings.gsi_port, 47474u) << row.guards;
        EXPECT_EQ(settings.api_base_url, kDefaultApiBase) << row.guards;
        const nlohmann::json doc = saved(f);
        ASSERT_TRUE(doc.is_object()) << row.guards;
        EXPECT_EQ(doc.size(), 3u);

        std::vector<std::filesystem::path> kept;
        for (const auto& item : std::filesystem::directory_iterator(f.data))
            if (item.path().filename() != "agent.json") kept.push_back(item.path());
        if (!row.kept_because) {
            EXPECT_TRUE(kept.empty()) << row.guards;
            EXPECT_TRUE(problems.empty()) << row.guards;
            continue;
        }
        ASSERT_EQ(kept.size(), 1u) << row.guards;
        EXPECT_EQ(read_test_file(kept[0]), row.text) << row.guards;   // byte for byte
        EXPECT_TRUE(starts_with(path_to_utf8(kept[0].filename()), "agent.broken-")) << row.guards;
        ASSERT_EQ(problems.size(), 1u) << row.guards;
        EXPECT_EQ(problems[0], path_to_utf8(f.data / "agent.json") + " " + row.kept_because +
                                   " -- kept it as " + path_to_utf8(kept[0]) +
                                   "; using the default settings");
    }
}

TEST(Settings, ExtraKeysAreDroppedAndValuesKept) {
    const Folders f = make_folders("settings-extra");
    write_test_file(f.data / "agent.json",
                    R"({"gsi_token":"t0k3n","gsi_port":5000.9,"api_base_url":"https://ex\u00e4mple.test","extra":1})");
    const AgentSettings settings = load(f);
    EXPECT_EQ(settings.gsi_token, "t0k3n");
    EXPECT_EQ(settings.gsi_port, 5000u);   // a fraction is cut off
    const std::string text = read_test_file(f.data / "agent.json");
    EXPECT_EQ(text.find("extra"), std::string::npos);
    EXPECT_NE(text.find("https://ex\xc3\xa4mple.test"), std::string::npos);   // raw UTF-8
}

TEST(Settings, CommandLineOverridesAreSaved) {
    const Folders f = make_folders("settings-override");
    write_test_file(f.data / "agent.json",
                    R"({"gsi_token":"abc","gsi_port":5000,"api_base_url":"https://x.test"})");
    AgentSettings settings = load(f, 6000);
    EXPECT_EQ(settings.gsi_port, 6000u);
    EXPECT_EQ(settings.api_base_url, "https://x.test");   // an empty --api-base changes nothing
    EXPECT_EQ(saved(f)["gsi_port"], 6000);

    settings = load(f, 0, "http://127.0.0.1:9/");
    EXPECT_EQ(settings.gsi_port, 6000u);
    EXPECT_EQ(saved(f)["api_base_url"], "http://127.0.0.1:9/");

    // Only the file can switch the API off, and the empty value is kept.
    write_test_file(f.data / "agent.json", R"({"gsi_token":"abc","api_base_url":""})");
    EXPECT_EQ(load(f).api_base_url, "");
    EXPECT_EQ(saved(f)["api_base_url"], "");
}

TEST(Settings, PortOutsideTheRangeIsReportedAndReplaced) {
    for (const char* port : {"0", "65536", "-1", "1e300", "\"5000\"", "false"}) {
        const Folders f = make_folders("settings-port");
        write_test_file(f.data / "agent.json",
                        std::string(R"({"gsi_token":"abc","gsi_port":)") + port + "}");
        std::vector<std::string> problems;
        EXPECT_EQ(load(f, 0, {}, &problems).gsi_port, 47474u) << port;
        ASSERT_EQ(problems.size(), 1u) << port;
        EXPECT_NE(problems[0].find("gsi_port"), std::string::npos);
        EXPECT_EQ(saved(f)["gsi_port"], 47474);
        // An override makes the file's value irrelevant: nothing to report.
        EXPECT_EQ(load(f, 6000).gsi_port, 6000u);
    }
    const Folders f = make_folders("settings-port-true");
    write_test_file(f.data / "agent.json", R"({"gsi_token":"abc","gsi_port":true})");
    EXPECT_EQ(load(f).gsi_port, 1u);   // true reads as 1, a valid port
}

TEST(Settings, TokenThatWouldBreakTheCfgIsReplaced) {
    const Folders f = make_folders("settings-token");
    write_test_file(f.data / "agent.json",
                    R"({"gsi_token":"x\" } \"uri\" \"http://elsewhere/","gsi_port":47474})");
    std::vector<std::string> problems;
    const AgentSettings settings = load(f, 0, {}, &problems);
    EXPECT_TRUE(is_lower_hex_token(settings.gsi_token));
    EXPECT_EQ(problems.size(), 1u);
    EXPECT_TRUE(usable_gsi_token("plain-token_123"));
    EXPECT_FALSE(usable_gsi_token("back\\slash"));
    EXPECT_FALSE(usable_gsi_token("new\nline"));
}

TEST(Settings, UnwritableDataFolderStillGivesSettings) {
    const Folders f = make_folders("settings-unwritable");
    write_test_file(f.data, "a file where the folder should be");
    const AgentSettings settings = load(f, 0, "https://y.test");
    EXPECT_TRUE(is_lower_hex_token(settings.gsi_token));
    EXPECT_EQ(settings.api_base_url, "https://y.test");
}
