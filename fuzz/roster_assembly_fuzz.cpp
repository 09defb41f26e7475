// Roster assembly from random inputs: a status block (or none) matched
// against a random pool, GSI players, co-play entries and the user. Whatever
// comes in, the roster holds distinct, real players in SteamID64 text order
// (more than ten is possible, and blocks the room), and a room key only when it
// is complete: exactly ten.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <set>
#include <string>

#include "core/steamid.h"
#include "fuzz/pool_input.h"
#include "roster/roster_assembly.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    RosterInputs inputs;
    inputs.coplay = fuzz_coplay(in);
    inputs.gsi_players = fuzz_gsi_players(in);
    inputs.self_steamid = in.ConsumeBool() ? fuzz_steamid(in) : 0;
    inputs.self_name = fuzz_name(in);
    inputs.start_time = in.ConsumeBool() ? 1733519000 : in.ConsumeIntegral<std::int64_t>();
    inputs.connect_time_reliable = in.ConsumeBool();
    inputs.now = in.ConsumeIntegral<std::int64_t>();
    inputs.coplay_margin = in.ConsumeBool() ? kCoplayMargin : in.ConsumeIntegral<std::int64_t>();
    if (in.ConsumeBool()) {
        inputs.status = fuzz_status_block(in);
        const std::vector<FriendEntry> friends = fuzz_friends(in);
        inputs.report = match_status_names(
            *inputs.status, build_identity_candidates(inputs.gsi_players, inputs.coplay, friends,
                                                      inputs.self_steamid, inputs.self_name,
                                                      inputs.start_time));
    }

    const Roster roster = assemble_roster(inputs);
    std::set<std::uint64_t> ids;
    std::string previous;
    for (const RosterPlayer& player : roster.players) {
        if (!steamid_real_player(player.steamid) || !ids.insert(player.steamid).second) std::abort();
        const std::string text = std::to_string(player.steamid);
        if (!previous.empty() && !(previous < text)) std::abort();
        previous = text;
    }
    if (roster.complete != (roster.players.size() == kRosterSize)) std::abort();
    if (!roster.room_key.empty() && !roster.complete) std::abort();
    roster_json(roster).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    roster_listing_text(roster);
    return 0;
}
