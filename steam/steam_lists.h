// The co-play list and the friend list as read from the Steam client.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct CoplayEntry {
    std::uint64_t steamid = 0;
    std::int64_t coplay_time = 0;     // seconds since 1970 of the last game together
    std::uint32_t appid = 0;          // 730 = CS2
    std::string persona;              // empty while Steam does not know it
    bool persona_known = false;
    std::int32_t relationship = 0;
    bool is_friend = false;           // relationship 3
};

struct FriendEntry {
    std::uint64_t steamid = 0;
    std::string persona;
    std::string nickname;
    std::vector<std::string> name_history;   // up to 16, position 0 first
    std::uint32_t game_appid = 0;
    std::uint64_t lobby = 0;
    bool in_cs2 = false;                     // game_appid 730
};
