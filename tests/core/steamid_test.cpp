#include "core/steamid.h"

#include <gtest/gtest.h>

constexpr std::uint64_t make(std::uint64_t universe, std::uint64_t type, std::uint64_t instance,
                             std::uint64_t account) {
    return (universe << 56) | (type << 52) | (instance << 32) | account;
}

TEST(SteamId, ValidityAndRealPlayersFollowTheBitFields) {
    struct Row { const char* name; std::uint64_t id; bool valid, real_player; };
    const std::uint64_t bots = 76561197960265728ull;   // individual, public, account 0
    const Row rows[] = {
        {"an individual in the public universe", 76561197960287930ull, true, true},
        {"zero", 0, false, false},
        {"individual without account", bots, false, false},
        {"the last bot stand-in, account 64", bots + 64, true, false},
        {"the first real account, 65", bots + 65, true, true},
        {"individual, instance 0", make(1, 1, 0, 5), false, false},
        {"universe 0", make(0, 1, 1, 5), false, false},
        {"universe 5", make(5, 1, 1, 5), false, false},
        {"type 11", make(1, 11, 0, 5), false, false},
        {"clan: valid, never a player", make(1, 7, 0, 5000), true, false},
        {"game server, any instance", make(1, 3, 7, 5000), true, false},
        {"anonymous game server", make(1, 4, 0, 0), true, false},
        {"type 10", make(1, 10, 0, 0), true, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(steamid_valid(row.id), row.valid);
        EXPECT_EQ(steamid_real_player(row.id), row.real_player);
    }
}
