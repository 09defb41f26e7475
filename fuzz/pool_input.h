// Random but plausible matching inputs from a FuzzedDataProvider: names drawn
// mostly from a small set with blanks and case changed (so the tiers and the
// ties get exercised), SteamID64s from a small range (so sources collide).
#pragma once

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <string>
#include <vector>

#include "console/status_block.h"
#include "gsi/gsi_types.h"
#include "steam/steam_lists.h"

inline std::string fuzz_name(FuzzedDataProvider& in) {
    static const char* const known[] = {"Shaikh Kebab", "O'Brien", "sh1ro", "s1mple", "\xF0\x9D\x9F\x95 umbrella",
                                        "", " ", "NaVi", "navi", "Vitaliy", "\xC3\x9Cn\xC3\xAF"};
    switch (in.ConsumeIntegralInRange<int>(0, 4)) {
        case 0: return in.ConsumeRandomLengthString(24);
        case 1: return " " + std::string(known[in.ConsumeIntegralInRange<std::size_t>(0, 10)]) + "\t";
        case 2: {
            std::string name = known[in.ConsumeIntegralInRange<std::size_t>(0, 10)];
            for (char& c : name)
                if (c >= 'a' && c <= 'z' && in.ConsumeBool()) c = char(c - 'a' + 'A');
            return name;
        }
        default: return known[in.ConsumeIntegralInRange<std::size_t>(0, 10)];
    }
}

inline std::uint64_t fuzz_steamid(FuzzedDataProvider& in) {
    if (in.ConsumeIntegralInRange<int>(0, 15) == 0) return in.ConsumeIntegral<std::uint64_t>();
    // Account numbers 52 to 76: bots' stand-ins (below 65) and real players.
    return 76561197960265728ull + in.ConsumeIntegralInRange<std::uint64_t>(52, 76);
}

inline StatusBlock fuzz_status_block(FuzzedDataProvider& in) {
    StatusBlock block;
    if (in.ConsumeBool()) block.source_slot = in.ConsumeIntegralInRange<std::int32_t>(-1, 12);
    block.reservation = in.ConsumeBool() ? "1:2:3:4" : in.ConsumeRandomLengthString(12);
    block.humans = in.ConsumeIntegralInRange<std::int32_t>(-1, 12);
    block.bots = in.ConsumeIntegralInRange<std::int32_t>(0, 3);
    block.max_players = in.ConsumeIntegralInRange<std::int32_t>(0, 12);
    const std::size_t rows = in.ConsumeIntegralInRange<std::size_t>(0, 12);
    for (std::size_t i = 0; i < rows; ++i) {
        StatusPlayer player;
        player.id = in.ConsumeIntegralInRange<std::int32_t>(0, 12);
        player.time = in.ConsumeBool() ? "03:12" : "BOT";
        player.state = in.ConsumeBool() ? "active" : "challenging";
        player.name = fuzz_name(in);
        block.players.push_back(player);
    }
    block.rows_seen = static_cast<std::int32_t>(rows) + in.ConsumeIntegralInRange<std::int32_t>(0, 3);
    block.pending_slots = in.ConsumeIntegralInRange<std::int32_t>(0, 2);
    block.bot_slots = in.ConsumeIntegralInRange<std::int32_t>(0, 2);
    return block;
}

inline GsiPlayers fuzz_gsi_players(FuzzedDataProvider& in) {
    GsiPlayers players;
    const std::size_t count = in.ConsumeIntegralInRange<std::size_t>(0, 12);
    for (std::size_t i = 0; i < count; ++i) {
        GsiPlayer& player = players[fuzz_steamid(in)];
        player.name = fuzz_name(in);
        player.team = in.ConsumeBool() ? "CT" : (in.ConsumeBool() ? "T" : "");
        player.times_seen = in.ConsumeIntegralInRange<std::int32_t>(1, 5);
    }
    return players;
}

inline std::vector<CoplayEntry> fuzz_coplay(FuzzedDataProvider& in) {
    std::vector<CoplayEntry> coplay;
    const std::size_t count = in.ConsumeIntegralInRange<std::size_t>(0, 14);
    for (std::size_t i = 0; i < count; ++i) {
        CoplayEntry entry;
        entry.steamid = fuzz_steamid(in);
        entry.coplay_time = 1733519000 + in.ConsumeIntegralInRange<std::int64_t>(-1000, 1000);
        entry.appid = in.ConsumeBool() ? 730 : in.ConsumeIntegral<std::uint32_t>();
        entry.persona_known = in.ConsumeBool();
        entry.persona = entry.persona_known ? fuzz_name(in) : "";
        entry.relationship = in.ConsumeIntegralInRange<std::int32_t>(0, 6);
        entry.is_friend = entry.relationship == 3;
        coplay.push_back(entry);
    }
    return coplay;
}

inline std::vector<FriendEntry> fuzz_friends(FuzzedDataProvider& in) {
    std::vector<FriendEntry> friends;
    const std::size_t count = in.ConsumeIntegralInRange<std::size_t>(0, 10);
    for (std::size_t i = 0; i < count; ++i) {
        FriendEntry entry;
        entry.steamid = fuzz_steamid(in);
        entry.persona = fuzz_name(in);
        if (in.ConsumeBool()) entry.nickname = fuzz_name(in);
        const std::size_t former = in.ConsumeIntegralInRange<std::size_t>(0, 4);
        for (std::size_t j = 0; j < former; ++j) entry.name_history.push_back(fuzz_name(in));
        entry.in_cs2 = in.ConsumeBool();
        entry.game_appid = entry.in_cs2 ? 730 : 0;
        friends.push_back(entry);
    }
    return friends;
}
