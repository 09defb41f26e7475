// room.json, rooms.json and vantor_room.cfg: what is kept, what is refused,
// and that a failed write leaves the old files whole.
#include "rooms/room_persistence.h"

#include <sstream>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "core/event_log.h"
#include "core/text.h"
#include "rooms/room_link.h"
#include "tests/support/test_support.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <csignal>
#include <sys/resource.h>
#endif

namespace {

using nlohmann::json;

RoomHistoryEntry entry(int n) {
    return {1700000000 + n, "de_mirage", "key" + std::to_string(n), "https://rooms.example/r/" + std::to_string(n)};
}

struct RoomFiles : ::testing::Test {
    std::filesystem::path dir = make_temp_dir("room-files");
    std::filesystem::path data = dir / "data";
    std::filesystem::path cfg = dir / "cfg";
    EventLog log;
    void SetUp() override {
        ASSERT_TRUE(log_open(log, dir / "logs"));
        std::filesystem::create_directories(cfg);
    }
    std::vector<json> errors() {
        std::vector<json> found;
        std::istringstream in(read_test_file(log.path));
        for (std::string line; std::getline(in, line);)
            if (json record = json::parse(line); record["event"] == "error") found.push_back(record);
        return found;
    }
    std::string keys() {
        std::string out;
        for (const RoomHistoryEntry& e : load_room_history(data)) out += e.room_key + " ";
        return out;
    }
};

TEST_F(RoomFiles, HistoryKeepsTheTenNewestOneEntryPerKey) {
    for (int n = 1; n <= 11; ++n) ASSERT_TRUE(add_room_to_history(data, entry(n)));
    EXPECT_EQ(keys(), "key11 key10 key9 key8 key7 key6 key5 key4 key3 key2 ");
    // A known key moves to the front with its new link, map and time.
    ASSERT_TRUE(add_room_to_history(data, {1800000000, "de_nuke", "key5", "https://rooms.example/r/new5"}));
    EXPECT_EQ(keys(), "key5 key11 key10 key9 key8 key7 key6 key4 key3 key2 ");
    // An entry without a link is refused and the file stays as it was.
    const std::string before = read_test_file(data / "rooms.json");
    EXPECT_FALSE(add_room_to_history(data, RoomHistoryEntry{1, "m", "key99", ""}));
    EXPECT_EQ(read_test_file(data / "rooms.json"), before);
}

TEST_F(RoomFiles, SavedRoomIsFoundForItsReservationOnly) {
    save_room_in(log, data, "0123456789abcdef0123456789abcdef", "https://a/r/x", "90123456", "de_dust2");
    EXPECT_EQ(load_room_history(data).at(0).map, "de_dust2");
    // room_json null: room.json as saved
    const struct { const char* name; const char* room_json; const char* reservation; bool found; } rows[] = {
        {"its reservation", nullptr, "90123456", true},
        {"a shorter one", nullptr, "9012345", false},
        {"none", nullptr, "", false},
        {"a number", "{\"reservation\": 90123456, \"url\": \"https://a\"}", "90123456", false},
        {"no link", "{\"reservation\": \"90123456\", \"url\": \"\"}", "90123456", false},
        {"cut short", "{\"reservation\": \"90123456\"", "90123456", false},
        // Every match without a reservation would share it: never another such match's room.
        {"saved without one, asked without one", "{\"reservation\": \"\", \"url\": \"https://a/r/x\"}", "", false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        if (row.room_json) write_test_file(data / "room.json", row.room_json);
        EXPECT_EQ(find_saved_room_in(data, row.reservation),
                  row.found ? std::optional<std::string>("https://a/r/x") : std::nullopt);
    }
    EXPECT_TRUE(errors().empty());
}

// The game runs the room cfg: a link that could break out of its echo line
// is never written.
TEST_F(RoomFiles, RoomCfgPrintsSafeLinksOnly) {
    // why empty: a safe link
    const struct { const char* link; const char* why; } rows[] = {
        {"https://a/r/1\";quit;echo \"", "double quote"},
        {"https://a/r/1;disconnect", "semicolon"},
        {"https://a/r/1\nquit", "line break"},
        {"https://a/r/\x1b[2J", "control character"},
        {"javascript:alert(1)", "not an http or https link"},
        {"https://rooms.example/r/0123456789abcdef?x=1&y=%20", ""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.link);
        std::filesystem::remove(cfg / "vantor_room.cfg");
        write_room_cfg(log, cfg, row.link);
        const std::string problem = room_link_problem(row.link);
        EXPECT_EQ(std::filesystem::exists(cfg / "vantor_room.cfg"), !*row.why);
        EXPECT_EQ(problem.empty(), !*row.why);
        EXPECT_TRUE(contains(problem, row.why)) << problem;
    }
    EXPECT_TRUE(contains(read_test_file(cfg / "vantor_room.cfg"),
                         "\necho \"[vantor] https://rooms.example/r/0123456789abcdef?x=1&y=%20\"\n"));
    ASSERT_EQ(errors().size(), 5u);
    // No cfg folder known, or no link: nothing at all.
    write_room_cfg(log, std::filesystem::path(), "https://a/r/1");
    write_room_cfg(log, dir / "other", "");
    EXPECT_FALSE(std::filesystem::exists(dir / "other"));
    EXPECT_EQ(errors().size(), 5u);
}

// A write that fails part-way must leave the old files whole.
TEST_F(RoomFiles, FilesSurviveAFailedWrite) {
    save_room_in(log, data, "k1", "https://a/r/1", "res1", "de_dust2");
    write_room_cfg(log, cfg, "https://a/r/1");
    const std::vector<std::filesystem::path> files = {data / "room.json", data / "rooms.json", cfg / "vantor_room.cfg"};
    std::vector<std::string> before;
    for (const auto& file : files) before.push_back(read_test_file(file));
    const std::string big = "https://a/r/" + std::string(1 << 20, 'x');
#ifdef _WIN32
    // Other programs may hold the files open without sharing: the replace fails.
    std::vector<HANDLE> held;
    for (const auto& file : files) held.push_back(CreateFileW(file.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    for (HANDLE h : held) ASSERT_NE(h, INVALID_HANDLE_VALUE);
    save_room_in(log, data, "k2", big, "res2", "de_nuke");
    write_room_cfg(log, cfg, big);
    for (HANDLE h : held) CloseHandle(h);
#else
    // A file size limit makes the write itself fail half-way.
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit old{};
    getrlimit(RLIMIT_FSIZE, &old);
    rlimit small = old;
    small.rlim_cur = 64 * 1024;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    save_room_in(log, data, "k2", big, "res2", "de_nuke");
    write_room_cfg(log, cfg, big);
    setrlimit(RLIMIT_FSIZE, &old);
#endif
    for (std::size_t i = 0; i < files.size(); ++i) EXPECT_EQ(read_test_file(files[i]), before[i]) << files[i];
    std::string where;
    for (const json& error : errors()) where += error["where"].get<std::string>() + " ";
    EXPECT_EQ(where, "room_json rooms_json room_cfg ");
    // No temporary file left beside them.
    std::size_t left = 0;
    for (const auto& item : std::filesystem::directory_iterator(data)) left += item.is_regular_file();
    EXPECT_EQ(left, 2u);
}

}  // namespace
