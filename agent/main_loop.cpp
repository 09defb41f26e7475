// The observing run: start-up of everything that needs the settings, passes
// every 300 ms until the stop flag is set, then the stop sequence. The loop
// owns every subsystem's state for the whole run and hands it on by reference.
#include "agent/main_loop.h"

#include "agent/clipboard.h"
#include "agent/gsi_silence.h"
#include "agent/match_record.h"
#include "agent/room_menu.h"
#include "agent/run_modes.h"
#include "console/console_commands.h"
#include "console/silence_watch.h"
#include "core/clock.h"
#include "core/files.h"
#include "core/stop_flag.h"
#include "core/text.h"
#include "gsi/cfg_files.h"
#include "gsi/gsi_payload.h"
#include "gsi/gsi_types.h"
#include "roster/roster_assembly.h"

#include <string>
#include <vector>

namespace {

constexpr std::uint32_t kPassSleepMs = 300;

PassClock read_clock() { return PassClock{tick_now(), unix_now()}; }

void start_api(MainLoop& loop) {
    const std::string& url = loop.settings.api_base_url;
    if (url.empty()) {
        log_console(loop.log, "api: no base URL configured -- rosters will be logged, not reported");
        return;
    }
    std::string error;
    if (api_client_init(loop.api, url, error)) {
        loop.api_ready = true;
        const std::string shown = url_for_display(url);   // never the password
        log_event(loop.log, "api_ready", {{"base_url", shown}}, "api: reporting rooms to " + shown);
    } else {
        log_event(loop.log, "error", {{"where", "api_init"}, {"detail", error}},
                  "api: " + error + " -- rosters will be logged, not reported");
    }
}

void start_listener(MainLoop& loop) {
    std::string error;
    if (loop.listener.start(loop.settings.gsi_port, error))
        log_event(loop.log, "gsi_listen", {{"port", loop.settings.gsi_port}},
                  "gsi: listening on 127.0.0.1:" + std::to_string(loop.settings.gsi_port));
    else
        log_event(loop.log, "error", {{"where", "gsi_listen"}, {"detail", error}}, "gsi: " + error);
}

}  // namespace

void open_tail(MainLoop& loop) {
    const std::filesystem::path& path =
        loop.options.console_log.empty() ? loop.install.console_log : loop.options.console_log;
    const std::string text = path_to_utf8(path);
    const SharedOpen opened = loop.tail.open(path, false);
    if (opened == SharedOpen::opened)
        log_event(loop.log, "tail_open", {{"path", text}, {"offset", loop.tail.offset}},
                  "tail: watching " + text + " from byte " + std::to_string(loop.tail.offset));
    else
        log_event(
            loop.log, "error", {{"where", "tail_open"}, {"detail", text}},
            "tail: cannot open " + text +
                (opened == SharedOpen::not_regular ? " -- not a regular file (a FIFO or a device?); give the path of "
                               "CS2's console.log"
                             : ""));
}

namespace {

void read_inputs(MainLoop& loop, const PassClock& clock);

void start_tray(MainLoop& loop) {
    // Said before the first room, while there is time to install a helper.
    const std::string hint = clipboard_missing_hint();
    if (!hint.empty()) log_console(loop.log, hint);
    if (!loop.options.tray) return;
    std::string error;
    if (!tray_create(loop.tray, error)) {
        const std::string line = "tray: " + error + " -- carrying on with the console window";
        if (tray_offered())
            log_event(loop.log, "error", {{"where", "tray"}, {"detail", error}}, line);
        else
            log_console(loop.log, line);   // no tray there by design: not an error
        return;
    }
    tray_set_items(loop.tray, room_menu_items(loop.data_folder));
    loop.tray.menu_tick = [](void* context) { read_inputs(*static_cast<MainLoop*>(context), read_clock()); };
    loop.tray.menu_tick_context = &loop;
    const bool hidden = tray_hide_console(loop.tray);
    log_event(loop.log, "tray_ready", {{"console_hidden", hidden}},
              hidden ? "tray: the console is hidden -- right-click the icon for the rooms and to exit"
                     : "tray: icon added");
}

// The own SteamID64 and persona name (asked now); zero and empty without Steam.
std::uint64_t self_steamid(const MainLoop& loop) {
    return loop.steam_ready ? loop.steam.self_steamid : 0;
}
std::string self_persona(const MainLoop& loop) {
    return loop.steam_ready ? steam_self_persona(loop.steam) : std::string();
}

// The co-play and friend lists, each when its timer is due. A list that
// changed reaches the roster on this pass: the roster is assembled from the
// current lists every pass.
void tick_steam_lists(MainLoop& loop, std::uint32_t now) {
    if (!loop.steam_ready) return;
    if (coplay_tick_due(loop.steam_lists, now)) coplay_tick(loop.steam, loop.log, loop.steam_lists);
    if (friend_tick_due(loop.steam_lists, now)) friend_tick(loop.steam, loop.log, loop.steam_lists);
}

void start_up(MainLoop& loop) {
    std::optional<std::filesystem::path> folder = agent_data_folder();
    loop.data_folder = folder ? *folder : path_from_utf8(".");

    const std::int32_t port_override =
        loop.options.gsi_port_given ? static_cast<std::int32_t>(loop.options.gsi_port) : 0;
    LoadedSettings loaded =
        load_settings(loop.data_folder, loop.install.cfg_dir, port_override, loop.options.api_base);
    loop.settings = std::move(loaded.settings);
    for (const std::string& problem : loaded.problems)
        log_event(loop.log, "error", {{"where", "settings"}, {"detail", problem}},
                  "settings: " + problem);

    start_api(loop);
    set_up_cfg_files(loop.log, loop.install.cfg_dir, loop.settings.gsi_port, loop.settings.gsi_token,
                     loop.options.write_cfg);
    start_listener(loop);
    loop.steam_ready = steam_init(loop.steam, loop.log);
    // The lists are read before the first console line: a status block typed
    // right after a restart is matched against them, not against nothing.
    tick_steam_lists(loop, tick_now());
    open_tail(loop);
    log_console(loop.log,
                "watching -- press Ctrl+C to stop. Open the scoreboard in CS2 to force a status.");
    silence_reset(loop.silence, tick_now());
    start_tray(loop);
}

void request_room(MainLoop& loop, const std::string& line, const RoomCommand& command) {
    loop.match.room_requested = true;
    loop.match.restore_tried = false;
    const bool have_room = !loop.match.room.url.empty();
    log_event(loop.log, "room_requested",
              {{"line", line}, {"how", command.how}, {"link_only", command.link_only},
               {"have_room", have_room}},
              "player asked for the room (" + command.how + ") -- " +
                  (have_room ? "handing over the room"
                             : "no room yet; the link arrives as soon as there is one"));
}

// A block of another match starts its record; the block's names are matched
// against the evidence of now for the status_match record, and the block is
// kept: every pass matches it again against the evidence of that pass.
void handle_status_block(MainLoop& loop, StatusBlock block, std::int64_t now) {
    MatchState& match = loop.match;
    change_match_on(match, block, now, loop.log);
    const std::string self_name = self_persona(loop);
    match.last_status = std::move(block);
    const Roster roster = assemble_roster(roster_evidence(
        match, loop.steam_lists.coplay, loop.steam_lists.friends, self_steamid(loop), self_name, now));
    log_status_match(loop.log, *match.last_status, roster.pool_size, roster.report);
}

void read_console_log(MainLoop& loop, const PassClock& clock) {
    loop.lines.clear();
    bool restarted = false;
    if (!loop.tail.poll(loop.lines, restarted))
        return;
    if (restarted) {
        // A new session: forget any half-read block and the last connect line.
        loop.parser = StatusParser{};
        log_event(loop.log, "log_rotated", {{"path", path_to_utf8(loop.tail.path)}},
                  "tail: console.log restarted (new CS2 session)");
    }
    if (!loop.lines.empty())
        silence_note_growth(loop.silence, clock.tick);
    for (const std::string& line : loop.lines) {
        if (std::optional<RoomCommand> command = room_command_of(line))
            request_room(loop, line, *command);
        // Command lines are status input too.
        if (std::optional<StatusBlock> block = loop.parser.feed(line)) {
            log_event(loop.log, "status_snapshot", status_json(*block), status_summary(*block));
            handle_status_block(loop, std::move(*block), clock.unix_seconds);
        }
    }
}

void watch_silence(MainLoop& loop, std::uint32_t now) {
    const bool on_map = loop.gsi.have_state && !loop.gsi.last.map_name.empty();
    if (!silence_warning_due(loop.silence, now, on_map))
        return;
    const std::uint32_t seconds = ticks_since(now, loop.silence.last_growth) / 1000;
    log_event(loop.log, "error",
              {{"where", "console_log_silent"}, {"path", path_to_utf8(loop.tail.path)},
               {"seconds", seconds}},
              "WARNING: GSI says you are on " + loop.gsi.last.map_name +
                  " but console.log has not grown for 60s.\n"
                  "    CS2 was almost certainly launched without -condebug, so no `status` will be read"
                  " this session.\n"
                  "    Add to CS2 launch options:  -condebug +exec vantor");
}

// Steps 2 to 5 of a pass: what arrived from GSI, console.log and Steam. They
// also run while the tray menu holds the loop; the room steps wait for it.
void read_inputs(MainLoop& loop, const PassClock& clock) {
    // 2. GSI payloads queued since the last pass, oldest first.
    handle_gsi_queue(loop.listener, loop.settings.gsi_token, loop.match, loop.gsi, loop.log);
    // 3. New lines of console.log.
    read_console_log(loop, clock);
    // 4. Silence watchdog.
    watch_silence(loop, clock.tick);
    tell_gsi_silence(loop.gsi_silence, loop.log, loop.match.room_requested || loop.match.last_status.has_value(),
                     loop.gsi.have_state);
    // 5. Steam: the co-play list every 5 s, the friend list every 30 s.
    tick_steam_lists(loop, clock.tick);
}

void stop_sequence(MainLoop& loop) {
    log_console(loop.log, "stopping");
    loop.listener.stop();
    steam_release(loop.steam);
    log_event(loop.log, "stopped",
              {{"gsi_requests", loop.listener.requests()},
               {"gsi_malformed", loop.listener.malformed()}},
              "");
    tray_destroy(loop.tray);
    api_client_close(loop.api);
}

}  // namespace

RoomPassContext room_context(MainLoop& loop) {
    return RoomPassContext{loop.log,
                           loop.api_ready ? &loop.api : nullptr,
                           loop.steam_ready ? &loop.steam : nullptr,
                           loop.steam_lists.coplay,
                           loop.steam_lists.friends,
                           loop.data_folder,
                           loop.options.write_cfg ? loop.install.cfg_dir : std::filesystem::path(),
                           loop.tray.window ? &loop.tray : nullptr,
                           loop.last_tray_link};
}

void run_pass(MainLoop& loop, RoomPassContext& rooms) {
    const PassClock clock = read_clock();
    // 1. Tray messages; Exit ends the run once this pass is done.
    tray_pump();
    if (loop.tray.exit_requested) {
        loop.tray.exit_requested = false;
        log_console(loop.log, "tray: exit");
        request_stop();
    }
    read_inputs(loop, clock);
    // 6. Roster, POST, room link and tray menu.
    run_room_steps(rooms, loop.match, clock);
}

int run_main_loop(const AgentOptions& options, const Cs2Install& install, EventLog& log) {
    MainLoop loop(options, install, log);
    start_up(loop);
    RoomPassContext rooms = room_context(loop);
    while (!stop_requested()) {
        run_pass(loop, rooms);
        // The pause between passes ends at once on Ctrl+C: the stop wakes it.
        wait_for_stop(kPassSleepMs);
    }
    stop_sequence(loop);
    return 0;
}
