// SteamID64 rules: which identifiers read from the Steam client or from GSI
// are kept, and which can be a person in a match. Bits 0-31 account number,
// 32-51 instance, 52-55 account type, 56-63 universe.
#pragma once

#include <cstdint>

inline bool steamid_valid(std::uint64_t id) {
    const std::uint32_t account = static_cast<std::uint32_t>(id & 0xFFFFFFFFu);
    const std::uint32_t instance = static_cast<std::uint32_t>((id >> 32) & 0xFFFFFu);
    const std::uint32_t type = static_cast<std::uint32_t>((id >> 52) & 0xFu);
    const std::uint32_t universe = static_cast<std::uint32_t>(id >> 56);
    if (type < 1 || type > 10) return false;
    if (universe < 1 || universe > 4) return false;
    if (type == 1 && (account == 0 || instance != 1)) return false;   // individual
    if (type == 7 && (account == 0 || instance != 0)) return false;   // clan
    if (type == 3 && account == 0) return false;                      // game server
    return true;
}

// CS2 names its bots with stand-in ids: 76561197960265728 (an individual of
// the public universe with account number 0) plus a small index. No real
// account has a number this low.
inline constexpr std::uint32_t kFirstRealAccount = 65;

// An id that can be a player of a match: a valid individual account that is
// no bot's stand-in. Every source of roster players is held to it.
inline bool steamid_real_player(std::uint64_t id) {
    const std::uint32_t account = static_cast<std::uint32_t>(id & 0xFFFFFFFFu);
    const std::uint32_t type = static_cast<std::uint32_t>((id >> 52) & 0xFu);
    return steamid_valid(id) && type == 1 && account >= kFirstRealAccount;
}
