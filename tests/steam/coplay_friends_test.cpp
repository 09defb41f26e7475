// The co-play and friend lists read from the fake Steam client, the names
// asked for, the count bounds, the ticks and their --debug records.
#include "steam/coplay_friends.h"

#include "steam/steam_client.h"
#include "tests/steam/fake_client_test_support.h"

namespace {

using nlohmann::json;
using Lines = std::vector<std::string>;

json coplay_fixture() {
    return {{"self", {{"steamid", "76561198000000001"}, {"persona", "me"}}},
            {"coplay",
             {{{"steamid", "76561198000000101"}, {"appid", 730}, {"time", 1733500000}, {"persona", "s1mple fan"}},
              {{"steamid", "0"}, {"appid", 730}},                    // not an account
              {{"steamid", "76561198000000102"}, {"appid", 730}, {"time", 1733500100}, {"persona", "[unknown]"},
               {"resolves_to", "late name"}, {"after_requests", 1}},
              {{"steamid", "76561193665298437"}, {"appid", 730}},    // instance 0
              {{"steamid", "76561198000000103"}, {"appid", 730}, {"time", 1733500200}, {"persona", nullptr}},
              {{"steamid", "76561198000000104"}, {"appid", 570}, {"time", 1733400000}, {"persona", ""}},
              {{"steamid", "76561197960265729"}, {"appid", 730}, {"persona", "Niles"}},   // a bot's stand-in id
              {{"steamid", "76561198000000105"}, {"appid", 730}, {"time", -5}, {"persona", "Ünïcode ✦"},
               {"relationship", 3}}}}};
}

json friends_fixture() {
    json twenty = json::array();
    for (int i = 0; i < 20; ++i) twenty.push_back("name " + std::to_string(i));
    return {{"friends",
             {{{"steamid", "76561198000000201"}, {"persona", "Ålice"}, {"nickname", "ally"},
               {"history", {"Ålice", "old alice"}}, {"game_id", 730}, {"lobby", "109775241000000001"}},
              {{"steamid", "1"}, {"persona", "not an account"}},
              // id type 2: the app id bits say 730, but the mod id (bits 32-63) counts
              {{"steamid", "76561198000000203"}, {"persona", nullptr}, {"nickname", nullptr},
               {"history", json::array()}, {"game_id", "5300023198426"}},
              {{"steamid", "76561198000000204"}, {"persona", "[unknown]"}, {"nickname", "bob"}, {"history", twenty}},
              {{"steamid", "76561198000000205"}, {"persona", "carol"}, {"history", {"carol", nullptr, "lost"}},
               {"game_id", 570}}}}};
}

struct CoplayFriendsTest : FakeSteamTest {
    SteamConnection connection;
    EventLog log;
    SteamLists lists;
    void connect(const json& fixture, bool debug = true) {
        use_fixture(fixture);
        std::string error;
        ASSERT_TRUE(steam_connect(connection, error)) << error;
        log.debug = debug;
        ASSERT_TRUE(log_open(log, dir_ / "logs"));
    }
    void TearDown() override {
        steam_release(connection);
        FakeSteamTest::TearDown();
    }
};

TEST_F(CoplayFriendsTest, CoplayListKeepsRealPlayersAndAsksForMissingNames) {
    connect(coplay_fixture());
    Lines got;
    std::vector<CoplayEntry> list = read_coplay_list(connection);
    for (const CoplayEntry& e : list)
        got.push_back(std::to_string(e.steamid) + " " + std::to_string(e.appid) + " " + std::to_string(e.coplay_time) +
                      " '" + e.persona + "' " + (e.persona_known ? "known" : "unknown") + (e.is_friend ? " friend" : ""));
    EXPECT_EQ(got, (Lines{"76561198000000101 730 1733500000 's1mple fan' known",
                          "76561198000000102 730 1733500100 '' unknown",
                          "76561198000000103 730 1733500200 '' unknown",
                          "76561198000000104 570 1733400000 '' unknown",
                          "76561198000000105 730 -5 'Ünïcode ✦' known friend"}));
    EXPECT_EQ(request_missing_personas(connection, list), 3);
    EXPECT_EQ(calls("RequestUserInformation"), (Lines{"RequestUserInformation 76561198000000102 1",
                                                      "RequestUserInformation 76561198000000103 1",
                                                      "RequestUserInformation 76561198000000104 1"}));
}

TEST_F(CoplayFriendsTest, FriendListReadsNamesHistoriesGamesAndLobbies) {
    connect(friends_fixture());
    Lines got;
    for (const FriendEntry& f : read_friend_list(connection)) {
        std::string history;
        for (const std::string& name : f.name_history) history += name + ",";
        got.push_back(std::to_string(f.steamid) + " '" + f.persona + "' '" + f.nickname + "' " + history + " " +
                      std::to_string(f.game_appid) + " " + std::to_string(f.lobby) + (f.in_cs2 ? " in cs2" : ""));
    }
    std::string sixteen;
    for (int i = 0; i < 16; ++i) sixteen += "name " + std::to_string(i) + ",";
    EXPECT_EQ(got, (Lines{"76561198000000201 'Ålice' 'ally' Ålice,old alice, 730 109775241000000001 in cs2",
                          "76561198000000203 '' ''  1234 0",
                          "76561198000000204 '' 'bob' " + sixteen + " 0 0",
                          "76561198000000205 'carol' '' carol, 570 0"}));
    EXPECT_EQ(count_calls("GetFriendPersonaNameHistory 76561198000000204"), 16);
}

TEST_F(CoplayFriendsTest, CountsFromTheClientAreBounded) {
    // calls: GetCoplayFriend and GetFriendByIndex calls made
    const struct { const char* name; long reported; std::size_t coplay, friends; long calls; } rows[] = {
        {"more than there are", 12, 5, 4, 24},
        {"a broken client's", 2000000000, 5, 4, kMaxCoplayEntries + kMaxFriends},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        json fixture = coplay_fixture();
        fixture["friends"] = friends_fixture()["friends"];
        fixture["coplay_count"] = fixture["friend_count"] = row.reported;
        steam_release(connection);
        connect(fixture);
        const long before = count_calls("GetCoplayFriend ") + count_calls("GetFriendByIndex");
        EXPECT_EQ(read_coplay_list(connection, &log).size(), row.coplay);
        EXPECT_EQ(read_friend_list(connection, &log).size(), row.friends);
        EXPECT_EQ(count_calls("GetCoplayFriend ") + count_calls("GetFriendByIndex") - before, row.calls);
    }
    EXPECT_EQ(logged_events(log, "steam_count_cut").size(), 2u);
}

TEST(SteamTicks, DueAfterTheirPeriodsAcrossTheWrap) {
    const struct { const char* name; std::uint32_t last, now; bool coplay, friends; } rows[] = {
        {"never ran", 0, 123, true, true},
        {"1 ms before the co-play period", 10000, 14999, false, false},
        {"the co-play period", 10000, 15000, true, false},
        {"the friend period", 10000, 40000, true, true},
        {"5 s across the wrap, 1 ms early", 0xFFFFF000u, 903, false, false},
        {"5 s across the wrap", 0xFFFFF000u, 904, true, false},
    };
    for (const auto& row : rows) {
        SteamLists lists;
        lists.last_coplay_tick = lists.last_friend_tick = row.last;
        EXPECT_EQ(coplay_tick_due(lists, row.now), row.coplay) << row.name;
        EXPECT_EQ(friend_tick_due(lists, row.now), row.friends) << row.name;
    }
}

}  // namespace
