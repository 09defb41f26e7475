#include "agent/gsi_pass.h"

#include <vector>

#include "agent/match_state.h"
#include "core/event_log.h"
#include "gsi/gsi_listener.h"

std::size_t handle_gsi_queue(GsiListener& listener, const std::string& token, MatchState& match,
                             GsiView& view, EventLog& log) {
    const std::uint64_t dropped = listener.dropped();
    if (dropped != view.dropped_reported) {
        log_debug_event(log, "gsi_dropped",
                        {{"dropped", dropped - view.dropped_reported}, {"total", dropped}}, "");
        view.dropped_reported = dropped;
    }
    std::vector<std::string> bodies;
    listener.drain(bodies, kGsiBodiesPerPass, kGsiBytesPerPass);
    for (const std::string& body : bodies) {
        const GsiDecision decision =
            handle_gsi_body(body, token, match.gsi_players, view.last, view.have_state, log);
        if (decision.change != GsiMatchChange::none) apply_gsi_decision(match, decision);
    }
    return bodies.size();
}

void apply_gsi_decision(MatchState& match, const GsiDecision& decision) {
    match = MatchState{};
    if (decision.change == GsiMatchChange::started) {
        match.start_time = decision.start_time;
        match.connect_time_reliable = decision.connect_time_reliable;
        match.room.map = decision.map;
    }
}
