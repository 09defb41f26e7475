#include "core/event_log.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <thread>
#include <vector>

#include "core/text.h"
#include "tests/support/test_support.h"

using nlohmann::json;

TEST(EventLog, RecordMergesObjectsWrapsOtherValuesAndTruncatesTheTime) {
    const std::int64_t stamp = 17650501439999999LL;   // 2025-12-06 19:42:23.9999999 UTC, 100 ns units
    const json merged = event_record("error", json{{"where", "tail_open"}}, stamp);
    EXPECT_EQ(merged["where"].get<std::string>() + " " + merged["ts"].get<std::string>(), "tail_open 2025-12-06T19:42:23.999Z");
    EXPECT_EQ(event_record("x", "text", stamp)["value"], "text");
}

// Every record is one line of valid JSON. A player's name with a colour, a
// title and a hyperlink is kept in the record; the console shows it defanged
// on every road (event text and plain lines).
TEST(EventLog, EveryRecordIsOneLineOfValidJsonAndTheConsoleGetsNoEscapes) {
    const std::string name = "\x1b[31mred\x1b]0;title\x07\x1b]8;;https://evil.example\x1b\\x\xC2\x9B" "2J";
    EventLog log;
    ASSERT_TRUE(log_open(log, make_temp_dir("event-log") / "logs"));
    testing::internal::CaptureStdout();
    log_event(log, "gsi_player_new", json{{"name", name}}, "gsi player: '" + name + "'");
    log_console(log, "    76561198000000001  gsi            CT     " + name);
    const std::string console = testing::internal::GetCapturedStdout();
    EXPECT_EQ(console.find('\x1b'), std::string::npos) << console;
    EXPECT_EQ(console.find("\xC2\x9B"), std::string::npos) << console;
    EXPECT_EQ(logged_events(log, "gsi_player_new").at(0)["name"], name);
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
    EXPECT_EQ(std::count(content.begin(), content.end(), '\n'), 203);
    EXPECT_EQ(content.back(), '\n');
    EXPECT_EQ(logged_events(log, "tick").size(), 200u);   // each line parses on its own
    EXPECT_EQ(logged_events(log, "status_match").at(0)["name"], "cut \xEF\xBF\xBD");
    EXPECT_EQ(logged_events(log, "gsi_event").at(0)["raw"], "a\nb");
}
