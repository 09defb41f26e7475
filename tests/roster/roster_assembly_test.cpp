#include "roster/roster_assembly.h"

#include <gtest/gtest.h>

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

StatusMatch row(std::string name, std::uint64_t steamid, std::string source = "coplay",
                MatchTier tier = MatchTier::exact, bool ambiguous = false) {
    StatusMatch m;
    m.status_name = std::move(name);
    m.steamid = steamid;
    m.source = steamid ? std::move(source) : "";
    m.tier = steamid ? tier : MatchTier::none;
    m.matched_name = steamid ? m.status_name : "";
    m.ambiguous = ambiguous;
    return m;
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

// A status block and a hand-made report with one player row per match.
void set_status(RosterInputs& in, const std::vector<StatusMatch>& rows, std::int32_t humans) {
    std::vector<std::string> names;
    for (const StatusMatch& m : rows) names.push_back(m.status_name);
    in.status = block_of(names, humans);
    MatchReport report;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        report.matches.push_back(rows[i]);
        report.matches.back().status_id = in.status->players[i].id;
    }
    in.report = report;
}

std::vector<StatusMatch> ten_exact_rows() {
    std::vector<StatusMatch> rows;
    for (int i = 0; i < 10; ++i) rows.push_back(row(numbered("player", i), kBase + 10 - i));
    return rows;
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

}  // namespace

TEST(RosterWithoutStatus, SelfGsiAndCoplayOfThisMatchOnly) {
    RosterInputs in;
    in.self_steamid = kBase + 1;
    in.self_name = "Me";
    in.start_time = kStart;
    in.gsi_players[kBase + 1] = {"Me in GSI", "T", 0, 3};
    in.gsi_players[kBase + 6] = {"Gsi", "CT", 1, 1};
    in.gsi_players[kBot] = {"Niles", "CT", 3, 12};   // a bot never enters
    in.coplay = {
        coplay(kBase + 2, "On time", kStart - 300),
        coplay(kBase + 3, "Too early", kStart - 301),
        coplay(kBase + 4, "Other game", kStart, 570),
        coplay(kBase + 1, "Myself", kStart),
        coplay(kBase + 5, "", kStart + 60),   // persona not known yet: added all the same
        coplay(kBot + 2, "Rock", kStart),
    };
    in.connect_time_reliable = false;   // joined mid-match: co-play is not trusted
    Roster roster = assemble_roster(in);
    EXPECT_EQ(ids_of(roster), (std::vector<std::uint64_t>{kBase + 1, kBase + 6}));
    EXPECT_EQ(roster.blocked_by,
              "roster has 2 of 10 players; joined mid-match, so co-play cannot be trusted -- needs a "
              "status block (type `exec vantor` in game)");

    in.connect_time_reliable = true;
    roster = assemble_roster(in);
    EXPECT_EQ(ids_of(roster), (std::vector<std::uint64_t>{kBase + 1, kBase + 2, kBase + 5, kBase + 6}));
    EXPECT_EQ(roster.players[0].name, "Me");
    EXPECT_EQ(roster.players[0].team, "T");
    EXPECT_EQ(roster.players[1].source, "coplay");
    EXPECT_EQ(roster.blocked_by,
              "roster has 4 of 10 players; no status block yet (type `exec vantor` in game)");

    // An unknown start lets every CS2 co-play entry in; a margin that would
    // overflow must not change that reading.
    in.start_time = 0;
    EXPECT_EQ(assemble_roster(in).players.size(), 5u);
    in.start_time = kStart;
    in.coplay_margin = INT64_MIN;
    EXPECT_EQ(assemble_roster(in).players.size(), 2u);
    in.coplay_margin = INT64_MAX;
    EXPECT_EQ(assemble_roster(in).players.size(), 5u);

    // A status block without rows, or one without its report, is no status.
    in.coplay_margin = kCoplayMargin;
    set_status(in, {}, 10);
    EXPECT_EQ(assemble_roster(in).players.size(), 4u);
    set_status(in, ten_exact_rows(), 10);
    in.report.reset();
    EXPECT_EQ(assemble_roster(in).expected, 0);

    // Ten without a status block are never final.
    for (int i = 7; i <= 12; ++i) in.gsi_players[kBase + i] = {numbered("p", i), "T", i, 1};
    roster = assemble_roster(in);
    EXPECT_TRUE(roster.complete && !roster.validated);
    EXPECT_EQ(roster.blocked_by, "ten players assembled without a status block to confirm them");
}

TEST(RosterFromStatus, TenExactRowsMakeAFinalRoster) {
    RosterInputs in;
    in.self_steamid = kBase + 99;   // not in the block: status alone decides
    in.self_name = "Spectator";
    in.gsi_players[kBase + 3] = {"gsi name", "CT", 1, 1};
    set_status(in, ten_exact_rows(), 10);

    const Roster roster = assemble_roster(in);
    EXPECT_TRUE(roster.validated);
    EXPECT_EQ(roster.reservation, "90312477281");
    EXPECT_EQ(roster.blocked_by, "");
    ASSERT_EQ(roster.players.size(), 10u);
    // Rows 0-4 were kBase+10 .. kBase+6, rows 5-9 kBase+5 .. kBase+1.
    for (const RosterPlayer& p : roster.players) {
        EXPECT_EQ(p.group, p.steamid > kBase + 5 ? 1 : 2) << p.steamid;
    }
    EXPECT_EQ(find(roster, kBase + 3)->name, "player7");   // the status name stays
    EXPECT_EQ(find(roster, kBase + 3)->team, "CT");
    EXPECT_EQ(roster.room_key, derive_room_key(ids_of(roster)));

    // Status counting humans it did not list, or listing fewer, is not ten confirmed.
    set_status(in, ten_exact_rows(), 12);
    EXPECT_EQ(assemble_roster(in).blocked_by, "ten players, but status has not confirmed them");
    std::vector<StatusMatch> nine = ten_exact_rows();
    nine.pop_back();
    set_status(in, nine, 0);
    EXPECT_EQ(assemble_roster(in).blocked_by, "roster has 9 of 10 players");
}

TEST(RosterFromStatus, DoubtfulRowsAreRejectedWithTheirReasons) {
    RosterInputs in;
    set_status(in,
               {
                   row("Nobody", 0),
                   row("Niles", kBot, "gsi"),   // a bot's stand-in is no candidate
                   row("Twin", kBase + 1, "friend", MatchTier::casefold, true),
                   row("loose friend", kBase + 2, "friend", MatchTier::trimmed),
                   row("LOOSE IN CS2", kBase + 3, "friend-in-cs2", MatchTier::casefold),
                   row("Exact Friend", kBase + 4, "friend", MatchTier::exact),
                   row("\tTabbed ", kBase + 5, "coplay", MatchTier::trimmed),
                   row("J\xC3\xBCrgen", kBase + 7),
                   row("JURGEN", kBase + 7, "gsi", MatchTier::casefold),
               },
               0);
    const Roster roster = assemble_roster(in);
    EXPECT_EQ(roster.expected, 9);
    EXPECT_EQ(ids_of(roster), (std::vector<std::uint64_t>{kBase + 3, kBase + 4, kBase + 5}));
    EXPECT_EQ(find(roster, kBase + 5)->name, "\tTabbed ");
    EXPECT_FALSE(roster.validated);
    EXPECT_EQ(roster.blocked_by,
              "roster has 3 of 10 players; unresolved: 'Nobody' (no candidate), 'Niles' (no candidate), "
              "'Twin' (several candidates share this name), 'loose friend' (inexact match against a "
              "friend Steam does not place in CS2), 'J\xC3\xBCrgen' (two players resolved to one "
              "SteamID64), 'JURGEN' (two players resolved to one SteamID64)");
}

TEST(RosterFromStatus, AnUnresolvedRowIsFilledOnlyFromAGsiPlayerOfTheSameName) {
    // Rows 2 and 8 are unresolved; GSI knows the players kBase+8 and kBase+2
    // whom the roster lacks, under the names in each case.
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
        RosterInputs in;
        std::vector<StatusMatch> rows = ten_exact_rows();   // kBase+10 .. kBase+1
        rows[2] = row("Nico", 0);
        rows[8] = row("Ghost", kBase + 2, "friend", MatchTier::exact, true);
        set_status(in, rows, 10);
        for (int i = 1; i <= 10; ++i) in.gsi_players[kBase + i] = {numbered("player", 10 - i), "T", i, 1};
        in.gsi_players[kBase + 8].name = c.gsi8;
        in.gsi_players[kBase + 2].name = c.gsi2;
        in.gsi_players[kBot] = {"Nico", "CT", 3, 12};   // a bot of the row's name never fills it

        const Roster roster = assemble_roster(in);
        EXPECT_EQ(roster.filled_from_gsi, c.filled);
        std::vector<std::string> unresolved;
        for (const RejectedName& r : roster.rejected) unresolved.push_back(r.name);
        EXPECT_EQ(unresolved, c.unresolved);
        EXPECT_EQ(roster.players.size(), 8 + c.filled);
        EXPECT_EQ(roster.validated, c.filled == 2);
        if (c.filled == 2) {
            EXPECT_EQ(find(roster, kBase + 8)->source, "gsi-fill");
            EXPECT_EQ(find(roster, kBase + 8)->group, 0);   // row 2 resolved to nobody
            EXPECT_EQ(find(roster, kBase + 10)->group, 1);
        }
    }
}

// One match seen by one agent, through its own pool: status names, the co-play
// list and friends go through the real matcher into the roster. The stranger
// "Alex" (kBase+5) is in the match; the agent may also know another Alex.
TEST(RosterFromStatus, ANameIsNeverBoundToANamesakeWhileThisMatchsPlayerIsUnnamed) {
    const FriendEntry idle_alex = {kBase + 70, "Alex", "", {"Alex"}, 0, 0, false};
    const FriendEntry alex_elsewhere = {kBase + 71, "Alex", "", {"Alex"}, 730, 0, true};
    const FriendEntry once_alex = {kBase + 72, "Sasha", "", {"Sasha", "Alex"}, 0, 0, false};
    const FriendEntry alex_here = {kBase + 5, "Alex", "", {"Alex"}, 730, 0, true};
    const FriendEntry sasha_here = {kBase + 5, "Sasha", "", {"Sasha", "Alex"}, 0, 0, false};
    const FriendEntry bo_in_cs2 = {kBase + 9, "Bo", "", {"Bo"}, 730, 0, true};   // no co-play entry
    const CoplayEntry old_alex = coplay(kBase + 60, "Alex", kWeeksAgo);
    const std::string weak = "roster has 9 of 10 players; unresolved: 'Alex' (matched only outside this "
                             "match while a player of this match is unaccounted for); ";
    const std::string waiting = weak + "waiting for Steam to name 1 player met in this match";
    struct Case {
        const char* guards;
        bool named;   // Steam has told this agent the stranger's name
        std::vector<CoplayEntry> coplay;
        std::vector<FriendEntry> friends;
        std::int64_t waited;
        std::string blocked_by;   // empty: final, with the stranger in it
    };
    const Case cases[] = {
        {"an Alex from a match weeks ago", false, {old_alex}, {}, 5, waiting},
        {"a friend named Alex who is not in a game", false, {}, {idle_alex}, 5, waiting},
        {"a friend named Alex in CS2 elsewhere", false, {}, {alex_elsewhere}, 5, waiting},
        {"a friend once named Alex", false, {}, {once_alex}, 5, waiting},
        {"the wait is bounded and says so", false, {old_alex}, {}, kNameWait + 1,
         weak + "Steam has not named 1 player met in this match for over 60 s"},
        {"the name arrives: this match's Alex outranks the old one", true, {old_alex}, {}, 10, ""},
        {"the name arrives: current names before a former one", true, {}, {once_alex}, 10, ""},
        {"the name arrives beside an idle friend Alex: honestly ambiguous", true, {}, {idle_alex}, 10,
         "roster has 9 of 10 players; unresolved: 'Alex' (several candidates share this name)"},
        {"a stranger known only through this match's co-play entry", true, {}, {}, 10, ""},
        {"a friend in CS2 with a unique exact name", true, {}, {bo_in_cs2}, 10, ""},
        {"a friend met in this match, named by the friend list", false, {}, {alex_here}, 5, ""},
        {"a former name of a friend met in this match", false, {}, {sasha_here}, 5, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.guards);
        RosterInputs in;
        in.start_time = kStart;
        in.now = kStart + 20 + c.waited;
        in.self_steamid = kBase + 1;
        in.self_name = "Me";
        std::vector<std::string> names = {"Me"};
        for (int i = 2; i <= 10; ++i) {
            names.push_back(i == 5 ? "Alex" : i == 9 ? "Bo" : numbered("player", i));
            const bool bo_is_friend = i == 9 && !c.friends.empty() && c.friends[0].steamid == kBase + 9;
            if (!bo_is_friend) in.coplay.push_back(coplay(kBase + i, i != 5 || c.named ? names.back() : "", kStart + 20));
        }
        in.coplay.insert(in.coplay.end(), c.coplay.begin(), c.coplay.end());
        in.status = block_of(names, 10);
        in.report = match_status_names(
            *in.status, build_identity_candidates({}, in.coplay, c.friends, in.self_steamid, in.self_name, kStart));

        const Roster roster = assemble_roster(in);
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
    roster.complete = roster.validated = true;
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
