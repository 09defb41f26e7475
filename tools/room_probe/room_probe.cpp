// Drives the room code against a room server, one command per run, and prints
// one JSON line with what happened. Used by tests/rooms/room_api_test.py and
// tools/bench/room_post.py; time is simulated where the schedule matters.
//
//   room_probe post BASE_URL PATH BODY
//       api_client_init and one api_post; prints ok, status, body, error.
//   room_probe rooms BASE_URL WORK_DIR START_TICK REPORTER_INDEX [cfg|nocfg]
//       arms a ten-player roster and runs passes 300 ms apart on a simulated
//       tick count from START_TICK, posting whenever due, until done; events go
//       to WORK_DIR/logs, room files to WORK_DIR/data, the room cfg to
//       WORK_DIR/cfg. Prints the offsets of the attempts from the start.
//   room_probe bench BASE_URL WORK_DIR COUNT
//       COUNT rosters with distinct keys, each timed from final roster to
//       room_created; prints the times in microseconds.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "core/clock.h"
#include "core/event_log.h"
#include "core/text.h"
#include "rooms/api_client.h"
#include "rooms/room_creation.h"
#include "roster/room_key.h"
#include "roster/roster_assembly.h"

namespace {

using nlohmann::json;

std::uint32_t simulated_tick = 0;
std::uint32_t read_simulated_tick() { return simulated_tick; }

void print_line(const json& value) {
    const std::string text = value.dump(-1, ' ', false, json::error_handler_t::replace) + "\n";
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fflush(stdout);
}

// Ten players as the roster holds them: ascending decimal text, two groups,
// names that are not ASCII and one that is not even UTF-8.
Roster test_roster(std::uint64_t first) {
    Roster roster;
    static const char* const names[] = {"Ünïcödé 🙂", "Shaikh Kebab", "bad \xff byte", "player4", "player5",
                                        "player6", "player7", "player8", "player9", "player10"};
    std::vector<std::uint64_t> ids;
    for (int i = 0; i < 10; ++i) {
        RosterPlayer player;
        player.steamid = first + std::uint64_t(i);
        player.name = names[i];
        player.source = i == 0 ? "self" : "gsi";
        player.team = i < 5 ? "CT" : "T";
        player.group = i < 5 ? 1 : 2;
        ids.push_back(player.steamid);
        roster.players.push_back(player);
    }
    roster.validated = true;
    roster.complete = true;
    roster.room_key = derive_room_key(ids);
    roster.reservation = "9012345678901234567";
    return roster;
}

int command_post(const std::string& base, const std::string& path, const std::string& body) {
    ApiClient client;
    std::string error;
    json out;
    out["init_ok"] = api_client_init(client, base, error);
    out["init_error"] = error;
    out["host"] = client.host;
    out["base_path"] = client.base_path;
    out["port"] = client.port;
    out["secure"] = client.secure;
    const std::int64_t start = monotonic_ns();
    const ApiResponse answer = api_post(client, path, body);
    out["elapsed_ms"] = double(monotonic_ns() - start) / 1e6;
    out["ok"] = answer.ok;
    out["status"] = answer.status;
    out["body"] = answer.body;
    out["error"] = answer.error;
    out["stopped"] = answer.stopped;
    api_client_close(client);
    print_line(out);
    return 0;
}

int command_rooms(const std::string& base, const std::filesystem::path& work, std::uint32_t start_tick,
                  int reporter_index, bool with_cfg) {
    EventLog log;
    log_open(log, work / "logs");
    ApiClient client;
    std::string error;
    if (!api_client_init(client, base, error)) {
        print_line(json{{"error", error}});
        return 1;
    }
    const Roster roster = test_roster(76561198000000001ull);
    RoomPost room;
    room.map = "de_dust2";
    room.key = roster.room_key;
    room.reservation = roster.reservation;
    simulated_tick = start_tick;
    arm_room_post(room, roster, roster.players[std::size_t(reporter_index)].steamid, simulated_tick);

    RoomPostOptions options;
    options.tick = read_simulated_tick;
    options.data_folder = work / "data";
    const std::filesystem::path cfg = with_cfg ? work / "cfg" : std::filesystem::path();
    json offsets = json::array();
    // Two simulated minutes and a half cover the whole schedule.
    for (int pass = 0; pass < 500 && !room.done; ++pass, simulated_tick += 300) {
        if (!room_post_due(room, simulated_tick)) continue;
        offsets.push_back(std::uint32_t(simulated_tick - start_tick));
        post_room(log, client, room, cfg, options);
    }
    api_client_close(client);
    print_line(json{{"attempt_offsets_ms", offsets}, {"attempt", room.attempt}, {"done", room.done},
                    {"room_url", room.url}, {"room_key", room.key}, {"payload", room.payload}});
    return 0;
}

int command_bench(const std::string& base, const std::filesystem::path& work, int count) {
    EventLog log;
    log_open(log, work / "logs");
    ApiClient client;
    std::string error;
    if (!api_client_init(client, base, error)) {
        print_line(json{{"error", error}});
        return 1;
    }
    RoomPostOptions options;
    options.data_folder = work / "data";
    json micros = json::array();
    for (int i = 0; i < count; ++i) {
        const Roster roster = test_roster(76561198100000000ull + std::uint64_t(i) * 10);
        const std::int64_t start = monotonic_ns();
        RoomPost room;
        room.key = roster.room_key;
        room.reservation = roster.reservation;
        arm_room_post(room, roster, roster.players[0].steamid, tick_now());
        if (room_post_due(room, tick_now())) post_room(log, client, room, work / "cfg", options);
        const std::int64_t end = monotonic_ns();
        if (!room.url.empty()) micros.push_back((end - start) / 1000);
    }
    api_client_close(client);
    print_line(json{{"micros", micros}});
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (args.size() == 4 && args[0] == "post") return command_post(args[1], args[2], args[3]);
    if (args.size() >= 5 && args[0] == "rooms")
        return command_rooms(args[1], path_from_utf8(args[2]), std::uint32_t(std::strtoul(args[3].c_str(), nullptr, 0)),
                             std::atoi(args[4].c_str()), args.size() < 6 || args[5] != "nocfg");
    if (args.size() == 4 && args[0] == "bench")
        return command_bench(args[1], path_from_utf8(args[2]), std::atoi(args[3].c_str()));
    std::fprintf(stderr, "usage: room_probe post|rooms|bench ... (see the source)\n");
    return 2;
}
