// The GSI cfg in CS2's cfg folder: its exact text, when it is written or left
// alone, and the token read back.
#include "gsi/cfg_files.h"

#include <optional>
#include <sstream>

#include <gtest/gtest.h>

#include "tests/support/test_support.h"

namespace {

// The game parses this file: any other layout may silently turn GSI off.
TEST(CfgFiles, GsiCfgTextIsExact) {
    EXPECT_EQ(gsi_cfg_text(47474, "0123456789abcdef"),
              "\"vantor\"\n{\n\t\"uri\"       \"http://127.0.0.1:47474/\"\n"
              "\t\"timeout\"   \"5.0\"\n\t\"buffer\"    \"0.1\"\n\t\"throttle\"  \"0.5\"\n\t\"heartbeat\" \"10.0\"\n"
              "\t\"auth\"\n\t{\n\t\t\"token\" \"0123456789abcdef\"\n\t}\n"
              "\t\"data\"\n\t{\n\t\t\"provider\"     \"1\"\n\t\t\"map\"          \"1\"\n\t\t\"round\"        \"1\"\n"
              "\t\t\"player_id\"    \"1\"\n\t\t\"player_state\" \"1\"\n\t}\n}\n");
}

// The game runs the exec cfg: the Tab bind and status are all it may do.
TEST(CfgFiles, ExecCfgBindsTheScoreboardAndAsksForStatus) {
    std::istringstream text(exec_cfg_text());
    std::vector<std::string> commands;
    for (std::string line; std::getline(text, line);)
        if (!line.empty() && line.rfind("//", 0) != 0) commands.push_back(line);
    EXPECT_EQ(commands, (std::vector<std::string>{"bind \"tab\" \"+showscores\"", "status"}));
}

TEST(CfgFiles, WrittenOnlyWhenAllowedAndDifferent) {
    const std::string current = gsi_cfg_text(47474, "tok");
    std::string crlf;
    for (char c : current) crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
    const struct {
        const char* name; std::optional<std::string> existing; bool write; CfgStatus status; const char* detail;
    } rows[] = {
        {"missing: created", std::nullopt, true, CfgStatus::written, "created"},
        {"current: left alone", current, true, CfgStatus::up_to_date, "already current"},
        {"current with CRLF: left alone", crlf, true, CfgStatus::up_to_date, "already current"},
        {"another port: updated", gsi_cfg_text(5000, "tok"), true, CfgStatus::written, "updated"},
        {"another token, --no-write-cfg: kept", gsi_cfg_text(47474, "old"), false, CfgStatus::stale,
         "differs from what the agent would write (--no-write-cfg)"},
        {"missing, --no-write-cfg: not created", std::nullopt, false, CfgStatus::stale, "missing (--no-write-cfg)"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const auto cfg = make_temp_dir("cfg-write");
        if (row.existing) write_test_file(cfg / kGsiCfgName, *row.existing);
        const CfgResult result = write_gsi_cfg(cfg, 47474, "tok", row.write);
        EXPECT_EQ(result.status, row.status);
        EXPECT_EQ(result.detail, row.detail);
        EXPECT_EQ(read_test_file(cfg / kGsiCfgName), row.status == CfgStatus::written ? current : row.existing.value_or(""));
        EXPECT_EQ(std::filesystem::exists(cfg / kGsiCfgName), row.existing || row.status == CfgStatus::written);
    }
}

TEST(CfgFiles, TokenIsReadBackWhateverTheTopLevelKey) {
    // text null: no file
    const struct { const char* name; const char* text; const char* token; } rows[] = {
        {"no file", nullptr, ""},
        {"as written", "\"vantor\" { \"auth\" { \"token\" \"0123456789abcdef\" } }", "0123456789abcdef"},
        {"another key, CRLF, escapes resolved", "\"Else\"\r\n{\r\n\t\"auth\" { \"token\" \"old\\\\one\" }\r\n}\r\n", "old\\one"},
        {"no auth block", "\"vantor\" { \"uri\" \"x\" }", ""},
        {"does not parse", "\"vantor\" { \"auth\" { \"token\" \"cut", ""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const auto cfg = make_temp_dir("cfg-token");
        if (row.text) write_test_file(cfg / kGsiCfgName, row.text);
        EXPECT_EQ(read_gsi_cfg_token(cfg), row.token);
    }
}

}  // namespace
