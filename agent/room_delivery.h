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
#include "roster/roster_assembly.h"

struct ApiClient;
struct EventLog;
struct MatchState;
struct SteamConnection;

// Seconds a co-play entry may predate the start of the match.
inline constexpr std::int64_t kCoplayMargin = 300;

// What the main loop lends the room steps of one pass.
struct RoomPassContext {
    EventLog& log;
    const ApiClient* api;                     // null: no API client is ready
    const SteamConnection* steam;             // null: Steam is not connected
    const std::vector<CoplayEntry>& coplay;
    std::filesystem::path data_folder;        // room.json and rooms.json
    std::filesystem::path room_cfg_folder;    // empty: no room cfg (--no-write-cfg)
    TrayIcon* tray;                           // null: no tray
    std::string& last_tray_link;              // the link the menu was last rebuilt for
};

// The four steps below, in this order.
void run_room_steps(RoomPassContext& context, MatchState& match);

// Step 1 (a match is running, Steam is connected, the roster is not final):
// assemble the roster and settle it.
void advance_roster(RoomPassContext& context, MatchState& match);

// "v" or "-" for the validation, then ",<steamid>" per member in roster order.
std::string roster_progress_signature(const Roster& roster);

// The roster inputs of the match record as it stands.
RosterInputs roster_inputs_of(const MatchState& match, const std::vector<CoplayEntry>& coplay,
                              std::uint64_t self_steamid, std::string self_name);

// Logs progress when the roster changed, reports a missing room key once per
// match, and makes a complete, validated roster with a room key final: armed
// for the POST with an API, the would-POST line without one.
void settle_roster(EventLog& log, MatchState& match, const Roster& roster, bool api_ready,
                   std::uint64_t self_steamid);

// Step 2: one POST attempt when one is due.
void post_room_when_due(RoomPassContext& context, MatchState& match);

// Step 3: a pending request is answered once a link exists, restoring the room
// saved for this match first. Whether the link was delivered.
bool serve_room_request(EventLog& log, MatchState& match, const std::filesystem::path& data_folder);

// The tray menu items of the room history in the data folder, newest first.
std::vector<TrayRoomItem> tray_room_items(const std::filesystem::path& data_folder);

// Step 4: a new room link rebuilds the tray menu from the room history.
void refresh_tray_menu(RoomPassContext& context, const MatchState& match);
