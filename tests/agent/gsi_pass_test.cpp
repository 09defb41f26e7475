// The GSI step of a pass: queued bodies reach the match record in order, and
// a match start or end replaces the whole record, room and request included.
#include "agent/gsi_pass.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "agent/match_state.h"
#include "core/event_log.h"
#include "core/text.h"
#include "gsi/gsi_listener.h"
#include "tests/support/test_support.h"

namespace {

std::size_t count_events(const EventLog& log, const std::string& name,
                         std::uint64_t* dropped = nullptr) {
    std::fflush(log.file);
    const std::string text = read_test_file(log.path);
    std::size_t found = 0;
    for (std::size_t at = 0; at < text.size();) {
        std::size_t end = text.find('\n', at);
        if (end == std::string::npos) end = text.size();
        const nlohmann::json record =
            nlohmann::json::parse(text.substr(at, end - at), nullptr, false);
        if (record.is_object() && record.value("event", "") == name) {
            ++found;
            if (dropped) *dropped = record.value("dropped", std::uint64_t{0});
        }
        at = end + 1;
    }
    return found;
}

constexpr const char* kToken = "Fh3kQ9vT2mXc8LpA";

std::string fixture(const char* name) {
    return read_test_file(source_dir() / path_from_utf8("tests/gsi/data") / path_from_utf8(name));
}

struct GsiPass : testing::Test {
    GsiListener listener;   // never started: the test fills its queue
    EventLog log;
    MatchState match;
    GsiView view;

    void SetUp() override { ASSERT_TRUE(log_open(log, make_temp_dir("gsi-pass"))); }

    std::size_t pass(std::initializer_list<std::string> bodies) {
        for (const std::string& body : bodies) listener.enqueue(body);
        return handle_gsi_queue(listener, kToken, match, view, log);
    }

    // A record in the middle of a match: a final roster with its room, asked for.
    void fill_match() {
        match.start_time = 1733512463;
        match.have_status = true;
        match.last_status.reservation = "8512345";
        match.final = true;
        match.room.key = "0123456789abcdef0123456789abcdef";
        match.room.url = "https://rooms.example/r/1";
        match.room_requested = true;
    }
};

TEST_F(GsiPass, BodiesReachTheRecordInOrderOfArrival) {
    match.gsi_players[76561190000000001ull].name = "left over from the last match";
    EXPECT_EQ(pass({fixture("warmup_mirage.json"), fixture("observer_switch.json")}), 2u);
    EXPECT_EQ(match.room.map, "de_mirage");
    EXPECT_NE(match.start_time, 0);
    // The starting body's player went into the replaced record; the second
    // body's three players are in the new one.
    EXPECT_EQ(match.gsi_players.size(), 3u);
    EXPECT_EQ(match.gsi_players.count(76561190000000001ull), 0u);
    EXPECT_EQ(view.last.round, 5);
    EXPECT_TRUE(listener.queue.empty());
}

TEST_F(GsiPass, MenuOrAnotherMapStartsTheRecordAfresh) {
    pass({fixture("warmup_mirage.json")});
    fill_match();
    pass({fixture("live_round3.json")});   // the same map: the match goes on
    EXPECT_TRUE(match.final);
    EXPECT_EQ(match.room.url, "https://rooms.example/r/1");

    pass({fixture("menu.json")});
    EXPECT_EQ(match.start_time, 0);
    EXPECT_FALSE(match.final);
    EXPECT_FALSE(match.have_status);
    EXPECT_FALSE(match.room_requested);
    EXPECT_TRUE(match.room.url.empty());
    EXPECT_TRUE(match.room.key.empty());

    pass({fixture("warmup_mirage.json")});
    fill_match();
    std::string dust2 = fixture("warmup_mirage.json");
    dust2.replace(dust2.find("de_mirage"), 9, "de_dust2");
    pass({dust2});
    EXPECT_NE(match.start_time, 0);
    EXPECT_EQ(match.room.map, "de_dust2");
    EXPECT_FALSE(match.final);
    EXPECT_TRUE(match.room.url.empty());
    EXPECT_FALSE(match.room_requested);
}

// A flood of wrong-token POSTs, shaped like the game's bodies: the queue keeps
// the newest, a pass takes a bounded share oldest first (so the console and
// the stop flag come round every pass), and the dropped bodies are reported
// once in a --debug record.
TEST_F(GsiPass, AFloodIsHandledABoundedShareAPass) {
    log.debug = true;
    std::string foreign = fixture("live_round3.json");
    foreign.replace(foreign.find(kToken), 16, "not-the-token-16");
    for (int i = 0; i < 300; ++i) listener.enqueue(foreign);
    listener.enqueue(fixture("warmup_mirage.json"));  // the game's own body comes last
    EXPECT_EQ(listener.dropped(), 301 - kGsiQueueMaxBodies);

    std::vector<std::size_t> handled;
    while (!listener.queue.empty() && handled.size() < 20) handled.push_back(pass({}));
    EXPECT_EQ(handled,
              std::vector<std::size_t>(kGsiQueueMaxBodies / kGsiBodiesPerPass, kGsiBodiesPerPass));
    EXPECT_EQ(match.room.map, "de_mirage");  // reached, in order, after the flood
    std::uint64_t dropped = 0;
    EXPECT_EQ(count_events(log, "gsi_dropped", &dropped), 1u);
    EXPECT_EQ(dropped, 301 - kGsiQueueMaxBodies);

    // Bodies of 1.5 MiB: one a pass, since two pass the byte bound.
    std::string big = foreign;
    big.insert(1, "\"padding\": \"" + std::string(1536 * 1024, 'x') + "\",");
    EXPECT_EQ(pass({big, big, big}), 1u);
    EXPECT_EQ(pass({}), 1u);
    EXPECT_EQ(count_events(log, "gsi_dropped"), 1u);  // nothing new dropped: no new record
}

}  // namespace
