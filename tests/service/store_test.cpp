// The SQLite store on a real file: create or join exactly once, the first
// roster kept, arrivals once each, purging, and a locked database reported
// as unavailable rather than waited on for ever.
#include "service/store.h"

#include <sqlite3.h>

#include <atomic>
#include <thread>

#include <gtest/gtest.h>

#include "roster/room_key.h"
#include "tests/support/test_support.h"

namespace {

RoomRequest match(int number, std::uint64_t reporter_index = 0, std::string map = "de_inferno") {
    RoomRequest request;
    for (std::uint64_t i = 0; i < 10; ++i) {
        const std::uint64_t id = 76561198000000000ull + number * 16 + i;
        request.steamids.push_back(id);
        request.members.push_back(RoomMember{0, "p" + std::to_string(i), "gsi", id, i < 5 ? "CT" : "T"});
    }
    request.room_key = derive_room_key(request.steamids);
    request.reporter = request.steamids[reporter_index];
    request.map = std::move(map);
    return request;
}

auto open_at(const std::filesystem::path& folder, std::string& error, int timeout_ms = 2000) {
    return open_store(StoreOptions{(folder / "rooms.db").string(), 4, std::chrono::milliseconds(timeout_ms)}, error);
}

TEST(Store, TheFirstReportCreatesTheOthersJoinTheSameReporterIsOneArrival) {
    const auto folder = make_temp_dir("store_join");
    std::string error;
    auto store = open_at(folder, error);
    ASSERT_TRUE(store) << error;
    const struct { const char* guards; int reporter; std::string map; bool created; std::size_t arrivals; } rows[] = {
        {"the first report creates", 0, "", true, 1},
        {"another player joins", 1, "de_inferno", false, 2},
        {"the same player again is no new arrival", 1, "", false, 2},
        {"a third player joins", 9, "de_dust2", false, 3},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.guards);
        RoomRequest request = match(1, row.reporter, row.map);
        request.members[0].name = std::string("named by ") + row.guards;
        const ArriveResult result = store_arrive(*store, request, 1000 + row.reporter);
        ASSERT_EQ(result.status, StoreStatus::ok) << result.error;
        EXPECT_EQ(result.created, row.created);
        const RoomLookup found = store_room(*store, request.room_key);
        ASSERT_EQ(found.status, StoreStatus::ok);
        EXPECT_EQ(found.room.arrivals.size(), row.arrivals);
        EXPECT_EQ(found.room.members[0].name, "named by the first report creates");   // the first roster stays
        EXPECT_EQ(found.room.created_at, 1000);
    }
    // The map learnt from the second report filled the empty one; a later one did not replace it.
    EXPECT_EQ(store_room(*store, match(1).room_key).room.map, "de_inferno");
    EXPECT_EQ(store_room(*store, std::string(32, 'f')).status, StoreStatus::not_found);

    store.reset();
    store = open_at(folder, error);   // the rooms are in the file
    ASSERT_TRUE(store) << error;
    EXPECT_EQ(store_room(*store, match(1).room_key).room.arrivals.size(), 3u);
    EXPECT_FALSE(store_arrive(*store, match(1, 4), 2000).created);
}

TEST(Store, ManyThreadsOneRoomPerKeyEveryReporterOnce) {
    const auto folder = make_temp_dir("store_threads");
    std::string error;
    auto store = open_at(folder, error);
    ASSERT_TRUE(store) << error;
    constexpr int kMatches = 40;
    std::atomic<int> created{0}, failed{0};
    std::vector<std::thread> threads;
    for (int reporter = 0; reporter < 10; ++reporter)
        threads.emplace_back([&, reporter] {
            for (int m = 0; m < kMatches; ++m) {
                const ArriveResult r = store_arrive(*store, match(m, reporter), 5);
                if (r.status != StoreStatus::ok) ++failed;
                if (r.created) ++created;
            }
        });
    for (auto& t : threads) t.join();
    EXPECT_EQ(failed.load(), 0);
    EXPECT_EQ(created.load(), kMatches);
    for (int m = 0; m < kMatches; ++m) EXPECT_EQ(store_room(*store, match(m).room_key).room.arrivals.size(), 10u);
}

TEST(Store, PurgeDeletesOnlyRoomsCreatedBeforeTheCut) {
    const auto folder = make_temp_dir("store_purge");
    std::string error;
    auto store = open_at(folder, error);
    ASSERT_TRUE(store) << error;
    store_arrive(*store, match(1), 100);
    store_arrive(*store, match(2), 200);
    store_arrive(*store, match(1, 5), 300);   // a late arrival does not keep an old room
    EXPECT_EQ(store_purge(*store, 200), 1);
    EXPECT_EQ(store_room(*store, match(1).room_key).status, StoreStatus::not_found);
    EXPECT_EQ(store_room(*store, match(2).room_key).status, StoreStatus::ok);
    EXPECT_TRUE(store_arrive(*store, match(1, 5), 400).created);
    EXPECT_EQ(store_room(*store, match(1).room_key).room.arrivals.size(), 1u);
    store.reset();
    sqlite3* db = nullptr;   // no arrival rows left behind: match 2's and the new one
    ASSERT_EQ(sqlite3_open((folder / "rooms.db").string().c_str(), &db), SQLITE_OK);
    sqlite3_stmt* count = nullptr;
    sqlite3_prepare_v2(db, "SELECT count(*) FROM arrivals", -1, &count, nullptr);
    ASSERT_EQ(sqlite3_step(count), SQLITE_ROW);
    EXPECT_EQ(sqlite3_column_int(count, 0), 2);
    sqlite3_finalize(count);
    sqlite3_close(db);
}

TEST(Store, ALockedDatabaseIsUnavailableWithinTheTimeout) {
    const auto folder = make_temp_dir("store_locked");
    std::string error;
    auto store = open_at(folder, error, 200);
    ASSERT_TRUE(store) << error;
    sqlite3* other = nullptr;
    ASSERT_EQ(sqlite3_open((folder / "rooms.db").string().c_str(), &other), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(other, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr), SQLITE_OK);
    const auto start = std::chrono::steady_clock::now();
    const ArriveResult locked = store_arrive(*store, match(3), 1);
    EXPECT_EQ(locked.status, StoreStatus::unavailable);
    EXPECT_FALSE(locked.error.empty());
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
    sqlite3_exec(other, "COMMIT", nullptr, nullptr, nullptr);
    EXPECT_TRUE(store_arrive(*store, match(3), 1).created);   // nothing half-done was kept
    EXPECT_TRUE(store_healthy(*store, error)) << error;
    sqlite3_close(other);
}

TEST(Store, ANewerSchemaOrNoFileIsRefusedAtOpen) {
    const auto folder = make_temp_dir("store_schema");
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open((folder / "rooms.db").string().c_str(), &db), SQLITE_OK);
    sqlite3_exec(db, "PRAGMA user_version = 7", nullptr, nullptr, nullptr);
    sqlite3_close(db);
    std::string error;
    EXPECT_FALSE(open_at(folder, error));
    EXPECT_EQ(error, "the database has schema version 7, newer than this program's 1");
    EXPECT_FALSE(open_at(folder / "no" / "such" / "folder", error));
    EXPECT_NE(error.find("cannot open the database"), std::string::npos) << error;
}

}  // namespace
