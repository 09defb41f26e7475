// The GSI step of a main-loop pass: the bodies the listener queued since the
// last pass, oldest first, through handle_gsi_body, with the match record
// started or ended (agent/match_record.h) whenever one of them says so.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "gsi/gsi_payload.h"

struct EventLog;
struct GsiListener;
struct MatchState;

// The GSI work of one pass is bounded, so that a flood of POSTs cannot keep a
// pass from reading the console and the stop flag: at most this many bodies,
// and no more once they add up to this many bytes (one body is always taken).
// What is left waits in the listener's queue for the next pass. The game sends
// one body of a few KiB about once a second.
inline constexpr std::size_t kGsiBodiesPerPass = 32;
inline constexpr std::size_t kGsiBytesPerPass = 2097152;  // 2 MiB

// The main loop's view of GSI between passes: the state that last changed
// the phase fields, and whether there is one.
struct GsiView {
    GsiState last;
    bool have_state = false;
    std::uint64_t dropped_reported = 0;  // the listener's dropped count last reported
};

// Takes the bodies of this pass from the listener's queue and handles them in
// order. A body's players go into the record as it stands, so a body that
// starts a match merges into the record it replaced and the next body into
// the new one. Bodies the queue dropped for room since the last report are
// reported in a --debug record `gsi_dropped`. Returns the number of bodies
// handled.
std::size_t handle_gsi_queue(GsiListener& listener, const std::string& token, MatchState& match,
                             GsiView& view, EventLog& log);
