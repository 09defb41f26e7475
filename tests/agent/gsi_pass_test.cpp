// The GSI step of a pass: queued bodies reach the match record in order, and
// a match start or end replaces the whole record, room and request included.
#include "agent/gsi_pass.h"

#include <string>

#include <gtest/gtest.h>

#include "agent/match_state.h"
#include "core/event_log.h"
#include "core/text.h"
#include "gsi/gsi_listener.h"
#include "tests/support/test_support.h"

namespace {

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
        for (const std::string& body : bodies) listener.queue.push_back(body);
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

}  // namespace
