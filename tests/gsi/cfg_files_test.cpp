// The GSI cfg and the exec cfg in CS2's cfg folder: their exact text, when
// they are written or left alone, and the token read back.
#include "gsi/cfg_files.h"

#include <filesystem>
#include <optional>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "core/event_log.h"
#include "core/text.h"
#include "tests/support/test_support.h"

namespace {

std::string with_crlf(const std::string& text) {
    std::string out;
    for (char c : text) out += c == '\n' ? std::string("\r\n") : std::string(1, c);
    return out;
}

TEST(CfgFiles, GsiCfgTextIsExact) {
    EXPECT_EQ(gsi_cfg_text(47474, "0123456789abcdef"),
              "\"vantor\"\n{\n"
              "\t\"uri\"       \"http://127.0.0.1:47474/\"\n"
              "\t\"timeout\"   \"5.0\"\n"
              "\t\"buffer\"    \"0.1\"\n"
              "\t\"throttle\"  \"0.5\"\n"
              "\t\"heartbeat\" \"10.0\"\n"
              "\t\"auth\"\n\t{\n\t\t\"token\" \"0123456789abcdef\"\n\t}\n"
              "\t\"data\"\n\t{\n"
              "\t\t\"provider\"     \"1\"\n"
              "\t\t\"map\"          \"1\"\n"
              "\t\t\"round\"        \"1\"\n"
              "\t\t\"player_id\"    \"1\"\n"
              "\t\t\"player_state\" \"1\"\n"
              "\t}\n}\n");
}

// The game runs the exec cfg: only the Tab bind and status do anything.
TEST(CfgFiles, ExecCfgRunsTwoCommandsOnly) {
    const std::string& text = exec_cfg_text();
    EXPECT_EQ(text.find('\r'), std::string::npos);
    std::vector<std::string> commands;
    for (std::size_t start = 0, end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
        const std::string line = text.substr(start, end - start);
        if (!line.empty() && !starts_with(line, "//")) commands.push_back(line);
    }
    EXPECT_EQ(commands, (std::vector<std::string>{"bind \"tab\" \"+showscores\"", "status"}));
}

TEST(CfgFiles, WrittenOnlyWhenAllowedAndDifferent) {
    const std::string current = gsi_cfg_text(47474, "tok");
    const struct {
        const char* name;
        std::optional<std::string> existing;
        bool write;
        CfgStatus status;
        const char* detail;
        bool folder_is_a_file = false;
    } rows[] = {
        {"missing: created", std::nullopt, true, CfgStatus::written, "created"},
        {"current: left alone", current, true, CfgStatus::up_to_date, "already current"},
        {"current with CRLF: left alone", with_crlf(current), true, CfgStatus::up_to_date, "already current"},
        {"another port: updated", gsi_cfg_text(5000, "tok"), true, CfgStatus::written, "updated"},
        {"another token, --no-write-cfg: kept", gsi_cfg_text(47474, "old"), false, CfgStatus::stale,
         "differs from what the agent would write (--no-write-cfg)"},
        {"missing, --no-write-cfg: not created", std::nullopt, false, CfgStatus::stale, "missing (--no-write-cfg)"},
        {"the folder is a file", std::nullopt, true, CfgStatus::failed, "cannot write", true},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const auto cfg = make_temp_dir("cfg-write") / "cfg";
        if (row.existing) write_test_file(cfg / kGsiCfgName, *row.existing);
        if (row.folder_is_a_file) write_test_file(cfg, "a file, not a folder");
        const CfgResult result = write_gsi_cfg(cfg, 47474, "tok", row.write);
        EXPECT_EQ(result.status, row.status);
        EXPECT_EQ(result.detail, row.detail);
        EXPECT_EQ(result.path, cfg / kGsiCfgName);
        if (row.status == CfgStatus::written) {
            EXPECT_EQ(read_test_file(result.path), current);
        } else if (!row.folder_is_a_file) {
            EXPECT_EQ(std::filesystem::exists(result.path), row.existing.has_value());
            EXPECT_EQ(read_test_file(result.path), row.existing.value_or(""));
        }
    }
}

TEST(CfgFiles, StartUpReportsBothFilesAndWritesOnlyWhenAllowed) {
    const auto root = make_temp_dir("cfg-report-\xe5\xad\x97");
    EventLog log;
    ASSERT_TRUE(log_open(log, root / "logs"));
    std::filesystem::create_directories(root / "cfg");
    set_up_cfg_files(log, root / "cfg", 47474, "tok", false);
    EXPECT_TRUE(std::filesystem::is_empty(root / "cfg"));
    set_up_cfg_files(log, root / "cfg", 47474, "tok", true);
    EXPECT_EQ(read_test_file(root / "cfg" / kExecCfgName), exec_cfg_text());
    std::fflush(log.file);
    std::vector<nlohmann::json> records;
    const std::string text = read_test_file(log.path);
    for (std::size_t start = 0, end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
        records.push_back(nlohmann::json::parse(text.substr(start, end - start)));
    ASSERT_EQ(records.size(), 4u);
    EXPECT_EQ(records[0]["status"], "stale");
    EXPECT_EQ(records[2]["event"], "cfg");
    EXPECT_EQ(records[2]["file"], "gsi");
    EXPECT_EQ(records[2]["status"], "written");
    EXPECT_EQ(records[2]["path"], path_to_utf8(root / "cfg" / kGsiCfgName));
    EXPECT_EQ(records[3]["file"], "exec");
}

TEST(CfgFiles, TokenIsReadBackWhateverTheTopLevelKey) {
    const struct {
        const char* name;
        const char* text;   // null: no file
        const char* token;
    } rows[] = {
        {"no file", nullptr, ""},
        {"as written", "\"vantor\" { \"auth\" { \"token\" \"0123456789abcdef\" } }", "0123456789abcdef"},
        {"another key, CRLF, escapes resolved", "\"Else\"\r\n{\r\n\t\"auth\" { \"token\" \"old\\\\one\" }\r\n}\r\n",
         "old\\one"},
        {"no auth block", "\"vantor\" { \"uri\" \"x\" }", ""},
        {"does not parse", "\"vantor\" { \"auth\" { \"token\" \"cut", ""},
        {"no top-level entry", "", ""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const auto cfg = make_temp_dir("cfg-token");
        if (row.text) write_test_file(cfg / kGsiCfgName, row.text);
        EXPECT_EQ(read_gsi_cfg_token(cfg), row.token);
    }
}

}  // namespace
