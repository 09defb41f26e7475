// The second half of every main-loop pass: the roster of the match from built
// to final, the POST of the final roster when it is due, the room link handed
// to the player who asked for it (from the room just created or one saved
// earlier for the same match), and the tray's room menu.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "agent/tray.h"
#include "core/clock.h"
#include "roster/roster_assembly.h"

struct ApiClient;
struct EventLog;
struct MatchState;
struct SteamConnection;

// The clock of one pass, read once at its start and handed to every step.
struct PassClock {
    std::uint32_t tick = 0;            // the millisecond tick count
    std::int64_t unix_seconds = 0;     // the wall clock
};

// What the main loop lends the room steps of one pass.
struct RoomPassContext {
    EventLog& log;
    const ApiClient* api;                     // null: no API client is ready
    const SteamConnection* steam;             // null: Steam is not connected
    const std::vector<CoplayEntry>& coplay;
    const std::vector<FriendEntry>& friends;
    std::filesystem::path data_folder;        // room.json and rooms.json
    std::filesystem::path room_cfg_folder;    // empty: no room cfg (--no-write-cfg)
    TrayIcon* tray;                           // null: no tray
    std::string& last_tray_link;              // the link the menu was last rebuilt for
};

// The room steps of one pass, in this order: assemble the roster and settle
// it (a match is running, Steam is connected, the roster is not final); one
// POST attempt when one is due; serve a pending request; rebuild the tray
// menu when there is a new room link.
void run_room_steps(RoomPassContext& context, MatchState& match, const PassClock& clock);

// The evidence of this moment for the roster: the record's last status block
// and GSI players, the Steam lists, the user (`self_name` must outlive the
// result) and the wall clock.
RosterInputs roster_evidence(const MatchState& match, const std::vector<CoplayEntry>& coplay,
                             const std::vector<FriendEntry>& friends, std::uint64_t self_steamid,
                             std::string_view self_name, std::int64_t now);

// --- A step run_room_steps takes, declared for the tests ---

// Logs progress when the roster changed, reports a missing room key once per
// match, and makes a complete, validated roster with a room key final: armed
// for the POST (first due at `tick`) with an API, the would-POST line without one.
void settle_roster(EventLog& log, MatchState& match, const Roster& roster, bool api_ready,
                   std::uint64_t self_steamid, std::uint32_t tick = tick_now());
