// Deciding who the ten players of the match are: the last status block and
// its name matches, GSI players, the user and (without a status block) the
// co-play list; every doubtful identity is rejected with its reason.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "console/status_block.h"
#include "gsi/gsi_types.h"
#include "roster/name_matching.h"
#include "steam/steam_lists.h"

// Ten is the fixed size of a match roster.
inline constexpr std::size_t kRosterSize = 10;

// Seconds the roster waits for Steam to name a player met in this match
// (names are asked for again on every co-play read) before it says so.
inline constexpr std::int64_t kNameWait = 60;

// Filled by the main loop from its match record on every call.
struct RosterInputs {
    std::vector<CoplayEntry> coplay;
    GsiPlayers gsi_players;               // only name and team are read
    std::uint64_t self_steamid = 0;
    std::string self_name;
    std::int64_t start_time = 0;          // unix seconds; below 1: unknown
    std::int64_t now = 0;                 // unix seconds, for the wait for names
    bool connect_time_reliable = false;   // the match was seen from its start
    std::int64_t coplay_margin = kCoplayMargin;
    std::optional<StatusBlock> status;    // last status block of the match
    std::optional<MatchReport> report;    // its matches; present exactly when status is
};

struct RosterPlayer {
    std::uint64_t steamid = 0;
    std::string name;
    std::string source;   // "self", "gsi", "coplay", "friend-in-cs2", "friend", "gsi-fill"
    std::string team;     // from GSI; empty when GSI does not know the player
    std::int32_t group = 0;   // 1 or 2 for the halves of a fully matched ten-row block
};

struct RejectedName {
    std::string name;     // the status name
    std::string reason;
};

struct Roster {
    std::vector<RosterPlayer> players;   // by decimal SteamID64 text, ascending
    std::vector<RejectedName> rejected;  // in the order they were rejected
    std::int32_t expected = 0;           // players the status block reports
    std::uint64_t filled_from_gsi = 0;
    bool validated = false;              // status confirms the roster
    bool complete = false;               // exactly ten players
    std::string room_key;                // empty unless complete
    std::string reservation;
    std::uint64_t names_awaited = 0;     // players met in this match Steam has not named yet
    bool name_wait_over = false;         // one of them for longer than kNameWait
    std::string blocked_by;              // empty when ready for a room
};

// Pure: reads only the inputs. Only ids of real players enter, from any source.
Roster assemble_roster(const RosterInputs& inputs);

// The blocked_by text for a roster whose players, rejections, flags and room
// key are settled; assemble_roster ends with it.
std::string roster_blocked_by(const Roster& roster, bool status_path,
                              bool connect_time_reliable);

nlohmann::json roster_json(const Roster& roster);

// One console line per player, without the final line feed.
std::string roster_listing_text(const Roster& roster);
