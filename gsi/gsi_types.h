// What Game State Integration told us: one player object of one payload, what
// is known of one player across the match, and the reduced state of a payload.
#pragma once

#include <cstdint>
#include <map>
#include <string>

struct GsiPlayerSeen {
    std::uint64_t steamid = 0;
    std::string name;
    std::string team;
    std::int32_t observer_slot = -1;
    std::string block;            // "player", "previously" or "added"
};

struct GsiPlayer {
    std::string name;             // last non-empty name seen
    std::string team;             // last non-empty team seen
    std::int32_t observer_slot = -1;
    std::int32_t times_seen = 0;
};

// Ordered by SteamID64, ascending.
using GsiPlayers = std::map<std::uint64_t, GsiPlayer>;

struct GsiState {
    std::string map_name;
    std::string map_mode;
    std::string map_phase;
    std::string round_phase;
    std::int32_t round = -1;
    std::string activity;
    std::string player_steamid;
    std::string player_name;
    std::int64_t provider_timestamp = 0;
};
