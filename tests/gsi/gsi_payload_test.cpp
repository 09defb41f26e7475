// GSI payloads: token, players, state and the match transitions, checked on
// the events they write and the decisions they hand the main loop.
#include "gsi/gsi_payload.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "core/event_log.h"
#include "core/text.h"
#include "tests/support/test_support.h"

using nlohmann::json;

namespace {

constexpr const char* kToken = "Fh3kQ9vT2mXc8LpA";

std::string fixture(std::string_view name) {
    return read_test_file(source_dir() / path_from_utf8("tests/gsi/data") / path_from_utf8(name));
}

// A fixture with some members replaced (a JSON merge patch).
std::string patched(std::string_view name, const json& patch) {
    json payload = json::parse(fixture(name));
    payload.merge_patch(patch);
    return payload.dump();
}

// The main loop's side of the handover, with an event log read back per step.
struct Feed : ::testing::Test {
    EventLog log;
    GsiPlayers players;
    GsiState last;
    bool have = false;
    std::string token = kToken;
    std::size_t seen_lines = 0;

    void SetUp() override { ASSERT_TRUE(log_open(log, make_temp_dir("gsi-payload"))); }

    GsiDecision feed(std::string_view body) {
        return handle_gsi_body(body, token, players, last, have, log);
    }
    // Records written since the last call.
    std::vector<json> events() {
        std::vector<json> out;
        std::string text = read_test_file(log.path);
        std::size_t line = 0, at = 0;
        while (at < text.size()) {
            std::size_t end = text.find('\n', at);
            if (end == std::string::npos) break;
            if (line++ >= seen_lines) out.push_back(json::parse(text.substr(at, end - at)));
            at = end + 1;
        }
        seen_lines = line;
        return out;
    }
    std::vector<std::string> names() {
        std::vector<std::string> out;
        for (const json& e : events()) out.push_back(e["event"]);
        return out;
    }
};

using Names = std::vector<std::string>;

TEST_F(Feed, MatchTransitionsFollowTheMapName) {
    // First state, in the menu: the phase (and the local player) only.
    EXPECT_EQ(feed(fixture("menu.json")).change, GsiMatchChange::none);
    EXPECT_EQ(names(), (Names{"gsi_player_new", "gsi_phase_change"}));
    EXPECT_TRUE(have);

    // A map shows up.
    GsiDecision start = feed(fixture("warmup_mirage.json"));
    EXPECT_EQ(start.change, GsiMatchChange::started);
    EXPECT_EQ(start.map, "de_mirage");
    EXPECT_TRUE(start.connect_time_reliable);
    EXPECT_GT(start.start_time, 1700000000);
    auto logged = events();
    ASSERT_EQ(logged.size(), 2u);
    EXPECT_EQ(logged[0]["event"], "match_started");
    EXPECT_EQ(logged[0]["map"], "de_mirage");
    EXPECT_EQ(logged[0]["mode"], "competitive");
    EXPECT_EQ(logged[0]["at"], start.start_time);
    EXPECT_EQ(logged[0]["connect_time_reliable"], true);
    EXPECT_EQ(logged[1]["event"], "gsi_phase_change");
    EXPECT_EQ(logged[1]["map_phase"], "warmup");
    EXPECT_EQ(logged[1]["round"], 0);

    // Same map, same phase; only the clock and the player's name moved.
    EXPECT_EQ(feed(patched("warmup_mirage.json", {{"provider", {{"timestamp", 1733512999}}},
                                                  {"player", {{"name", "kestrel (2)"}}}}))
                  .change,
              GsiMatchChange::none);
    EXPECT_EQ(names(), Names{});

    // Same map, the phase moves on.
    EXPECT_EQ(feed(fixture("live_round3.json")).change, GsiMatchChange::none);
    EXPECT_EQ(names(), Names{"gsi_phase_change"});
    EXPECT_EQ(last.round, 3);

    // Straight to another map: a new match, no end of the old one.
    GsiDecision next = feed(fixture("intermission_round0.json"));
    EXPECT_EQ(next.change, GsiMatchChange::started);
    EXPECT_EQ(next.map, "de_anubis");
    EXPECT_FALSE(next.connect_time_reliable);
    EXPECT_EQ(names(), (Names{"match_started", "gsi_phase_change"}));

    // Back in the menu.
    EXPECT_EQ(feed(fixture("menu.json")).change, GsiMatchChange::ended);
    logged = events();
    ASSERT_EQ(logged.size(), 2u);
    EXPECT_EQ(logged[0]["event"], "match_ended");
    EXPECT_EQ(logged[0]["map"], "de_anubis");
    EXPECT_EQ(logged[1]["event"], "gsi_phase_change");
    EXPECT_EQ(last.map_name, "");

    // And the same map again is a fresh start.
    EXPECT_EQ(feed(fixture("intermission_round0.json")).change, GsiMatchChange::started);
}

TEST_F(Feed, AFirstStateWithoutAMapIsAPhaseChangeOnly) {
    token = "";
    EXPECT_EQ(feed(R"({"provider":{"timestamp":1733512402},"player":{"activity":"menu"}})").change,
              GsiMatchChange::none);
    EXPECT_EQ(names(), Names{"gsi_phase_change"});
}

TEST_F(Feed, AFirstStateOnAMapStartsAMatch) {
    EXPECT_EQ(feed(fixture("live_round3.json")).change, GsiMatchChange::started);
    EXPECT_EQ(names(), (Names{"gsi_player_new", "match_started", "gsi_phase_change"}));
}

TEST_F(Feed, ConnectTimeIsReliableOnlyBeforeTheFirstRound) {
    struct Case {
        json map;
        bool reliable;
    };
    const std::vector<Case> cases = {
        {{{"phase", "warmup"}, {"round", 0}}, true},
        {{{"phase", "gameover"}, {"round", 0}}, true},
        {{{"phase", "warmup"}, {"round", nullptr}}, true},     // no round: -1
        {{{"phase", nullptr}, {"round", nullptr}}, true},
        {{{"phase", "live"}, {"round", 0}}, false},
        {{{"phase", "intermission"}, {"round", 0}}, false},
        {{{"phase", "warmup"}, {"round", 3}}, false},
        {{{"phase", "warmup"}, {"round", 1}}, false},
    };
    for (const Case& c : cases) {
        players.clear();
        have = false;
        last = GsiState{};
        GsiDecision d = feed(patched("warmup_mirage.json", {{"map", c.map}}));
        EXPECT_EQ(d.change, GsiMatchChange::started) << c.map.dump();
        EXPECT_EQ(d.connect_time_reliable, c.reliable) << c.map.dump();
    }

    // The console line says which.
    have = false;
    testing::internal::CaptureStdout();
    feed(fixture("warmup_mirage.json"));
    have = false;
    feed(fixture("live_round3.json"));
    const std::string console = testing::internal::GetCapturedStdout();
    EXPECT_TRUE(contains(console, "match started on de_mirage (competitive) -- building roster\n"));
    EXPECT_TRUE(contains(console,
                         "match started on de_mirage (competitive) -- joined in progress, waiting for status\n"));
}

TEST_F(Feed, PlayersAreCollectedFromEverySectionAndMergedOnce) {
    testing::internal::CaptureStdout();
    feed(fixture("observer_switch.json"));
    const std::string console = testing::internal::GetCapturedStdout();
    auto logged = events();
    ASSERT_GE(logged.size(), 3u);
    EXPECT_EQ(logged[0]["event"], "gsi_player_new");
    EXPECT_EQ(logged[0]["steamid"], "76561198211873064");
    EXPECT_EQ(logged[0]["name"], "Шаман ☾");
    EXPECT_EQ(logged[0]["team"], "CT");
    EXPECT_EQ(logged[0]["observer_slot"], 5);
    EXPECT_EQ(logged[0]["block"], "player");
    EXPECT_EQ(logged[0]["known_so_far"], 1);
    EXPECT_EQ(logged[1]["steamid"], "76561198044120577");
    EXPECT_EQ(logged[1]["block"], "previously");
    EXPECT_EQ(logged[1]["team"], "");
    EXPECT_EQ(logged[2]["block"], "added");
    EXPECT_EQ(logged[2]["known_so_far"], 3);
    EXPECT_TRUE(contains(console, "gsi player: 76561198044120577 'kestrel' team=? (2 known from GSI so far)\n"));
    EXPECT_EQ(players.size(), 3u);

    // Seen again: merged silently, the last non-empty values win.
    feed(patched("observer_switch.json",
                 {{"player", {{"name", ""}, {"team", "T"}, {"observer_slot", "7"}}}}));
    EXPECT_EQ(names(), Names{});
    const GsiPlayer& p = players.at(76561198211873064ull);
    EXPECT_EQ(p.name, "Шаман ☾");
    EXPECT_EQ(p.team, "T");
    EXPECT_EQ(p.observer_slot, 5);
    EXPECT_EQ(p.times_seen, 2);
}

// Dead and watching a bot: GSI names the bot with a stand-in id (76561197960265728
// plus its index). It is no player of the match and never enters the map.
TEST_F(Feed, BotsAreDroppedWithADebugRecord) {
    const json bot = {{"steamid", "76561197960265729"}, {"name", "Niles"}, {"observer_slot", 3},
                      {"team", "CT"}, {"activity", "playing"}};
    feed(patched("observer_switch.json", {{"player", bot}}));
    EXPECT_EQ(names(), (Names{"gsi_player_new", "gsi_player_new", "match_started", "gsi_phase_change"}));
    EXPECT_EQ(players.count(76561197960265729ull), 0u);
    EXPECT_EQ(players.size(), 2u);

    log.debug = true;
    feed(patched("observer_switch.json",
                 {{"player", bot}, {"added", {{"player", {{"steamid", "76561197960265792"}}}}}}));
    const std::vector<json> logged = events();
    ASSERT_EQ(logged.size(), 3u);
    EXPECT_EQ(logged[0]["event"], "gsi_player_dropped");
    EXPECT_EQ(logged[0]["steamid"], "76561197960265729");
    EXPECT_EQ(logged[0]["name"], "Niles");
    EXPECT_EQ(logged[0]["block"], "player");
    EXPECT_EQ(logged[0]["reason"], "not a real player: bots carry stand-in ids with account numbers below 65");
    EXPECT_EQ(logged[1]["steamid"], "76561197960265792");   // account 64: still a bot's
    EXPECT_EQ(logged[2]["event"], "gsi_event");
    EXPECT_EQ(players.size(), 2u);
}

TEST_F(Feed, OnePlayerInSeveralSectionsIsOneNewPlayer) {
    const json same = {{"steamid", "76561198044120577"}};
    feed(patched("warmup_mirage.json", {{"player", {{"name", nullptr}}},
                                        {"previously", {{"player", same}}},
                                        {"added", {{"player", {{"steamid", "76561198044120577"}, {"name", "kestrel"}}}}}}));
    auto logged = events();
    ASSERT_FALSE(logged.empty());
    EXPECT_EQ(logged[0]["event"], "gsi_player_new");
    EXPECT_EQ(logged[0]["name"], "");   // first sighting had none; the later name merges silently
    EXPECT_EQ(logged[1]["event"], "match_started");
    EXPECT_EQ(players.at(76561198044120577ull).name, "kestrel");
    EXPECT_EQ(players.at(76561198044120577ull).times_seen, 3);
}

TEST(GsiPlayers, SteamidsMustBeNonZeroDecimalText) {
    auto ids_of = [](const json& steamid) {
        std::vector<GsiPlayerSeen> seen = gsi_players_of({{"player", {{"steamid", steamid}}}});
        return seen.empty() ? 0 : seen[0].steamid;
    };
    EXPECT_EQ(ids_of("76561198044120577"), 76561198044120577ull);
    EXPECT_EQ(ids_of("  76561198044120577"), 76561198044120577ull);
    EXPECT_EQ(ids_of("76561198044120577xyz"), 76561198044120577ull);
    EXPECT_EQ(ids_of(76561198044120577ull), 0u);    // a JSON number
    EXPECT_EQ(ids_of("0"), 0u);
    EXPECT_EQ(ids_of(""), 0u);
    EXPECT_EQ(ids_of("bot"), 0u);
    EXPECT_EQ(ids_of("-76561198044120577"), 0u);
    EXPECT_EQ(ids_of("18446744073709551615"), 18446744073709551615ull);
    EXPECT_EQ(ids_of("18446744073709551616"), 0u);  // beyond 64 bits
    EXPECT_EQ(ids_of(nullptr), 0u);

    // Wrong shapes around the player objects are skipped, not fatal.
    EXPECT_TRUE(gsi_players_of(json::array()).empty());
    EXPECT_TRUE(gsi_players_of({{"player", "76561198044120577"}, {"previously", {{"player", 1}}},
                                {"added", "x"}})
                    .empty());
    std::vector<GsiPlayerSeen> typed = gsi_players_of(
        {{"player", {{"steamid", "76561198044120577"}, {"name", 5}, {"team", true}, {"observer_slot", 2.0}}}});
    ASSERT_EQ(typed.size(), 1u);
    EXPECT_EQ(typed[0].name, "");
    EXPECT_EQ(typed[0].team, "");
    EXPECT_EQ(typed[0].observer_slot, -1);
}

TEST_F(Feed, TokenMustMatchExactly) {
    struct Case {
        std::string configured;
        json auth;   // null: no "auth" member
        bool accepted;
    };
    const std::vector<Case> cases = {
        {kToken, {{"token", kToken}}, true},
        {kToken, nullptr, false},
        {kToken, {{"token", "fh3kq9vt2mxc8lpa"}}, false},
        {kToken, {{"token", std::string(kToken) + " "}}, false},
        {kToken, {{"token", 12345}}, false},
        {kToken, {{"other", kToken}}, false},
        {"", nullptr, true},
        {"", json::object(), true},
        {"", "not an object", true},
        {"", {{"token", ""}}, true},
        {"", {{"token", "x"}}, false},
        {"", {{"token", nullptr}}, false},
    };
    for (const Case& c : cases) {
        token = c.configured;
        players.clear();
        have = false;
        json payload = json::parse(fixture("live_round3.json"));
        payload.erase("auth");
        if (!c.auth.is_null()) payload["auth"] = c.auth;
        GsiDecision d = feed(payload.dump());
        auto logged = events();
        ASSERT_FALSE(logged.empty());
        if (c.accepted) {
            EXPECT_EQ(d.change, GsiMatchChange::started) << payload["auth"].dump();
            EXPECT_EQ(players.size(), 1u);
        } else {
            ASSERT_EQ(logged.size(), 1u) << payload["auth"].dump();
            EXPECT_EQ(logged[0]["event"], "error");
            EXPECT_EQ(logged[0]["where"], "gsi_auth");
            EXPECT_EQ(logged[0]["detail"], "token mismatch");
            EXPECT_EQ(d.change, GsiMatchChange::none);
            EXPECT_TRUE(players.empty());
            EXPECT_FALSE(have);
        }
    }
}

TEST_F(Feed, BodiesThatAreNotObjectsChangeNothing) {
    feed(fixture("warmup_mirage.json"));
    events();
    const GsiPlayers before = players;
    const std::string deep = "{\"a\":" + std::string(200000, '[') + std::string(200000, ']') + "}";
    log.debug = true;   // the debug record would have to copy and print a payload
    for (const std::string& body : {std::string(), std::string("null"), std::string("[{\"map\":{}}]"),
                                    std::string("\"x\""), std::string("{\"map\":"), std::string("{} {}"),
                                    std::string("\xff\xfe{}"), deep}) {
        EXPECT_EQ(feed(body).change, GsiMatchChange::none);
        auto logged = events();
        ASSERT_EQ(logged.size(), 1u) << body.substr(0, 40);
        EXPECT_EQ(logged[0]["event"], "error");
        EXPECT_EQ(logged[0]["where"], "gsi_payload");
        EXPECT_EQ(logged[0]["detail"], body == deep ? "nested too deeply" : "not a JSON object");
    }
    EXPECT_EQ(last.map_name, "de_mirage");
    EXPECT_EQ(players.size(), before.size());
    EXPECT_EQ(players.begin()->second.times_seen, before.begin()->second.times_seen);

    // Brackets inside strings are text, not nesting.
    const std::string text_brackets = patched("warmup_mirage.json",
                                              {{"player", {{"name", std::string(500, '[')}}}});
    feed(text_brackets);
    EXPECT_EQ(names(), Names{"gsi_event"});
}

TEST_F(Feed, DebugEventCarriesStateAndPayload) {
    feed(fixture("menu.json"));
    EXPECT_EQ(names(), (Names{"gsi_player_new", "gsi_phase_change"}));
    log.debug = true;
    feed(patched("menu.json", {{"provider", {{"timestamp", 1733512500}}}}));
    auto logged = events();
    ASSERT_EQ(logged.size(), 1u);
    EXPECT_EQ(logged[0]["event"], "gsi_event");
    EXPECT_EQ(logged[0]["state"]["provider_timestamp"], 1733512500);
    EXPECT_EQ(logged[0]["state"]["activity"], "menu");
    EXPECT_EQ(logged[0]["payload"]["auth"]["token"], kToken);
    EXPECT_EQ(logged[0]["payload"]["provider"]["appid"], 730);
}

TEST(GsiState, MembersOfTheWrongTypeKeepTheirDefaults) {
    GsiState full = gsi_state_of(json::parse(fixture("live_round3.json")));
    EXPECT_EQ(full.map_name, "de_mirage");
    EXPECT_EQ(full.map_mode, "competitive");
    EXPECT_EQ(full.map_phase, "live");
    EXPECT_EQ(full.round_phase, "live");
    EXPECT_EQ(full.round, 3);
    EXPECT_EQ(full.activity, "playing");
    EXPECT_EQ(full.player_steamid, "76561198044120577");
    EXPECT_EQ(full.player_name, "kestrel");
    EXPECT_EQ(full.provider_timestamp, 1733513120);

    const json wrong = {{"map", {{"name", 5}, {"mode", nullptr}, {"phase", json::array()}, {"round", 3.0}}},
                        {"round", "live"},
                        {"player", {{"activity", true}, {"steamid", 76561198044120577ull}, {"name", {{"x", 1}}}}},
                        {"provider", {{"timestamp", "1733513120"}}}};
    const GsiState empty;
    GsiState got = gsi_state_of(wrong);
    EXPECT_TRUE(same_phase(got, empty));
    EXPECT_EQ(got.player_steamid, "");
    EXPECT_EQ(got.player_name, "");
    EXPECT_EQ(got.provider_timestamp, 0);
    EXPECT_TRUE(same_phase(gsi_state_of(json::array()), empty));
    EXPECT_TRUE(same_phase(gsi_state_of({{"map", "de_dust2"}}), empty));

    // Integers that do not fit the field are not wrapped into it.
    EXPECT_EQ(gsi_state_of({{"map", {{"round", 4294967299ull}}}}).round, -1);
    EXPECT_EQ(gsi_state_of({{"map", {{"round", -2}}}}).round, -2);
    EXPECT_EQ(gsi_state_of({{"provider", {{"timestamp", 18446744073709551615ull}}}}).provider_timestamp, 0);
    EXPECT_EQ(gsi_state_of({{"provider", {{"timestamp", 1733513120ull}}}}).provider_timestamp, 1733513120);
}

TEST(GsiState, SamePhaseLooksAtThePhaseFieldsOnly) {
    GsiState a = gsi_state_of(json::parse(fixture("live_round3.json")));
    GsiState b = a;
    b.player_steamid = "1";
    b.player_name = "other";
    b.provider_timestamp = 1;
    EXPECT_TRUE(same_phase(a, b));
    for (auto change : {+[](GsiState& s) { s.map_name = "de_nuke"; }, +[](GsiState& s) { s.map_mode = "casual"; },
                        +[](GsiState& s) { s.map_phase = "gameover"; }, +[](GsiState& s) { s.round_phase = "over"; },
                        +[](GsiState& s) { s.round = 4; }, +[](GsiState& s) { s.activity = "menu"; }}) {
        GsiState c = a;
        change(c);
        EXPECT_FALSE(same_phase(a, c));
    }
}

TEST(GsiState, SummaryAndJson) {
    GsiState s = gsi_state_of(json::parse(fixture("live_round3.json")));
    EXPECT_EQ(gsi_summary(s), "gsi: activity=playing map=de_mirage mode=competitive phase=live round_phase=live round=3");
    EXPECT_EQ(gsi_summary(GsiState{}), "gsi: activity=-");
    GsiState round0;
    round0.round = 0;
    EXPECT_EQ(gsi_summary(round0), "gsi: activity=- round=0");

    const json j = gsi_state_json(s);
    EXPECT_EQ(j.dump(),
              R"({"activity":"playing","map_mode":"competitive","map_name":"de_mirage","map_phase":"live",)"
              R"("player_name":"kestrel","player_steamid":"76561198044120577","provider_timestamp":1733513120,)"
              R"("round":3,"round_phase":"live"})");
}

TEST(JsonNesting, CountsBracketsOutsideStrings) {
    EXPECT_EQ(json_nesting_depth("{}", 64), 1);
    EXPECT_EQ(json_nesting_depth(R"({"a":[{"b":[]}]})", 64), 4);
    EXPECT_EQ(json_nesting_depth(R"({"a":"[[[{{{\"[[["})", 64), 1);
    EXPECT_EQ(json_nesting_depth(R"({"a":"\\"}[[)", 64), 2);   // escaped backslash ends the string
    EXPECT_EQ(json_nesting_depth("]]]]{", 64), 1);
    EXPECT_EQ(json_nesting_depth(std::string(1000, '['), 10), 11);   // stops once past the limit
}

}  // namespace
