// The co-play list and the friend list read from the Steam client, the
// persona names asked for, and their debug records.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_set>
#include <vector>


#include "steam/steam_lists.h"

struct EventLog;
struct SteamConnection;

inline constexpr std::uint32_t kCoplayTickMs = 5000;
inline constexpr std::uint32_t kFriendTickMs = 30000;

// At most this many entries are read per list. Steam keeps a few thousand
// friends at most and a few hundred recent co-players; a larger count from
// the client is garbage.
inline constexpr int kMaxFriends = 5000;
inline constexpr int kMaxCoplayEntries = 1000;

// What the main loop keeps between Steam ticks; owned by the main loop.
struct SteamLists {
    std::vector<CoplayEntry> coplay;
    std::vector<FriendEntry> friends;
    std::string coplay_fingerprint;                // of the previous co-play tick
    std::unordered_set<std::uint64_t> announced;   // CS2 co-play users announced this run
    std::uint32_t last_coplay_tick = 0;            // tick count; 0 = never
    std::uint32_t last_friend_tick = 0;
};

// The readers. Without a friends interface each gives its empty result. Only
// ids of real players are kept. A count beyond the bound above is cut, with a
// --debug record "steam_count_cut" in `log` when one is given.
std::vector<CoplayEntry> read_coplay_list(const SteamConnection& connection,
                                          EventLog* log = nullptr);
std::vector<FriendEntry> read_friend_list(const SteamConnection& connection,
                                          EventLog* log = nullptr);

// Asks Steam for every name it does not know yet; the number of requests sent.
int request_missing_personas(const SteamConnection& connection,
                             const std::vector<CoplayEntry>& list);

// "<steamid>:<coplay_time>+" (or "-" while the name is missing) per entry.
std::string coplay_fingerprint(const std::vector<CoplayEntry>& list);

// Whether a tick is due at `now` (never run, or its period has passed).
bool coplay_tick_due(const SteamLists& lists, std::uint32_t now);
bool friend_tick_due(const SteamLists& lists, std::uint32_t now);

// The timer bodies: read, request names, log. They record the tick time.
void coplay_tick(const SteamConnection& connection, EventLog& log, SteamLists& lists);
void friend_tick(const SteamConnection& connection, EventLog& log, SteamLists& lists);

// coplay_new for each CS2 entry not announced before (events only with --debug;
// the set grows regardless).
void log_coplay_new(EventLog& log, const std::vector<CoplayEntry>& list,
                    std::unordered_set<std::uint64_t>& announced);
// coplay_snapshot (with console line) or the small coplay_tick; --debug only.
void log_coplay(EventLog& log, const std::vector<CoplayEntry>& list, std::uint64_t self_steamid,
                bool snapshot);
// friends_snapshot with console line; --debug only.
void log_friends(EventLog& log, const std::vector<FriendEntry>& list);
