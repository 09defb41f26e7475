// Roster assembly: a working table keyed by SteamID64, filled by the status
// path (or without status by the user, GSI and co-play), then sorted, flagged
// and explained.
#include "roster/roster_assembly.h"

#include <algorithm>
#include <unordered_map>

#include "core/steamid.h"
#include "core/text.h"
#include "roster/room_key.h"
#include "steam/cs2_app.h"

namespace {


constexpr const char* kNoCandidate = "no candidate";
constexpr const char* kAmbiguous = "several candidates share this name";
constexpr const char* kInexactFriend = "inexact match against a friend Steam does not place in CS2";
constexpr const char* kClash = "two players resolved to one SteamID64";
constexpr const char* kOutsideMatch =
    "matched only outside this match while a player of this match is unaccounted for";

// One entry per SteamID64; the first source to name a player keeps it and the
// first non-empty name wins. Only real players enter: not 0 (the user while
// Steam is not connected), not a bot's stand-in id from any source.
struct WorkingTable {
    std::unordered_map<std::uint64_t, RosterPlayer> players;

    void add(std::uint64_t steamid, const std::string& name, const char* source) {
        if (!steamid_real_player(steamid)) return;
        RosterPlayer& player = players[steamid];
        player.steamid = steamid;
        if (player.source.empty()) player.source = source;
        if (!name.empty() && player.name.empty()) player.name = name;
    }
    bool has(std::uint64_t steamid) const { return players.count(steamid) != 0; }
};

void add_without_status(const RosterInputs& in, WorkingTable& table) {
    table.add(in.self_steamid, in.self_name, "self");
    for (const auto& [steamid, gsi] : in.gsi_players) table.add(steamid, gsi.name, "gsi");
    if (!in.connect_time_reliable) return;
    for (const CoplayEntry& entry : in.coplay) {
        if (entry.appid != kCs2AppId || entry.steamid == in.self_steamid) continue;
        if (in.start_time >= 1 && !coplay_in_match(entry, in.start_time, in.coplay_margin)) continue;
        table.add(entry.steamid, entry.persona, "coplay");
    }
}

const char* rejection_reason(const StatusMatch& match) {
    if (match.tier == MatchTier::none || !steamid_real_player(match.steamid)) return kNoCandidate;
    if (match.ambiguous) return kAmbiguous;
    if (match.source == "friend" && match.tier != MatchTier::exact) return kInexactFriend;
    return nullptr;
}

// A CS2 co-play entry met in this match: at most the margin before its start.
bool met_in_this_match(const CoplayEntry& entry, const RosterInputs& in) {
    return coplay_in_match(entry, in.start_time, in.coplay_margin);
}

// A match to an identity that this match itself does not vouch for: neither
// GSI nor the user, and without a co-play entry of this match -- an earlier
// match's co-play entry, a friend (in CS2 elsewhere, or not at all), a former
// name. Such a name may belong to a player of this match whose own entry Steam
// has not named yet, or names differently.
bool matched_outside_this_match(const StatusMatch& match, const RosterInputs& in) {
    if (match.source == "gsi" || match.source == "self") return false;
    for (const CoplayEntry& entry : in.coplay) {
        if (entry.steamid == match.steamid && met_in_this_match(entry, in)) return false;
    }
    return true;
}

// Whether some co-play entry of this match is none of the accepted rows.
bool player_of_this_match_unaccounted(const RosterInputs& in,
                                      const std::unordered_map<std::uint64_t, int>& accepted) {
    for (const CoplayEntry& entry : in.coplay) {
        if (entry.steamid != in.self_steamid && met_in_this_match(entry, in) &&
            accepted.count(entry.steamid) == 0) {
            return true;
        }
    }
    return false;
}

// The one GSI player among `missing` not yet used whose name is the status
// name, at the first tier that finds any; null when none or several.
const GsiPlayers::value_type* gsi_namesake(const std::string& status_name,
                                           const std::vector<const GsiPlayers::value_type*>& missing,
                                           const std::vector<bool>& used) {
    for (MatchTier tier : {MatchTier::exact, MatchTier::trimmed, MatchTier::casefold}) {
        const GsiPlayers::value_type* found = nullptr;
        int count = 0;
        for (std::size_t i = 0; i < missing.size(); ++i) {
            if (!names_equal_at_tier(status_name, missing[i]->second.name, tier)) continue;
            ++count;
            if (!used[i]) found = missing[i];
        }
        if (count > 0) return count == 1 ? found : nullptr;
    }
    return nullptr;
}

void add_from_status(const RosterInputs& in, Roster& roster, WorkingTable& table) {
    const StatusBlock& block = *in.status;
    const MatchReport& report = *in.report;
    roster.reservation = block.reservation;
    roster.expected = block.humans >= 1 ? block.humans
                                        : static_cast<std::int32_t>(block.players.size());

    // Accepted rows per SteamID64, and the SteamID64s in the order they were first accepted.
    std::unordered_map<std::uint64_t, int> accepted_rows;
    std::vector<std::uint64_t> accepted_order;
    for (const StatusMatch& match : report.matches) {
        if (rejection_reason(match) == nullptr && accepted_rows[match.steamid]++ == 0) {
            accepted_order.push_back(match.steamid);
        }
    }
    // While a player met in this match is none of the accepted rows, a name
    // matched only outside this match may well be that player's.
    const bool unaccounted = player_of_this_match_unaccounted(in, accepted_rows);
    std::vector<std::size_t> rejected_rows;   // the row of each entry of roster.rejected
    for (std::size_t row = 0; row < report.matches.size(); ++row) {
        const StatusMatch& match = report.matches[row];
        const char* reason = rejection_reason(match);
        if (reason == nullptr && unaccounted && matched_outside_this_match(match, in)) {
            reason = kOutsideMatch;
            accepted_rows[match.steamid]--;
        }
        if (reason != nullptr) {
            roster.rejected.push_back({match.status_name, reason});
            rejected_rows.push_back(row);
            continue;
        }
        table.add(match.steamid, match.status_name, match.source.c_str());
    }

    // Two names cannot be one player: every row naming a clashing SteamID64 is
    // rejected, and the SteamID64 leaves the roster.
    for (std::uint64_t steamid : accepted_order) {
        if (accepted_rows[steamid] < 2) continue;
        for (std::size_t row = 0; row < report.matches.size(); ++row) {
            if (report.matches[row].steamid != steamid) continue;
            roster.rejected.push_back({report.matches[row].status_name, kClash});
            rejected_rows.push_back(row);
        }
        table.players.erase(steamid);
    }

    // An unresolved row is filled from a GSI player the roster lacks only when
    // that player's name is the row's name, one to one: a count alone would
    // bind a player who has left, or a bot, to a stranger's row.
    std::vector<const GsiPlayers::value_type*> missing;
    for (const auto& entry : in.gsi_players) {
        if (!table.has(entry.first) && steamid_real_player(entry.first)) missing.push_back(&entry);
    }
    std::vector<bool> used(missing.size(), false);
    std::vector<bool> filled(report.matches.size(), false);
    for (std::size_t row : rejected_rows) {
        if (filled[row]) continue;
        const GsiPlayers::value_type* gsi = gsi_namesake(report.matches[row].status_name, missing, used);
        if (gsi == nullptr) continue;
        for (std::size_t i = 0; i < missing.size(); ++i) used[i] = used[i] || missing[i] == gsi;
        table.add(gsi->first, gsi->second.name, "gsi-fill");
        filled[row] = true;
        ++roster.filled_from_gsi;
    }
    std::vector<RejectedName> still;
    for (std::size_t i = 0; i < roster.rejected.size(); ++i) {
        if (!filled[rejected_rows[i]]) still.push_back(std::move(roster.rejected[i]));
    }
    roster.rejected = std::move(still);
}

// Players met in this match whom Steam has not named yet and nothing else
// placed in the roster: a status row may be theirs, so the roster says it
// waits for them, and for how long it has.
void note_names_awaited(const RosterInputs& in, const WorkingTable& table, Roster& roster) {
    for (const CoplayEntry& entry : in.coplay) {
        if (entry.persona_known || entry.steamid == in.self_steamid || table.has(entry.steamid) ||
            !steamid_real_player(entry.steamid) || !met_in_this_match(entry, in)) {
            continue;
        }
        ++roster.names_awaited;
        const std::int64_t since = std::max(entry.coplay_time, in.start_time);
        std::int64_t waited = 0;
        if (__builtin_sub_overflow(in.now, since, &waited)) waited = in.now > since ? kNameWait + 1 : 0;
        if (waited > kNameWait) roster.name_wait_over = true;
    }
}

void assign_groups(const MatchReport& report, const Roster& roster, WorkingTable& table) {
    if (!roster.rejected.empty() || report.matches.size() != kRosterSize) return;
    for (std::size_t i = 0; i < report.matches.size(); ++i) {
        auto found = table.players.find(report.matches[i].steamid);
        if (found != table.players.end()) found->second.group = i < kRosterSize / 2 ? 1 : 2;
    }
}

std::string quoted_rejections(const std::vector<RejectedName>& rejected) {
    std::string text;
    for (const RejectedName& r : rejected) {
        if (!text.empty()) text += ", ";
        text += "'" + r.name + "' (" + r.reason + ")";
    }
    return text;
}

}  // namespace

Roster assemble_roster(const RosterInputs& in) {
    Roster roster;
    WorkingTable table;
    const bool status_path = in.status && in.report && !in.status->players.empty();
    if (status_path) {
        add_from_status(in, roster, table);
        note_names_awaited(in, table, roster);
    } else {
        add_without_status(in, table);
    }

    for (auto& [steamid, player] : table.players) {
        auto gsi = in.gsi_players.find(steamid);
        if (gsi == in.gsi_players.end()) continue;
        player.team = gsi->second.team;
        if (player.name.empty()) player.name = gsi->second.name;
    }
    if (status_path) assign_groups(*in.report, roster, table);

    // Decimal text order; for SteamID64s of equal length it is numeric order.
    std::vector<std::pair<std::string, RosterPlayer*>> order;
    order.reserve(table.players.size());
    for (auto& [steamid, player] : table.players) order.emplace_back(std::to_string(steamid), &player);
    std::sort(order.begin(), order.end(),
              [](const auto& a, const auto& b) { return a.first < b.first; });
    for (auto& entry : order) roster.players.push_back(std::move(*entry.second));

    roster.complete = roster.players.size() == kRosterSize;
    roster.validated = status_path && roster.rejected.empty() &&
                       static_cast<std::int32_t>(roster.players.size()) == roster.expected;
    if (roster.complete) {
        std::vector<std::uint64_t> steamids;
        for (const RosterPlayer& p : roster.players) steamids.push_back(p.steamid);
        roster.room_key = derive_room_key(steamids);
    }
    roster.blocked_by = roster_blocked_by(roster, status_path, in.connect_time_reliable);
    return roster;
}

std::string roster_blocked_by(const Roster& roster, bool status_path,
                              bool connect_time_reliable) {
    if (roster.complete) {
        if (roster.room_key.empty()) return "ten players, but the room key could not be computed";
        if (roster.validated) return {};
        return status_path ? "ten players, but status has not confirmed them"
                           : "ten players assembled without a status block to confirm them";
    }
    std::string text = "roster has " + std::to_string(roster.players.size()) + " of " +
                       std::to_string(kRosterSize) + " players";
    if (!roster.rejected.empty()) text += "; unresolved: " + quoted_rejections(roster.rejected);
    if (roster.names_awaited != 0) {
        const std::string players = std::to_string(roster.names_awaited) +
                                    (roster.names_awaited == 1 ? " player" : " players");
        text += roster.name_wait_over
                    ? "; Steam has not named " + players + " met in this match for over " +
                          std::to_string(kNameWait) + " s"
                    : "; waiting for Steam to name " + players + " met in this match";
    }
    if (!status_path) {
        text += connect_time_reliable
                    ? "; no status block yet (type `exec vantor` in game)"
                    : "; joined mid-match, so co-play cannot be trusted -- needs a status block "
                      "(type `exec vantor` in game)";
    }
    return text;
}

nlohmann::json roster_json(const Roster& roster) {
    nlohmann::json rejected = nlohmann::json::array();
    for (const RejectedName& r : roster.rejected) {
        rejected.push_back({{"name", valid_utf8(r.name)}, {"reason", r.reason}});
    }
    nlohmann::json steamids = nlohmann::json::array();
    nlohmann::json members = nlohmann::json::array();
    for (const RosterPlayer& p : roster.players) {
        steamids.push_back(std::to_string(p.steamid));
        members.push_back({{"steamid", std::to_string(p.steamid)},
                           {"name", valid_utf8(p.name)},
                           {"source", p.source},
                           {"team", valid_utf8(p.team)}});
    }
    return {
        {"size", roster.players.size()},
        {"expected", roster.expected},
        {"complete", roster.complete},
        {"validated", roster.validated},
        {"room_key", roster.room_key},
        {"reservation", valid_utf8(roster.reservation)},
        {"filled_from_gsi", roster.filled_from_gsi},
        {"blocked_by", valid_utf8(roster.blocked_by)},
        {"rejected", std::move(rejected)},
        {"steamids", std::move(steamids)},
        {"members", std::move(members)},
    };
}

namespace {

// A console line is at most this many bytes, its line feed included.
constexpr std::size_t kListingLineLimit = 255;

std::string padded(const std::string& text, std::size_t width) {
    return text.size() >= width ? text : text + std::string(width - text.size(), ' ');
}

// Cuts a line that would not fit, at a character boundary so that a name is
// never split inside a UTF-8 sequence, and keeps its line feed.
std::string fitted_line(std::string line) {
    if (line.size() + 1 > kListingLineLimit) {
        std::size_t cut = kListingLineLimit - 1;
        while (cut > 0 && (static_cast<unsigned char>(line[cut]) & 0xC0) == 0x80) --cut;
        line.resize(cut);
    }
    return line + "\n";
}

}  // namespace

std::string roster_listing_text(const Roster& roster) {
    std::string text;
    for (const RosterPlayer& p : roster.players) {
        text += fitted_line("    " + std::to_string(p.steamid) + "  " + padded(p.source, 14) + " " +
                            padded(p.team.empty() ? "?" : p.team, 6) + " " + p.name);
    }
    if (!text.empty()) text.pop_back();
    return text;
}
