#include "roster/name_matching.h"

#include <deque>
#include <random>
#include <set>

#include <gtest/gtest.h>

namespace {

constexpr std::uint64_t kBase = 76561198000000000ULL;
constexpr std::int64_t kStart = 1733519643;

IdentityCandidate candidate(std::uint64_t steamid, std::string name, std::string source,
                            std::vector<std::string> history = {}) {
    static std::deque<std::vector<std::string>> histories;   // what the candidates' views show
    histories.push_back(std::move(history));
    return {steamid, std::move(name), std::move(source), histories.back()};
}

StatusBlock block_of(const std::vector<std::string>& names) {
    StatusBlock block;
    std::int32_t id = 2;
    for (const std::string& name : names) {
        StatusPlayer row;
        row.id = id++;
        row.name = name;
        block.players.push_back(row);
    }
    return block;
}

FriendEntry friend_entry(std::uint64_t steamid, std::string persona,
                         std::vector<std::string> history = {}, bool in_cs2 = false) {
    return {steamid, std::move(persona), "", std::move(history), in_cs2 ? 730u : 0u, 0, in_cs2};
}

CoplayEntry coplay_entry(std::uint64_t steamid, std::string persona, std::uint32_t appid = 730,
                         bool known = true, std::int64_t time = kStart) {
    return {steamid, time, appid, std::move(persona), known, 0, false};
}

// The matching rules written out plainly, to check the single-walk matcher against.
StatusMatch reference_match(const std::string& status, const std::vector<IdentityCandidate>& pool) {
    StatusMatch result;
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
    struct Case {
        const char* guards;
        const char* a;
        const char* b;
        bool exact, trimmed, casefold;
    };
    const Case cases[] = {
        {"equal names", "Bob", "Bob", true, true, true},
        {"a trailing blank counts exactly", "Bob ", "Bob", false, true, true},
        {"tabs and line ends are trimmed", "\tBob\r\n", " Bob", false, true, true},
        {"case folds only at the loosest tier", " BOB\t", "bob", false, false, true},
        {"only A to Z fold: \xC3\x89 and \xC3\xA9 differ", "\xC3\x89mile", "\xC3\xA9mile", false, false, false},
        {"the ASCII part of a non-ASCII name folds", "\xC3\x89MILE", "\xC3\x89mile", false, false, true},
        {"inner blanks are never collapsed", "Big  Bob", "Big Bob", false, false, false},
        {"a zero-width space is not removed", "Bob\xE2\x80\x8B", "Bob", false, false, false},
        {"a no-break space is not trimmed", "Bob\xC2\xA0", "Bob", false, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.guards);
        EXPECT_EQ(names_equal_at_tier(c.a, c.b, MatchTier::exact), c.exact);
        EXPECT_EQ(names_equal_at_tier(c.a, c.b, MatchTier::trimmed), c.trimmed);
        EXPECT_EQ(names_equal_at_tier(c.a, c.b, MatchTier::casefold), c.casefold);
    }
    EXPECT_FALSE(names_equal_at_tier("Bob", "Bob", MatchTier::none));
    EXPECT_FALSE(names_equal_at_tier("Bob", "Bob", static_cast<MatchTier>(4)));
    EXPECT_STREQ(tier_name(static_cast<MatchTier>(9)), "unknown");
}

TEST(NameMatching, TightestTierDecidesThenCurrentNamesBeforeFormerOnes) {
    const std::vector<IdentityCandidate> pool = {
        candidate(1, "bob", "friend"),
        candidate(2, "Bob", "coplay"),
        candidate(5, " Ann", "coplay"),
        candidate(6, "Ann\t", "friend-in-cs2"),
        candidate(20, "Morpheus", "coplay"),
        candidate(21, "Neo", "friend", {"Neo", "Trinity", "trinity"}),
        candidate(22, "Smith", "friend-in-cs2", {"Smith", "", "Ghost"}),
        candidate(23, "Oracle", "friend", {"Oracle", "ghost", "Ghost"}),
        candidate(24, "", "friend", {"", "Cypher"}),
        candidate(25, " SERAPH", "gsi"),
        candidate(26, "Zion", "friend", {"Zion", "Seraph"}),
    };
    struct Case {
        const char* guards;
        const char* status;
        std::uint64_t steamid;
        const char* matched_name;
        MatchTier tier;
        bool via_history;
        bool ambiguous;
    };
    const Case cases[] = {
        {"an exact match wins over a looser one listed first", "Bob", 2, "Bob", MatchTier::exact, false, false},
        {"two at one tier: ambiguous, the first listed stands", "Ann", 5, " Ann", MatchTier::trimmed, false, true},
        {"a former name is found", "Trinity", 21, "Trinity", MatchTier::exact, true, false},
        {"the current name is not a former one", "Neo", 21, "Neo", MatchTier::exact, false, false},
        {"two friends once called Ghost", "Ghost", 22, "Ghost", MatchTier::exact, true, true},
        {"a candidate with two matching entries counts once", "ghost", 23, "ghost", MatchTier::exact, true, false},
        {"a friend known only by former names", "Cypher", 24, "Cypher", MatchTier::exact, true, false},
        {"a loose current name beats an exact former name", "Seraph", 25, " SERAPH", MatchTier::casefold, false, false},
        {"a candidate without a current name matches no empty name", "", 0, "", MatchTier::none, false, false},
        {"no candidate", "Tank", 0, "", MatchTier::none, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.guards);
        const MatchReport report = match_status_names(block_of({c.status}), pool);
        ASSERT_EQ(report.matches.size(), 1u);
        const StatusMatch& m = report.matches[0];
        EXPECT_EQ(m.status_name, c.status);
        EXPECT_EQ(m.steamid, c.steamid);
        EXPECT_EQ(m.matched_name, c.matched_name);
        EXPECT_EQ(m.tier, c.tier);
        EXPECT_EQ(m.via_history, c.via_history);
        EXPECT_EQ(m.ambiguous, c.ambiguous);
        EXPECT_EQ(report.matched, c.tier != MatchTier::none ? 1u : 0u);
        EXPECT_EQ(report.ambiguous, c.ambiguous ? 1u : 0u);
    }
}

TEST(CandidatePool, SourcesInOrderFirstOneWins) {
    GsiPlayers gsi;
    gsi[kBase + 30] = {"Gsi Three", "CT", 3, 1};
    gsi[kBase + 10] = {"Gsi One", "T", 1, 1};
    gsi[kBase + 20] = {"", "T", 2, 1};                    // nameless: not a candidate
    gsi[76561197960265729ULL] = {"Niles", "CT", 4, 9};   // a bot, as GSI names it: never one
    const std::uint64_t self = kBase + 1;
    const std::vector<CoplayEntry> coplay = {
        coplay_entry(kBase + 10, "Also Gsi One"),
        coplay_entry(kBase + 40, "Dota Mate", 570),
        coplay_entry(kBase + 50, "", 730, false),   // persona not known yet
        coplay_entry(kBase + 60, "Coplayer"),
        coplay_entry(self, "Me Again"),
        coplay_entry(76561197960265730ULL, "Rock"),   // bot
    };
    const std::vector<FriendEntry> friends = {
        friend_entry(kBase + 30, "Friend Of Gsi", {"Friend Of Gsi", "Old"}),
        friend_entry(kBase + 50, "Unknown Coplayer", {"Unknown Coplayer", "Was"}, true),
        friend_entry(kBase + 20, "Nameless In Gsi"),
        friend_entry(kBase + 70, "", {}),             // nothing to match by
        friend_entry(kBase + 80, "", {"", "Formerly"}),
        friend_entry(76561197960265792ULL, "Bot 64"),   // account 64: still a bot's
    };
    std::vector<IdentityCandidate> pool =
        build_identity_candidates(gsi, coplay, friends, self, "Myself", kStart);

    std::vector<std::pair<std::uint64_t, std::string>> got;
    for (const IdentityCandidate& c : pool) got.emplace_back(c.steamid, c.source);
    const std::vector<std::pair<std::uint64_t, std::string>> want = {
        {kBase + 10, "gsi"},    {kBase + 30, "gsi"},           {self, "self"},
        {kBase + 60, "coplay"}, {kBase + 50, "friend-in-cs2"}, {kBase + 20, "friend"},
        {kBase + 80, "friend"},
    };
    EXPECT_EQ(got, want);
    EXPECT_EQ(pool[1].name, "Gsi Three");
    EXPECT_TRUE(pool[1].name_history.empty());   // the friend's history does not come along
    EXPECT_EQ(std::vector<std::string>(pool[4].name_history.begin(), pool[4].name_history.end()),
              (std::vector<std::string>{"Unknown Coplayer", "Was"}));

    // Without a persona name the user is no candidate.
    EXPECT_TRUE(build_identity_candidates({}, {}, {}, self, "", kStart).empty());
}

// An "Alex" from weeks ago (kBase+60) and one seen at `seen` (kBase+5).
TEST(CandidatePool, APlayerMetInThisMatchOutranksAnOlderNamesake) {
    struct Case {
        const char* guards;
        const char* name;
        std::int64_t seen, match_start;
        std::uint64_t alex;   // whom "Alex" resolves to
        bool ambiguous;
    };
    const Case cases[] = {
        {"an older Alex leaves the pool", "Alex", kStart + 20, kStart, kBase + 5, false},
        {"at every tier: ' alex ' outranks an older 'Alex'", " alex ", kStart + 20, kStart, kBase + 5, false},
        {"within the margin before the start is this match", "Alex", kStart - kCoplayMargin, kStart, kBase + 5, false},
        {"just before the margin both are older", "Alex", kStart - kCoplayMargin - 1, kStart, kBase + 60, true},
        {"an unknown start ranks nobody", "Alex", kStart + 20, 0, kBase + 60, true},
        {"while this match's Alex is unnamed the older one stays", "", kStart + 20, kStart, kBase + 60, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.guards);
        const std::vector<CoplayEntry> coplay = {coplay_entry(kBase + 60, "Alex", 730, true, kStart - 30 * 86400),
                                                 coplay_entry(kBase + 5, c.name, 730, *c.name != 0, c.seen)};
        const std::vector<IdentityCandidate> pool =
            build_identity_candidates({}, coplay, {}, kBase + 1, "Me", c.match_start);
        const StatusMatch m = match_status_names(block_of({"Alex"}), pool).matches.at(0);
        EXPECT_EQ(m.steamid, c.alex);
        EXPECT_EQ(m.ambiguous, c.ambiguous);
    }
}

TEST(MatchReportText, SummaryAndJson) {
    std::vector<IdentityCandidate> pool = {
        candidate(kBase + 1, "Alpha", "self"),
        candidate(kBase + 2, "bravo", "coplay"),
        candidate(kBase + 3, "Delta", "friend", {"Delta", "Charlie"}),
        candidate(kBase + 4, "Echo", "friend"),
        candidate(kBase + 5, "Echo", "coplay"),
    };
    const MatchReport report =
        match_status_names(block_of({"Alpha", "Bravo", "Zulu", "Charlie", "Echo", "Kebab\xF0\x9D\x9F"}), pool);
    EXPECT_EQ(report.matched, 4u);
    EXPECT_EQ(report.unmatched, 2u);
    EXPECT_EQ(report.via_history, 1u);
    EXPECT_EQ(match_summary_text(report),
              "match: 4/6 status names resolved to SteamIDs, 1 ambiguous"
              "\n    no candidate: 'Zulu', 'Kebab\xF0\x9D\x9F'"
              "\n    via name history: 'Charlie' = old name of friend 76561198000000003"
              "\n    inexact: 'Bravo' via casefold");

    const nlohmann::json json = match_report_json(report);
    EXPECT_EQ(json["matches"][1]["steamid"], "76561198000000002");
    EXPECT_EQ(json["matches"][1]["tier"], "casefold");
    EXPECT_EQ(json["matches"][2]["steamid"], nullptr);
    EXPECT_EQ(json["matches"][4]["ambiguous"], true);
    // CS2 may cut a long name inside a UTF-8 sequence; the JSON must still serialise.
    EXPECT_NE(json.dump().find("Kebab\xEF\xBF\xBD"), std::string::npos);
}

// Random names from a small alphabet collide at every tier; the matcher must agree with the plain rules.
TEST(NameMatching, RandomInputsAgreeWithThePlainRules) {
    std::mt19937 rng(7);
    const std::vector<std::string> pieces = {"a", "A", " ", "\t", "b", "\xC3\xA9", "\xC3", "\r\n", ""};
    auto random_name = [&] {
        std::string name;
        for (int n = rng() % 4; n > 0; --n) name += pieces[rng() % pieces.size()];
        return name;
    };
    std::uint64_t seen_ambiguous = 0, seen_history = 0, seen_loose = 0;
    for (int round = 0; round < 1000; ++round) {
        GsiPlayers gsi;
        std::vector<CoplayEntry> coplay;
        std::vector<FriendEntry> friends;
        for (int i = rng() % 6; i > 0; --i) gsi[kBase + rng() % 20] = {random_name(), "T", 0, 1};
        for (int i = rng() % 6; i > 0; --i) {
            coplay.push_back(coplay_entry(kBase + rng() % 20, random_name(), rng() % 2 ? 730 : 440, rng() % 2,
                                          kStart - static_cast<std::int64_t>(rng() % 2) * 86400));
        }
        for (int i = rng() % 8; i > 0; --i) {
            std::vector<std::string> history;
            for (int h = rng() % 4; h > 0; --h) history.push_back(random_name());
            friends.push_back(friend_entry(kBase + rng() % 20, random_name(), history, rng() % 2));
        }
        const std::vector<IdentityCandidate> pool =
            build_identity_candidates(gsi, coplay, friends, kBase + rng() % 20, random_name(), kStart);
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
            if (m.tier != MatchTier::none && m.tier != MatchTier::exact) ++seen_loose;
        }
    }
    // The inputs must reach the interesting cases, or this test proves little.
    EXPECT_GT(seen_ambiguous, 50u);
    EXPECT_GT(seen_history, 50u);
    EXPECT_GT(seen_loose, 50u);
}
