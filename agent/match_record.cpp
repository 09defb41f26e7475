#include "agent/match_record.h"

#include "core/event_log.h"

void start_match(MatchState& match, std::int64_t start_time, bool connect_time_reliable,
                 const std::string& map) {
    match = MatchState{};
    match.start_time = start_time;
    match.connect_time_reliable = connect_time_reliable;
    match.room.map = map;
}

void end_match(MatchState& match) {
    match = MatchState{};
}

bool change_match_on(MatchState& match, const StatusBlock& block, std::int64_t now, EventLog& log) {
    if (match.final && !match.room.reservation.empty() && !block.reservation.empty() &&
        block.reservation != match.room.reservation) {
        log_event(log, "match_changed",
                  {{"from", match.room.reservation}, {"to", block.reservation}},
                  "a different match reservation appeared -- rebuilding the roster");
        start_match(match, now, false, "");
        return true;
    }
    return false;
}
