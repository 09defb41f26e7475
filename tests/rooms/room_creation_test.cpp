#include "rooms/room_creation.h"

#include <gtest/gtest.h>

#include "roster/roster_assembly.h"

namespace {

Roster two_players() {
    Roster roster;
    roster.players.push_back({76561197960287930ull, "Ünï \xf0\x9f\x99\x82", "self", "CT", 1});
    roster.players.push_back({76561198000000002ull, "cut \xe2\x82 off", "gsi-fill", "", 0});
    roster.reservation = "";
    roster.room_key = "0123456789abcdef0123456789abcdef";
    return roster;
}

TEST(RoomPayload, CompactKeysInByteOrderIdsAsStrings) {
    EXPECT_EQ(build_room_payload(two_players(), 76561197960287930ull),
              "{\"members\":["
              "{\"group\":1,\"name\":\"Ünï \xf0\x9f\x99\x82\",\"source\":\"self\",\"steamid\":\"76561197960287930\","
              "\"team\":\"CT\"},"
              "{\"group\":0,\"name\":\"cut \xef\xbf\xbd off\",\"source\":\"gsi-fill\",\"steamid\":"
              "\"76561198000000002\",\"team\":\"\"}],"
              "\"reporter_steamid64\":\"76561197960287930\",\"reservation\":\"\","
              "\"room_key\":\"0123456789abcdef0123456789abcdef\","
              "\"steamids\":[\"76561197960287930\",\"76561198000000002\"]}");
}

TEST(RoomAnswer, MembersOfAnotherTypeCountAsMissing) {
    struct Case {
        const char* body;
        const char* url;
        bool created;
    };
    for (const Case& c : {Case{R"({"url":"https://vantor.gg/r/1","created":true})", "https://vantor.gg/r/1", true},
                          Case{R"({"created":false,"url":"https://x/2","extra":[1]})", "https://x/2", false},
                          Case{R"({"url":7,"created":1})", "", false},
                          Case{R"({"url":null,"created":"true"})", "", false},
                          Case{R"(["https://vantor.gg/r/1"])", "", false},
                          Case{R"("https://vantor.gg/r/1")", "", false},
                          Case{R"({"url":"https://vantor.gg/r/1")", "", false},
                          Case{"", "", false}}) {
        const RoomAnswer answer = read_room_answer(c.body);
        EXPECT_EQ(answer.url, c.url) << c.body;
        EXPECT_EQ(answer.created, c.created) << c.body;
    }
}

TEST(RoomPost, ScheduleAndDueTimeAcrossTheTickWrap) {
    EXPECT_EQ(room_retry_delay_ms(1), 2000u);
    EXPECT_EQ(room_retry_delay_ms(2), 5000u);
    EXPECT_EQ(room_retry_delay_ms(3), 15000u);
    EXPECT_EQ(room_retry_delay_ms(4), 60000u);
    EXPECT_EQ(room_retry_delay_ms(5), 0u);

    RoomPost room;
    EXPECT_FALSE(room_post_due(room, 0));  // nothing to post
    arm_room_post(room, two_players(), 1, 0xFFFFFC00u);
    EXPECT_EQ(room.attempt, 0);
    EXPECT_FALSE(room.done);
    EXPECT_TRUE(room_post_due(room, 0xFFFFFC00u));
    EXPECT_FALSE(room_post_due(room, 0xFFFFFBFFu));

    // Due 2 s after a tick just before the wrap: due right after it, not 49 days later.
    room.next_try = 0xFFFFFC00u + 2000u;
    EXPECT_EQ(room.next_try, 0x3D0u);
    EXPECT_FALSE(room_post_due(room, 0xFFFFFFFFu));
    EXPECT_FALSE(room_post_due(room, 0x3CFu));
    EXPECT_TRUE(room_post_due(room, 0x3D0u));
    EXPECT_TRUE(room_post_due(room, 0x10000u));
    room.done = true;
    EXPECT_FALSE(room_post_due(room, 0x10000u));
}

}  // namespace
