// The observing run's state and its pass, for run_main_loop and for the tests
// that drive whole passes: GSI bodies on the real listener, lines in a real
// console.log, the record's life and the room steps as the agent takes them.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "agent/gsi_pass.h"
#include "agent/gsi_silence.h"
#include "agent/match_state.h"
#include "agent/options.h"
#include "agent/room_delivery.h"
#include "agent/settings.h"
#include "agent/tray.h"
#include "console/console_tail.h"
#include "console/silence_watch.h"
#include "console/status_parser.h"
#include "console/status_summary.h"
#include "core/event_log.h"
#include "gsi/gsi_listener.h"
#include "rooms/api_client.h"
#include "steam/coplay_friends.h"
#include "steam/cs2_install.h"
#include "steam/steam_client.h"

// The loop owns every subsystem's state for the whole run and hands it on by
// reference.
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
    SteamLists steam_lists;  // co-play and friend lists with their timers
    GsiView gsi;
    GsiSilence gsi_silence;
    MatchState match;
    TrayIcon tray;               // window null: no tray
    std::string last_tray_link;  // the room link the tray menu was last rebuilt for

    std::vector<std::string> lines;  // reused from pass to pass
};

// Opens console.log (the option's path, else CS2's) at its end.
void open_tail(MainLoop& loop);

// What the room steps work with; start-up settles all of it (API, Steam, tray,
// folders), so it is put together once, not every pass.
RoomPassContext room_context(MainLoop& loop);

// One pass: tray messages, GSI, console.log, the silence watchdog, Steam,
// then the room steps, all on the clock read at its start.
void run_pass(MainLoop& loop, RoomPassContext& rooms);
