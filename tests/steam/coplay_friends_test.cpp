#include "steam/coplay_friends.h"

#include <gtest/gtest.h>

#include "core/clock.h"
#include "steam/steam_client.h"
#include "tests/steam/fake_client_test_support.h"

namespace {

using nlohmann::json;

constexpr std::uint64_t kSelf = 76561198000000001ull;
constexpr std::uint64_t kA = 76561198000000101ull;   // CS2, name known
constexpr std::uint64_t kB = 76561198000000102ull;   // CS2, "[unknown]" until asked once
constexpr std::uint64_t kC = 76561198000000103ull;   // CS2, null name forever
constexpr std::uint64_t kD = 76561198000000104ull;   // another game, empty name
constexpr std::uint64_t kE = 76561198000000105ull;   // CS2, a friend, time before 1970

json coplay_fixture() {
    return {
        {"self", {{"steamid", std::to_string(kSelf)}, {"persona", "me"}}},
        {"coplay",
         {
             {{"steamid", std::to_string(kA)}, {"appid", 730}, {"time", 1733500000}, {"persona", "s1mple fan"}},
             {{"steamid", "0"}, {"appid", 730}},                       // not an account
             {{"steamid", std::to_string(kB)}, {"appid", 730}, {"time", 1733500100},
              {"persona", "[unknown]"}, {"resolves_to", "late name"}, {"after_requests", 1}},
             {{"steamid", "76561193665298437"}, {"appid", 730}},       // individual, instance 0
             {{"steamid", std::to_string(kC)}, {"appid", 730}, {"time", 1733500200}, {"persona", nullptr}},
             {{"steamid", std::to_string(kD)}, {"appid", 570}, {"time", 1733400000}, {"persona", ""}},
             {{"steamid", "76561197960265728"}, {"appid", 730}},       // individual, account 0
             {{"steamid", "76561197960265729"}, {"appid", 730}, {"time", 1733500150},
              {"persona", "Niles"}},                                    // a bot's stand-in id
             {{"steamid", std::to_string(kE)}, {"appid", 730}, {"time", -5}, {"persona", "Ünïcode ✦"},
              {"relationship", 3}},
         }},
    };
}

json friends_fixture() {
    json twenty = json::array();
    for (int i = 0; i < 20; ++i) twenty.push_back("name " + std::to_string(i));
    return {
        {"friends",
         {
             {{"steamid", "76561198000000201"}, {"persona", "Ålice"}, {"nickname", "ally"},
              {"history", {"Ålice", "old alice", "older alice"}}, {"game_id", 730},
              {"server_ip", 0x7F000001}, {"game_port", 27015}, {"query_port", 27016},
              {"lobby", "109775241000000001"}},
             {{"steamid", "76561198000000202"}, {"persona", "[unknown]"}, {"nickname", ""},
              {"history", {"only one"}}},
             {{"steamid", "1"}, {"persona", "not an account"}},
             // id type 2: the app id bits say 730, but the mod id (bits 32-63) counts
             {{"steamid", "76561198000000203"}, {"persona", nullptr}, {"nickname", nullptr},
              {"history", json::array()}, {"history_end", "[unknown]"}, {"game_id", "5300023198426"}},
             {{"steamid", "76561198000000204"}, {"persona", "bob"}, {"nickname", "bob"}, {"history", twenty}},
             {{"steamid", "76561198000000205"}, {"persona", "carol"}, {"history", {"carol", nullptr, "lost"}}},
             {{"steamid", "76561198000000206"}, {"persona", ""}, {"history", {"dave", "", "lost"}},
              {"game_id", 570}, {"lobby", "109775241000000009"}},
         }},
    };
}

class CoplayFriendsTest : public FakeSteamTest {
protected:
    void connect(const json& fixture) {
        use_fixture(fixture);
        std::string error;
        ASSERT_TRUE(steam_connect(connection_, error)) << error;
    }
    void TearDown() override {
        steam_release(connection_);
        FakeSteamTest::TearDown();
    }
    SteamConnection connection_;
};

TEST_F(CoplayFriendsTest, ReadsTheCoplayListSkippingInvalidIds) {
    connect(coplay_fixture());
    const auto list = read_coplay_list(connection_);
    ASSERT_EQ(list.size(), 5u);
    const std::uint64_t ids[] = {kA, kB, kC, kD, kE};
    for (std::size_t i = 0; i < 5; ++i) EXPECT_EQ(list[i].steamid, ids[i]);

    EXPECT_EQ(list[0].persona, "s1mple fan");
    EXPECT_TRUE(list[0].persona_known);
    EXPECT_EQ(list[0].appid, 730u);
    EXPECT_EQ(list[0].coplay_time, 1733500000);
    EXPECT_FALSE(list[0].is_friend);
    for (std::size_t i : {1u, 2u, 3u}) {   // "[unknown]", null and empty names
        EXPECT_EQ(list[i].persona, "");
        EXPECT_FALSE(list[i].persona_known);
    }
    EXPECT_EQ(list[3].appid, 570u);
    EXPECT_EQ(list[4].coplay_time, -5);      // signed, widened
    EXPECT_EQ(list[4].relationship, 3);
    EXPECT_TRUE(list[4].is_friend);
    EXPECT_EQ(list[4].persona, "Ünïcode ✦");
    // Five calls per valid entry, only the index call for an invalid one.
    EXPECT_EQ(count_calls("GetCoplayFriend "), 9);
    EXPECT_EQ(count_calls("GetFriendCoplayGame"), 5);
    EXPECT_EQ(count_calls("GetFriendRelationship"), 5);

    EXPECT_EQ(coplay_fingerprint(list),
              "76561198000000101:1733500000+76561198000000102:1733500100-"
              "76561198000000103:1733500200-76561198000000104:1733400000-"
              "76561198000000105:-5+");
    EXPECT_EQ(coplay_fingerprint({}), "");
}

TEST_F(CoplayFriendsTest, RequestsMissingNamesUntilTheyArrive) {
    connect(coplay_fixture());
    auto list = read_coplay_list(connection_);
    EXPECT_EQ(request_missing_personas(connection_, list), 3);   // B, C and D
    EXPECT_EQ(count_calls("RequestUserInformation"), 3);
    for (std::uint64_t id : {kB, kC, kD}) {
        EXPECT_EQ(count_calls("RequestUserInformation " + std::to_string(id) + " 1"), 1);
    }

    list = read_coplay_list(connection_);
    EXPECT_TRUE(list[1].persona_known);
    EXPECT_EQ(list[1].persona, "late name");
    EXPECT_EQ(request_missing_personas(connection_, list), 2);   // C and D still missing
}

TEST_F(CoplayFriendsTest, ReadsFriendsWithHistoriesGamesAndLobbies) {
    connect(friends_fixture());
    const auto list = read_friend_list(connection_);
    ASSERT_EQ(list.size(), 6u);
    EXPECT_EQ(count_calls("GetFriendCount 4"), 1);
    EXPECT_EQ(count_calls("GetFriendByIndex"), 7);

    const FriendEntry& alice = list[0];
    EXPECT_EQ(alice.persona, "Ålice");
    EXPECT_EQ(alice.nickname, "ally");
    EXPECT_EQ(alice.name_history, (std::vector<std::string>{"Ålice", "old alice", "older alice"}));
    EXPECT_EQ(alice.game_appid, 730u);
    EXPECT_EQ(alice.lobby, 109775241000000001ull);   // the record's last 8 of 24 bytes
    EXPECT_TRUE(alice.in_cs2);

    EXPECT_EQ(list[1].persona, "");                   // "[unknown]"
    EXPECT_EQ(list[1].nickname, "");
    EXPECT_EQ(list[1].name_history, (std::vector<std::string>{"only one"}));
    EXPECT_EQ(list[1].game_appid, 0u);
    EXPECT_FALSE(list[1].in_cs2);

    const FriendEntry& modded = list[2];
    EXPECT_EQ(modded.steamid, 76561198000000203ull);
    EXPECT_EQ(modded.persona, "");
    EXPECT_TRUE(modded.name_history.empty());
    EXPECT_EQ(modded.game_appid, 1234u);
    EXPECT_FALSE(modded.in_cs2);

    EXPECT_EQ(list[3].name_history.size(), 16u);      // 20 offered, 16 read
    EXPECT_EQ(list[3].name_history[15], "name 15");
    EXPECT_EQ(count_calls("GetFriendPersonaNameHistory 76561198000000204"), 16);
    EXPECT_EQ(list[4].name_history, (std::vector<std::string>{"carol"}));   // stops at null
    EXPECT_EQ(list[5].name_history, (std::vector<std::string>{"dave"}));    // stops at ""
    EXPECT_EQ(list[5].game_appid, 570u);
    EXPECT_EQ(list[5].lobby, 109775241000000009ull);
    EXPECT_FALSE(list[5].in_cs2);
}

TEST_F(CoplayFriendsTest, NegativeOrOversizedCountsFromTheClient) {
    json fixture = coplay_fixture();
    fixture["coplay_count"] = -3;
    fixture["friend_count"] = -7;
    connect(fixture);
    EXPECT_TRUE(read_coplay_list(connection_).empty());
    EXPECT_TRUE(read_friend_list(connection_).empty());
    EXPECT_EQ(count_calls("GetCoplayFriend "), 0);
    EXPECT_EQ(count_calls("GetFriendByIndex"), 0);
    steam_release(connection_);

    fixture["coplay_count"] = 12;   // more than there are: the rest come back as 0
    fixture["friend_count"] = 3;
    connect(fixture);
    EXPECT_EQ(read_coplay_list(connection_).size(), 5u);
    EXPECT_TRUE(read_friend_list(connection_).empty());
    steam_release(connection_);

    // A broken client's count: the loops stop at their bounds, and say so with --debug.
    fixture["coplay_count"] = 2000000000;
    fixture["friend_count"] = 2000000000;
    connect(fixture);
    EventLog log;
    log.debug = true;
    ASSERT_TRUE(log_open(log, dir_ / "logs"));
    SteamLists lists;
    const long coplay_before = count_calls("GetCoplayFriend ");
    const long friends_before = count_calls("GetFriendByIndex");
    coplay_tick(connection_, log, lists);
    friend_tick(connection_, log, lists);
    EXPECT_EQ(lists.coplay.size(), 5u);
    EXPECT_EQ(count_calls("GetCoplayFriend ") - coplay_before, kMaxCoplayEntries);
    EXPECT_EQ(count_calls("GetFriendByIndex") - friends_before, kMaxFriends);
    const auto cuts = records_named(log, "steam_count_cut");
    ASSERT_EQ(cuts.size(), 2u);
    EXPECT_EQ(cuts[0], json::parse(R"({"event":"steam_count_cut","list":"coplay","reported":2000000000,"read":1000})"));
    EXPECT_EQ(cuts[1], json::parse(R"({"event":"steam_count_cut","list":"friends","reported":2000000000,"read":5000})"));
}

TEST_F(CoplayFriendsTest, ClosedConnectionGivesEmptyResults) {
    SteamConnection closed;
    EXPECT_TRUE(read_coplay_list(closed).empty());
    EXPECT_TRUE(read_friend_list(closed).empty());
    EXPECT_EQ(read_friend_info(closed, kA).steamid, kA);
    CoplayEntry missing;
    missing.steamid = kB;
    EXPECT_EQ(request_missing_personas(closed, {missing}), 0);
}

// The age in a record is now - coplay_time with one `now` per record; it is
// checked against the clock and then dropped, so the rest compares exactly.
std::int64_t take_now(json& entry, std::int64_t before, std::int64_t after) {
    const std::int64_t now = entry.at("coplay_time").get<std::int64_t>() +
                             entry.at("age_seconds").get<std::int64_t>();
    EXPECT_GE(now, before);
    EXPECT_LE(now, after);
    entry.erase("age_seconds");
    return now;
}

TEST_F(CoplayFriendsTest, CoplayTicksLogSnapshotsOnChangeAndAnnounceCs2UsersOnce) {
    json fixture = coplay_fixture();
    fixture["coplay"].push_back({{"steamid", std::to_string(kSelf)}, {"appid", 730}, {"time", 1733500300},
                                 {"persona", "me"}});
    connect(fixture);
    EventLog log;
    log.debug = true;
    ASSERT_TRUE(log_open(log, dir_ / "logs"));
    SteamLists lists;

    const std::int64_t before = unix_now();
    testing::internal::CaptureStdout();
    coplay_tick(connection_, log, lists);   // new list: snapshot; B is asked for
    coplay_tick(connection_, log, lists);   // B's name arrived: snapshot again
    coplay_tick(connection_, log, lists);   // nothing changed: the small record
    const std::string console = testing::internal::GetCapturedStdout();
    const std::int64_t after = unix_now();
    EXPECT_NE(lists.last_coplay_tick, 0u);
    EXPECT_EQ(lists.coplay.size(), 6u);
    EXPECT_EQ(lists.announced.size(), 5u);   // A, B, C, E and self; not D's other game

    auto records = log_records(log);
    std::vector<std::string> names;
    for (const auto& r : records) names.push_back(r.at("event").get<std::string>());
    EXPECT_EQ(names, (std::vector<std::string>{"coplay_new", "coplay_new", "coplay_new", "coplay_new",
                                               "coplay_new", "coplay_snapshot", "coplay_snapshot",
                                               "coplay_tick"}));

    json announced_b = records[1];
    take_now(announced_b, before, after);
    EXPECT_EQ(announced_b, json::parse(R"({"event":"coplay_new","steamid":"76561198000000102",
        "persona":"","persona_known":false,"coplay_time":1733500100,"is_friend":false})"));

    json first = records[5];
    std::int64_t now = 0;
    for (auto& entry : first.at("entries")) now = take_now(entry, before, after);
    EXPECT_EQ(first, json::parse(R"({"event":"coplay_snapshot","total":6,"cs2":5,
        "friends_in_list":1,"self_in_list":true,"names_pending":3,"entries":[
        {"steamid":"76561198000000101","appid":730,"coplay_time":1733500000,"persona":"s1mple fan","persona_known":true,"relationship":0,"is_friend":false},
        {"steamid":"76561198000000102","appid":730,"coplay_time":1733500100,"persona":"","persona_known":false,"relationship":0,"is_friend":false},
        {"steamid":"76561198000000103","appid":730,"coplay_time":1733500200,"persona":"","persona_known":false,"relationship":0,"is_friend":false},
        {"steamid":"76561198000000104","appid":570,"coplay_time":1733400000,"persona":"","persona_known":false,"relationship":0,"is_friend":false},
        {"steamid":"76561198000000105","appid":730,"coplay_time":-5,"persona":"Ünïcode ✦","persona_known":true,"relationship":3,"is_friend":true},
        {"steamid":"76561198000000001","appid":730,"coplay_time":1733500300,"persona":"me","persona_known":true,"relationship":0,"is_friend":false}]})"));
    EXPECT_EQ(records[6].at("names_pending"), 2);
    EXPECT_EQ(records[6].at("entries").at(1).at("persona"), "late name");
    EXPECT_EQ(records[7], json::parse(R"({"event":"coplay_tick","total":6,"cs2":5,"names_pending":2})"));
    EXPECT_NE(console.find("coplay: 6 entries, 5 for cs2, 1 of them friends, 3 names pending\n"),
              std::string::npos) << console;
    EXPECT_NE(console.find("coplay: 6 entries, 5 for cs2, 1 of them friends, 2 names pending\n"),
              std::string::npos) << console;
    (void)now;
}

TEST_F(CoplayFriendsTest, EmptyCoplayListFirstTickIsTheSmallRecord) {
    connect(json::object());
    EventLog log;
    log.debug = true;
    ASSERT_TRUE(log_open(log, dir_ / "logs"));
    SteamLists lists;
    coplay_tick(connection_, log, lists);
    const auto records = log_records(log);
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0], json::parse(R"({"event":"coplay_tick","total":0,"cs2":0,"names_pending":0})"));
}

TEST_F(CoplayFriendsTest, WithoutDebugNothingIsLoggedButUsersAreStillAnnounced) {
    connect(coplay_fixture());
    EventLog log;
    ASSERT_TRUE(log_open(log, dir_ / "logs"));
    SteamLists lists;
    coplay_tick(connection_, log, lists);
    friend_tick(connection_, log, lists);
    EXPECT_TRUE(log_records(log).empty());
    EXPECT_EQ(lists.announced.size(), 4u);
    // The names were still asked for.
    EXPECT_EQ(count_calls("RequestUserInformation"), 3);

    // Announced users stay announced once --debug is switched on.
    log.debug = true;
    log_coplay_new(log, lists.coplay, lists.announced);
    EXPECT_TRUE(records_named(log, "coplay_new").empty());
}

TEST_F(CoplayFriendsTest, FriendTickWritesTheSnapshot) {
    connect(friends_fixture());
    EventLog log;
    log.debug = true;
    ASSERT_TRUE(log_open(log, dir_ / "logs"));
    SteamLists lists;
    testing::internal::CaptureStdout();
    friend_tick(connection_, log, lists);
    const std::string console = testing::internal::GetCapturedStdout();
    EXPECT_NE(lists.last_friend_tick, 0u);
    EXPECT_EQ(lists.friends.size(), 6u);
    EXPECT_NE(console.find("] friends: 6 total, 1 in cs2 now, 2 with a name history\n"),
              std::string::npos) << console;

    const auto records = log_records(log);
    ASSERT_EQ(records.size(), 1u);
    json snapshot = records[0];
    ASSERT_EQ(snapshot.at("friends").size(), 6u);
    EXPECT_EQ(snapshot.at("friends").at(3).at("name_history").size(), 16u);
    snapshot["friends"].erase(3);   // the 16-name friend, checked above
    EXPECT_EQ(snapshot, json::parse(R"({"event":"friends_snapshot","total":6,"in_cs2":1,"aliased":1,
        "with_name_history":2,"friends":[
        {"steamid":"76561198000000201","persona":"Ålice","nickname":"ally","nickname_differs":true,
         "name_history":["Ålice","old alice","older alice"],"game_appid":730,"lobby":"109775241000000001","in_cs2":true},
        {"steamid":"76561198000000202","persona":"","nickname":"","nickname_differs":false,
         "name_history":["only one"],"game_appid":0,"lobby":"0","in_cs2":false},
        {"steamid":"76561198000000203","persona":"","nickname":"","nickname_differs":false,
         "name_history":[],"game_appid":1234,"lobby":"0","in_cs2":false},
        {"steamid":"76561198000000205","persona":"carol","nickname":"","nickname_differs":false,
         "name_history":["carol"],"game_appid":0,"lobby":"0","in_cs2":false},
        {"steamid":"76561198000000206","persona":"","nickname":"","nickname_differs":false,
         "name_history":["dave"],"game_appid":570,"lobby":"109775241000000009","in_cs2":false}]})"));
}

TEST(SteamTicks, DueAfterTheirPeriodsAcrossTheWrap) {
    SteamLists lists;
    EXPECT_TRUE(coplay_tick_due(lists, 123));   // never ran
    EXPECT_TRUE(friend_tick_due(lists, 123));
    lists.last_coplay_tick = 10000;
    lists.last_friend_tick = 10000;
    EXPECT_FALSE(coplay_tick_due(lists, 14999));
    EXPECT_TRUE(coplay_tick_due(lists, 15000));
    EXPECT_FALSE(friend_tick_due(lists, 39999));
    EXPECT_TRUE(friend_tick_due(lists, 40000));
    lists.last_coplay_tick = 0xFFFFF000u;       // 4096 ms before the wrap
    EXPECT_FALSE(coplay_tick_due(lists, 903));
    EXPECT_TRUE(coplay_tick_due(lists, 904));
}

}  // namespace
