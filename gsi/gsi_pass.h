// The GSI step of a main-loop pass: every body the listener queued since the
// last pass, oldest first, through handle_gsi_body.
#pragma once

#include <string>
#include <vector>

#include "gsi/gsi_listener.h"
#include "gsi/gsi_payload.h"

// `match` is the loop's match record; its `gsi_players` map receives each
// body's players. A decision other than none is handed to `apply(decision)`
// before the next body is handled, so `apply` replaces `match` (fresh record
// with start_time, connect_time_reliable and map for started; all defaults
// for ended) and the next body merges into the new record. Returns the number
// of bodies handled.
template <typename MatchRecord, typename ApplyDecision>
std::size_t handle_gsi_queue(GsiListener& listener, const std::string& token, MatchRecord& match,
                             GsiState& last_state, bool& have_gsi_state, EventLog& log,
                             ApplyDecision&& apply) {
    std::vector<std::string> bodies;
    listener.drain(bodies);
    for (const std::string& body : bodies) {
        GsiDecision decision = handle_gsi_body(body, token, match.gsi_players, last_state, have_gsi_state, log);
        if (decision.change != GsiMatchChange::none) apply(decision);
    }
    return bodies.size();
}
