// One GSI payload on the main thread: the token check, the players it names,
// its reduced state, and the match start or end that the sequence of states
// tells. The match record itself belongs to the main loop: handle_gsi_body
// says what happened (GsiDecision) and the loop replaces its record.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "gsi/gsi_types.h"

struct EventLog;

// Payloads nested deeper than this are refused before parsing: the game's own
// go five levels deep, and copying or printing a deeper one recurses per level.
inline constexpr int kGsiMaxNesting = 64;

enum class GsiMatchChange {
    none,      // the match record stays
    started,   // a map showed up, or another one: a fresh record with the fields below
    ended,     // back in the menu: a record with all defaults (start_time 0)
};

struct GsiDecision {
    GsiMatchChange change = GsiMatchChange::none;
    std::int64_t start_time = 0;           // started: seconds since 1970 (UTC)
    bool connect_time_reliable = true;     // started: seen from its beginning
    std::string map;                       // started: the new map name
};

// Payloads with a wrong token are dropped; a local program can send thousands
// a second, so they are told sparingly: the first one, then at most one
// summary a minute with the count dropped since the last line.
inline constexpr std::uint32_t kGsiDropSummaryMs = 60000;
struct GsiDropLog {
    bool told = false;             // the first drop has been logged
    std::uint32_t last_told = 0;   // tick count of the last line
    std::uint64_t untold = 0;      // drops since that line
};
// Counts one drop at tick `now`. What to log now: 1 for the first drop, the
// count since the last line when a summary is due, 0 to stay quiet.
std::uint64_t count_gsi_drop(GsiDropLog& drops, std::uint32_t now);

// Handles one queued body: parse, token, players merged into `players` (the
// current match's map, before any decision; an id that is no real player's,
// a bot's above all, is dropped with the --debug record gsi_player_dropped),
// state, gsi_event (--debug), match_started / match_ended, gsi_phase_change. `last_state` and
// `have_gsi_state` are the main loop's: the state that last changed the phase
// fields and whether there is one; they are updated here. Logs its own events;
// bodies that are not JSON objects or carry the wrong token change nothing.
// Wrong-token drops are counted in `drops`; the overload without it counts
// them for the whole process (the agent runs one listener).
GsiDecision handle_gsi_body(std::string_view body, const std::string& token, GsiPlayers& players,
                            GsiState& last_state, bool& have_gsi_state, EventLog& log, GsiDropLog& drops);
GsiDecision handle_gsi_body(std::string_view body, const std::string& token, GsiPlayers& players,
                            GsiState& last_state, bool& have_gsi_state, EventLog& log);

// The player objects of a payload: "player", then "previously"."player", then
// "added"."player". Objects without a usable steamid are left out.
std::vector<GsiPlayerSeen> gsi_players_of(const nlohmann::json& payload);

// "gsi: activity=... map=... mode=... phase=... round_phase=... round=N"
std::string gsi_summary(const GsiState& state);

// SteamID64 text as GSI writes it: leading blanks skipped, decimal digits up to
// the first other character. 0 for no digits or a value beyond 64 bits.
std::uint64_t gsi_steamid_of(std::string_view text);

// The deepest nesting of arrays and objects in JSON text (brackets inside
// strings not counted); stops counting once past `limit`.
int json_nesting_depth(std::string_view text, int limit);
