// Deciding who the ten players of the match are, from the evidence of the
// moment: the last status block with its names matched against GSI players,
// the user, the co-play list and the friends; without a status block, the
// user, GSI and the co-play list. Every doubtful identity is rejected with its
// reason, and what the roster waits for is said.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
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

// The evidence one assembly reads, lent for the call: nothing is copied, so
// the agent can assemble from the current lists on every pass.
struct RosterInputs {
    const StatusBlock* status = nullptr;       // the last status block of the match; null: none yet
    std::span<const CoplayEntry> coplay;       // the latest co-play list
    std::span<const FriendEntry> friends;      // the latest friend list
    const GsiPlayers* gsi_players = nullptr;   // every player GSI showed in this match; null: none
    std::uint64_t self_steamid = 0;
    std::string_view self_name;
    std::int64_t start_time = 0;          // unix seconds; below 1: unknown
    std::int64_t now = 0;                 // unix seconds, for the wait for names
    bool connect_time_reliable = false;   // the match was seen from its start
    std::int64_t coplay_margin = kCoplayMargin;
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
    std::vector<RejectedName> rejected;  // in row order
    std::int32_t expected = 0;           // players the status block reports
    std::uint64_t filled_from_gsi = 0;
    bool validated = false;              // status confirms the roster
    bool complete = false;               // exactly ten players
    std::string room_key;                // empty unless complete
    std::string reservation;
    std::uint64_t names_awaited = 0;     // players met in this match Steam has not named yet
    bool name_wait_over = false;         // one of them for longer than kNameWait
    std::string blocked_by;              // empty when ready for a room
    MatchReport report;                  // the status names matched (empty without a block)
    std::size_t pool_size = 0;           // the candidates they were matched against
};

// The one way to a roster. With a status block its names are matched against
// the evidence as it is now, then judged; a row matched only outside this
// match (an older co-play entry, a friend, a former name) is held back while
// Steam has not named a player met in this match whom no row accounts for.
// Pure: reads only the inputs. Only ids of real players enter, from any source.
Roster assemble_roster(const RosterInputs& inputs);

// The blocked_by text for a roster whose players, rejections, flags and room
// key are settled; assemble_roster ends with it.
std::string roster_blocked_by(const Roster& roster, bool status_path,
                              bool connect_time_reliable);

nlohmann::json roster_json(const Roster& roster);

// One console line per player, without the final line feed.
std::string roster_listing_text(const Roster& roster);
