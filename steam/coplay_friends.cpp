#include "steam/coplay_friends.h"

#include <cstring>

#include "core/clock.h"
#include "core/event_log.h"
#include "core/steamid.h"
#include "steam/steam_client.h"
#include "steam/steam_interfaces.h"
#include "steam/cs2_app.h"

#include <nlohmann/json.hpp>

namespace {

constexpr int kImmediateFriends = 4;
constexpr int kFriendRelationship = 3;
constexpr int kNameHistoryLength = 16;

// A name the client really knows: not null, not empty, not its placeholder.
bool usable_name(const char* name) {
    return name != nullptr && name[0] != '\0' && std::strcmp(name, "[unknown]") != 0;
}

// The count the client reports, cut to `limit` with a --debug record: a
// garbage count must not keep the main thread calling for hours.
int bounded_count(EventLog* log, const char* list, int count, int limit) {
    if (count <= limit) return count;
    if (log)
        log_debug_event(*log, "steam_count_cut",
                        {{"list", list}, {"reported", count}, {"read", limit}}, "");
    return limit;
}

bool tick_due(std::uint32_t last, std::uint32_t now, std::uint32_t period) {
    return last == 0 || ticks_since(now, last) >= period;
}

FriendEntry read_friend_info(const SteamConnection& connection, std::uint64_t steamid) {
    FriendEntry entry;
    entry.steamid = steamid;
    void* friends = connection.friends;
    if (friends == nullptr) return entry;

    const char* name = friends_get_friend_persona_name(friends, steamid);
    if (usable_name(name)) entry.persona = name;
    const char* nickname = friends_get_player_nickname(friends, steamid);
    if (nickname != nullptr) entry.nickname = nickname;
    for (int k = 0; k < kNameHistoryLength; ++k) {
        const char* old_name = friends_get_friend_persona_name_history(friends, steamid, k);
        if (!usable_name(old_name)) break;
        entry.name_history.emplace_back(old_name);
    }

    SteamGameInfo game{};
    if (friends_get_friend_game_played(friends, steamid, &game)) {
        const std::uint32_t id_type = static_cast<std::uint32_t>((game.game_id >> 24) & 0xFFu);
        if (id_type == 2) {
            entry.game_appid = static_cast<std::uint32_t>(game.game_id >> 32);   // mod id
        } else {
            entry.game_appid = static_cast<std::uint32_t>(game.game_id & 0xFFFFFFu);
        }
        entry.lobby = game.lobby;
        entry.in_cs2 = entry.game_appid == kCs2AppId;
    }
    return entry;
}

nlohmann::json coplay_entry_json(const CoplayEntry& entry, std::int64_t now) {
    return {{"steamid", std::to_string(entry.steamid)},
            {"appid", entry.appid},
            {"coplay_time", entry.coplay_time},
            {"age_seconds", now - entry.coplay_time},
            {"persona", entry.persona},
            {"persona_known", entry.persona_known},
            {"relationship", entry.relationship},
            {"is_friend", entry.is_friend}};
}

nlohmann::json friend_entry_json(const FriendEntry& entry) {
    nlohmann::json history = nlohmann::json::array();
    for (const std::string& name : entry.name_history) history.push_back(name);
    return {{"steamid", std::to_string(entry.steamid)},
            {"persona", entry.persona},
            {"nickname", entry.nickname},
            {"nickname_differs", !entry.nickname.empty() && entry.nickname != entry.persona},
            {"name_history", std::move(history)},
            {"game_appid", entry.game_appid},
            {"lobby", std::to_string(entry.lobby)},
            {"in_cs2", entry.in_cs2}};
}

}  // namespace

std::vector<CoplayEntry> read_coplay_list(const SteamConnection& connection, EventLog* log) {
    std::vector<CoplayEntry> list;
    void* friends = connection.friends;
    if (friends == nullptr) return list;
    const int count =
        bounded_count(log, "coplay", friends_get_coplay_friend_count(friends), kMaxCoplayEntries);
    if (count < 1) return list;
    list.reserve(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) {
        const std::uint64_t id = friends_get_coplay_friend(friends, i);
        if (!steamid_real_player(id)) continue;
        CoplayEntry entry;
        entry.steamid = id;
        entry.appid = friends_get_friend_coplay_game(friends, id);
        entry.coplay_time = friends_get_friend_coplay_time(friends, id);
        const char* name = friends_get_friend_persona_name(friends, id);
        entry.persona_known = usable_name(name);
        if (entry.persona_known) entry.persona = name;
        entry.relationship = friends_get_friend_relationship(friends, id);
        entry.is_friend = entry.relationship == kFriendRelationship;
        list.push_back(std::move(entry));
    }
    return list;
}

std::vector<FriendEntry> read_friend_list(const SteamConnection& connection, EventLog* log) {
    std::vector<FriendEntry> list;
    void* friends = connection.friends;
    if (friends == nullptr) return list;
    const int count = bounded_count(log, "friends", friends_get_friend_count(friends, kImmediateFriends),
                                    kMaxFriends);
    if (count < 1) return list;
    list.reserve(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) {
        const std::uint64_t id = friends_get_friend_by_index(friends, i, kImmediateFriends);
        if (!steamid_real_player(id)) continue;
        list.push_back(read_friend_info(connection, id));
    }
    return list;
}

int request_missing_personas(const SteamConnection& connection,
                             const std::vector<CoplayEntry>& list) {
    void* friends = connection.friends;
    if (friends == nullptr) return 0;
    int sent = 0;
    for (const CoplayEntry& entry : list) {
        if (entry.persona_known) continue;
        if (friends_request_user_information(friends, entry.steamid, true)) ++sent;
    }
    return sent;
}

std::string coplay_fingerprint(const std::vector<CoplayEntry>& list) {
    std::string fingerprint;
    for (const CoplayEntry& entry : list) {
        fingerprint += std::to_string(entry.steamid);
        fingerprint += ':';
        fingerprint += std::to_string(entry.coplay_time);
        fingerprint += entry.persona_known ? '+' : '-';
    }
    return fingerprint;
}

bool coplay_tick_due(const SteamLists& lists, std::uint32_t now) {
    return tick_due(lists.last_coplay_tick, now, kCoplayTickMs);
}

bool friend_tick_due(const SteamLists& lists, std::uint32_t now) {
    return tick_due(lists.last_friend_tick, now, kFriendTickMs);
}

void coplay_tick(const SteamConnection& connection, EventLog& log, SteamLists& lists) {
    lists.last_coplay_tick = tick_now();
    lists.coplay = read_coplay_list(connection, &log);
    // A name requested now can only show up in a later tick.
    request_missing_personas(connection, lists.coplay);
    std::string fingerprint = coplay_fingerprint(lists.coplay);
    const bool changed = fingerprint != lists.coplay_fingerprint;
    lists.coplay_fingerprint = std::move(fingerprint);
    log_coplay_new(log, lists.coplay, lists.announced);
    log_coplay(log, lists.coplay, connection.self_steamid, changed);
}

void friend_tick(const SteamConnection& connection, EventLog& log, SteamLists& lists) {
    lists.last_friend_tick = tick_now();
    lists.friends = read_friend_list(connection, &log);
    log_friends(log, lists.friends);
}

void log_coplay_new(EventLog& log, const std::vector<CoplayEntry>& list,
                    std::unordered_set<std::uint64_t>& announced) {
    const std::int64_t now = unix_now();
    for (const CoplayEntry& entry : list) {
        if (entry.appid != kCs2AppId) continue;
        const bool is_new = announced.insert(entry.steamid).second;
        if (!is_new || !log.debug) continue;
        log_debug_event(log, "coplay_new",
                        {{"steamid", std::to_string(entry.steamid)},
                         {"persona", entry.persona},
                         {"persona_known", entry.persona_known},
                         {"coplay_time", entry.coplay_time},
                         {"age_seconds", now - entry.coplay_time},
                         {"is_friend", entry.is_friend}},
                        "");
    }
}

void log_coplay(EventLog& log, const std::vector<CoplayEntry>& list, std::uint64_t self_steamid,
                bool snapshot) {
    if (!log.debug) return;
    const std::int64_t now = unix_now();
    std::size_t cs2 = 0;
    std::size_t friends = 0;
    std::size_t pending = 0;
    bool self_in_list = false;
    for (const CoplayEntry& entry : list) {
        if (entry.appid == kCs2AppId) ++cs2;
        if (entry.is_friend) ++friends;
        if (!entry.persona_known) ++pending;
        if (entry.steamid == self_steamid) self_in_list = true;
    }
    if (!snapshot) {
        log_debug_event(log, "coplay_tick",
                        {{"total", list.size()}, {"cs2", cs2}, {"names_pending", pending}}, "");
        return;
    }
    nlohmann::json entries = nlohmann::json::array();
    for (const CoplayEntry& entry : list) entries.push_back(coplay_entry_json(entry, now));
    log_debug_event(log, "coplay_snapshot",
                    {{"total", list.size()},
                     {"cs2", cs2},
                     {"friends_in_list", friends},
                     {"self_in_list", self_in_list},
                     {"names_pending", pending},
                     {"entries", std::move(entries)}},
                    "coplay: " + std::to_string(list.size()) + " entries, " +
                        std::to_string(cs2) + " for cs2, " + std::to_string(friends) +
                        " of them friends, " + std::to_string(pending) + " names pending");
}

void log_friends(EventLog& log, const std::vector<FriendEntry>& list) {
    if (!log.debug) return;
    std::size_t in_cs2 = 0;
    std::size_t aliased = 0;
    std::size_t with_history = 0;
    nlohmann::json friends = nlohmann::json::array();
    for (const FriendEntry& entry : list) {
        if (entry.in_cs2) ++in_cs2;
        if (!entry.nickname.empty() && entry.nickname != entry.persona) ++aliased;
        if (entry.name_history.size() >= 2) ++with_history;
        friends.push_back(friend_entry_json(entry));
    }
    log_debug_event(log, "friends_snapshot",
                    {{"total", list.size()},
                     {"in_cs2", in_cs2},
                     {"aliased", aliased},
                     {"with_name_history", with_history},
                     {"friends", std::move(friends)}},
                    "friends: " + std::to_string(list.size()) + " total, " +
                        std::to_string(in_cs2) + " in cs2 now, " +
                        std::to_string(with_history) + " with a name history");
}
