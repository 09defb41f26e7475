// The room request body: what the agent builds is what the service accepts,
// and every body that could claim a room for the wrong roster is refused.
#include "rooms/room_request.h"

#include <algorithm>
#include <cctype>
#include <functional>

#include <gtest/gtest.h>

#include "roster/room_key.h"
#include "roster/roster_assembly.h"

namespace {

using nlohmann::json;

constexpr std::uint64_t kFirst = 76561198000000100ull;

Roster ten_players() {
    Roster roster;
    for (std::uint64_t i = 0; i < 10; ++i)
        roster.players.push_back({kFirst + i, "player " + std::to_string(i), "gsi", i < 5 ? "CT" : "T", 0});
    std::vector<std::uint64_t> ids;
    for (const RosterPlayer& p : roster.players) ids.push_back(p.steamid);
    roster.room_key = derive_room_key(ids);
    roster.reservation = "abc";
    return roster;
}

json agent_body() { return json::parse(room_request_json(room_request_of(ten_players(), kFirst + 3, "de_nuke"))); }

TEST(RoomRequest, WhatTheAgentSendsIsReadBackWhole) {
    const RoomRequestRead read = read_room_request(room_request_json(room_request_of(ten_players(), kFirst + 3, "de_nuke")));
    ASSERT_TRUE(read.ok) << read.error;
    EXPECT_EQ(read.request.map, "de_nuke");
    EXPECT_EQ(read.request.reporter, kFirst + 3);
    EXPECT_EQ(read.request.reservation, "abc");
    ASSERT_EQ(read.request.members.size(), 10u);
    EXPECT_EQ(read.request.members[7].name, "player 7");
    EXPECT_EQ(read.request.members[7].team, "T");
    EXPECT_EQ(read.request.members[7].source, "gsi");
    EXPECT_EQ(read.request.room_key, ten_players().room_key);
}

// Ids whose decimal texts differ in length sort differently as text and as
// numbers: the agent's order is the text order.
TEST(RoomRequest, TheOrderIsTheDecimalTextOrder) {
    Roster roster;
    const std::uint64_t ids[] = {76561198000000100ull, 76561198999999999ull, 76561199000000000ull,
                                 76561198000000200ull, 76561198000000300ull, 76561198000000400ull,
                                 76561198000000500ull, 76561198000000600ull, 76561198000000700ull,
                                 76561198000000800ull};
    std::vector<std::uint64_t> sorted(std::begin(ids), std::end(ids));
    std::sort(sorted.begin(), sorted.end(), [](auto a, auto b) { return std::to_string(a) < std::to_string(b); });
    for (std::uint64_t id : sorted) roster.players.push_back({id, "x", "gsi", "", 0});
    roster.room_key = derive_room_key(sorted);
    const RoomRequestRead read = read_room_request(room_request_json(room_request_of(roster, ids[0], "")));
    EXPECT_TRUE(read.ok) << read.error;
}

TEST(RoomRequest, EveryRefusalSaysWhy) {
    const auto id = [](int i) { return std::to_string(kFirst + i); };
    const struct {
        const char* guards;
        std::function<void(json&)> change;
        const char* error;
    } rows[] = {
        {"a number for the ids", [](json& b) { b["steamids"][0] = kFirst; }, "steamids holds something other than a decimal SteamID64"},
        {"a leading zero", [&](json& b) { b["steamids"][0] = "0" + id(0); }, "steamids holds something other than a decimal SteamID64"},
        {"a sign", [&](json& b) { b["steamids"][0] = "+" + id(0); }, "steamids holds something other than a decimal SteamID64"},
        {"beyond 64 bits", [](json& b) { b["steamids"][0] = "99999999999999999999"; }, "steamids holds something other than a decimal SteamID64"},
        {"nine ids", [](json& b) { b["steamids"].erase(9); }, "steamids does not hold ten players"},
        {"eleven ids", [&](json& b) { b["steamids"].push_back(id(10)); }, "steamids does not hold ten players"},
        {"ids not an array", [](json& b) { b["steamids"] = "x"; }, "steamids is not an array"},
        {"a bot's stand-in", [](json& b) { b["steamids"][0] = "76561197960265730"; }, "steamids holds an id that is no real player: 76561197960265730"},
        {"a clan id", [](json& b) { b["steamids"][0] = "103582791429521412"; }, "steamids holds an id that is no real player: 103582791429521412"},
        {"a player twice", [&](json& b) { b["steamids"][1] = id(0); }, "steamids holds a player twice"},
        {"numeric, not text order", [&](json& b) { std::swap(b["steamids"][0], b["steamids"][1]); }, "steamids is not in ascending order"},
        {"another roster's key", [](json& b) { b["room_key"] = std::string(32, 'a'); }, "room_key is not the key of these steamids"},
        {"the key upper-cased", [](json& b) { std::string k = b["room_key"]; for (char& c : k) c = static_cast<char>(toupper(c)); b["room_key"] = k; }, "room_key is not the key of these steamids"},
        {"no key", [](json& b) { b.erase("room_key"); }, "room_key is not a string"},
        {"a stranger reports", [&](json& b) { b["reporter_steamid64"] = id(20); }, "reporter_steamid64 is not one of the ten"},
        {"a reporter as a number", [](json& b) { b["reporter_steamid64"] = kFirst; }, "reporter_steamid64 is not a decimal SteamID64"},
        {"a stranger among the members", [&](json& b) { b["members"][2]["steamid"] = id(20); }, "a member is not one of the steamids"},
        {"a member twice", [&](json& b) { b["members"][2]["steamid"] = id(1); }, "a member is listed twice"},
        {"nine members", [](json& b) { b["members"].erase(0); }, "members does not hold ten players"},
        {"members missing", [](json& b) { b.erase("members"); }, "members is not an array"},
        {"a member not an object", [](json& b) { b["members"][0] = "x"; }, "a member is not an object"},
        {"a name of 129 bytes", [](json& b) { b["members"][0]["name"] = std::string(129, 'n'); }, "a member's name is over 128 bytes"},
        {"a name as a number", [](json& b) { b["members"][0]["name"] = 5; }, "a member's name is not a string"},
        {"a team of spectators", [](json& b) { b["members"][0]["team"] = "SPECTATOR"; }, "a member's team is not CT, T or empty"},
        {"a lower-case team", [](json& b) { b["members"][0]["team"] = "ct"; }, "a member's team is not CT, T or empty"},
        {"no team", [](json& b) { b["members"][0].erase("team"); }, "a member's team is not a string"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.guards);
        json body = agent_body();
        row.change(body);
        const RoomRequestRead read = read_room_request(body.dump());
        EXPECT_FALSE(read.ok);
        EXPECT_EQ(read.error, row.error);
    }
}

TEST(RoomRequest, BodiesThatAreNoRequestAtAll) {
    const std::string cut = agent_body().dump();
    const struct {
        const char* guards;
        std::string body;
        const char* error;
    } rows[] = {
        {"over 64 KiB", std::string(kMaxRoomRequestBytes + 1, ' '), "body over 64 KiB"},
        {"cut short", cut.substr(0, cut.size() - 1), "body is not JSON"},
        {"a name that is not UTF-8", "{\"x\":\"\xff\"}", "body is not JSON"},
        {"an array", "[1]", "body is not a JSON object"},
        {"empty", "", "body is not JSON"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.guards);
        const RoomRequestRead read = read_room_request(row.body);
        EXPECT_FALSE(read.ok);
        EXPECT_EQ(read.error, row.error);
    }
}

TEST(RoomRequest, WhatIsOnlyShownNeverRefuses) {
    const struct {
        const char* guards;
        std::function<void(json&)> change;
    } rows[] = {
        {"no map (an older agent)", [](json& b) { b.erase("map"); }},
        {"a key it does not know", [](json& b) { b["lobby"] = {{"x", 1}}; }},
        {"an empty team", [](json& b) { b["members"][0]["team"] = ""; }},
        {"a name of 128 bytes, RTL override inside", [](json& b) { b["members"][0]["name"] = "\xe2\x80\xae" + std::string(125, 'n'); }},
        {"members in another order", [](json& b) { std::swap(b["members"][0], b["members"][9]); }},
        {"a group out of range", [](json& b) { b["members"][0]["group"] = 99; }},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.guards);
        json body = agent_body();
        row.change(body);
        const RoomRequestRead read = read_room_request(body.dump());
        EXPECT_TRUE(read.ok) << read.error;
    }
}

}  // namespace
