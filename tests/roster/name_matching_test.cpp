#include "roster/name_matching.h"

#include <random>
#include <set>

#include <gtest/gtest.h>

#include "core/event_log.h"
#include "tests/support/test_support.h"

namespace {

IdentityCandidate candidate(std::uint64_t steamid, std::string name, std::string source,
                            std::vector<std::string> history = {}) {
    return {steamid, std::move(name), std::move(source), std::move(history)};
}

StatusBlock block_of(const std::vector<std::string>& names) {
    StatusBlock block;
    block.log_time = "06/12 21:14:03";
    block.reservation = "9876543210";
    std::int32_t id = 2;
    for (const std::string& name : names) {
        StatusPlayer row;
        row.id = id++;
        row.name = name;
        block.players.push_back(row);
    }
    return block;
}

StatusMatch match_one(const std::string& name, const std::vector<IdentityCandidate>& pool) {
    MatchReport report = match_status_names(block_of({name}), pool);
    EXPECT_EQ(report.matches.size(), 1u);
    return report.matches.at(0);
}

FriendEntry friend_entry(std::uint64_t steamid, std::string persona,
                         std::vector<std::string> history = {}, bool in_cs2 = false) {
    return {steamid, std::move(persona), "", std::move(history), in_cs2 ? 730u : 0u, 0, in_cs2};
}

CoplayEntry coplay_entry(std::uint64_t steamid, std::string persona, std::uint32_t appid = 730,
                         bool known = true) {
    return {steamid, 1700000000, appid, std::move(persona), known, 0, false};
}

// The matching rules written out plainly, to check the single-walk matcher against.
StatusMatch reference_match(const std::string& status, const std::vector<IdentityCandidate>& pool) {
    StatusMatch result;
    result.status_name = status;
    for (bool former : {false, true}) {
        for (MatchTier tier : {MatchTier::exact, MatchTier::trimmed, MatchTier::casefold}) {
            int count = 0;
            for (const IdentityCandidate& c : pool) {
                const std::string* hit = nullptr;
                if (!former) {
                    if (!c.name.empty() && names_equal_at_tier(status, c.name, tier)) hit = &c.name;
                } else {
                    for (const std::string& entry : c.name_history) {
                        if (entry.empty() || entry == c.name) continue;
                        if (names_equal_at_tier(status, entry, tier)) {
                            hit = &entry;
                            break;
                        }
                    }
                }
                if (hit && count++ == 0) {
                    result.steamid = c.steamid;
                    result.source = c.source;
                    result.matched_name = *hit;
                }
            }
            if (count > 0) {
                result.tier = tier;
                result.via_history = former;
                result.ambiguous = count > 1;
                return result;
            }
        }
    }
    return result;
}

}  // namespace

TEST(NameTiers, ComparisonRules) {
    EXPECT_TRUE(names_equal_at_tier("Bob", "Bob", MatchTier::exact));
    EXPECT_FALSE(names_equal_at_tier("Bob ", "Bob", MatchTier::exact));
    EXPECT_TRUE(names_equal_at_tier("\tBob\r\n", " Bob", MatchTier::trimmed));
    EXPECT_FALSE(names_equal_at_tier("BOB", "bob", MatchTier::trimmed));
    EXPECT_TRUE(names_equal_at_tier(" BOB\t", "bob", MatchTier::casefold));
    // Only A to Z fold: É (C3 89) and é (C3 A9) stay different, the ASCII part still folds.
    EXPECT_FALSE(names_equal_at_tier("\xC3\x89mile", "\xC3\xA9mile", MatchTier::casefold));
    EXPECT_TRUE(names_equal_at_tier("\xC3\x89MILE", "\xC3\x89mile", MatchTier::casefold));
    // Inner blanks are never collapsed, and invisible characters are not removed.
    for (MatchTier tier : {MatchTier::exact, MatchTier::trimmed, MatchTier::casefold}) {
        EXPECT_FALSE(names_equal_at_tier("Big  Bob", "Big Bob", tier));
        EXPECT_FALSE(names_equal_at_tier("Bob\xE2\x80\x8B", "Bob", tier));   // zero-width space
        EXPECT_FALSE(names_equal_at_tier("Bob\xC2\xA0", "Bob", tier));       // no-break space
    }
    EXPECT_FALSE(names_equal_at_tier("Bob", "Bob", MatchTier::none));
    EXPECT_FALSE(names_equal_at_tier("Bob", "Bob", static_cast<MatchTier>(4)));
    EXPECT_STREQ(tier_name(static_cast<MatchTier>(9)), "unknown");
}

TEST(NameMatching, TightestTierDecidesAndAmbiguityStaysWithinIt) {
    // An exact match wins over a looser one, wherever they stand in the pool.
    std::vector<IdentityCandidate> pool = {candidate(1, "bob", "friend"),
                                           candidate(2, "Bob", "coplay")};
    StatusMatch m = match_one("Bob", pool);
    EXPECT_EQ(m.steamid, 2u);
    EXPECT_EQ(m.tier, MatchTier::exact);
    EXPECT_FALSE(m.ambiguous);

    // Two trimmed matches: ambiguous, the first in the pool is chosen.
    pool = {candidate(5, "Bobby", "gsi"), candidate(6, " Bob", "coplay"),
            candidate(7, "Bob\t", "friend-in-cs2"), candidate(8, "BOB", "friend")};
    m = match_one("Bob", pool);
    EXPECT_EQ(m.steamid, 6u);
    EXPECT_EQ(m.matched_name, " Bob");
    EXPECT_EQ(m.tier, MatchTier::trimmed);
    EXPECT_TRUE(m.ambiguous);

    // Status names keep their blanks and tabs; the report carries them untrimmed.
    m = match_one("\t\xE2\x98\x82 Ren\xC3\xA9" "e \t", {candidate(9, "\xE2\x98\x82 Ren\xC3\xA9" "e", "gsi")});
    EXPECT_EQ(m.status_name, "\t\xE2\x98\x82 Ren\xC3\xA9" "e \t");
    EXPECT_EQ(m.tier, MatchTier::trimmed);
    EXPECT_EQ(m.steamid, 9u);

    // Candidates without a current name are skipped in the current-names pass.
    m = match_one("", {candidate(11, "", "friend")});
    EXPECT_EQ(m.tier, MatchTier::none);
    EXPECT_EQ(m.steamid, 0u);
}

TEST(NameMatching, FormerNames) {
    std::vector<IdentityCandidate> pool = {
        candidate(20, "Morpheus", "coplay"),
        candidate(21, "Neo", "friend", {"Neo", "Trinity", "trinity"}),
        candidate(22, "Smith", "friend-in-cs2", {"Smith", "", "Ghost"}),
        candidate(23, "Oracle", "friend", {"Oracle", "ghost", "Ghost"}),
        candidate(24, "", "friend", {"", "Cypher"}),
    };
    StatusMatch m = match_one("Trinity", pool);
    EXPECT_EQ(m.steamid, 21u);
    EXPECT_EQ(m.matched_name, "Trinity");
    EXPECT_EQ(m.tier, MatchTier::exact);
    EXPECT_TRUE(m.via_history);
    EXPECT_FALSE(m.ambiguous);
    EXPECT_FALSE(match_one("Neo", pool).via_history);

    // Two friends once called Ghost: ambiguous, the first listed wins; a
    // candidate with two matching entries counts once.
    m = match_one("Ghost", pool);
    EXPECT_EQ(m.steamid, 22u);
    EXPECT_TRUE(m.via_history);
    EXPECT_TRUE(m.ambiguous);
    m = match_one("ghost", pool);
    EXPECT_EQ(m.steamid, 23u);
    EXPECT_EQ(m.tier, MatchTier::exact);
    EXPECT_FALSE(m.ambiguous);

    // A friend known only by former names can still be found.
    EXPECT_EQ(match_one("Cypher", pool).steamid, 24u);

    // A current name at a loose tier beats a former name that matches exactly.
    pool.push_back(candidate(25, " TRINITY", "gsi"));
    m = match_one("Trinity", pool);
    EXPECT_EQ(m.steamid, 25u);
    EXPECT_EQ(m.tier, MatchTier::casefold);
    EXPECT_FALSE(m.via_history);
}

TEST(CandidatePool, SourcesInOrderFirstOneWins) {
    GsiPlayers gsi;
    gsi[76561198000000030ULL] = {"Gsi Three", "CT", 3, 1};
    gsi[76561198000000010ULL] = {"Gsi One", "T", 1, 1};
    gsi[76561198000000020ULL] = {"", "T", 2, 1};   // nameless: not a candidate
    gsi[76561197960265729ULL] = {"Niles", "CT", 4, 9};   // a bot, as GSI names it: never one
    const std::uint64_t self = 76561198000000001ULL;
    std::vector<CoplayEntry> coplay = {
        coplay_entry(76561198000000010ULL, "Also Gsi One"),
        coplay_entry(76561198000000040ULL, "Dota Mate", 570),
        coplay_entry(76561198000000050ULL, "", 730, false),   // persona not known yet
        coplay_entry(76561198000000060ULL, "Coplayer"),
        coplay_entry(self, "Me Again"),
        coplay_entry(76561197960265730ULL, "Rock"),            // bot
    };
    std::vector<FriendEntry> friends = {
        friend_entry(76561198000000030ULL, "Friend Of Gsi", {"Friend Of Gsi", "Old"}),
        friend_entry(76561198000000050ULL, "Unknown Coplayer", {"Unknown Coplayer", "Was"}, true),
        friend_entry(76561198000000020ULL, "Nameless In Gsi"),
        friend_entry(76561198000000070ULL, "", {}),             // nothing to match by
        friend_entry(76561198000000080ULL, "", {"", "Formerly"}),
        friend_entry(76561197960265792ULL, "Bot 64"),            // account 64: still a bot's
    };
    std::vector<IdentityCandidate> pool =
        build_identity_candidates(gsi, coplay, friends, self, "Myself");

    std::vector<std::pair<std::uint64_t, std::string>> got;
    for (const IdentityCandidate& c : pool) got.emplace_back(c.steamid, c.source);
    std::vector<std::pair<std::uint64_t, std::string>> want = {
        {76561198000000010ULL, "gsi"},      {76561198000000030ULL, "gsi"},
        {self, "self"},                     {76561198000000060ULL, "coplay"},
        {76561198000000050ULL, "friend-in-cs2"}, {76561198000000020ULL, "friend"},
        {76561198000000080ULL, "friend"},
    };
    EXPECT_EQ(got, want);
    EXPECT_EQ(pool[1].name, "Gsi Three");
    EXPECT_TRUE(pool[1].name_history.empty());   // the friend's history does not come along
    EXPECT_EQ(pool[4].name_history, (std::vector<std::string>{"Unknown Coplayer", "Was"}));

    // Without a persona name the user is no candidate.
    pool = build_identity_candidates({}, {}, {}, self, "");
    EXPECT_TRUE(pool.empty());
}

TEST(MatchReportText, CountsSummaryAndJson) {
    std::vector<IdentityCandidate> pool = {
        candidate(76561198000000001ULL, "Alpha", "self"),
        candidate(76561198000000002ULL, "bravo", "coplay"),
        candidate(76561198000000003ULL, "Delta", "friend", {"Delta", "Charlie"}),
    };
    MatchReport report =
        match_status_names(block_of({"Alpha", "Bravo", "Zulu", "Charlie"}), pool);
    EXPECT_EQ(report.matched, 3u);
    EXPECT_EQ(report.unmatched, 1u);
    EXPECT_EQ(report.ambiguous, 0u);
    EXPECT_EQ(report.via_history, 1u);
    EXPECT_EQ(match_summary_text(report),
              "match: 3/4 status names resolved to SteamIDs"
              "\n    no candidate: 'Zulu'"
              "\n    via name history: 'Charlie' = old name of friend 76561198000000003"
              "\n    inexact: 'Bravo' via casefold");

    const std::string json = match_report_json(report).dump();
    EXPECT_EQ(json,
              "{\"ambiguous\":0,\"matched\":3,\"matches\":["
              "{\"ambiguous\":false,\"matched_name\":\"Alpha\",\"source\":\"self\",\"status_id\":2,"
              "\"status_name\":\"Alpha\",\"steamid\":\"76561198000000001\",\"tier\":\"exact\","
              "\"via_history\":false},"
              "{\"ambiguous\":false,\"matched_name\":\"bravo\",\"source\":\"coplay\",\"status_id\":3,"
              "\"status_name\":\"Bravo\",\"steamid\":\"76561198000000002\",\"tier\":\"casefold\","
              "\"via_history\":false},"
              "{\"ambiguous\":false,\"matched_name\":\"\",\"source\":\"\",\"status_id\":4,"
              "\"status_name\":\"Zulu\",\"steamid\":null,\"tier\":\"none\",\"via_history\":false},"
              "{\"ambiguous\":false,\"matched_name\":\"Charlie\",\"source\":\"friend\",\"status_id\":5,"
              "\"status_name\":\"Charlie\",\"steamid\":\"76561198000000003\",\"tier\":\"exact\","
              "\"via_history\":true}],"
              "\"unmatched\":1,\"via_history\":1}");

    pool.push_back(candidate(76561198000000004ULL, "Alpha", "friend"));
    report = match_status_names(block_of({"Alpha"}), pool);
    EXPECT_EQ(match_summary_text(report), "match: 1/1 status names resolved to SteamIDs, 1 ambiguous");
    EXPECT_TRUE(match_report_json(match_status_names(block_of({}), pool))["matches"].empty());
}

TEST(MatchReportText, NameCutInsideACharacterStillGivesValidJson) {
    // CS2 may cut a long name inside a UTF-8 sequence; the JSON must still serialise.
    MatchReport report = match_status_names(block_of({"Kebab\xF0\x9D\x9F"}), {});
    const std::string json = match_report_json(report).dump();
    EXPECT_NE(json.find("Kebab\xEF\xBF\xBD"), std::string::npos);
}

TEST(StatusMatchEvent, RecordAndConsoleText) {
    const std::filesystem::path dir = make_temp_dir("status-match");
    EventLog log;
    ASSERT_TRUE(log_open(log, dir));
    const std::vector<IdentityCandidate> pool = {candidate(76561198000000001ULL, "Alpha", "self")};
    const StatusBlock block = block_of({"Alpha", "Nobody"});
    log_status_match(log, block, pool.size(), match_status_names(block, pool));
    std::fflush(log.file);
    const std::string text = read_test_file(log.path);
    const nlohmann::json record = nlohmann::json::parse(text, nullptr, false);
    ASSERT_FALSE(record.is_discarded()) << text;
    EXPECT_EQ(record["event"], "status_match");
    EXPECT_EQ(record["pool_size"], 1);
    EXPECT_EQ(record["reservation"], "9876543210");
    EXPECT_EQ(record["result"]["matched"], 1);
    EXPECT_EQ(record["result"]["matches"][1]["steamid"], nullptr);
}

// Random names from a small alphabet collide at every tier; the matcher must agree with the plain rules.
TEST(NameMatching, RandomInputsKeepTheReportConsistent) {
    std::mt19937 rng(7);
    const std::vector<std::string> pieces = {"a", "A", " ", "\t", "b", "\xC3\xA9", "\xC3", "\r\n", ""};
    auto random_name = [&] {
        std::string name;
        for (int n = rng() % 4; n > 0; --n) name += pieces[rng() % pieces.size()];
        return name;
    };
    constexpr std::uint64_t kPlayer = 76561198000000000ULL;   // real accounts, as Steam gives them
    std::uint64_t seen_ambiguous = 0, seen_history = 0, seen_loose = 0;
    for (int round = 0; round < 1000; ++round) {
        GsiPlayers gsi;
        std::vector<CoplayEntry> coplay;
        std::vector<FriendEntry> friends;
        for (int i = rng() % 6; i > 0; --i) gsi[kPlayer + rng() % 20] = {random_name(), "T", 0, 1};
        for (int i = rng() % 6; i > 0; --i) {
            coplay.push_back(coplay_entry(kPlayer + rng() % 20, random_name(), rng() % 2 ? 730 : 440, rng() % 2));
        }
        for (int i = rng() % 8; i > 0; --i) {
            std::vector<std::string> history;
            for (int h = rng() % 4; h > 0; --h) history.push_back(random_name());
            friends.push_back(friend_entry(kPlayer + rng() % 20, random_name(), history, rng() % 2));
        }
        const std::vector<IdentityCandidate> pool =
            build_identity_candidates(gsi, coplay, friends, kPlayer + rng() % 20, random_name());
        std::set<std::uint64_t> ids;
        for (const IdentityCandidate& c : pool) EXPECT_TRUE(ids.insert(c.steamid).second);

        std::vector<std::string> names;
        for (int i = rng() % 12; i > 0; --i) names.push_back(random_name());
        const MatchReport report = match_status_names(block_of(names), pool);
        ASSERT_EQ(report.matches.size(), names.size());
        EXPECT_EQ(report.matched + report.unmatched, names.size());
        seen_ambiguous += report.ambiguous;
        seen_history += report.via_history;
        for (const StatusMatch& m : report.matches) {
            const StatusMatch want = reference_match(m.status_name, pool);
            EXPECT_EQ(m.steamid, want.steamid);
            EXPECT_EQ(m.source, want.source);
            EXPECT_EQ(m.matched_name, want.matched_name);
            EXPECT_EQ(m.tier, want.tier);
            EXPECT_EQ(m.via_history, want.via_history);
            EXPECT_EQ(m.ambiguous, want.ambiguous);
            if (m.tier == MatchTier::none) continue;
            EXPECT_TRUE(names_equal_at_tier(m.status_name, m.matched_name, m.tier));
            if (m.tier != MatchTier::exact) ++seen_loose;
        }
        EXPECT_FALSE(match_report_json(report).dump().empty());
    }
    // The inputs must reach the interesting cases, or this test proves little.
    EXPECT_GT(seen_ambiguous, 50u);
    EXPECT_GT(seen_history, 50u);
    EXPECT_GT(seen_loose, 50u);
}
