// The match record across whole main-loop passes: GSI bodies in the
// listener's queue and lines in a real console.log go through the loop's own
// pass, so a reset, a status block and a request for the room take the
// agent's path; and the GSI step of a pass alone, a bounded share of the
// queue a pass.
#include "agent/main_loop.h"

#include <gtest/gtest.h>

#include <fstream>
#include <memory>

#include "core/text.h"
#include "rooms/room_persistence.h"
#include "tests/support/test_support.h"

namespace {

constexpr const char* kReservation = "8512345";
const std::string kKey = "0123456789abcdef0123456789abcdef";

std::string fixture(const char* name) {
    return read_test_file(source_dir() / path_from_utf8("tests/gsi/data") / path_from_utf8(name));
}

Roster final_roster() {
    Roster roster;
    for (std::uint64_t i = 0; i < 10; ++i) roster.players.push_back({76561198000000001ULL + i, "p", "coplay", "CT", 0});
    roster.validated = roster.complete = true;
    roster.room_key = kKey;
    roster.reservation = kReservation;
    roster.expected = 10;
    return roster;
}

// A loop as start-up leaves it without Steam, API or tray, watching a
// console.log of its own; the room of the match is saved in its data folder.
struct Agent {
    AgentOptions options;
    Cs2Install install;
    EventLog log;
    std::unique_ptr<MainLoop> loop;

    Agent() {
        const auto dir = make_temp_dir("match-record");
        EXPECT_TRUE(log_open(log, dir));
        options.console_log = dir / "console.log";
        write_test_file(options.console_log, "");
        options.write_cfg = false;
        loop = std::make_unique<MainLoop>(options, install, log);
        loop->data_folder = dir / "data";
        loop->settings.gsi_token = "Fh3kQ9vT2mXc8LpA";
        open_tail(*loop);
        save_room_in(log, loop->data_folder, kKey, "https://rooms.example/r/1", kReservation, "de_mirage");
    }

    // One pass after these GSI bodies and console.log lines arrived.
    void pass(const std::vector<std::string>& bodies, const std::vector<std::string>& lines = {}) {
        for (const std::string& body : bodies) loop->listener.enqueue(body);
        std::string text;
        for (const std::string& line : lines) text += "12/06 21:14:03 [Client] " + line + "\r\n";
        std::ofstream(options.console_log, std::ios::binary | std::ios::app) << text;
        RoomPassContext rooms = room_context(*loop);
        run_pass(*loop, rooms);
    }
    // On de_mirage with three players from GSI, the roster final when asked.
    void on_mirage(bool final) {
        loop->match.gsi_players[76561190000000001ull].name = "left over from the last match";
        pass({fixture("warmup_mirage.json"), fixture("observer_switch.json")});
        // In order: the starting body replaced the record, the next one's three players are in the new one.
        EXPECT_EQ(loop->match.gsi_players.size(), 3u);
        EXPECT_EQ(loop->match.gsi_players.count(76561190000000001ull), 0u);
        if (final) settle_roster(log, loop->match, final_roster(), false, 76561198000000001ULL);
        EXPECT_EQ(loop->match.final, final);
    }
    std::vector<nlohmann::json> log_of(const char* event) { return logged_events(log, event); }
    std::size_t count(const char* event) { return log_of(event).size(); }
};

std::vector<std::string> status(const std::string& players_line) {
    return {"----- Status -----", players_line, "---------players--------", "#end"};
}

// What a status block does to the match record, by what the record held.
TEST(MatchRecord, AStatusBlockStartsAnotherMatchOnlyForAFinalRosterAndAnotherReservation) {
    struct Row { const char* name; bool final; const char* players_line; bool changed; };
    const Row rows[] = {
        {"a roster not final yet is never reset", false, "players : 10 humans, 0 bots (10 max) (reserved 9900001)", false},
        {"a block without a reservation never changes the match", true, "players : 9 humans, 0 bots (10 max) (unreserved)", false},
        {"the same reservation is the same match", true, "players : 10 humans, 0 bots (10 max) (reserved 8512345)", false},
        {"another reservation after a final roster is another match", true, "players : 10 humans, 0 bots (10 max) (reserved 9900001)", true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Agent agent;
        MatchState& match = agent.loop->match;
        agent.on_mirage(row.final);
        const std::int64_t started = match.start_time;
        const std::size_t players = match.gsi_players.size();
        ASSERT_NE(started, 0);
        agent.pass({}, status(row.players_line));
        EXPECT_TRUE(match.last_status.has_value());   // the block is taken either way
        EXPECT_EQ(agent.count("match_changed"), row.changed ? 1u : 0u);
        EXPECT_EQ(match.final, row.final && !row.changed);
        EXPECT_EQ(match.room.key, row.changed ? "" : (row.final ? kKey : ""));
        EXPECT_EQ(match.gsi_players.size(), row.changed ? 0u : players);
        EXPECT_EQ(match.connect_time_reliable, !row.changed);
        if (!row.changed) { EXPECT_EQ(match.start_time, started); }
    }
}

// Asked for by typing `vantor`, the room saved for the reservation of the
// status block is handed over once; back in the menu (or on another map) the
// record starts afresh and the same word hands over nothing.
TEST(MatchRecord, TheMenuOrAnotherMapEndsTheRoomOfTheMatch) {
    const std::string typed = "[Console] Unknown command: vantor";
    std::string dust2 = fixture("warmup_mirage.json");
    for (const std::string& leave : {fixture("menu.json"), dust2.replace(dust2.find("de_mirage"), 9, "de_dust2")}) {
        Agent agent;
        MatchState& match = agent.loop->match;
        agent.on_mirage(true);
        agent.pass({}, {typed});
        EXPECT_EQ(agent.count("room_delivered"), 0u);   // no status block, no link yet: the request waits
        agent.pass({fixture("live_round3.json")}, status("players : 10 humans, 0 bots (10 max) (reserved 8512345)"));
        EXPECT_TRUE(match.final);   // the same map: the match goes on
        agent.pass({});
        EXPECT_EQ(agent.log_of("room_delivered").at(0)["url"], "https://rooms.example/r/1");
        EXPECT_EQ(agent.log_of("room_link_restored").at(0)["reservation"], kReservation);

        agent.pass({leave});
        const bool menu = leave.find("de_dust2") == std::string::npos;
        EXPECT_EQ(match.start_time == 0, menu);
        EXPECT_EQ(match.room.map, menu ? "" : "de_dust2");
        EXPECT_FALSE(match.final);
        EXPECT_FALSE(match.last_status.has_value());
        EXPECT_EQ(match.room.url + match.room.key, "");
        agent.pass({}, {typed});
        agent.pass({});
        EXPECT_EQ(agent.count("room_requested"), 2u);
        EXPECT_EQ(agent.count("room_delivered"), 1u);
        EXPECT_TRUE(match.room_requested);   // waits for this match's room
    }
}

// A flood of wrong-token POSTs, shaped like the game's bodies: the queue keeps
// the newest, a pass takes a bounded share oldest first (so the console and
// the stop flag come round every pass), and the dropped bodies are reported
// once in a --debug record.
TEST(GsiPass, AFloodIsHandledABoundedShareAPass) {
    const std::string token = "Fh3kQ9vT2mXc8LpA";
    GsiListener listener;   // never started: the test fills its queue
    EventLog log;
    MatchState match;
    GsiView view;
    ASSERT_TRUE(log_open(log, make_temp_dir("gsi-pass")));
    log.debug = true;
    auto pass = [&](std::initializer_list<std::string> bodies) {
        for (const std::string& body : bodies) listener.enqueue(body);
        return handle_gsi_queue(listener, token, match, view, log);
    };
    std::string foreign = fixture("live_round3.json");
    foreign.replace(foreign.find(token), 16, "not-the-token-16");
    for (int i = 0; i < 300; ++i) listener.enqueue(foreign);
    listener.enqueue(fixture("warmup_mirage.json"));   // the game's own, last
    std::vector<std::size_t> handled;
    while (!listener.queue.empty() && handled.size() < 20) handled.push_back(pass({}));
    EXPECT_EQ(handled, std::vector<std::size_t>(kGsiQueueMaxBodies / kGsiBodiesPerPass, kGsiBodiesPerPass));
    EXPECT_EQ(match.room.map, "de_mirage");   // reached, in order, after the flood
    EXPECT_EQ(logged_events(log, "gsi_dropped").at(0)["dropped"], 301 - kGsiQueueMaxBodies);
    // Bodies of 1.5 MiB: one a pass, since two pass the byte bound.
    const std::string big = "{\"padding\": \"" + std::string(1536 * 1024, 'x') + "\"," + foreign.substr(1);
    EXPECT_EQ(pass({big, big, big}), 1u);
    EXPECT_EQ(pass({}), 1u);
    EXPECT_EQ(logged_events(log, "gsi_dropped").size(), 1u);   // nothing new dropped: no new record
}

}  // namespace
