#include "core/event_log.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "core/text.h"
#include "tests/support/test_support.h"

using nlohmann::json;

namespace {
// 2025-12-06 19:42:23.9999999 UTC in 100 ns units since 1970.
constexpr std::int64_t kStamp = 17650501439999999LL;
}

TEST(EventLog, RecordMergesObjectsAndWrapsOtherValues) {
    const json plain = event_record("started", nullptr, kStamp);
    EXPECT_EQ(plain.size(), 3u);
    EXPECT_EQ(plain["event"], "started");
    EXPECT_EQ(event_record("x", "text", kStamp)["value"], "text");
    EXPECT_EQ(event_record("x", json::array({1, 2}), kStamp)["value"], json::array({1, 2}));
    const json merged = event_record("error", json{{"where", "tail_open"}, {"b", 1}, {"a", 2}}, kStamp);
    // Keys come out in byte order, whatever order they were built in.
    EXPECT_EQ(merged.dump().substr(0, 20), R"({"a":2,"b":1,"event")");
    EXPECT_EQ(merged["where"], "tail_open");
}

TEST(EventLog, TimestampTruncatesMilliseconds) {
    const json record = event_record("x", nullptr, kStamp);
    EXPECT_EQ(record["ts"], "2025-12-06T19:42:23.999Z");
    EXPECT_EQ(record["local"].get<std::string>().size(), 14u);
}

TEST(EventLog, ConsolePrefixWidth) {
    EXPECT_EQ(console_prefix(0.04), "[    0.0s] ");
    EXPECT_EQ(console_prefix(12.3), "[   12.3s] ");
    EXPECT_EQ(console_prefix(1234.56), "[ 1234.6s] ");
    EXPECT_EQ(console_prefix(12345678.9), "[12345678.9s] ");
}

// A player's name with a colour, a title and a hyperlink: the console shows
// it defanged on every road (event text and plain lines); the record keeps it.
TEST(EventLog, ConsoleLinesCannotCarryEscapeSequences) {
    const std::string name = "\x1b[31mred\x1b]0;title\x07\x1b]8;;https://evil.example\x1b\\x\xC2\x9B" "2J";
    const auto dir = make_temp_dir("event-log-escapes");
    EventLog log;
    ASSERT_TRUE(log_open(log, dir));
    testing::internal::CaptureStdout();
    log_event(log, "gsi_player_new", json{{"name", name}}, "gsi player: '" + name + "'");
    log_console(log, "    76561198000000001  gsi            CT     " + name);
    const std::string console = testing::internal::GetCapturedStdout();
    EXPECT_EQ(console.find('\x1b'), std::string::npos) << console;
    EXPECT_EQ(console.find("\xC2\x9B"), std::string::npos) << console;
    EXPECT_TRUE(contains(console, "?[31mred?]0;title??]8;;https://evil.example?\\x?2J\n"));
    EXPECT_EQ(json::parse(read_test_file(log.path))["name"], name);
}

TEST(EventLog, EveryRecordIsOneLineOfValidJson) {
    const auto dir = make_temp_dir("event-log");
    EventLog log;
    ASSERT_TRUE(log_open(log, dir / "logs"));
    EXPECT_TRUE(starts_with(path_to_utf8(log.path.filename()), "agent-"));
    log_event(log, "status_match", json{{"name", std::string("cut \xE2\x82")}}, "");
    log_debug_event(log, "gsi_event", json{{"raw", 1}}, "");   // dropped: debug is off
    log.debug = true;
    log_debug_event(log, "gsi_event", json{{"raw", "a\nb"}}, "");
    // Writers on several threads never interleave inside a record.
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&log, t] {
            for (int i = 0; i < 50; ++i) log_event(log, "tick", json{{"t", t}, {"i", i}}, "");
        });
    for (auto& thread : threads) thread.join();

    const std::string content = read_test_file(log.path);
    std::vector<json> records;
    std::size_t start = 0;
    for (std::size_t end; (end = content.find('\n', start)) != std::string::npos; start = end + 1) {
        json record = json::parse(content.substr(start, end - start), nullptr, false);
        ASSERT_FALSE(record.is_discarded()) << content.substr(start, end - start);
        records.push_back(record);
    }
    EXPECT_EQ(start, content.size());   // the file ends in a line feed
    ASSERT_EQ(records.size(), 202u);
    EXPECT_EQ(records[0]["name"], "cut \xEF\xBF\xBD");
    EXPECT_EQ(records[1]["event"], "gsi_event");
    EXPECT_EQ(records[1]["raw"], "a\nb");
}

TEST(EventLog, AnUnwritableFolderLeavesTheLogConsoleOnly) {
    const auto dir = make_temp_dir("event-log-blocked");
    write_test_file(dir / "file", "x");
    EventLog log;
    EXPECT_FALSE(log_open(log, dir / "file" / "logs"));
    EXPECT_TRUE(log.path.empty());
    log_event(log, "x", nullptr, "");   // must not crash
}
