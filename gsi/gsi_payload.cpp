// GSI payloads: token, players, state and the match phase they tell.
#include "gsi/gsi_payload.h"

#include <limits>
#include <optional>

#include "core/clock.h"
#include "core/event_log.h"
#include "core/json_members.h"
#include "core/steamid.h"
#include "core/text.h"

using nlohmann::json;

namespace {

void take_string(const json& section, const char* key, std::string& into) {
    if (std::optional<std::string> value = json_string(section, key)) into = std::move(*value);
}

// A JSON integer that fits the field; anything else leaves the default.
template <typename Int>
void take_integer(const json& section, const char* key, Int& into) {
    const std::optional<std::int64_t> v = json_int64(section, key);
    if (v && *v >= std::numeric_limits<Int>::min() && *v <= std::numeric_limits<Int>::max())
        into = static_cast<Int>(*v);
}

void read_player(const json& object, const char* block, std::vector<GsiPlayerSeen>& out) {
    const json* steamid = json_member(object, "steamid");
    if (!steamid || !steamid->is_string()) return;
    GsiPlayerSeen seen;
    seen.steamid = gsi_steamid_of(steamid->get_ref<const std::string&>());
    if (seen.steamid == 0) return;
    take_string(object, "name", seen.name);
    take_string(object, "team", seen.team);
    take_integer(object, "observer_slot", seen.observer_slot);
    seen.block = block;
    out.push_back(std::move(seen));
}

void log_player_new(EventLog& log, const GsiPlayers& players, std::uint64_t steamid,
                    const std::string& block) {
    const GsiPlayer& entry = players.at(steamid);
    std::string id = std::to_string(steamid);
    json data = {{"steamid", id},
                 {"name", entry.name},
                 {"team", entry.team},
                 {"observer_slot", entry.observer_slot},
                 {"block", block},
                 {"known_so_far", static_cast<std::uint64_t>(players.size())}};
    std::string text = "gsi player: " + id + " '" + entry.name + "' team=" +
                       (entry.team.empty() ? std::string("?") : entry.team) + " (" +
                       std::to_string(players.size()) + " known from GSI so far)";
    log_event(log, "gsi_player_new", data, text);
}

// The received token: auth.token when auth is an object holding it. A token
// that is not a string can never match; it yields nothing.
std::optional<std::string> received_token(const json& payload) {
    const json* auth = json_member(payload, "auth");
    if (!auth || !auth->is_object()) return std::string();
    const json* token = json_member(*auth, "token");
    if (!token) return std::string();
    if (!token->is_string()) return std::nullopt;
    return token->get<std::string>();
}

}  // namespace

std::uint64_t gsi_steamid_of(std::string_view text) {
    while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
    return decimal_prefix(text).value;   // beyond 64 bits reads as 0: no SteamID64
}

int json_nesting_depth(std::string_view text, int limit) {
    int depth = 0;
    int deepest = 0;
    bool in_string = false;
    bool escaped = false;
    for (char c : text) {
        if (in_string) {
            if (escaped) escaped = false;
            else if (c == '\\') escaped = true;
            else if (c == '"') in_string = false;
            continue;
        }
        if (c == '"') {
            in_string = true;
        } else if (c == '[' || c == '{') {
            if (++depth > deepest) deepest = depth;
            if (deepest > limit) return deepest;
        } else if ((c == ']' || c == '}') && depth > 0) {
            --depth;
        }
    }
    return deepest;
}

std::vector<GsiPlayerSeen> gsi_players_of(const json& payload) {
    std::vector<GsiPlayerSeen> out;
    if (const json* player = json_member(payload, "player")) read_player(*player, "player", out);
    for (const char* section : {"previously", "added"}) {
        const json* part = json_member(payload, section);
        if (!part) continue;
        if (const json* player = json_member(*part, "player")) read_player(*player, section, out);
    }
    return out;
}

namespace {

// Adds one sighting to the map; true when the player is new to it.
bool merge_gsi_player(GsiPlayers& players, const GsiPlayerSeen& seen) {
    GsiPlayer& entry = players[seen.steamid];
    bool first = entry.times_seen == 0;
    if (entry.times_seen < std::numeric_limits<std::int32_t>::max()) ++entry.times_seen;
    if (!seen.name.empty()) entry.name = seen.name;
    if (!seen.team.empty()) entry.team = seen.team;
    if (seen.observer_slot >= 0) entry.observer_slot = seen.observer_slot;
    return first;
}

GsiState gsi_state_of(const json& payload) {
    GsiState state;
    static const json kNone;
    const json* map = json_member(payload, "map");
    const json* round = json_member(payload, "round");
    const json* player = json_member(payload, "player");
    const json* provider = json_member(payload, "provider");
    const json& m = map ? *map : kNone;
    take_string(m, "name", state.map_name);
    take_string(m, "mode", state.map_mode);
    take_string(m, "phase", state.map_phase);
    take_integer(m, "round", state.round);
    take_string(round ? *round : kNone, "phase", state.round_phase);
    const json& p = player ? *player : kNone;
    take_string(p, "activity", state.activity);
    take_string(p, "steamid", state.player_steamid);
    take_string(p, "name", state.player_name);
    take_integer(provider ? *provider : kNone, "timestamp", state.provider_timestamp);
    return state;
}

// Equal map name, mode, phase, round phase, round and activity.
bool same_phase(const GsiState& a, const GsiState& b) {
    return a.map_name == b.map_name && a.map_mode == b.map_mode && a.map_phase == b.map_phase &&
           a.round_phase == b.round_phase && a.round == b.round && a.activity == b.activity;
}

json gsi_state_json(const GsiState& state) {
    return json{{"map_name", state.map_name},
                {"map_mode", state.map_mode},
                {"map_phase", state.map_phase},
                {"round_phase", state.round_phase},
                {"round", state.round},
                {"activity", state.activity},
                {"player_steamid", state.player_steamid},
                {"player_name", state.player_name},
                {"provider_timestamp", state.provider_timestamp}};
}

}  // namespace

std::string gsi_summary(const GsiState& state) {
    std::string text = "gsi: activity=" + (state.activity.empty() ? std::string("-") : state.activity);
    if (!state.map_name.empty()) text += " map=" + state.map_name;
    if (!state.map_mode.empty()) text += " mode=" + state.map_mode;
    if (!state.map_phase.empty()) text += " phase=" + state.map_phase;
    if (!state.round_phase.empty()) text += " round_phase=" + state.round_phase;
    if (state.round >= 0) text += " round=" + std::to_string(state.round);
    return text;
}

std::uint64_t count_gsi_drop(GsiDropLog& drops, std::uint32_t now) {
    ++drops.untold;
    if (drops.told && ticks_since(now, drops.last_told) < kGsiDropSummaryMs) return 0;
    drops.told = true;
    drops.last_told = now;
    const std::uint64_t count = drops.untold;
    drops.untold = 0;
    return count;
}

GsiDecision handle_gsi_body(std::string_view body, const std::string& token, GsiPlayers& players,
                            GsiState& last_state, bool& have_gsi_state, EventLog& log) {
    static GsiDropLog process_drops;
    return handle_gsi_body(body, token, players, last_state, have_gsi_state, log, process_drops);
}

GsiDecision handle_gsi_body(std::string_view body, const std::string& token, GsiPlayers& players,
                            GsiState& last_state, bool& have_gsi_state, EventLog& log, GsiDropLog& drops) {
    GsiDecision decision;
    if (json_nesting_depth(body, kGsiMaxNesting) > kGsiMaxNesting) {
        log_event(log, "error", {{"where", "gsi_payload"}, {"detail", "nested too deeply"}}, "");
        return decision;
    }
    json payload = json::parse(body, nullptr, false);
    if (payload.is_discarded() || !payload.is_object()) {
        log_event(log, "error", {{"where", "gsi_payload"}, {"detail", "not a JSON object"}}, "");
        return decision;
    }

    std::optional<std::string> received = received_token(payload);
    if (!received || *received != token) {
        const bool first = !drops.told;
        const std::uint64_t count = count_gsi_drop(drops, tick_now());
        if (count == 0) return decision;
        if (first)
            log_event(log, "error", {{"where", "gsi_auth"}, {"detail", "token mismatch"}},
                      "gsi: dropped a payload with an unexpected token");
        else
            log_event(log, "error", {{"where", "gsi_auth"}, {"detail", "token mismatch"}, {"dropped", count}},
                      "gsi: dropped " + std::to_string(count) + " more payload" + (count == 1 ? "" : "s") +
                          " with an unexpected token since the last line about them");
        return decision;
    }

    for (const GsiPlayerSeen& seen : gsi_players_of(payload)) {
        // A bot (watched after the player died) is named with a stand-in id
        // that would otherwise take a human's place in the roster.
        if (!steamid_real_player(seen.steamid)) {
            log_debug_event(log, "gsi_player_dropped",
                            {{"steamid", std::to_string(seen.steamid)},
                             {"name", seen.name},
                             {"block", seen.block},
                             {"reason", "not a real player: bots carry stand-in ids with account numbers below 65"}},
                            "");
            continue;
        }
        if (merge_gsi_player(players, seen)) log_player_new(log, players, seen.steamid, seen.block);
    }

    GsiState state = gsi_state_of(payload);
    if (log.debug) {
        log_debug_event(log, "gsi_event", {{"state", gsi_state_json(state)}, {"payload", std::move(payload)}},
                        "");
    }

    const std::string last_map = have_gsi_state ? last_state.map_name : std::string();
    if (state.map_name.empty() && !last_map.empty()) {
        log_event(log, "match_ended", {{"map", last_map}}, "back in the menu");
        decision.change = GsiMatchChange::ended;
    } else if (!state.map_name.empty() && state.map_name != last_map) {
        decision.change = GsiMatchChange::started;
        decision.start_time = unix_now();
        decision.connect_time_reliable =
            state.map_phase != "live" && state.map_phase != "intermission" && state.round <= 0;
        decision.map = state.map_name;
        log_event(log, "match_started",
                  {{"map", state.map_name},
                   {"mode", state.map_mode},
                   {"at", decision.start_time},
                   {"connect_time_reliable", decision.connect_time_reliable}},
                  "match started on " + state.map_name + " (" + state.map_mode + ")" +
                      (decision.connect_time_reliable ? " -- building roster"
                                                      : " -- joined in progress, waiting for status"));
    }

    if (!have_gsi_state || !same_phase(state, last_state)) {
        log_event(log, "gsi_phase_change", gsi_state_json(state), gsi_summary(state));
        last_state = std::move(state);
        have_gsi_state = true;
    }
    return decision;
}
