// The observing run: start-up of everything that needs the settings, passes
// every 300 ms until the stop flag is set, then the stop sequence. The loop
// owns every subsystem's state for the whole run and hands it on by reference.
#include "agent/run_modes.h"

#include "agent/clipboard.h"
#include "agent/gsi_pass.h"
#include "agent/gsi_silence.h"
#include "agent/match_state.h"
#include "agent/options.h"
#include "agent/room_delivery.h"
#include "agent/settings.h"
#include "agent/tray.h"
#include "console/console_commands.h"
#include "console/console_tail.h"
#include "console/status_parser.h"
#include "console/status_summary.h"
#include "core/clock.h"
#include "core/event_log.h"
#include "core/files.h"
#include "core/stop_flag.h"
#include "core/text.h"
#include "gsi/cfg_files.h"
#include "gsi/gsi_listener.h"
#include "gsi/gsi_payload.h"
#include "gsi/gsi_types.h"
#include "rooms/api_client.h"
#include "roster/name_matching.h"
#include "steam/coplay_friends.h"
#include "steam/cs2_install.h"
#include "steam/steam_client.h"

#include <string>
#include <vector>

namespace {

constexpr std::uint32_t kPassSleepMs = 300;
constexpr std::uint32_t kSleepSliceMs = 50;

struct MainLoop {
    const AgentOptions& options;
    const Cs2Install& install;
    EventLog& log;

    MainLoop(const AgentOptions& o, const Cs2Install& i, EventLog& l)
        : options(o), install(i), log(l) {}

    std::filesystem::path data_folder;
    AgentSettings settings;
    ApiClient api;
    bool api_ready = false;
    GsiListener listener;
    ConsoleTail tail;
    StatusParser parser;
    SilenceWatch silence;
    SteamConnection steam;
    bool steam_ready = false;
    SteamLists steam_lists;        // co-play and friend lists with their timers
    GsiView gsi;
    GsiSilence gsi_silence;
    MatchState match;
    TrayIcon tray;                    // window null: no tray
    std::string last_tray_link;       // the room link the tray menu was last rebuilt for

    std::vector<std::string> lines;   // reused from pass to pass
};

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

void open_tail(MainLoop& loop) {
    const std::filesystem::path& path =
        loop.options.console_log.empty() ? loop.install.console_log : loop.options.console_log;
    const std::string text = path_to_utf8(path);
    bool not_regular = false;
    if (loop.tail.open(path, false, &not_regular))
        log_event(loop.log, "tail_open", {{"path", text}, {"offset", loop.tail.offset}},
                  "tail: watching " + text + " from byte " + std::to_string(loop.tail.offset));
    else
        log_event(
            loop.log, "error", {{"where", "tail_open"}, {"detail", text}},
            "tail: cannot open " + text +
                (not_regular ? " -- not a regular file (a FIFO or a device?); give the path of "
                               "CS2's console.log"
                             : ""));
}

void read_inputs(MainLoop& loop);

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
    loop.tray.menu_tick = [](void* context) { read_inputs(*static_cast<MainLoop*>(context)); };
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

// The status names matched against what the agent knows now.
MatchReport match_block(const MainLoop& loop, const StatusBlock& block, std::size_t* pool_size) {
    const std::vector<IdentityCandidate> pool = build_identity_candidates(
        loop.match.gsi_players, loop.steam_lists.coplay, loop.steam_lists.friends,
        self_steamid(loop), self_persona(loop), loop.match.start_time);
    if (pool_size) *pool_size = pool.size();
    return match_status_names(block, pool);
}

// The co-play and friend lists, each when its timer is due. While the roster
// is not final, a co-play list that changed (a name Steam has just told, a
// player who just joined) is matched against the last status block again:
// the name a row waits for may be the one that arrived.
void tick_steam_lists(MainLoop& loop) {
    if (!loop.steam_ready) return;
    if (coplay_tick_due(loop.steam_lists, tick_now())) {
        const std::string before = loop.steam_lists.coplay_fingerprint;
        coplay_tick(loop.steam, loop.log, loop.steam_lists);
        MatchState& match = loop.match;
        if (loop.steam_lists.coplay_fingerprint != before && match.have_status && !match.final)
            match.last_match = match_block(loop, match.last_status, nullptr);
    }
    if (friend_tick_due(loop.steam_lists, tick_now()))
        friend_tick(loop.steam, loop.log, loop.steam_lists);
}

void start_up(MainLoop& loop) {
    std::optional<std::filesystem::path> folder = agent_data_folder();
    loop.data_folder = folder ? *folder : path_from_utf8(".");

    std::vector<std::string> problems;
    const std::int32_t port_override =
        loop.options.gsi_port_given ? static_cast<std::int32_t>(loop.options.gsi_port) : 0;
    loop.settings = load_settings(loop.data_folder, loop.install.cfg_dir, port_override,
                                  loop.options.api_base, problems);
    for (const std::string& problem : problems)
        log_event(loop.log, "error", {{"where", "settings"}, {"detail", problem}},
                  "settings: " + problem);

    start_api(loop);
    set_up_cfg_files(loop.log, loop.install.cfg_dir, loop.settings.gsi_port, loop.settings.gsi_token,
                     loop.options.write_cfg);
    start_listener(loop);
    loop.steam_ready = steam_init(loop.steam, loop.log);
    // The lists are read before the first console line: a status block typed
    // right after a restart is matched against them, not against nothing.
    tick_steam_lists(loop);
    open_tail(loop);
    log_console(loop.log,
                "watching -- press Ctrl+C to stop. Open the scoreboard in CS2 to force a status.");
    silence_reset(loop.silence, tick_now());
    loop.match = MatchState{};
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

void handle_status_block(MainLoop& loop, StatusBlock block) {
    MatchState& match = loop.match;
    // The server moved on to another match without GSI noticing. A block
    // without a reservation never counts as a change.
    if (match.final && !match.room.reservation.empty() && !block.reservation.empty() &&
        block.reservation != match.room.reservation) {
        log_event(loop.log, "match_changed", {{"from", match.room.reservation}, {"to", block.reservation}},
                  "a different match reservation appeared -- rebuilding the roster");
        match = MatchState{};
        match.start_time = unix_now();
        match.connect_time_reliable = false;
    }
    std::size_t pool_size = 0;
    MatchReport report = match_block(loop, block, &pool_size);
    log_status_match(loop.log, block, pool_size, report);
    match.last_status = std::move(block);
    match.last_match = std::move(report);
    match.have_status = true;
}

void read_console_log(MainLoop& loop) {
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
        silence_note_growth(loop.silence, tick_now());
    for (const std::string& line : loop.lines) {
        if (std::optional<RoomCommand> command = room_command_of(line))
            request_room(loop, line, *command);
        // Command lines are status input too.
        if (std::optional<StatusBlock> block = loop.parser.feed(line)) {
            log_event(loop.log, "status_snapshot", status_json(*block), status_summary(*block));
            handle_status_block(loop, std::move(*block));
        }
    }
}

void watch_silence(MainLoop& loop) {
    const std::uint32_t now = tick_now();
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

// What the room steps work with; start-up settles all of it (API, Steam, tray,
// folders), so it is put together once, not every pass.
RoomPassContext room_context(MainLoop& loop) {
    return RoomPassContext{loop.log,
                           loop.api_ready ? &loop.api : nullptr,
                           loop.steam_ready ? &loop.steam : nullptr,
                           loop.steam_lists.coplay,
                           loop.data_folder,
                           loop.options.write_cfg ? loop.install.cfg_dir : std::filesystem::path(),
                           loop.tray.window ? &loop.tray : nullptr,
                           loop.last_tray_link};
}

// Steps 2 to 5 of a pass: what arrived from GSI, console.log and Steam. They
// also run while the tray menu holds the loop; the room steps wait for it.
void read_inputs(MainLoop& loop) {
    // 2. GSI payloads queued since the last pass, oldest first.
    handle_gsi_queue(loop.listener, loop.settings.gsi_token, loop.match, loop.gsi, loop.log);
    // 3. New lines of console.log.
    read_console_log(loop);
    // 4. Silence watchdogs.
    watch_silence(loop);
    tell_gsi_silence(loop.gsi_silence, loop.log, loop.match.room_requested || loop.match.have_status,
                     loop.gsi.have_state);
    // 5. Steam: the co-play list every 5 s, the friend list every 30 s.
    tick_steam_lists(loop);
}

void run_pass(MainLoop& loop, RoomPassContext& rooms) {
    // 1. Tray messages; Exit ends the run once this pass is done.
    tray_pump();
    if (loop.tray.exit_requested) {
        loop.tray.exit_requested = false;
        log_console(loop.log, "tray: exit");
        request_stop();
    }
    read_inputs(loop);
    // 6. Roster, POST, room link and tray menu.
    run_room_steps(rooms, loop.match);
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

int run_main_loop(const AgentOptions& options, const Cs2Install& install, EventLog& log) {
    MainLoop loop(options, install, log);
    start_up(loop);
    RoomPassContext rooms = room_context(loop);
    while (!stop_requested()) {
        run_pass(loop, rooms);
        // The pause between passes ends early on Ctrl+C.
        for (std::uint32_t slept = 0; slept < kPassSleepMs && !stop_requested();
             slept += kSleepSliceMs)
            sleep_ms(kSleepSliceMs);
    }
    stop_sequence(loop);
    return 0;
}
