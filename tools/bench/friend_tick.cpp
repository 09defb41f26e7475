// Friend tick benchmark: 2,000 friends with 16 history names each, served by
// the fake Steam client through the real registry value and library loader.
// Prints the tick's duration (plain and with --debug logging) against its
// target and writes <build>/tools/bench/friend_tick.json.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "core/clock.h"
#include "core/event_log.h"
#include "core/text.h"
#include "steam/coplay_friends.h"
#include "steam/steam_client.h"
#include "tools/fake_steamclient/fake_steamclient_setup.h"

namespace {

constexpr int kFriends = 2000;
constexpr int kHistory = 16;
constexpr int kRounds = 10;
constexpr double kTargetMs = 300.0;   // one main-loop pass: no visible delay

struct Figures {
    double median_ms = 0;
    double max_ms = 0;
};

Figures time_ticks(const SteamConnection& connection, EventLog& log, std::size_t& read) {
    std::vector<double> times;
    SteamLists lists;
    for (int round = 0; round < kRounds; ++round) {
        const std::int64_t start = monotonic_ns();
        friend_tick(connection, log, lists);
        times.push_back(static_cast<double>(monotonic_ns() - start) / 1e6);
        read = lists.friends.size();
    }
    std::sort(times.begin(), times.end());
    return {times[times.size() / 2], times.back()};
}

}  // namespace

int main() {
    const std::filesystem::path build = path_from_utf8(VANTOR_BUILD_DIR);
    const std::filesystem::path work = build / "tools" / "bench" / "friend_tick-work";
    std::error_code ec;
    std::filesystem::remove_all(work, ec);
    std::filesystem::create_directories(work, ec);

    const std::filesystem::path fixture = work / "fixture.json";
    std::ofstream(fixture, std::ios::binary)
        << nlohmann::json{{"generate_friends", {{"count", kFriends}, {"history", kHistory}}}}.dump();
    set_env_var("FAKE_STEAMCLIENT_FIXTURE", client_visible_path(fixture));
    set_env_var("FAKE_STEAMCLIENT_CALLS", "");
    if (!set_client_registry_value(client_visible_path(fake_steamclient_path(build)), work / "home")) {
        std::printf("friend_tick: cannot set the registry value\n");
        return 0;
    }

    SteamConnection connection;
    std::string error;
    if (!steam_connect(connection, error)) {
        std::printf("friend_tick: no connection to the fake Steam client: %s\n", error.c_str());
        return 0;
    }

    std::size_t read_plain = 0;
    std::size_t read_debug = 0;
    EventLog quiet;
    const Figures plain = time_ticks(connection, quiet, read_plain);
    EventLog debug_log;
    debug_log.debug = true;
    log_open(debug_log, work / "logs");
    std::fflush(stdout);
    const Figures debug = time_ticks(connection, debug_log, read_debug);
    steam_release(connection);
    set_client_registry_value(std::nullopt, work / "home");

    std::printf("friend tick, %d friends x %d history names (%zu read), %d rounds:\n", kFriends,
                kHistory, read_plain, kRounds);
    std::printf("  read only:        median %8.2f ms, max %8.2f ms\n", plain.median_ms, plain.max_ms);
    std::printf("  with --debug log: median %8.2f ms, max %8.2f ms (%zu read)\n", debug.median_ms,
                debug.max_ms, read_debug);
    std::printf("  target: below %.0f ms (one main-loop pass)\n", kTargetMs);

    const nlohmann::json result = {
        {"benchmark", "friend_tick"},
        {"friends", kFriends},
        {"history_names", kHistory},
        {"friends_read", read_plain},
        {"rounds", kRounds},
        {"read_median_ms", plain.median_ms},
        {"read_max_ms", plain.max_ms},
        {"debug_median_ms", debug.median_ms},
        {"debug_max_ms", debug.max_ms},
        {"target_ms", kTargetMs},
    };
    std::ofstream(build / "tools" / "bench" / "friend_tick.json", std::ios::binary)
        << result.dump(2) << "\n";
    return 0;
}
