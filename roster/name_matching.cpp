// Name matching: a linear scan of the candidate pool per row and pass.
// Pools are a few hundred candidates (a few thousand with big friend lists),
// blocks a few dozen rows.
#include "roster/name_matching.h"

#include <optional>
#include <unordered_set>

#include "core/checked_math.h"
#include "core/event_log.h"
#include "core/steamid.h"
#include "core/text.h"
#include "steam/cs2_app.h"

namespace {

constexpr MatchTier kTiers[] = {MatchTier::exact, MatchTier::trimmed, MatchTier::casefold};

// The tiers nest: names equal at one tier are equal at every looser one. So
// one walk of the pool per pass finds, for every tier at once, how many
// candidates match and which comes first; the tightest tier with any match
// decides, exactly as trying the tiers one after another would.
constexpr std::size_t kTierCount = 3;

struct PassResult {
    std::size_t count[kTierCount] = {};
    const IdentityCandidate* first[kTierCount] = {};
    const std::string* name[kTierCount] = {};   // the name of `first` that matched
};

// The tightest tier at which the names agree (0 exact, 1 trimmed, 2 casefold),
// or -1. `trimmed_status` is the status name already trimmed.
int tightest_tier(std::string_view status, std::string_view trimmed_status, std::string_view name) {
    if (name.size() < trimmed_status.size()) return -1;   // trimming only shortens
    const std::string_view trimmed_name = trim(name);
    if (trimmed_name.size() != trimmed_status.size()) return -1;   // the usual case, and cheap
    if (!equal_ignoring_ascii_case(trimmed_status, trimmed_name)) return -1;
    if (status == name) return 0;
    return trimmed_status == trimmed_name ? 1 : 2;
}

// Per tier, the first entry of one candidate that matches at that tier.
struct CandidateHits {
    const std::string* name[kTierCount] = {};
    void note(int tier, const std::string* entry) {
        for (std::size_t t = static_cast<std::size_t>(tier); t < kTierCount; ++t) {
            if (!name[t]) name[t] = entry;
        }
    }
};

CandidateHits candidate_hits(std::string_view status, std::string_view trimmed_status,
                             const IdentityCandidate& candidate, bool former_names) {
    CandidateHits hits;
    if (!former_names) {
        if (candidate.name.empty()) return hits;
        const int tier = tightest_tier(status, trimmed_status, candidate.name);
        if (tier >= 0) hits.note(tier, &candidate.name);
        return hits;
    }
    // Empty entries and the current name are not former names.
    for (const std::string& entry : candidate.name_history) {
        const int tier = tightest_tier(status, trimmed_status, entry);
        if (tier < 0 || entry.empty() || entry == candidate.name) continue;
        hits.note(tier, &entry);
    }
    return hits;
}

PassResult scan_pool(std::string_view status, const std::vector<IdentityCandidate>& pool,
                     bool former_names) {
    PassResult result;
    const std::string_view trimmed_status = trim(status);
    for (const IdentityCandidate& candidate : pool) {
        const CandidateHits hits = candidate_hits(status, trimmed_status, candidate, former_names);
        for (std::size_t t = 0; t < kTierCount; ++t) {
            if (!hits.name[t]) continue;
            if (result.count[t]++ == 0) {
                result.first[t] = &candidate;
                result.name[t] = hits.name[t];
            }
        }
    }
    return result;
}

StatusMatch match_one(const StatusPlayer& row, const std::vector<IdentityCandidate>& pool) {
    StatusMatch match;
    match.status_id = row.id;
    match.status_name = row.name;
    for (bool former_names : {false, true}) {
        const PassResult found = scan_pool(row.name, pool, former_names);
        for (std::size_t t = 0; t < kTierCount; ++t) {
            if (found.count[t] == 0) continue;
            match.steamid = found.first[t]->steamid;
            match.source = found.first[t]->source;
            match.matched_name = *found.name[t];
            match.tier = kTiers[t];
            match.via_history = former_names;
            match.ambiguous = found.count[t] > 1;
            return match;
        }
    }
    return match;
}

// Names equal at the loosest tier share this key, and so at every tier.
std::string namesake_key(std::string_view name) { return ascii_lower(trim(name)); }

// start - margin <= time, without overflowing for any margin.
bool within_margin(std::int64_t time, std::int64_t start, std::int64_t margin) {
    const std::optional<std::int64_t> earliest = checked_difference(start, margin);
    if (!earliest) return margin > 0;
    return *earliest <= time;
}

void append_item(std::string& list, const std::string& item) {
    if (!list.empty()) list += ", ";
    list += item;
}

}  // namespace

bool coplay_in_match(const CoplayEntry& entry, std::int64_t start_time, std::int64_t margin) {
    return entry.appid == kCs2AppId && start_time >= 1 &&
           within_margin(entry.coplay_time, start_time, margin);
}

const char* tier_name(MatchTier tier) {
    switch (tier) {
    case MatchTier::none: return "none";
    case MatchTier::exact: return "exact";
    case MatchTier::trimmed: return "trimmed";
    case MatchTier::casefold: return "casefold";
    }
    return "unknown";
}

std::vector<IdentityCandidate> build_identity_candidates(
    const GsiPlayers& gsi_players, std::span<const CoplayEntry> coplay,
    std::span<const FriendEntry> friends, std::uint64_t self_steamid,
    std::string_view self_persona, std::int64_t match_start) {
    std::vector<IdentityCandidate> pool;
    pool.reserve(gsi_players.size() + 1 + coplay.size() + friends.size());
    // Each SteamID64 once, the first source wins; an id that is no real
    // player's (a bot's stand-in above all) is never a candidate.
    std::unordered_set<std::uint64_t> taken;
    auto usable = [&](std::uint64_t steamid) {
        return !taken.count(steamid) && steamid_real_player(steamid);
    };
    auto append = [&](std::uint64_t steamid, std::string_view name, const char* source) {
        IdentityCandidate candidate;
        candidate.steamid = steamid;
        candidate.name = std::string(name);
        candidate.source = source;
        pool.push_back(std::move(candidate));
        taken.insert(steamid);
    };

    for (const auto& [steamid, player] : gsi_players) {
        if (!player.name.empty() && usable(steamid)) append(steamid, player.name, "gsi");
    }
    if (!self_persona.empty() && usable(self_steamid)) {
        append(self_steamid, self_persona, "self");
    }
    std::unordered_set<std::string> met_names;
    for (const CoplayEntry& entry : coplay) {
        if (entry.persona_known && coplay_in_match(entry, match_start)) {
            met_names.insert(namesake_key(entry.persona));
        }
    }
    for (const CoplayEntry& entry : coplay) {
        if (entry.appid != kCs2AppId || !entry.persona_known || !usable(entry.steamid)) continue;
        if (!coplay_in_match(entry, match_start) && met_names.count(namesake_key(entry.persona))) {
            continue;
        }
        append(entry.steamid, entry.persona, "coplay");
    }
    for (const FriendEntry& entry : friends) {
        if (entry.persona.empty() && entry.name_history.empty()) continue;
        if (!usable(entry.steamid)) continue;
        append(entry.steamid, entry.persona, entry.in_cs2 ? "friend-in-cs2" : "friend");
        pool.back().name_history = entry.name_history;
    }
    return pool;
}

MatchReport match_status_names(const StatusBlock& block,
                               const std::vector<IdentityCandidate>& pool) {
    MatchReport report;
    report.matches.reserve(block.players.size());
    for (const StatusPlayer& row : block.players) {
        StatusMatch match = match_one(row, pool);
        if (match.tier == MatchTier::none) {
            ++report.unmatched;
        } else {
            ++report.matched;
            if (match.ambiguous) ++report.ambiguous;
            if (match.via_history) ++report.via_history;
        }
        report.matches.push_back(std::move(match));
    }
    return report;
}

bool names_equal_at_tier(std::string_view a, std::string_view b, MatchTier tier) {
    switch (tier) {
    case MatchTier::exact: return a == b;
    case MatchTier::trimmed: return trim(a) == trim(b);
    case MatchTier::casefold: return equal_ignoring_ascii_case(trim(a), trim(b));
    case MatchTier::none: break;
    }
    return false;
}

std::string match_summary_text(const MatchReport& report) {
    std::string text = "match: " + std::to_string(report.matched) + "/" +
                       std::to_string(report.matched + report.unmatched) +
                       " status names resolved to SteamIDs";
    if (report.ambiguous != 0) text += ", " + std::to_string(report.ambiguous) + " ambiguous";

    std::string no_candidate, former_name, inexact;
    for (const StatusMatch& m : report.matches) {
        const std::string quoted = "'" + m.status_name + "'";
        if (m.tier == MatchTier::none) {
            append_item(no_candidate, quoted);
        } else if (m.via_history) {
            append_item(former_name,
                        quoted + " = old name of " + m.source + " " + std::to_string(m.steamid));
        } else if (m.tier != MatchTier::exact) {
            append_item(inexact, quoted + " via " + tier_name(m.tier));
        }
    }
    if (!no_candidate.empty()) text += "\n    no candidate: " + no_candidate;
    if (!former_name.empty()) text += "\n    via name history: " + former_name;
    if (!inexact.empty()) text += "\n    inexact: " + inexact;
    return text;
}

nlohmann::json match_report_json(const MatchReport& report) {
    nlohmann::json matches = nlohmann::json::array();
    for (const StatusMatch& m : report.matches) {
        // Names come from console.log unchecked; JSON must stay valid UTF-8.
        nlohmann::json item = {
            {"status_id", m.status_id},
            {"status_name", valid_utf8(m.status_name)},
            {"steamid", nullptr},
            {"source", m.source},
            {"matched_name", valid_utf8(m.matched_name)},
            {"tier", tier_name(m.tier)},
            {"via_history", m.via_history},
            {"ambiguous", m.ambiguous},
        };
        if (m.steamid != 0) item["steamid"] = std::to_string(m.steamid);
        matches.push_back(std::move(item));
    }
    return {
        {"matched", report.matched},
        {"unmatched", report.unmatched},
        {"ambiguous", report.ambiguous},
        {"via_history", report.via_history},
        {"matches", std::move(matches)},
    };
}

void log_status_match(EventLog& log, const StatusBlock& block, std::size_t pool_size,
                      const MatchReport& report) {
    nlohmann::json data = {
        {"pool_size", pool_size},
        {"log_time", valid_utf8(block.log_time)},
        {"reservation", valid_utf8(block.reservation)},
        {"result", match_report_json(report)},
    };
    log_event(log, "status_match", data, match_summary_text(report));
}
