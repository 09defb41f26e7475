#include "agent/room_delivery.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "agent/match_state.h"
#include "core/event_log.h"
#include "rooms/room_persistence.h"
#include "tests/support/test_support.h"

const std::string kKey = "0123456789abcdef0123456789abcdef";
constexpr std::uint64_t kSelf = 76561198000000001ULL;

// A roster of `size` players as assembly gives it; with a key or without one.
struct Step { int size; bool validated; bool key; bool wait_over = false; };
Roster roster_of(const Step& step) {
    Roster roster;
    for (int i = 0; i < step.size; ++i) roster.players.push_back({kSelf + i, std::to_string(i), "coplay", "CT", 0});
    roster.validated = step.validated;
    roster.complete = step.size == 10;
    roster.room_key = step.key ? kKey : "";
    roster.reservation = "8512345";
    roster.expected = step.size;
    roster.name_wait_over = step.wait_over;
    if (roster.complete && !step.key) roster.blocked_by = "ten players, but the room key could not be computed";
    return roster;
}

// The rosters of successive passes and what the match record and the log make of them.
TEST(SettleRoster, FromProgressToFinal) {
    struct Row { const char* name; std::vector<Step> steps; std::size_t progress, key_errors; bool final; bool api = true; };
    const Row rows[] = {
        {"the same roster is logged once", {{7, false, false}, {7, false, false}}, 1, 0, false},
        {"validation alone is progress", {{7, false, false}, {7, true, false}}, 2, 0, false},
        {"one more member is progress", {{7, true, false}, {8, true, false}}, 2, 0, false},
        {"a wait for a name that is over is told once", {{9, false, false}, {9, false, false, true}, {9, false, false, true}}, 2, 0, false},
        {"complete but unconfirmed by status never becomes final", {{10, false, true}}, 1, 0, false},
        {"a missing key is reported once", {{10, true, false}, {10, true, false}, {10, true, false}}, 1, 1, false},
        {"a later key still finishes", {{10, true, false}, {10, true, true}}, 1, 1, true},
        {"complete, confirmed and keyed is final once", {{10, true, true}, {10, true, true}}, 1, 0, true},
        {"without an API the final roster is shown, not armed", {{10, true, true}}, 1, 0, true, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        EventLog log;
        ASSERT_TRUE(log_open(log, make_temp_dir("settle")));
        MatchState match;
        for (const Step& step : row.steps) settle_roster(log, match, roster_of(step), row.api, kSelf);
        EXPECT_EQ(logged_events(log, "roster_progress").size(), row.progress);
        EXPECT_EQ(logged_events(log, "error").size(), row.key_errors);
        EXPECT_EQ(match.final, row.final);
        EXPECT_EQ(logged_events(log, "roster_complete").size(), row.final ? 1u : 0u);
        EXPECT_EQ(match.room.key + match.room.reservation, row.final ? kKey + "8512345" : "");
        EXPECT_EQ(match.room.payload.empty(), !(row.final && row.api));   // armed for the POST
    }
}
