#include "agent/gsi_pass.h"

#include <vector>

#include "agent/match_record.h"
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
        if (decision.change == GsiMatchChange::started)
            start_match(match, decision.start_time, decision.connect_time_reliable, decision.map);
        else if (decision.change == GsiMatchChange::ended)
            end_match(match);
    }
    return bodies.size();
}
