// The GSI step of a main-loop pass: the bodies the listener queued since the
// last pass, oldest first, through handle_gsi_body, with the match record
// replaced whenever one of them starts or ends a match.
#pragma once

#include <cstddef>
#include <string>

#include "gsi/gsi_payload.h"

struct EventLog;
struct GsiListener;
struct MatchState;

// The main loop's view of GSI between passes: the state that last changed
// the phase fields, and whether there is one.
struct GsiView {
    GsiState last;
    bool have_state = false;
};

// Takes the listener's queue and handles every body in order. A body's
// players go into the record as it stands, so a body that starts a match
// merges into the record it replaced and the next body into the new one.
// Returns the number of bodies handled.
std::size_t handle_gsi_queue(GsiListener& listener, const std::string& token, MatchState& match,
                             GsiView& view, EventLog& log);

// A match start or end replaces the whole record: a fresh one with the start
// time, the reliability of the connect times and the map for a start, all
// defaults for an end.
void apply_gsi_decision(MatchState& match, const GsiDecision& decision);
