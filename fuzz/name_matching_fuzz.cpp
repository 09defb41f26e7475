// Name matching of a status block against a random identity pool built the
// way the main loop builds it. Every matched row must name a pool member
// whose current or former name agrees at the reported tier.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <set>

#include "core/steamid.h"
#include "fuzz/pool_input.h"
#include "roster/name_matching.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    const StatusBlock block = fuzz_status_block(in);
    const GsiPlayers gsi = fuzz_gsi_players(in);
    const std::vector<CoplayEntry> coplay = fuzz_coplay(in);
    const std::vector<FriendEntry> friends = fuzz_friends(in);
    const std::uint64_t self = fuzz_steamid(in);
    const std::string self_name = fuzz_name(in);

    const std::vector<IdentityCandidate> pool = build_identity_candidates(
        gsi, coplay, friends, self, self_name, in.ConsumeBool() ? 1700000000 : in.ConsumeIntegral<std::int64_t>());
    std::set<std::uint64_t> ids;
    for (const IdentityCandidate& candidate : pool)
        // Each SteamID64 once, and never a bot's stand-in.
        if (!ids.insert(candidate.steamid).second || !steamid_real_player(candidate.steamid)) std::abort();

    const MatchReport report = match_status_names(block, pool);
    if (report.matches.size() != block.players.size()) std::abort();
    if (report.matched + report.unmatched != block.players.size()) std::abort();
    for (const StatusMatch& match : report.matches) {
        if (match.steamid == 0) continue;
        const IdentityCandidate* found = nullptr;
        for (const IdentityCandidate& candidate : pool)
            if (candidate.steamid == match.steamid) found = &candidate;
        if (!found || match.tier == MatchTier::none) std::abort();
        if (!names_equal_at_tier(match.status_name, match.matched_name, match.tier)) std::abort();
    }
    match_summary_text(report);
    match_report_json(report).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    return 0;
}
