#include "gsi/cfg_files.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "core/event_log.h"
#include "core/text.h"
#include "tests/support/test_support.h"

namespace {

std::string with_crlf(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '\n')
            out += '\r';
        out += c;
    }
    return out;
}

std::size_t files_in(const std::filesystem::path& folder) {
    std::size_t count = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(folder))
        ++count;
    return count;
}

}  // namespace

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

TEST(CfgFiles, ExecCfgTextHasItsShape) {
    const std::string& text = exec_cfg_text();
    EXPECT_TRUE(starts_with(text, "// vantor - written automatically, and safe to delete.\n//\n"));
    EXPECT_TRUE(text.size() > 7 && text.substr(text.size() - 8) == "\nstatus\n");
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 37);
    EXPECT_EQ(text.find('\r'), std::string::npos);
    EXPECT_NE(text.find("\nbind \"tab\" \"+showscores\"\n"), std::string::npos);
    EXPECT_NE(text.find("//   exec vantor_room   prints the link here in the console AND copies it\n"),
              std::string::npos);
    // Only two lines do anything: the Tab bind and status (no echo of its own).
    std::vector<std::string> commands;
    std::size_t start = 0;
    for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
        const std::string line = text.substr(start, end - start);
        if (!line.empty() && !starts_with(line, "//"))
            commands.push_back(line);
    }
    EXPECT_EQ(commands, (std::vector<std::string>{"bind \"tab\" \"+showscores\"", "status"}));
}

TEST(CfgFiles, CreatedThenCurrentThenUpdated) {
    const auto cfg = make_temp_dir("cfg-cycle") / "cfg";
    CfgResult result = write_gsi_cfg(cfg, 47474, "aaaa", true);
    EXPECT_EQ(result.status, CfgStatus::written);
    EXPECT_EQ(result.detail, "created");
    EXPECT_EQ(result.path, cfg / kGsiCfgName);
    EXPECT_EQ(read_test_file(result.path), gsi_cfg_text(47474, "aaaa"));

    result = write_gsi_cfg(cfg, 47474, "aaaa", true);
    EXPECT_EQ(result.status, CfgStatus::up_to_date);
    EXPECT_EQ(result.detail, "already current");

    result = write_gsi_cfg(cfg, 47474, "bbbb", false);
    EXPECT_EQ(result.status, CfgStatus::stale);
    EXPECT_EQ(result.detail, "differs from what the agent would write (--no-write-cfg)");
    EXPECT_EQ(read_test_file(result.path), gsi_cfg_text(47474, "aaaa"));

    result = write_gsi_cfg(cfg, 5000, "aaaa", true);
    EXPECT_EQ(result.status, CfgStatus::written);
    EXPECT_EQ(result.detail, "updated");
    EXPECT_EQ(read_test_file(result.path), gsi_cfg_text(5000, "aaaa"));
}

TEST(CfgFiles, CrLfCopiesAreUpToDateAndLeftAlone) {
    const auto cfg = make_temp_dir("cfg-crlf");
    const std::string gsi = with_crlf(gsi_cfg_text(47474, "tok"));
    const std::string exec = with_crlf(exec_cfg_text());
    write_test_file(cfg / kGsiCfgName, gsi);
    write_test_file(cfg / kExecCfgName, exec);
    EXPECT_EQ(write_gsi_cfg(cfg, 47474, "tok", true).status, CfgStatus::up_to_date);
    EXPECT_EQ(write_exec_cfg(cfg, true).status, CfgStatus::up_to_date);
    EXPECT_EQ(read_test_file(cfg / kGsiCfgName), gsi);
    EXPECT_EQ(read_test_file(cfg / kExecCfgName), exec);
}

TEST(CfgFiles, NoWriteLeavesTheFolderUntouched) {
    const auto root = make_temp_dir("cfg-nowrite");
    const auto cfg = root / "cfg";
    std::filesystem::create_directories(cfg);
    EventLog log;
    set_up_cfg_files(log, cfg, 47474, "tok", false);
    EXPECT_EQ(files_in(cfg), 0u);
    const CfgResult exec = write_exec_cfg(cfg, false);
    EXPECT_EQ(exec.status, CfgStatus::stale);
    EXPECT_EQ(exec.detail, "missing (--no-write-cfg)");
    // Without a cfg folder nothing is created either.
    EXPECT_EQ(write_exec_cfg(root / "absent", false).status, CfgStatus::stale);
    EXPECT_FALSE(std::filesystem::exists(root / "absent"));
}

TEST(CfgFiles, UnwritableFolderFails) {
    const auto root = make_temp_dir("cfg-fail");
    write_test_file(root / "cfg", "a file, not a folder");
    const CfgResult result = write_exec_cfg(root / "cfg", true);
    EXPECT_EQ(result.status, CfgStatus::failed);
    EXPECT_EQ(result.detail, "cannot write");
    EXPECT_STREQ(cfg_status_name(static_cast<CfgStatus>(7)), "unknown");
}

TEST(CfgFiles, ReportAndHintsGoToTheLog) {
    const auto root = make_temp_dir("cfg-report-\xe5\xad\x97");
    EventLog log;
    ASSERT_TRUE(log_open(log, root / "logs"));
    set_up_cfg_files(log, root / "cfg", 47474, "tok", true);
    set_up_cfg_files(log, root / "cfg", 47474, "tok", true);
    std::fflush(log.file);
    const std::string text = read_test_file(log.path);
    std::vector<nlohmann::json> records;
    std::size_t start = 0;
    for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
        records.push_back(nlohmann::json::parse(text.substr(start, end - start)));
    ASSERT_EQ(records.size(), 4u);
    EXPECT_EQ(records[0]["event"], "cfg");
    EXPECT_EQ(records[0]["file"], "gsi");
    EXPECT_EQ(records[0]["status"], "written");
    EXPECT_EQ(records[0]["detail"], "created");
    EXPECT_EQ(records[0]["path"], path_to_utf8(root / "cfg" / kGsiCfgName));
    EXPECT_EQ(records[1]["file"], "exec");
    EXPECT_EQ(records[2]["status"], "up-to-date");
    EXPECT_EQ(records[3]["detail"], "already current");
}

TEST(CfgFiles, TokenIsReadBackWhateverTheTopLevelKey) {
    const auto cfg = make_temp_dir("cfg-token");
    EXPECT_EQ(read_gsi_cfg_token(cfg), "");   // no file
    write_test_file(cfg / kGsiCfgName, gsi_cfg_text(47474, "0123456789abcdef"));
    EXPECT_EQ(read_gsi_cfg_token(cfg), "0123456789abcdef");
    write_test_file(cfg / kGsiCfgName,
                    "\"Something Else\"\r\n{\r\n\t\"auth\" { \"token\" \"old\\\\one\" }\r\n}\r\n");
    EXPECT_EQ(read_gsi_cfg_token(cfg), "old\\one");   // escapes resolved by the reader
    write_test_file(cfg / kGsiCfgName, "\"vantor\" { \"uri\" \"x\" }");
    EXPECT_EQ(read_gsi_cfg_token(cfg), "");           // no auth block
    write_test_file(cfg / kGsiCfgName, "\"vantor\" { \"auth\" { \"token\" \"cut");
    EXPECT_EQ(read_gsi_cfg_token(cfg), "");           // does not parse
    write_test_file(cfg / kGsiCfgName, "");
    EXPECT_EQ(read_gsi_cfg_token(cfg), "");           // no top-level entry
}
