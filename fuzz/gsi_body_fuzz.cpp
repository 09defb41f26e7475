// A sequence of GSI bodies (cut at NUL bytes) handled the way the main loop
// handles its queue: the same player map and last state across the bodies,
// replaced as the decisions say.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "core/event_log.h"
#include "fuzz/fuzz_support.h"
#include "gsi/gsi_payload.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz_silence_stdout();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static EventLog log;   // unopened: console echo only
    log.debug = size % 2 == 1;
    const std::string token = "Fh3kQ9vT2mXc8LpA";   // the token of the seed payloads
    GsiPlayers players;
    GsiState last_state;
    bool have_state = false;
    for (std::string_view body : fuzz_split(data, size, '\0', 8)) {
        const GsiDecision decision = handle_gsi_body(body, token, players, last_state, have_state, log);
        if (decision.change != GsiMatchChange::none) players.clear();
        for (const auto& [steamid, player] : players)
            if (steamid == 0 || player.times_seen < 1) std::abort();
        gsi_summary(last_state);
    }
    return 0;
}
