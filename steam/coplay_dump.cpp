// --coplay-once: dump what Steam knows, give it a bounded time to deliver the
// missing names, dump the co-play list again and exit.
#include <algorithm>

#include "steam/coplay_dump.h"

#include "core/clock.h"
#include "core/event_log.h"
#include "steam/coplay_friends.h"
#include "steam/steam_client.h"

namespace {

constexpr int kWaitPasses = 20;
constexpr std::uint32_t kWaitPassMs = 250;

long names_missing(const std::vector<CoplayEntry>& list) {
    return static_cast<long>(std::count_if(list.begin(), list.end(),
                                           [](const CoplayEntry& e) { return !e.persona_known; }));
}

}  // namespace

int run_coplay_once(EventLog& log) {
    log.debug = true;

    SteamConnection connection;
    if (!steam_init(connection, log)) return 1;

    std::vector<CoplayEntry> list = read_coplay_list(connection, &log);
    log_coplay(log, list, connection.self_steamid, true);
    log_friends(log, read_friend_list(connection, &log));

    const int requested = request_missing_personas(connection, list);
    if (requested >= 1) {
        log_event(log, "persona_requested", {{"count", requested}},
                  "requesting " + std::to_string(requested) + " missing name(s) from Steam");
        const std::uint32_t t0 = tick_now();
        // The requests are not repeated; the list is only read again.
        for (int pass = 0; pass < kWaitPasses; ++pass) {
            if (names_missing(list) == 0) break;
            sleep_ms(kWaitPassMs);
            list = read_coplay_list(connection, &log);
        }
        const long still_unknown = names_missing(list);
        log_event(log, "persona_resolved",
                  {{"still_unknown", still_unknown},
                   {"waited_ms", ticks_since(tick_now(), t0)}},
                  "after waiting: " + std::to_string(still_unknown) + " name(s) still unknown");
        log_coplay(log, list, connection.self_steamid, true);
    }

    steam_release(connection);
    return 0;
}
