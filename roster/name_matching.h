// Resolving the names of a `status` block to SteamID64s. status prints names
// only, so every row is matched against the identities the agent knows of
// (GSI players, the user, the co-play list, friends with their old names).
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "console/status_block.h"
#include "gsi/gsi_types.h"
#include "steam/steam_lists.h"

struct EventLog;

// Seconds a co-play entry may predate the start of the match and still count
// as met in it.
inline constexpr std::int64_t kCoplayMargin = 300;

// A CS2 co-play entry of the match that started at `start_time` (unix
// seconds; below 1: unknown, and then no entry is of it).
bool coplay_in_match(const CoplayEntry& entry, std::int64_t start_time,
                     std::int64_t margin = kCoplayMargin);

// How closely two names agreed. The numbers and texts are fixed: the texts
// appear in the event log.
enum class MatchTier : std::uint32_t {
    none = 0,      // no candidate matched
    exact = 1,     // byte-for-byte equal
    trimmed = 2,   // equal after trimming both names
    casefold = 3,  // equal after trimming and ASCII case folding
};

// "none", "exact", "trimmed", "casefold"; "unknown" for any other value.
const char* tier_name(MatchTier tier);

// One identity a status name may match. Each SteamID64 occurs once in a pool;
// the pool's order decides ties.
struct IdentityCandidate {
    std::uint64_t steamid = 0;
    std::string name;                       // current name
    std::string source;                     // "gsi", "self", "coplay", "friend-in-cs2", "friend"
    // Friends only; position 0 is the current name. A view of the friend
    // list's own, which the pool must not outlive: pools are built on every
    // pass, and a big friend list is not copied each time.
    std::span<const std::string> name_history;
};

// The result for one player row of a status block.
struct StatusMatch {
    std::int32_t status_id = 0;
    std::string status_name;     // as parsed, untrimmed
    std::uint64_t steamid = 0;   // 0 when unmatched
    std::string source;          // empty when unmatched
    std::string matched_name;    // current or former name that matched
    MatchTier tier = MatchTier::none;
    bool via_history = false;    // matched one of the former names
    bool ambiguous = false;      // more than one candidate at that tier and pass
};

struct MatchReport {
    std::vector<StatusMatch> matches;   // one per row, in row order
    std::uint64_t matched = 0;          // ambiguous rows included
    std::uint64_t unmatched = 0;
    std::uint64_t ambiguous = 0;
    std::uint64_t via_history = 0;
};

// The candidate pool, first source wins: GSI players with a name (ascending
// SteamID64), the user, CS2 co-play entries with a known persona, then friends
// with a name or a name history. Ids of no real player (bots) are left out,
// and so is an older co-play entry whose name a co-play entry of the match
// that started at `match_start` also bears: the player met in this match
// outranks a namesake from an earlier one.
std::vector<IdentityCandidate> build_identity_candidates(
    const GsiPlayers& gsi_players, std::span<const CoplayEntry> coplay,
    std::span<const FriendEntry> friends, std::uint64_t self_steamid,
    std::string_view self_persona, std::int64_t match_start);

// Current names first, then former names; within each, the tiers exact,
// trimmed, casefold. The first tier that finds anyone decides the row.
MatchReport match_status_names(const StatusBlock& block,
                               const std::vector<IdentityCandidate>& pool);

// Tiers other than exact, trimmed and casefold give false.
bool names_equal_at_tier(std::string_view a, std::string_view b, MatchTier tier);

// The console text: counts, then the unmatched, former-name and inexact rows.
std::string match_summary_text(const MatchReport& report);

// Counters and one object per row; "steamid" is null for unmatched rows.
nlohmann::json match_report_json(const MatchReport& report);

// The "status_match" event the main loop writes after matching a block.
void log_status_match(EventLog& log, const StatusBlock& block, std::size_t pool_size,
                      const MatchReport& report);
