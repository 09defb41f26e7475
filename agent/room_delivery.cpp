#include "agent/room_delivery.h"

#include <optional>

#include "agent/clipboard.h"
#include "agent/match_state.h"
#include "agent/notification.h"
#include "agent/room_menu.h"
#include "core/clock.h"
#include "core/event_log.h"
#include "rooms/api_client.h"
#include "rooms/room_creation.h"
#include "rooms/room_persistence.h"
#include "steam/steam_client.h"

namespace {

// "v" or "-" for the validation, then ",<steamid>" per member in roster order,
// then "!" once the wait for a name Steam has not told is over: the player
// learns that from the next progress record.
std::string roster_progress_signature(const Roster& roster) {
    std::string signature = roster.validated ? "v" : "-";
    for (const RosterPlayer& player : roster.players) {
        signature += ',';
        signature += std::to_string(player.steamid);
    }
    if (roster.name_wait_over) signature += '!';
    return signature;
}

}  // namespace

RosterInputs roster_evidence(const MatchState& match, const std::vector<CoplayEntry>& coplay,
                             const std::vector<FriendEntry>& friends, std::uint64_t self_steamid,
                             std::string_view self_name, std::int64_t now) {
    RosterInputs inputs;
    inputs.status = match.last_status ? &*match.last_status : nullptr;
    inputs.coplay = coplay;
    inputs.friends = friends;
    inputs.gsi_players = &match.gsi_players;
    inputs.self_steamid = self_steamid;
    inputs.self_name = self_name;
    inputs.start_time = match.start_time;
    inputs.now = now;
    inputs.connect_time_reliable = match.connect_time_reliable;
    return inputs;
}

void settle_roster(EventLog& log, MatchState& match, const Roster& roster, bool api_ready,
                   std::uint64_t self_steamid, std::uint32_t tick) {
    std::string signature = roster_progress_signature(roster);
    if (signature != match.progress_signature) {
        match.progress_signature = std::move(signature);
        std::string text =
            "roster: " + std::to_string(roster.players.size()) + "/" + std::to_string(kRosterSize);
        if (roster.validated) text += " (validated by status)";
        if (!roster.blocked_by.empty()) text += " -- " + roster.blocked_by;
        log_event(log, "roster_progress", roster_json(roster), text);
    }
    // A complete roster that status does not confirm is progress only.
    if (!roster.complete || !roster.validated) return;

    if (roster.room_key.empty()) {
        if (!match.key_error_reported) {
            match.key_error_reported = true;
            log_event(log, "error", {{"where", "room_key"}, {"detail", roster.blocked_by}},
                      "ERROR: the roster is complete but the room key could not be computed");
        }
        return;
    }
    if (roster.room_key == match.room.key) return;

    match.room.key = roster.room_key;
    match.room.reservation = roster.reservation;
    match.final = true;
    log_event(log, "roster_complete", roster_json(roster),
              "ROSTER COMPLETE  room_key=" + roster.room_key + "  (" +
                  std::to_string(roster.players.size()) +
                  " players, validated by status) -- roster is now final for this match");
    log_console(log, roster_listing_text(roster));
    if (api_ready) {
        arm_room_post(match.room, roster, self_steamid, tick);
    } else {
        log_console(log, "    -> would POST /v1/matches {room_key, 10 steamids, reporter=" +
                             std::to_string(self_steamid) + "} -- no API base URL configured");
    }
}

namespace {

// Step 3: a pending request is answered once a link exists, restoring the
// room saved for this match first; the clipboard is opened with the tray's
// window as owner when there is a tray (null: none). Whether the link was
// delivered.
bool serve_room_request(EventLog& log, MatchState& match, const std::filesystem::path& data_folder,
                        const TrayIcon* tray) {
    if (!match.room_requested) return false;
    if (match.room.url.empty() && match.last_status && !match.restore_tried) {
        match.restore_tried = true;
        if (std::optional<std::string> saved =
                find_saved_room_in(data_folder, match.last_status->reservation)) {
            match.room.url = *saved;
            log_event(log, "room_link_restored",
                      {{"url", match.room.url}, {"reservation", match.last_status->reservation}},
                      "reusing the room saved for this match: " + match.room.url);
        }
    }
    // Otherwise the request waits for the first pass that has a link.
    if (match.room.url.empty()) return false;

    match.room_requested = false;
    const ClipboardCopy copy = copy_to_clipboard(match.room.url, tray);
    const bool copied = copy.copied;
    const std::uint32_t error = copy.error_code;
    log_event(log, "room_delivered",
              {{"url", match.room.url}, {"clipboard", copied}, {"clipboard_error", error}},
              "ROOM  " + match.room.url +
                  (copied ? "  -- copied to the clipboard, paste it anywhere"
                          : "  -- clipboard unavailable (error " + std::to_string(error) +
                                "), copy it from here"));
    if (!copied) {
        const std::string hint = clipboard_missing_hint();
        if (!hint.empty()) log_console(log, hint);
    }
    notify_room_ready(room_ready_notice(match.room.url, match.room.map, copied), tray);
    return true;
}

// Step 1 (a match is running, Steam is connected, the roster is not final):
// assemble the roster from the evidence of this pass and settle it.
void advance_roster(RoomPassContext& context, MatchState& match, const PassClock& clock) {
    if (match.start_time == 0 || !context.steam || match.final) return;
    const SteamConnection& steam = *context.steam;
    const std::string self_name = steam_self_persona(steam);
    const Roster roster = assemble_roster(roster_evidence(
        match, context.coplay, context.friends, steam.self_steamid, self_name, clock.unix_seconds));
    settle_roster(context.log, match, roster, context.api != nullptr, steam.self_steamid,
                  clock.tick);
}

// Step 2: one POST attempt when one is due.
void post_room_when_due(RoomPassContext& context, MatchState& match, const PassClock& clock) {
    if (!context.api || !room_post_due(match.room, clock.tick)) return;
    RoomPostOptions options;
    options.data_folder = context.data_folder;
    post_room(context.log, *context.api, match.room, context.room_cfg_folder, options);
}

// Step 4: a new room link rebuilds the tray menu from the room history.
void refresh_tray_menu(RoomPassContext& context, const MatchState& match) {
    if (match.room.url.empty() || match.room.url == context.last_tray_link) return;
    context.last_tray_link = match.room.url;
    if (context.tray) tray_set_items(*context.tray, room_menu_items(context.data_folder));
}

}  // namespace

void run_room_steps(RoomPassContext& context, MatchState& match, const PassClock& clock) {
    advance_roster(context, match, clock);
    post_room_when_due(context, match, clock);
    serve_room_request(context.log, match, context.data_folder, context.tray);
    refresh_tray_menu(context, match);
}
