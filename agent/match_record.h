// The life of the match record: a match starts, ends, or changes without GSI
// noticing. Each replaces the whole record, so nothing of one match (its
// roster, its POST, its room link, a request for the room) reaches the next.
#pragma once

#include <cstdint>
#include <string>

#include "agent/match_state.h"

struct EventLog;

// GSI showed a map, or another map: a fresh record of a match seen from
// `start_time` (unix seconds), on `map`.
void start_match(MatchState& match, std::int64_t start_time, bool connect_time_reliable,
                 const std::string& map);

// GSI is back in the menu: a record of no match.
void end_match(MatchState& match);

// A status block of another reservation after this match's roster became
// final: the server moved on without GSI noticing. Logs match_changed and
// starts a fresh record at `now`, not seen from its beginning, without a map.
// A block without a reservation, or any block before the roster is final,
// changes nothing. Whether the match changed.
bool change_match_on(MatchState& match, const StatusBlock& block, std::int64_t now, EventLog& log);
