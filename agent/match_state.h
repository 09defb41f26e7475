// Everything the agent knows about the match being played. The main loop owns
// one; agent/match_record.h replaces it as a whole when a match starts, changes
// or ends, so a pending POST, a room link or a request for the room never
// outlives its match.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "console/status_block.h"
#include "gsi/gsi_types.h"
#include "rooms/room_creation.h"

struct MatchState {
    std::int64_t start_time = 0;          // seconds since 1970; 0: no match running
    bool connect_time_reliable = true;    // seen from its beginning
    GsiPlayers gsi_players;               // every player GSI showed in this match
    std::optional<StatusBlock> last_status;   // the last status block; its names are matched
                                              // against the evidence of each pass
    bool final = false;                   // roster complete with a room key
    std::string progress_signature;
    bool key_error_reported = false;
    RoomPost room;                        // key, map, POST and link of the match's room
    bool room_requested = false;          // asked for and not yet handed over
    bool restore_tried = false;           // saved room looked up for this request
};
