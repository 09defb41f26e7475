#include "agent/room_delivery.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "agent/match_state.h"
#include "core/event_log.h"
#include "rooms/room_persistence.h"
#include "tests/support/test_support.h"

namespace {

// An event log in a fresh folder whose records the test reads back.
struct LogFolder {
    std::filesystem::path dir;
    EventLog log;
    explicit LogFolder(const char* tag) : dir(make_temp_dir(tag)) { EXPECT_TRUE(log_open(log, dir)); }

    std::vector<nlohmann::json> events(const std::string& name) {
        std::fflush(log.file);
        std::vector<nlohmann::json> found;
        const std::string text = read_test_file(log.path);
        std::size_t start = 0;
        while (start < text.size()) {
            std::size_t end = text.find('\n', start);
            if (end == std::string::npos) end = text.size();
            nlohmann::json record = nlohmann::json::parse(text.substr(start, end - start), nullptr, false);
            if (record.is_object() && record.value("event", "") == name) found.push_back(record);
            start = end + 1;
        }
        return found;
    }
};

Roster roster_of(int size, bool validated, std::string key = "") {
    Roster roster;
    for (int i = 0; i < size; ++i) {
        std::string name(1, 'p');
        name += std::to_string(i);
        roster.players.push_back({76561198000000001ULL + i, name, "coplay", "CT", 0});
    }
    roster.validated = validated;
    roster.complete = size == 10;
    roster.room_key = std::move(key);
    roster.reservation = "8512345";
    roster.expected = size;
    if (roster.complete && roster.room_key.empty()) roster.blocked_by = "ten players, but the room key could not be computed";
    return roster;
}

const std::string kKey = "0123456789abcdef0123456789abcdef";

TEST(RoomDelivery, ProgressIsLoggedWhenMembersOrValidationChange) {
    EXPECT_EQ(roster_progress_signature(roster_of(2, true)), "v,76561198000000001,76561198000000002");
    EXPECT_EQ(roster_progress_signature(roster_of(0, false)), "-");

    LogFolder out("delivery-progress");
    MatchState match;
    settle_roster(out.log, match, roster_of(7, false), true, 1);
    settle_roster(out.log, match, roster_of(7, false), true, 1);
    EXPECT_EQ(out.events("roster_progress").size(), 1u);
    settle_roster(out.log, match, roster_of(7, true), true, 1);    // validation alone
    settle_roster(out.log, match, roster_of(8, true), true, 1);    // one more member
    const auto progress = out.events("roster_progress");
    ASSERT_EQ(progress.size(), 3u);
    EXPECT_EQ(progress[2]["size"], 8);
    EXPECT_FALSE(match.final);
}

TEST(RoomDelivery, CompleteButUnconfirmedRosterNeverBecomesFinal) {
    LogFolder out("delivery-unconfirmed");
    MatchState match;
    settle_roster(out.log, match, roster_of(10, false, kKey), true, 1);
    EXPECT_FALSE(match.final);
    EXPECT_TRUE(match.room.payload.empty());
    EXPECT_TRUE(out.events("roster_complete").empty());
}

TEST(RoomDelivery, MissingKeyIsReportedOnceAndALaterKeyStillFinishes) {
    LogFolder out("delivery-key");
    MatchState match;
    for (int i = 0; i < 3; ++i) settle_roster(out.log, match, roster_of(10, true), true, 1);
    const auto errors = out.events("error");
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0]["where"], "room_key");
    EXPECT_EQ(errors[0]["detail"], "ten players, but the room key could not be computed");
    EXPECT_FALSE(match.final);

    settle_roster(out.log, match, roster_of(10, true, kKey), true, 76561198000000001ULL);
    EXPECT_TRUE(match.final);
    EXPECT_EQ(match.room.key, kKey);
    EXPECT_EQ(match.room.reservation, "8512345");
    EXPECT_FALSE(match.room.payload.empty());
    EXPECT_EQ((std::pair{match.room.attempt, match.room.done}), (std::pair{0, false}));
    const auto complete = out.events("roster_complete");
    ASSERT_EQ(complete.size(), 1u);
    EXPECT_EQ(complete[0]["room_key"], kKey);
}

TEST(RoomDelivery, WithoutApiTheRosterIsFinalButNothingIsPosted) {
    LogFolder out("delivery-no-api");
    MatchState match;
    testing::internal::CaptureStdout();
    settle_roster(out.log, match, roster_of(10, true, kKey), false, 76561198000000001ULL);
    const std::string console = testing::internal::GetCapturedStdout();
    EXPECT_TRUE(match.final);
    EXPECT_TRUE(match.room.payload.empty());
    EXPECT_NE(console.find("ROSTER COMPLETE  room_key=" + kKey +
                           "  (10 players, validated by status) -- roster is now final for this match"),
              std::string::npos) << console;
    EXPECT_NE(console.find("\n    76561198000000001  coplay"), std::string::npos) << console;
    EXPECT_NE(console.find("    -> would POST /v1/matches {room_key, 10 steamids, reporter=76561198000000001}"
                           " -- no API base URL configured"),
              std::string::npos) << console;
}

TEST(RoomDelivery, RequestWaitsForAStatusBlockThenRestoresTheSavedRoomOnce) {
    LogFolder out("delivery-restore");
    const std::filesystem::path data = make_temp_dir("delivery-data");
    save_room_in(out.log, data, kKey, "https://rooms.example/r/saved", "8512345", "de_mirage");

    MatchState match;
    match.room_requested = true;
    EXPECT_FALSE(serve_room_request(out.log, match, data));   // no status block yet
    EXPECT_FALSE(match.restore_tried);
    EXPECT_TRUE(match.room_requested);

    match.have_status = true;
    match.last_status.reservation = "999";                    // another match: nothing saved
    EXPECT_FALSE(serve_room_request(out.log, match, data));
    EXPECT_TRUE(match.restore_tried);
    match.last_status.reservation = "8512345";
    EXPECT_FALSE(serve_room_request(out.log, match, data));   // tried once for this request
    EXPECT_TRUE(out.events("room_link_restored").empty());

    match.restore_tried = false;                               // what a new request does
    EXPECT_TRUE(serve_room_request(out.log, match, data));
    EXPECT_EQ(match.room.url, "https://rooms.example/r/saved");
    EXPECT_FALSE(match.room_requested);
    const auto restored = out.events("room_link_restored");
    ASSERT_EQ(restored.size(), 1u);
    EXPECT_EQ(restored[0]["reservation"], "8512345");
    const auto delivered = out.events("room_delivered");
    ASSERT_EQ(delivered.size(), 1u);
    EXPECT_EQ(delivered[0]["url"], "https://rooms.example/r/saved");
    EXPECT_EQ(delivered[0]["clipboard_error"] == 0, delivered[0]["clipboard"].get<bool>());
    // Served once: a further pass without a new request delivers nothing.
    EXPECT_FALSE(serve_room_request(out.log, match, data));
}

}  // namespace
