// Roster assembly from random inputs: a status block (or none) with random
// GSI players, co-play entries, friends and the user. Whatever comes in, the
// roster holds distinct, real players in SteamID64 text order (more than ten
// is possible, and blocks the room), a room key only when it is complete:
// exactly ten, and a row held back for a player of this match only while
// Steam has not named one.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <set>
#include <string>

#include "core/steamid.h"
#include "fuzz/pool_input.h"
#include "roster/roster_assembly.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    const std::vector<CoplayEntry> coplay = fuzz_coplay(in);
    const GsiPlayers gsi = fuzz_gsi_players(in);
    const std::string self_name = fuzz_name(in);
    RosterInputs inputs;
    inputs.coplay = coplay;
    inputs.gsi_players = &gsi;
    inputs.self_steamid = in.ConsumeBool() ? fuzz_steamid(in) : 0;
    inputs.self_name = self_name;
    inputs.start_time = in.ConsumeBool() ? 1733519000 : in.ConsumeIntegral<std::int64_t>();
    inputs.connect_time_reliable = in.ConsumeBool();
    inputs.now = in.ConsumeIntegral<std::int64_t>();
    inputs.coplay_margin = in.ConsumeBool() ? kCoplayMargin : in.ConsumeIntegral<std::int64_t>();
    std::optional<StatusBlock> block;
    std::vector<FriendEntry> friends;
    if (in.ConsumeBool()) {
        block = fuzz_status_block(in);
        friends = fuzz_friends(in);
        inputs.status = &*block;
        inputs.friends = friends;
    }

    const Roster roster = assemble_roster(inputs);
    std::set<std::uint64_t> ids;
    std::string previous;
    for (const RosterPlayer& player : roster.players) {
        if (!steamid_real_player(player.steamid) || !ids.insert(player.steamid).second)
            std::abort();
        const std::string text = std::to_string(player.steamid);
        if (!previous.empty() && !(previous < text)) std::abort();
        previous = text;
    }
    if (roster.complete != (roster.players.size() == kRosterSize)) std::abort();
    if (!roster.room_key.empty() && !roster.complete) std::abort();
    // One match per row, and a row held back always says what it waits for.
    if (roster.report.matches.size() != (block ? block->players.size() : 0)) std::abort();
    for (const RejectedName& rejected : roster.rejected)
        if (rejected.reason.starts_with("matched only outside") && roster.names_awaited == 0)
            std::abort();
    roster_json(roster).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    roster_listing_text(roster);
    return 0;
}
