#include "rooms/room_persistence.h"

#include <algorithm>
#include <ctime>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "core/event_log.h"
#include "core/files.h"
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

std::vector<json> read_events(const EventLog& log, std::string_view name) {
    std::vector<json> found;
    const std::string text = read_test_file(log.path);
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        const json record = json::parse(text.substr(start, end - start), nullptr, false);
        if (record.is_object() && record.value("event", "") == name) found.push_back(record);
        start = end + 1;
    }
    return found;
}

RoomHistoryEntry entry(int n, std::string map = "de_mirage") {
    return RoomHistoryEntry{1700000000 + n, std::move(map), "key" + std::to_string(n),
                            "https://rooms.example/r/" + std::to_string(n)};
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
};

TEST_F(RoomFiles, HistoryKeepsTheTenNewestOneEntryPerKey) {
    for (int n = 1; n <= 11; ++n) ASSERT_TRUE(add_room_to_history(data, entry(n)));
    std::vector<RoomHistoryEntry> history = load_room_history(data);
    ASSERT_EQ(history.size(), 10u);
    EXPECT_EQ(history.front().room_key, "key11");
    EXPECT_EQ(history.back().room_key, "key2");  // key1, the oldest, is gone

    // A known key moves to the front with its new link, map and time.
    ASSERT_TRUE(add_room_to_history(data, {1800000000, "de_nuke", "key5", "https://rooms.example/r/new5"}));
    history = load_room_history(data);
    ASSERT_EQ(history.size(), 10u);
    EXPECT_EQ(history[0].room_key, "key5");
    EXPECT_EQ(history[0].url, "https://rooms.example/r/new5");
    EXPECT_EQ(history[0].map, "de_nuke");
    EXPECT_EQ(history[0].created_at, 1800000000);
    EXPECT_EQ(history[1].room_key, "key11");
    EXPECT_EQ(std::count_if(history.begin(), history.end(), [](const auto& e) { return e.room_key == "key5"; }), 1);

    // An entry without a link is refused and the file stays as it was.
    const std::string before = read_test_file(data / "rooms.json");
    EXPECT_FALSE(add_room_to_history(data, RoomHistoryEntry{1, "m", "key99", ""}));
    EXPECT_EQ(read_test_file(data / "rooms.json"), before);
}

TEST_F(RoomFiles, HistoryFileFormatIsExact) {
    ASSERT_TRUE(add_room_to_history(data, RoomHistoryEntry{1733430600, "", "k1", "https://a/r/1"}));
    ASSERT_TRUE(add_room_to_history(data, RoomHistoryEntry{-5, "de_dust2 ✓", "k2", "https://a/r/2"}));
    EXPECT_EQ(read_test_file(data / "rooms.json"),
              "[\n"
              "  {\n"
              "    \"created_at\": -5,\n"
              "    \"map\": \"de_dust2 ✓\",\n"
              "    \"room_key\": \"k2\",\n"
              "    \"url\": \"https://a/r/2\"\n"
              "  },\n"
              "  {\n"
              "    \"created_at\": 1733430600,\n"
              "    \"map\": \"\",\n"
              "    \"room_key\": \"k1\",\n"
              "    \"url\": \"https://a/r/1\"\n"
              "  }\n"
              "]\n");
}

TEST_F(RoomFiles, ForeignHistoryElementsAreDroppedOnRewrite) {
    write_test_file(data / "rooms.json",
                    R"([7, "text", {"room_key": "nolink", "map": "x"},
                        {"room_key": "a", "url": "https://a/r/a", "map": "de_inferno", "created_at": 5},
                        {"room_key": "b", "url": "https://a/r/b", "created_at": "yesterday"},
                        {"room_key": "c", "url": 42},
                        {"room_key": "d", "url": "https://a/r/d"},
                        null, [1, 2]])");
    std::vector<RoomHistoryEntry> history = load_room_history(data);
    ASSERT_EQ(history.size(), 2u);
    EXPECT_EQ(history[0].room_key, "a");
    EXPECT_EQ(history[0].created_at, 5);
    EXPECT_EQ(history[1].room_key, "d");  // missing members read as their defaults
    EXPECT_EQ(history[1].created_at, 0);
    EXPECT_EQ(history[1].map, "");

    ASSERT_TRUE(add_room_to_history(data, entry(1)));
    EXPECT_EQ(load_room_history(data).size(), 3u);
    EXPECT_EQ(json::parse(read_test_file(data / "rooms.json")).size(), 3u);

    // Not JSON, or JSON that is not an array: an empty history, then one entry.
    for (const char* foreign : {"not json at all", "{\"room_key\": \"a\"}", "", "\xff\xfe["}) {
        write_test_file(data / "rooms.json", foreign);
        EXPECT_TRUE(load_room_history(data).empty()) << foreign;
        ASSERT_TRUE(add_room_to_history(data, entry(2)));
        EXPECT_EQ(load_room_history(data).size(), 1u);
    }
    EXPECT_TRUE(load_room_history(dir / "missing").empty());
}

TEST_F(RoomFiles, SavedRoomIsFoundForItsReservationOnly) {
    save_room_in(log, data, "0123456789abcdef0123456789abcdef", "https://a/r/x", "90123456", "de_dust2");
    const json saved = json::parse(read_test_file(data / "room.json"));
    ASSERT_TRUE(saved["created_at"].is_number_integer());
    const std::string created = std::to_string(saved["created_at"].get<std::int64_t>());
    EXPECT_EQ(read_test_file(data / "room.json"),
              "{\n  \"created_at\": " + created +
                  ",\n  \"reservation\": \"90123456\",\n  \"room_key\": "
                  "\"0123456789abcdef0123456789abcdef\",\n  \"url\": \"https://a/r/x\"\n}\n");
    ASSERT_EQ(load_room_history(data).size(), 1u);
    EXPECT_EQ(load_room_history(data)[0].map, "de_dust2");

    EXPECT_EQ(find_saved_room_in(data, "90123456"), std::optional<std::string>("https://a/r/x"));
    EXPECT_EQ(find_saved_room_in(data, "9012345"), std::nullopt);
    EXPECT_EQ(find_saved_room_in(data, ""), std::nullopt);

    for (const char* corrupt : {"[1]", "{\"reservation\": 90123456, \"url\": \"https://a\"}",
                                "{\"reservation\": \"90123456\", \"url\": \"\"}", "{\"reservation\": \"90123456\""}) {
        write_test_file(data / "room.json", corrupt);
        EXPECT_EQ(find_saved_room_in(data, "90123456"), std::nullopt) << corrupt;
    }
    EXPECT_TRUE(read_events(log, "error").empty());
}

TEST_F(RoomFiles, RoomWithoutLinkIsSavedButRefusedByTheHistory) {
    add_room_to_history(data, entry(1));
    const std::string history = read_test_file(data / "rooms.json");
    save_room_in(log, data, "k", "", "r", "m");
    EXPECT_EQ(json::parse(read_test_file(data / "room.json"))["url"], "");
    EXPECT_EQ(read_test_file(data / "rooms.json"), history);
    const auto errors = read_events(log, "error");
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0]["where"], "rooms_json");
    EXPECT_EQ(errors[0]["detail"], path_to_utf8(data / "rooms.json"));
}

TEST(RoomMenuLabel, LocalTimeMapAndKeyFallback) {
    std::tm local{};
    local.tm_year = 2024 - 1900;
    local.tm_mon = 11;
    local.tm_mday = 5;
    local.tm_hour = 21;
    local.tm_min = 30;
    local.tm_isdst = -1;
    const std::int64_t at = std::int64_t(std::mktime(&local));
    ASSERT_NE(at, -1);

    EXPECT_EQ(room_menu_label({at, "de_dust2", "0123456789abcdef", "https://a"}), L"05.12 21:30   de_dust2");
    EXPECT_EQ(room_menu_label({at, "", "0123456789abcdef", "https://a"}), L"05.12 21:30");
    // A time no calendar can hold: the map, or else the start of the key.
    EXPECT_EQ(room_menu_label({INT64_MAX, "", "abc", "https://a"}), L"abc");
    EXPECT_EQ(room_menu_label({INT64_MAX, "Мираж", "abc", "https://a"}), utf8_to_wide("Мираж"));
}

TEST_F(RoomFiles, MenuItemsFollowTheHistory) {
    add_room_to_history(data, RoomHistoryEntry{INT64_MAX, "", "11112222x", "https://a/r/1"});
    add_room_to_history(data, RoomHistoryEntry{INT64_MAX, "de_anubis", "k2", "https://a/r/2"});
    const auto items = room_menu_items(data);
    ASSERT_EQ(items.size(), 2u);
    EXPECT_EQ(items[0].label, L"de_anubis");
    EXPECT_EQ(items[1].label, L"11112222");
    EXPECT_EQ(items[1].url, "https://a/r/1");
}

// A hand-edited history of hundreds of rooms: the menu keeps the ten newest
// (the file's first), so room ids never reach 900 ("Show/Hide console").
TEST_F(RoomFiles, AHandEditedLongHistoryGivesTenMenuItems) {
    json list = json::array();
    list.push_back(7);   // not an entry: it does not count
    for (int n = 899; n >= 0; --n) {
        const RoomHistoryEntry e = entry(n);
        list.push_back({{"created_at", e.created_at}, {"map", e.map}, {"room_key", e.room_key}, {"url", e.url}});
    }
    write_test_file(data / "rooms.json", list.dump(2) + "\n");
    const auto items = room_menu_items(data);
    ASSERT_EQ(items.size(), kRoomHistorySize);
    EXPECT_EQ(items.front().url, "https://rooms.example/r/899");
    EXPECT_EQ(items.back().url, "https://rooms.example/r/890");
}

TEST_F(RoomFiles, RoomCfgHasSixLines) {
    const std::string link = "https://rooms.example/r/0123456789abcdef0123456789abcdef?x=1&y=%20";
    write_room_cfg(log, cfg, link);
    EXPECT_EQ(read_test_file(cfg / "vantor_room.cfg"),
              "// vantor -- rewritten whenever a room is created, and safe to delete.\n"
              "//\n"
              "// Type  exec vantor_room  in the console to print this link and copy it.\n"
              "echo \"\"\n"
              "echo \"[vantor] " + link + "\"\n"
              "echo \"\"\n");
    // No cfg folder known, or no link: nothing at all.
    const auto other = dir / "other";
    write_room_cfg(log, std::filesystem::path(), link);
    write_room_cfg(log, other, "");
    EXPECT_FALSE(std::filesystem::exists(other));
    EXPECT_TRUE(read_events(log, "error").empty());
}

TEST_F(RoomFiles, UnsafeLinksNeverReachTheCfg) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"https://a/r/1\";quit;echo \"", "double quote"},
        {"https://a/r/1;disconnect", "semicolon"},
        {"https://a/r/1\nquit", "line break"},
        {"https://a/r/1\rquit", "line break"},
        {"https://a/r/\x1b[2J", "control character"},
        {"https://a/r/\xc2\x85next", "control character"},
        {"https://a/r/\xff", "not valid UTF-8"},
        {"javascript:alert(1)", "not an http or https link"},
        {"https://", "no host"},
    };
    for (const auto& [link, why] : cases) {
        write_room_cfg(log, cfg, link);
        EXPECT_FALSE(std::filesystem::exists(cfg / "vantor_room.cfg")) << link;
        EXPECT_TRUE(contains(room_link_problem(link), why)) << link << ": " << room_link_problem(link);
    }
    const auto errors = read_events(log, "error");
    ASSERT_EQ(errors.size(), cases.size());
    for (const auto& error : errors) {
        EXPECT_EQ(error["where"], "room_cfg");
        EXPECT_TRUE(contains(error["detail"].get<std::string>(), "vantor_room.cfg was not written"));
    }
    for (const char* safe : {"https://rooms.example/r/abc", "HTTP://Rooms.Example:8080/r/ä?q=1#x", "http://127.0.0.1/r"})
        EXPECT_TRUE(room_link_is_safe(safe)) << safe;
}

// A write that fails part-way must leave the old files whole.
TEST_F(RoomFiles, FilesSurviveAFailedWrite) {
    save_room_in(log, data, "k1", "https://a/r/1", "res1", "de_dust2");
    const std::string room_before = read_test_file(data / "room.json");
    const std::string rooms_before = read_test_file(data / "rooms.json");
    const std::string cfg_path = path_to_utf8(cfg / "vantor_room.cfg");
    write_room_cfg(log, cfg, "https://a/r/1");
    const std::string cfg_before = read_test_file(cfg / "vantor_room.cfg");
    const std::string big(1 << 20, 'x');
    {
#ifdef _WIN32
        // Other programs may hold the files open without sharing: the replace fails.
        std::vector<HANDLE> held;
        for (const auto& path : {data / "room.json", data / "rooms.json", cfg / "vantor_room.cfg"})
            held.push_back(CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
        for (HANDLE h : held) ASSERT_NE(h, INVALID_HANDLE_VALUE);
        save_room_in(log, data, "k2", "https://a/r/" + big, "res2", "de_nuke");
        write_room_cfg(log, cfg, "https://a/r/" + big);
        for (HANDLE h : held) CloseHandle(h);
#else
        // A file size limit makes the write itself fail half-way.
        std::signal(SIGXFSZ, SIG_IGN);
        rlimit old{};
        getrlimit(RLIMIT_FSIZE, &old);
        rlimit small = old;
        small.rlim_cur = 64 * 1024;
        ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
        save_room_in(log, data, "k2", "https://a/r/" + big, "res2", "de_nuke");
        write_room_cfg(log, cfg, "https://a/r/" + big);
        setrlimit(RLIMIT_FSIZE, &old);
#endif
    }
    EXPECT_EQ(read_test_file(data / "room.json"), room_before);
    EXPECT_EQ(read_test_file(data / "rooms.json"), rooms_before);
    EXPECT_EQ(read_test_file(cfg / "vantor_room.cfg"), cfg_before);
    const auto errors = read_events(log, "error");
    ASSERT_EQ(errors.size(), 3u);
    EXPECT_EQ(errors[0]["where"], "room_json");
    EXPECT_EQ(errors[1]["where"], "rooms_json");
    EXPECT_EQ(errors[2]["where"], "room_cfg");
    EXPECT_EQ(errors[2]["detail"], cfg_path);
    // Only the bytes of the files themselves remain: no temporary file left beside them.
    std::size_t files = 0;
    for (const auto& item : std::filesystem::directory_iterator(data)) files += item.is_regular_file();
    EXPECT_EQ(files, 2u);
}

}  // namespace
