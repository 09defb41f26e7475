#include "roster/roster_assembly.h"

#include <gtest/gtest.h>

#include <optional>

#include "core/text.h"
#include "roster/room_key.h"

namespace {

constexpr std::uint64_t kBase = 76561198000000000ULL;
constexpr std::uint64_t kBot = 76561197960265729ULL;   // GSI's id for bot 1
constexpr std::int64_t kStart = 1733519643;
constexpr std::int64_t kWeeksAgo = kStart - 30 * 86400;

std::string numbered(const char* prefix, int i) {
    std::string text = prefix;
    text += std::to_string(i);
    return text;
}

StatusBlock block_of(const std::vector<std::string>& names, std::int32_t humans) {
    StatusBlock block;
    block.humans = humans;
    block.reservation = "90312477281";
    std::int32_t id = 2;
    for (const std::string& name : names) {
        StatusPlayer player;
        player.id = id++;
        player.name = name;
        block.players.push_back(player);
    }
    return block;
}

CoplayEntry coplay(std::uint64_t steamid, const std::string& persona, std::int64_t time,
                   std::uint32_t appid = 730) {
    return {steamid, time, appid, persona, !persona.empty(), 0, false};
}

std::vector<std::uint64_t> ids_of(const Roster& roster) {
    std::vector<std::uint64_t> ids;
    for (const RosterPlayer& p : roster.players) ids.push_back(p.steamid);
    return ids;
}

const RosterPlayer* find(const Roster& roster, std::uint64_t steamid) {
    for (const RosterPlayer& p : roster.players) {
        if (p.steamid == steamid) return &p;
    }
    return nullptr;
}

std::vector<std::string> unresolved_names(const Roster& roster) {
    std::vector<std::string> names;
    for (const RejectedName& r : roster.rejected) names.push_back(r.name);
    return names;
}

// One agent's evidence; assembled through the one entry, so every status
// name goes through the real pool and matcher.
struct Scene {
    std::optional<StatusBlock> block;
    std::vector<CoplayEntry> coplay;
    std::vector<FriendEntry> friends;
    GsiPlayers gsi;
    std::uint64_t self = 0;
    std::string self_name;
    std::int64_t start = 0;
    std::int64_t now = 0;
    bool reliable = false;
    std::int64_t margin = kCoplayMargin;

    Roster assemble() const {
        RosterInputs in;
        in.status = block ? &*block : nullptr;
        in.coplay = coplay;
        in.friends = friends;
        in.gsi_players = &gsi;
        in.self_steamid = self;
        in.self_name = self_name;
        in.start_time = start;
        in.now = now;
        in.connect_time_reliable = reliable;
        in.coplay_margin = margin;
        return assemble_roster(in);
    }
};

FriendEntry friend_of(std::uint64_t steamid, const std::string& name, std::vector<std::string> former = {},
                      bool in_cs2 = false) {
    former.insert(former.begin(), name);
    return {steamid, name, "", former, in_cs2 ? 730u : 0u, 0, in_cs2};
}

}  // namespace

TEST(RosterWithoutStatus, SelfGsiAndCoplayOfThisMatchOnly) {
    Scene in;
    in.self = kBase + 1;
    in.self_name = "Me";
    in.start = kStart;
    in.gsi[kBase + 1] = {"Me in GSI", "T", 0, 3};
    in.gsi[kBase + 6] = {"Gsi", "CT", 1, 1};
    in.gsi[kBot] = {"Niles", "CT", 3, 12};   // a bot never enters
    in.coplay = {
        coplay(kBase + 2, "On time", kStart - 300),
        coplay(kBase + 3, "Too early", kStart - 301),
        coplay(kBase + 4, "Other game", kStart, 570),
        coplay(kBase + 1, "Myself", kStart),
        coplay(kBase + 5, "", kStart + 60),   // persona not known yet: added all the same
        coplay(kBot + 2, "Rock", kStart),
    };
    in.reliable = false;   // joined mid-match: co-play is not trusted
    Roster roster = in.assemble();
    EXPECT_EQ(ids_of(roster), (std::vector<std::uint64_t>{kBase + 1, kBase + 6}));
    EXPECT_EQ(roster.blocked_by,
              "roster has 2 of 10 players; joined mid-match, so co-play cannot be trusted -- needs a "
              "status block (type `exec vantor` in game)");

    in.reliable = true;
    roster = in.assemble();
    EXPECT_EQ(ids_of(roster), (std::vector<std::uint64_t>{kBase + 1, kBase + 2, kBase + 5, kBase + 6}));
    EXPECT_EQ(roster.players[0].name, "Me");
    EXPECT_EQ(roster.players[0].team, "T");
    EXPECT_EQ(roster.players[1].source, "coplay");
    EXPECT_EQ(roster.blocked_by,
              "roster has 4 of 10 players; no status block yet (type `exec vantor` in game)");

    // An unknown start lets every CS2 co-play entry in; a margin that would
    // overflow must not change that reading.
    in.start = 0;
    EXPECT_EQ(in.assemble().players.size(), 5u);
    in.start = kStart;
    in.margin = INT64_MIN;
    EXPECT_EQ(in.assemble().players.size(), 2u);
    in.margin = INT64_MAX;
    EXPECT_EQ(in.assemble().players.size(), 5u);

    // A status block without rows is no status, though its (empty) match is told.
    in.margin = kCoplayMargin;
    in.block = block_of({}, 10);
    roster = in.assemble();
    EXPECT_EQ(roster.players.size(), 4u);
    EXPECT_EQ(roster.report.matches.size(), 0u);
    EXPECT_EQ(roster.pool_size, 4u);   // two from GSI, the user, one named co-play entry of CS2

    // Ten without a status block are never final.
    in.block.reset();
    for (int i = 7; i <= 12; ++i) in.gsi[kBase + i] = {numbered("p", i), "T", i, 1};
    roster = in.assemble();
    EXPECT_TRUE(roster.complete);
    EXPECT_FALSE(roster.validated);
    EXPECT_EQ(roster.blocked_by, "ten players assembled without a status block to confirm them");
}

namespace {

// Ten co-play entries player0..player9 (kBase+10 .. kBase+1), the start unknown.
Scene ten_met(std::int32_t humans = 10) {
    Scene in;
    std::vector<std::string> names;
    for (int i = 0; i < 10; ++i) {
        names.push_back(numbered("player", i));
        in.coplay.push_back(coplay(kBase + 10 - i, names.back(), kStart));
    }
    in.block = block_of(names, humans);
    return in;
}

}  // namespace

TEST(RosterFromStatus, TenExactRowsMakeAFinalRoster) {
    Scene in = ten_met();
    in.self = kBase + 99;   // not in the block: status alone decides
    in.self_name = "Spectator";
    in.gsi[kBase + 3] = {"Player7 ", "CT", 1, 1};

    const Roster roster = in.assemble();
    EXPECT_TRUE(roster.validated);
    EXPECT_EQ(roster.reservation, "90312477281");
    EXPECT_EQ(roster.blocked_by, "");
    EXPECT_EQ(roster.report.matched, 10u);
    ASSERT_EQ(roster.players.size(), 10u);
    for (const RosterPlayer& p : roster.players) {
        EXPECT_EQ(p.group, p.steamid > kBase + 5 ? 1 : 2) << p.steamid;
    }
    EXPECT_EQ(find(roster, kBase + 3)->name, "player7");   // the status name stays
    EXPECT_EQ(find(roster, kBase + 3)->source, "gsi");
    EXPECT_EQ(find(roster, kBase + 3)->team, "CT");
    EXPECT_EQ(roster.room_key, derive_room_key(ids_of(roster)));

    // Status counting humans it did not list, or listing fewer, is not ten confirmed.
    in = ten_met(12);
    EXPECT_EQ(in.assemble().blocked_by, "ten players, but status has not confirmed them");
    in.block->players.pop_back();
    in.block->humans = 0;
    EXPECT_EQ(in.assemble().blocked_by, "roster has 9 of 10 players");
}

TEST(RosterFromStatus, DoubtfulRowsAreRejectedWithTheirReasons) {
    Scene in;   // the start unknown: nothing is of this match
    in.block = block_of({"Nobody", "Niles", "Twin", "loose friend", "LOOSE IN CS2", "Exact Friend", "\tTabbed ",
                         "Jurgen", "JURGEN"},
                        0);
    in.gsi[kBot] = {"Niles", "CT", 3, 12};   // a bot's stand-in is no candidate
    in.friends = {friend_of(kBase + 1, "Twin"), friend_of(kBase + 11, "Twin"), friend_of(kBase + 2, "loose friend "),
                  friend_of(kBase + 3, "loose in cs2", {}, true), friend_of(kBase + 4, "Exact Friend")};
    in.coplay = {coplay(kBase + 5, "Tabbed", kWeeksAgo), coplay(kBase + 7, "Jurgen", kWeeksAgo)};
    const Roster roster = in.assemble();
    EXPECT_EQ(roster.expected, 9);
    EXPECT_EQ(ids_of(roster), (std::vector<std::uint64_t>{kBase + 3, kBase + 4, kBase + 5}));
    EXPECT_EQ(find(roster, kBase + 5)->name, "\tTabbed ");
    EXPECT_FALSE(roster.validated);
    EXPECT_EQ(roster.blocked_by,
              "roster has 3 of 10 players; unresolved: 'Nobody' (no candidate), 'Niles' (no candidate), "
              "'Twin' (several candidates share this name), 'loose friend' (inexact match against a "
              "friend Steam does not place in CS2), 'Jurgen' (two players resolved to one "
              "SteamID64), 'JURGEN' (two players resolved to one SteamID64)");
}

TEST(RosterFromStatus, AnUnresolvedRowIsFilledOnlyFromAGsiPlayerOfTheSameName) {
    // Rows 2 ("Nico", kBase+8) and 8 ("Ghost", kBase+2) have no co-play entry
    // and two friends of their name each; GSI knows every player, under these
    // names for kBase+8 and kBase+2.
    struct Case {
        const char* guards;
        const char* gsi8;
        const char* gsi2;
        std::uint64_t filled;
        std::vector<std::string> unresolved;
    };
    const Case cases[] = {
        {"both names agree exactly: both rows filled", "Nico", "Ghost", 2, {}},
        {"names agree after case folding and trimming", "NICO", "Ghost ", 2, {}},
        {"a player who left (other name) never takes a stranger's row", "Lark", "Ghost", 1, {"Nico"}},
        {"no GSI player of the rows' names: both stay open", "Zane", "Vitaliy", 0, {"Nico", "Ghost"}},
        {"two GSI players of the row's name: neither is chosen", "Nico", "Nico", 0, {"Nico", "Ghost"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.guards);
        Scene in = ten_met();
        in.block->players[2].name = "Nico";
        in.block->players[8].name = "Ghost";
        std::erase_if(in.coplay, [](const CoplayEntry& e) { return e.steamid == kBase + 8 || e.steamid == kBase + 2; });
        in.friends = {friend_of(kBase + 40, "Nico"), friend_of(kBase + 41, "Nico", {}, true),
                      friend_of(kBase + 42, "Ghost"), friend_of(kBase + 43, "Ghost")};
        for (int i = 1; i <= 10; ++i) in.gsi[kBase + i] = {numbered("player", 10 - i), "T", i, 1};
        in.gsi[kBase + 8].name = c.gsi8;
        in.gsi[kBase + 2].name = c.gsi2;
        in.gsi[kBot] = {"Nico", "CT", 3, 12};   // a bot of the row's name never fills it

        const Roster roster = in.assemble();
        EXPECT_EQ(roster.filled_from_gsi, c.filled);
        EXPECT_EQ(unresolved_names(roster), c.unresolved);
        EXPECT_EQ(roster.players.size(), 8 + c.filled);
        EXPECT_EQ(roster.validated, c.filled == 2);
        if (c.filled == 2) {
            EXPECT_EQ(find(roster, kBase + 8)->source, "gsi-fill");
            EXPECT_EQ(find(roster, kBase + 8)->group, 0);   // row 2 resolved to nobody
            EXPECT_EQ(find(roster, kBase + 10)->group, 1);
        }
    }
}

// One match seen by one agent: the user, player2..player8 met in it, and the
// rows of the last two players, whose evidence each row gives. A row matched
// only outside this match (an older co-play entry, a friend, a former name)
// is held back exactly while Steam has not named a player met in this match
// whom no row accounts for; a named entry no row claims (a leaver, a player
// of the match before) holds nothing back.
TEST(RosterFromStatus, WeakEvidenceWaitsOnlyForAPlayerOfThisMatchSteamHasNotNamed) {
    const FriendEntry idle_alex = friend_of(kBase + 70, "Alex");
    const FriendEntry alex_elsewhere = friend_of(kBase + 71, "Alex", {}, true);
    const FriendEntry once_alex = friend_of(kBase + 72, "Sasha", {"Alex"});
    const FriendEntry alex_here = friend_of(kBase + 9, "Alex", {}, true);
    const FriendEntry sasha_here = friend_of(kBase + 9, "Sasha", {"Alex"});
    const FriendEntry bo_in_cs2 = friend_of(kBase + 10, "Bo", {}, true);   // no co-play entry
    const FriendEntry trinity = friend_of(kBase + 10, "Tri", {"Trinity"});
    const FriendEntry idle_nico = friend_of(kBase + 60, "Nico");
    const CoplayEntry alex = coplay(kBase + 9, "Alex", kStart + 20), alex_unnamed = coplay(kBase + 9, "", kStart + 20);
    const CoplayEntry old_alex = coplay(kBase + 60, "Alex", kWeeksAgo), bo = coplay(kBase + 10, "Bo", kStart + 20);
    const CoplayEntry lynx = coplay(kBase + 50, "Lynx", kStart - 90), lynx_unnamed = coplay(kBase + 50, "", kStart - 90);
    const CoplayEntry lurk = coplay(kBase + 51, "Lurk", kStart + 30), lurk_unnamed = coplay(kBase + 51, "", kStart + 30);
    const CoplayEntry mika_old = coplay(kBase + 9, "Mika", kStart - 7200);
    const CoplayEntry nico_unnamed = coplay(kBase + 9, "", kStart + 20);
    const std::string weak = " (matched only outside this match while a player of this match is unnamed)";
    const std::string waiting = "; waiting for Steam to name 1 player met in this match";
    const std::string alex_waits = "roster has 9 of 10 players; unresolved: 'Alex'" + weak + waiting;
    const GsiPlayers nico_in_gsi = {{kBase + 9, {"Nico", "CT", 4, 2}}};
    struct Case {
        const char* guards;
        std::vector<std::string> rows;   // the last two
        std::vector<CoplayEntry> coplay;
        std::vector<FriendEntry> friends;
        GsiPlayers gsi;
        std::int64_t waited;
        std::string blocked_by;   // empty: final, with kBase+1 .. kBase+10
    };
    const Case cases[] = {
        {"an Alex from a match weeks ago", {"Alex", "Bo"}, {alex_unnamed, bo, old_alex}, {}, {}, 5, alex_waits},
        {"a friend named Alex who is not in a game", {"Alex", "Bo"}, {alex_unnamed, bo}, {idle_alex}, {}, 5, alex_waits},
        {"a friend named Alex in CS2 elsewhere", {"Alex", "Bo"}, {alex_unnamed, bo}, {alex_elsewhere}, {}, 5, alex_waits},
        {"a friend once named Alex", {"Alex", "Bo"}, {alex_unnamed, bo}, {once_alex}, {}, 5, alex_waits},
        {"the wait is bounded and says so", {"Alex", "Bo"}, {alex_unnamed, bo, old_alex}, {}, {}, kNameWait + 1,
         "roster has 9 of 10 players; unresolved: 'Alex'" + weak +
             "; Steam has not named 1 player met in this match for over 60 s"},
        {"the name arrives: this match's Alex outranks the old one", {"Alex", "Bo"}, {alex, bo, old_alex}, {}, {}, 10, ""},
        {"the name arrives: current names before a former one", {"Alex", "Bo"}, {alex, bo}, {once_alex}, {}, 10, ""},
        {"the name arrives beside an idle friend Alex: honestly ambiguous", {"Alex", "Bo"}, {alex, bo}, {idle_alex}, {},
         10, "roster has 9 of 10 players; unresolved: 'Alex' (several candidates share this name)"},
        {"a stranger known only through this match's co-play entry", {"Alex", "Bo"}, {alex, bo}, {}, {}, 10, ""},
        {"a friend in CS2 with a unique exact name", {"Alex", "Bo"}, {alex}, {bo_in_cs2}, {}, 10, ""},
        {"a friend met in this match, named by the friend list", {"Alex", "Bo"}, {alex_unnamed, bo}, {alex_here}, {}, 5, ""},
        {"a former name of a friend met in this match", {"Alex", "Bo"}, {alex_unnamed, bo}, {sasha_here}, {}, 5, ""},
        // Back to back: Lynx played the match before, 90 s before this one
        // started; Mika was met two hours ago and Trinity is a former name.
        {"back to back, the last match's player named: the old entry and the former name count",
         {"Mika", "Trinity"}, {lynx, mika_old}, {trinity}, {}, 5, ""},
        {"back to back, a player met within the margin still unnamed: both wait", {"Mika", "Trinity"},
         {lynx_unnamed, mika_old}, {trinity}, {}, 5,
         "roster has 8 of 10 players; unresolved: 'Mika'" + weak + ", 'Trinity'" + weak + waiting},
        {"a leaver whose name Steam told holds nothing back", {"Alex", "Bo"}, {alex, lurk}, {bo_in_cs2}, {}, 5, ""},
        {"a leaver Steam has not named yet: the friend waits", {"Alex", "Bo"}, {alex, lurk_unnamed}, {bo_in_cs2}, {}, 5,
         "roster has 9 of 10 players; unresolved: 'Bo'" + weak + waiting},
        {"a row filled from GSI accounts for the unnamed player it names", {"Nico", "Bo"}, {nico_unnamed},
         {idle_nico, bo_in_cs2}, nico_in_gsi, 5, ""},
        {"without GSI the unnamed player may be either row: both wait", {"Nico", "Bo"}, {nico_unnamed},
         {idle_nico, bo_in_cs2}, {}, 5,
         "roster has 8 of 10 players; unresolved: 'Nico'" + weak + ", 'Bo'" + weak + waiting},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.guards);
        Scene in;
        in.start = kStart;
        in.now = kStart + 20 + c.waited;
        in.self = kBase + 1;
        in.self_name = "Me";
        in.gsi = c.gsi;
        std::vector<std::string> names = {"Me"};
        for (int i = 2; i <= 8; ++i) {
            names.push_back(numbered("player", i));
            in.coplay.push_back(coplay(kBase + i, names.back(), kStart + 20));
        }
        names.insert(names.end(), c.rows.begin(), c.rows.end());
        in.coplay.insert(in.coplay.end(), c.coplay.begin(), c.coplay.end());
        in.friends = c.friends;
        in.block = block_of(names, 10);

        const Roster roster = in.assemble();
        EXPECT_EQ(roster.blocked_by, c.blocked_by);
        if (c.blocked_by.empty()) {
            std::vector<std::uint64_t> ten;
            for (int i = 1; i <= 10; ++i) ten.push_back(kBase + i);
            EXPECT_EQ(roster.room_key, derive_room_key(ten));
        }
    }
}

TEST(RosterText, RoomKeyFailureAndListing) {
    Roster roster;
    roster.players.resize(10);
    roster.complete = true;
    roster.validated = true;
    EXPECT_EQ(roster_blocked_by(roster, true, true), "ten players, but the room key could not be computed");

    // Long names are cut to a console line on a character boundary.
    std::string long_name;
    for (int i = 0; i < 120; ++i) long_name += "\xC3\xA9";   // 240 bytes
    roster.players = {{kBase + 1, "Shaikh Kebab", "gsi", "CT", 0},
                      {kBase + 2, "\xF0\x9D\x9F\x95" + long_name, "self", "", 0}};
    const std::string text = roster_listing_text(roster);
    EXPECT_EQ(text.substr(0, text.find('\n')), "    76561198000000001  gsi            CT     Shaikh Kebab");
    EXPECT_EQ(valid_utf8(text), text);
    EXPECT_EQ(text.size() - text.find('\n'), 254u);   // the line feed and 253 bytes: no split character
}
