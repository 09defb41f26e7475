// Roster assembly: a working table keyed by SteamID64, filled by the status
// path (or without status by the user, GSI and co-play), then sorted, flagged
// and explained.
#include "roster/roster_assembly.h"

#include <algorithm>
#include <optional>
#include <unordered_map>

#include "core/checked_math.h"
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
    "matched only outside this match while a player of this match is unnamed";

const GsiPlayers kNoGsiPlayers;

const GsiPlayers& gsi_of(const RosterInputs& in) {
    return in.gsi_players ? *in.gsi_players : kNoGsiPlayers;
}

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
    table.add(in.self_steamid, std::string(in.self_name), "self");
    for (const auto& [steamid, gsi] : gsi_of(in)) table.add(steamid, gsi.name, "gsi");
    if (!in.connect_time_reliable) return;
    for (const CoplayEntry& entry : in.coplay) {
        if (entry.appid != kCs2AppId || entry.steamid == in.self_steamid) continue;
        if (in.start_time >= 1 && !coplay_in_match(entry, in.start_time, in.coplay_margin))
            continue;
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
// has not named yet.
bool matched_outside_this_match(const StatusMatch& match, const RosterInputs& in) {
    if (match.source == "gsi" || match.source == "self") return false;
    for (const CoplayEntry& entry : in.coplay) {
        if (entry.steamid == match.steamid && met_in_this_match(entry, in)) return false;
    }
    return true;
}

// The one GSI player among `missing` not yet used whose name is the status
// name, at the first tier that finds any; null when none or several.
const GsiPlayers::value_type* gsi_namesake(
    const std::string& status_name, const std::vector<const GsiPlayers::value_type*>& missing,
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

// Players met in this match whom Steam has not named yet and no row accounts
// for: a status row may be theirs, so the roster says it waits for them, and
// for how long it has.
void note_names_awaited(const RosterInputs& in, const WorkingTable& table, Roster& roster) {
    for (const CoplayEntry& entry : in.coplay) {
        if (entry.persona_known || entry.steamid == in.self_steamid || table.has(entry.steamid) ||
            !steamid_real_player(entry.steamid) || !met_in_this_match(entry, in)) {
            continue;
        }
        ++roster.names_awaited;
        const std::int64_t since = std::max(entry.coplay_time, in.start_time);
        const std::optional<std::int64_t> difference = checked_difference(in.now, since);
        const std::int64_t waited = difference ? *difference : in.now > since ? kNameWait + 1 : 0;
        if (waited > kNameWait) roster.name_wait_over = true;
    }
}

// Each row is judged once, in this order: its own match (no candidate,
// ambiguous, inexact friend); two accepted rows on one SteamID64; a rejected
// row filled from a GSI player of its name; and last, once every row that can
// account for a player of this match has done so, the rows matched only
// outside this match wait while one of them is still unnamed. A named co-play
// entry no row claims (a leaver, a player of the match before) holds nothing
// back. Returns per row the SteamID64 it was accepted as, 0 for the others.
std::vector<std::uint64_t> add_from_status(const RosterInputs& in, Roster& roster,
                                           WorkingTable& table) {
    const StatusBlock& block = *in.status;
    const std::vector<StatusMatch>& rows = roster.report.matches;
    roster.reservation = block.reservation;
    roster.expected =
        block.humans >= 1 ? block.humans : static_cast<std::int32_t>(block.players.size());

    std::vector<const char*> reason(rows.size(), nullptr);
    std::unordered_map<std::uint64_t, int> accepted;  // accepted rows per SteamID64
    for (std::size_t row = 0; row < rows.size(); ++row) {
        reason[row] = rejection_reason(rows[row]);
        if (reason[row] == nullptr) ++accepted[rows[row].steamid];
    }
    // Two names cannot be one player: every accepted row naming a clashing
    // SteamID64 is rejected, and the SteamID64 stays out of the roster.
    for (std::size_t row = 0; row < rows.size(); ++row) {
        if (reason[row] == nullptr && accepted[rows[row].steamid] > 1) reason[row] = kClash;
    }
    for (std::size_t row = 0; row < rows.size(); ++row) {
        if (reason[row] == nullptr)
            table.add(rows[row].steamid, rows[row].status_name, rows[row].source.c_str());
    }

    // An unresolved row is filled from a GSI player the roster lacks only when
    // that player's name is the row's name, one to one: a count alone would
    // bind a player who has left, or a bot, to a stranger's row.
    std::vector<const GsiPlayers::value_type*> missing;
    for (const auto& entry : gsi_of(in)) {
        if (!table.has(entry.first) && steamid_real_player(entry.first)) missing.push_back(&entry);
    }
    std::vector<bool> used(missing.size(), false);
    std::vector<bool> filled(rows.size(), false);
    for (std::size_t row = 0; row < rows.size(); ++row) {
        if (reason[row] == nullptr) continue;
        const GsiPlayers::value_type* gsi = gsi_namesake(rows[row].status_name, missing, used);
        if (gsi == nullptr) continue;
        for (std::size_t i = 0; i < missing.size(); ++i) used[i] = used[i] || missing[i] == gsi;
        table.add(gsi->first, gsi->second.name, "gsi-fill");
        reason[row] = nullptr;
        filled[row] = true;
        ++roster.filled_from_gsi;
    }

    note_names_awaited(in, table, roster);
    for (std::size_t row = 0; row < rows.size(); ++row) {
        const StatusMatch& match = rows[row];
        if (roster.names_awaited != 0 && reason[row] == nullptr && !filled[row] &&
            matched_outside_this_match(match, in)) {
            reason[row] = kOutsideMatch;
            table.players.erase(match.steamid);
        }
        if (reason[row] != nullptr) roster.rejected.push_back({match.status_name, reason[row]});
    }
    std::vector<std::uint64_t> accepted_as(rows.size(), 0);
    for (std::size_t row = 0; row < rows.size(); ++row) {
        if (reason[row] == nullptr && !filled[row]) accepted_as[row] = rows[row].steamid;
    }
    return accepted_as;
}

// The halves of a fully resolved ten-row block; a row filled from GSI gives
// no group.
void assign_groups(const std::vector<std::uint64_t>& accepted_as, const Roster& roster,
                   WorkingTable& table) {
    if (!roster.rejected.empty() || accepted_as.size() != kRosterSize) return;
    for (std::size_t i = 0; i < accepted_as.size(); ++i) {
        auto found = table.players.find(accepted_as[i]);
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
    const GsiPlayers& gsi_players = gsi_of(in);
    if (in.status) {
        const std::vector<IdentityCandidate> pool = build_identity_candidates(
            gsi_players, in.coplay, in.friends, in.self_steamid, in.self_name, in.start_time);
        roster.pool_size = pool.size();
        roster.report = match_status_names(*in.status, pool);
    }
    // A block without player rows (the server still loading) is no status.
    const bool status_path = in.status && !in.status->players.empty();
    std::vector<std::uint64_t> accepted_as;
    if (status_path) {
        accepted_as = add_from_status(in, roster, table);
    } else {
        add_without_status(in, table);
    }

    for (auto& [steamid, player] : table.players) {
        auto gsi = gsi_players.find(steamid);
        if (gsi == gsi_players.end()) continue;
        player.team = gsi->second.team;
        if (player.name.empty()) player.name = gsi->second.name;
    }
    assign_groups(accepted_as, roster, table);

    // Decimal text order; for SteamID64s of equal length it is numeric order.
    std::vector<std::pair<std::string, RosterPlayer*>> order;
    order.reserve(table.players.size());
    for (auto& [steamid, player] : table.players)
        order.emplace_back(std::to_string(steamid), &player);
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

std::string roster_blocked_by(const Roster& roster, bool status_path, bool connect_time_reliable) {
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
