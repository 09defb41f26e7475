// GSI payloads: the token decision, the players, the state and the match
// transitions, checked on the decisions and the events they write.
#include "gsi/gsi_payload.h"

#include <gtest/gtest.h>

#include "core/event_log.h"
#include "core/text.h"
#include "tests/support/test_support.h"

using nlohmann::json;

namespace {

constexpr const char* kToken = "Fh3kQ9vT2mXc8LpA";
using Names = std::vector<std::string>;

// A recorded payload, with some members replaced (a JSON merge patch).
json fixture(std::string_view name, const json& patch = json::object()) {
    json payload = json::parse(read_test_file(source_dir() / "tests" / "gsi" / "data" / path_from_utf8(name)));
    payload.merge_patch(patch);
    return payload;
}

// The main loop's side of the handover, with the event log read back per step.
struct Feed : ::testing::Test {
    EventLog log;
    GsiPlayers players;
    GsiState last;
    bool have = false;
    std::string token = kToken;
    std::size_t seen_lines = 0;
    GsiDecision decision;
    GsiDropLog drops;

    void SetUp() override { ASSERT_TRUE(log_open(log, make_temp_dir("gsi-payload"))); }
    void forget() { players.clear(), have = false, last = GsiState{}, drops = GsiDropLog{}; }
    // Feeds one body; the records it wrote.
    std::vector<json> feed(std::string_view body) {
        decision = handle_gsi_body(body, token, players, last, have, log, drops);
        std::vector<json> out;
        const std::string text = read_test_file(log.path);
        std::size_t line = 0;
        for (std::size_t at = 0, end; (end = text.find('\n', at)) != std::string::npos; at = end + 1)
            if (line++ >= seen_lines) out.push_back(json::parse(text.substr(at, end - at)));
        seen_lines = line;
        return out;
    }
    Names feed_names(const json& body) {
        Names names;
        for (const json& e : feed(body.dump())) names.push_back(e["event"]);
        return names;
    }
};

TEST_F(Feed, MatchTransitionsFollowTheMapName) {
    const json anubis = fixture("warmup_mirage.json", {{"map", {{"name", "de_anubis"}, {"phase", "intermission"}}}});
    const Names started = {"match_started", "gsi_phase_change"};
    const struct { const char* name; json body; GsiMatchChange change; Names logged; } steps[] = {
        {"menu first: a phase only", fixture("menu.json"), GsiMatchChange::none, {"gsi_player_new", "gsi_phase_change"}},
        {"a map shows up", fixture("warmup_mirage.json"), GsiMatchChange::started, started},
        {"only clock and name moved", fixture("warmup_mirage.json", {{"provider", {{"timestamp", 1733512999}}},
                                                                     {"player", {{"name", "kestrel (2)"}}}}),
         GsiMatchChange::none, {}},
        {"same map, the phase moves on", fixture("live_round3.json"), GsiMatchChange::none, {"gsi_phase_change"}},
        {"straight to another map", anubis, GsiMatchChange::started, started},
        {"back in the menu", fixture("menu.json"), GsiMatchChange::ended, {"match_ended", "gsi_phase_change"}},
        {"the same map again", anubis, GsiMatchChange::started, started},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.name);
        EXPECT_EQ(feed_names(step.body), step.logged);
        EXPECT_EQ(decision.change, step.change);
        EXPECT_EQ(decision.map, step.change == GsiMatchChange::started ? step.body["map"].value("name", "") : "");
        EXPECT_EQ(decision.start_time > 1700000000, step.change == GsiMatchChange::started);
    }
}

TEST_F(Feed, ConnectTimeIsReliableOnlyBeforeTheFirstRound) {
    const struct { const char* name; json map; bool reliable; } rows[] = {
        {"warmup, round 0", {{"phase", "warmup"}, {"round", 0}}, true},
        {"warmup, round 1", {{"phase", "warmup"}, {"round", 1}}, false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        forget();
        feed(fixture("warmup_mirage.json", {{"map", row.map}}).dump());
        EXPECT_EQ(decision.change, GsiMatchChange::started);   // the first state on a map starts a match
        EXPECT_EQ(decision.connect_time_reliable, row.reliable);
    }
}

TEST_F(Feed, TokenMustMatchExactly) {
    // auth null: no "auth" member
    const struct { const char* name; std::string configured; json auth; bool accepted; } rows[] = {
        {"the same token", kToken, {{"token", kToken}}, true},
        {"no auth while one is configured", kToken, nullptr, false},
        {"a longer token", kToken, {{"token", std::string(kToken) + " "}}, false},
        {"none configured, none sent", "", nullptr, true},
        {"none configured, a token sent", "", {{"token", "x"}}, false},
        {"none configured, a null token", "", {{"token", nullptr}}, false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        token = row.configured;
        forget();
        json payload = fixture("live_round3.json");
        payload.erase("auth");
        if (!row.auth.is_null()) payload["auth"] = row.auth;
        const Names logged = feed_names(payload);
        EXPECT_EQ(decision.change, row.accepted ? GsiMatchChange::started : GsiMatchChange::none);
        EXPECT_EQ(players.size() + have, row.accepted ? 2u : 0u);
        EXPECT_EQ(logged.front(), row.accepted ? "gsi_player_new" : "error");
    }
}

// A local program flooding the listener with a wrong token: the first drop is
// told, then at most one summary a minute with the count since the last line.
TEST(GsiFlood, WrongTokensAreToldOnceThenOnceAMinute) {
    GsiDropLog drops;
    const std::uint32_t t0 = 0xFFFFF000u;   // the tick count wraps during the flood
    const struct { const char* name; std::uint32_t now; int drops; std::uint64_t told; } rows[] = {
        {"the first drop is told", t0, 1, 1},
        {"thousands in the same second are counted", t0 + 900, 11963, 0},
        {"still within the minute", t0 + 59999, 1, 0},
        {"a minute after the first: the summary counts all since", t0 + 60000, 1, 11965},
        {"then quiet again for a minute", t0 + 60001, 500, 0},
        {"a late single drop carries the rest", t0 + 600000, 1, 501},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        std::uint64_t told = 0;
        for (int i = 0; i < row.drops; ++i) told += count_gsi_drop(drops, row.now);
        EXPECT_EQ(told, row.told);
    }
}

TEST_F(Feed, AFloodWritesOneRecordWithinAMinute) {
    json payload = fixture("live_round3.json");
    payload["auth"] = {{"token", "wrong"}};
    std::size_t records = 0;
    for (int i = 0; i < 300; ++i) records += feed(payload.dump()).size();
    EXPECT_EQ(records, 1u);
    EXPECT_EQ(drops.untold, 299u);
    EXPECT_TRUE(players.empty());
}

TEST_F(Feed, PlayersAreCollectedFromEverySectionAndMergedOnce) {
    feed(fixture("observer_switch.json").dump());
    EXPECT_EQ(players.size(), 3u);
    // Seen again: merged silently, the last non-empty values win.
    EXPECT_EQ(feed_names(fixture("observer_switch.json", {{"player", {{"name", ""}, {"team", "T"}, {"observer_slot", nullptr}}}})),
              Names{});
    const GsiPlayer& p = players.at(76561198211873064ull);
    EXPECT_EQ(p.name + " " + p.team, "Шаман ☾ T");
    EXPECT_EQ(p.observer_slot, 5);
    EXPECT_EQ(p.times_seen, 2);
}

// Dead and watching a bot: GSI names it with a stand-in id (76561197960265728
// plus its index), which must never take a player's place.
TEST_F(Feed, BotsAreDropped) {
    log.debug = true;
    using Row = std::pair<const char*, bool>;
    for (const auto& [steamid, kept] : {Row{"76561197960265729", false}, Row{"76561197960265792", false},
                                        Row{"76561197960265793", true}}) {
        SCOPED_TRACE(steamid);   // a bot's, account 64 still a bot's, account 65 a player's
        forget();
        EXPECT_EQ(feed_names(fixture("observer_switch.json", {{"player", {{"steamid", steamid}}}}))[0],
                  kept ? "gsi_player_new" : "gsi_player_dropped");
        EXPECT_EQ(players.size(), kept ? 3u : 2u);
    }
}

TEST(GsiPlayers, SteamidsAreNonZeroDecimalTextWithin64Bits) {
    // id 0: no player
    const struct { const char* name; json steamid; std::uint64_t id; } rows[] = {
        {"plain", "76561198044120577", 76561198044120577ull},
        {"the largest", "18446744073709551615", 18446744073709551615ull},
        {"one past 64 bits", "18446744073709551617", 0},
        {"a JSON number", 76561198044120577ull, 0},
        {"zero", "0", 0},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const std::vector<GsiPlayerSeen> seen = gsi_players_of({{"player", {{"steamid", row.steamid}}}});
        EXPECT_EQ(seen.empty() ? 0 : seen[0].steamid, row.id);
    }
    // Wrong shapes around the player objects are skipped, not fatal.
    EXPECT_TRUE(gsi_players_of({{"player", "76561198044120577"}, {"previously", {{"player", 1}}}, {"added", "x"}}).empty());
}

TEST_F(Feed, BodiesThatAreNotObjectsChangeNothing) {
    feed(fixture("warmup_mirage.json").dump());
    log.debug = true;   // the debug record would have to copy and print a payload
    const std::string deep = "{\"a\":" + std::string(200000, '[') + std::string(200000, ']') + "}";
    for (const std::string& body : {std::string(), std::string("null"), std::string("[{\"map\":{}}]"),
                                    std::string("{\"map\":"), std::string("{} {}"), std::string("\xff\xfe{}"), deep}) {
        SCOPED_TRACE(body.substr(0, 12));
        const std::vector<json> logged = feed(body);
        ASSERT_EQ(logged.size(), 1u);
        EXPECT_EQ(logged[0]["where"], "gsi_payload");
        EXPECT_EQ(logged[0]["detail"], body == deep ? "nested too deeply" : "not a JSON object");
    }
    EXPECT_EQ(last.map_name, "de_mirage");
    EXPECT_EQ(players.begin()->second.times_seen, 1);

    // Brackets inside strings, after an escaped quote too, are text, not nesting.
    EXPECT_EQ(feed_names(fixture("warmup_mirage.json", {{"player", {{"name", std::string("\"").append(500, '[')}}}})),
              Names{"gsi_event"});   // the one --debug record of an accepted payload
}

}  // namespace
