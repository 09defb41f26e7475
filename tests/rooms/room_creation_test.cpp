// The room request body, the answer read back and the retry schedule.
#include "rooms/room_creation.h"

#include <gtest/gtest.h>

#include "roster/roster_assembly.h"

namespace {

// Every agent of a match sends this body; names that CS2 cut inside a
// character must still give valid JSON.
TEST(RoomPayload, CompactKeysInByteOrderIdsAsStringsNamesAsUtf8) {
    Roster roster;
    roster.players.push_back({76561197960287930ull, "\xc3\x9cn\xc3\xaf \xf0\x9f\x99\x82", "self", "CT", 1});
    roster.players.push_back({76561198000000002ull, "cut \xe2\x82 off", "gsi-fill", "", 0});
    roster.room_key = "0123456789abcdef0123456789abcdef";
    EXPECT_EQ(build_room_payload(roster, 76561197960287930ull, "de_mirage"),
              "{\"map\":\"de_mirage\",\"members\":[{\"group\":1,\"name\":\"\xc3\x9cn\xc3\xaf \xf0\x9f\x99\x82\",\"source\":\"self\","
              "\"steamid\":\"76561197960287930\",\"team\":\"CT\"},{\"group\":0,\"name\":\"cut \xef\xbf\xbd off\","
              "\"source\":\"gsi-fill\",\"steamid\":\"76561198000000002\",\"team\":\"\"}],"
              "\"reporter_steamid64\":\"76561197960287930\",\"reservation\":\"\","
              "\"room_key\":\"0123456789abcdef0123456789abcdef\","
              "\"steamids\":[\"76561197960287930\",\"76561198000000002\"]}");
}

// The link is checked where the answer is read: what is not a plain web link
// never leaves here, and the reason goes into the failure record.
TEST(RoomAnswer, OnlyPlainWebLinksAreRoomLinks) {
    const struct { const char* name; const char* body; const char* url; bool created; const char* why; } rows[] = {
        {"created", R"j({"url":"https://vantor.gg/r/1","created":true})j", "https://vantor.gg/r/1", true, ""},
        {"joined, extra members", R"j({"created":false,"url":"https://x/2","extra":[1]})j", "https://x/2", false, ""},
        {"a number and a 1", R"j({"url":7,"created":1})j", "", false, "\"url\" is not a string"},
        {"no url", R"j({"created":true})j", "", true, "has no \"url\""},
        {"an array", R"j(["https://vantor.gg/r/1"])j", "", false, "not a JSON object"},
        {"a number", "42", "", false, "not a JSON object"},
        {"cut short", R"j({"url":"https://vantor.gg/r/1")j", "", false, "not JSON"},
        {"empty", "", "", false, "not JSON"},
        {"javascript", R"j({"url":"javascript:alert(1)"})j", "", false, "not an http or https link"},
        {"a local file", R"j({"url":"file:///etc/passwd"})j", "", false, "not an http or https link"},
        {"an option for whatever gets it", R"j({"url":"--help"})j", "", false, "not an http or https link"},
        {"shell quoting", R"j({"url":"https://x/r/a\"; quit; echo \""})j", "", false, "double quote"},
        {"a forged agent line", R"j({"url":"https://x/r/1\n[   99.9s] ROOM  https://evil.example/phish"})j", "", false,
         "line break"},
        {"a single quote", R"j({"url":"https://x/r/'1"})j", "", false, "quote"},
        {"right-to-left override", R"j({"url":"https://x/r/\u202Egpj"})j", "", false, "outside ASCII"},
        {"no host", R"j({"url":"https:///r/1"})j", "", false, "no host"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const RoomAnswer answer = read_room_answer(row.body);
        EXPECT_EQ(answer.url, row.url);
        EXPECT_EQ(answer.created, row.created);
        EXPECT_EQ(answer.problem.empty(), !*row.why);
        EXPECT_NE(answer.problem.find(row.why), std::string::npos) << answer.problem;
    }
}

TEST(RoomPost, RetryScheduleAndDueTimeAcrossTheTickWrap) {
    for (const auto& [attempt, delay] :
         std::initializer_list<std::pair<int, std::uint32_t>>{{1, 2000}, {2, 5000}, {3, 15000}, {4, 60000}, {5, 0}})
        EXPECT_EQ(room_retry_delay_ms(attempt), delay) << "after attempt " << attempt;

    RoomPost room;
    EXPECT_FALSE(room_post_due(room, 0));   // nothing to post
    arm_room_post(room, Roster{}, 1, 0xFFFFFC00u);
    EXPECT_EQ(room.attempt, 0);
    EXPECT_TRUE(room_post_due(room, 0xFFFFFC00u));   // due at once
    room.next_try = 0xFFFFFC00u + 2000u;    // due 2 s after a tick just before the wrap
    const struct { const char* name; std::uint32_t now; bool due; } rows[] = {
        {"the last tick before the wrap", 0xFFFFFFFFu, false},
        {"one tick early, after the wrap", 0x3CFu, false},
        {"on time, after the wrap", 0x3D0u, true},
        {"late", 0x10000u, true},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(room_post_due(room, row.now), row.due);
    }
    room.done = true;
    EXPECT_FALSE(room_post_due(room, 0x10000u));
}

}  // namespace
