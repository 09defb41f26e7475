// One parsed `status` block of CS2's console and its player rows. Produced by
// the status parser, read by replay, the main loop and the roster.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

struct StatusPlayer {
    std::int32_t id = 0;         // slot id as printed
    std::string time;            // connection time, "BOT" for bots
    std::int32_t ping = 0;
    std::int32_t loss = 0;
    std::string state;           // "challenging" marks a pending row
    std::int64_t rate = 0;
    std::string address;         // remainder before the first ', trimmed
    std::string name;            // between the first and last ', untrimmed
};

struct StatusBlock {
    std::string log_time;                    // time prefix of the header line
    std::optional<std::int32_t> source_slot; // the local player's slot
    std::string version;
    std::string server_steamid;
    std::string connected_to;                // last "Client: ... Connected" line
    std::string server_note;
    std::int32_t humans = 0;
    std::int32_t bots = 0;
    std::int32_t max_players = 0;
    bool hibernating = false;
    std::string reservation;                 // the match reservation
    std::vector<StatusPlayer> players;       // connected humans, in row order
    std::int32_t pending_slots = 0;
    std::int32_t bot_slots = 0;
    std::int32_t rows_seen = 0;
};
