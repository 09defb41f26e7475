#include "rooms/room_request.h"

#include <algorithm>
#include <charconv>
#include <set>

#include <nlohmann/json.hpp>

#include "core/json_members.h"
#include "core/steamid.h"
#include "core/text.h"
#include "roster/room_key.h"
#include "roster/roster_assembly.h"

namespace {

using nlohmann::json;

// A SteamID64 as the agent writes it: decimal digits only, no sign, no
// leading zero, no blanks, within 64 bits.
bool read_decimal_id(const json* value, std::uint64_t& id) {
    if (!value || !value->is_string()) return false;
    const std::string& text = value->get_ref<const std::string&>();
    if (text.empty() || text.size() > 20 || text[0] == '0') return false;
    if (!std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; })) return false;
    const auto [end, failure] = std::from_chars(text.data(), text.data() + text.size(), id);
    return failure == std::errc() && end == text.data() + text.size();
}

RoomRequestRead refuse(std::string why) {
    RoomRequestRead read;
    read.error = std::move(why);
    return read;
}

}  // namespace

RoomRequest room_request_of(const Roster& roster, std::uint64_t reporter, std::string_view map) {
    RoomRequest request;
    request.map = map;
    request.reporter = reporter;
    request.reservation = roster.reservation;
    request.room_key = roster.room_key;
    for (const RosterPlayer& player : roster.players) {
        request.members.push_back(RoomMember{player.group, player.name, player.source, player.steamid, player.team});
        request.steamids.push_back(player.steamid);
    }
    return request;
}

std::string room_request_json(const RoomRequest& request) {
    json members = json::array();
    json steamids = json::array();
    for (const RoomMember& member : request.members) {
        members.push_back(json{{"group", member.group},
                               {"name", member.name},
                               {"source", member.source},
                               {"steamid", std::to_string(member.steamid)},
                               {"team", member.team}});
    }
    for (const std::uint64_t id : request.steamids) steamids.push_back(std::to_string(id));
    const json body{{"map", request.map},
                    {"members", std::move(members)},
                    {"reporter_steamid64", std::to_string(request.reporter)},
                    {"reservation", request.reservation},
                    {"room_key", request.room_key},
                    {"steamids", std::move(steamids)}};
    return body.dump(-1, ' ', false, json::error_handler_t::replace);
}

RoomRequestRead read_room_request(std::string_view body) {
    if (body.size() > kMaxRoomRequestBytes) return refuse("body over 64 KiB");
    const json root = json::parse(body, nullptr, false);
    if (root.is_discarded()) return refuse("body is not JSON");
    if (!root.is_object()) return refuse("body is not a JSON object");

    RoomRequest request;
    const json* ids = json_member(root, "steamids");
    if (!ids || !ids->is_array()) return refuse("steamids is not an array");
    if (ids->size() != kRoomSize) return refuse("steamids does not hold ten players");
    std::vector<std::string> texts;
    for (const json& value : *ids) {
        std::uint64_t id = 0;
        if (!read_decimal_id(&value, id)) return refuse("steamids holds something other than a decimal SteamID64");
        if (!steamid_real_player(id)) return refuse("steamids holds an id that is no real player: " + std::to_string(id));
        texts.push_back(value.get<std::string>());
        request.steamids.push_back(id);
    }
    for (std::size_t i = 1; i < texts.size(); ++i) {
        if (texts[i - 1] == texts[i]) return refuse("steamids holds a player twice");
        if (texts[i - 1] > texts[i]) return refuse("steamids is not in ascending order");
    }

    const std::optional<std::string> key = json_string(root, "room_key");
    if (!key) return refuse("room_key is not a string");
    if (*key != derive_room_key(request.steamids)) return refuse("room_key is not the key of these steamids");
    request.room_key = *key;

    if (!read_decimal_id(json_member(root, "reporter_steamid64"), request.reporter))
        return refuse("reporter_steamid64 is not a decimal SteamID64");
    if (std::find(request.steamids.begin(), request.steamids.end(), request.reporter) == request.steamids.end())
        return refuse("reporter_steamid64 is not one of the ten");

    const json* members = json_member(root, "members");
    if (!members || !members->is_array()) return refuse("members is not an array");
    if (members->size() != kRoomSize) return refuse("members does not hold ten players");
    std::set<std::uint64_t> seen;
    for (const json& value : *members) {
        if (!value.is_object()) return refuse("a member is not an object");
        RoomMember member;
        if (!read_decimal_id(json_member(value, "steamid"), member.steamid))
            return refuse("a member's steamid is not a decimal SteamID64");
        if (std::find(request.steamids.begin(), request.steamids.end(), member.steamid) == request.steamids.end())
            return refuse("a member is not one of the steamids");
        if (!seen.insert(member.steamid).second) return refuse("a member is listed twice");
        const std::optional<std::string> name = json_string(value, "name");
        if (!name) return refuse("a member's name is not a string");
        if (name->size() > kMaxMemberNameBytes) return refuse("a member's name is over 128 bytes");
        if (valid_utf8(*name) != *name) return refuse("a member's name is not UTF-8");
        member.name = *name;
        const std::optional<std::string> team = json_string(value, "team");
        if (!team) return refuse("a member's team is not a string");
        if (*team != "CT" && *team != "T" && !team->empty()) return refuse("a member's team is not CT, T or empty");
        member.team = *team;
        // What the reporting agent says about how it knew the player: shown,
        // never trusted, so only its type and size are checked.
        const std::optional<std::int64_t> group = json_int64(value, "group");
        member.group = group && *group >= 0 && *group <= 2 ? static_cast<std::int32_t>(*group) : 0;
        const std::optional<std::string> source = json_string(value, "source");
        if (source && source->size() <= kMaxMemberNameBytes && valid_utf8(*source) == *source) member.source = *source;
        request.members.push_back(std::move(member));
    }

    const std::optional<std::string> reservation = json_string(root, "reservation");
    if (reservation && reservation->size() <= kMaxMemberNameBytes && valid_utf8(*reservation) == *reservation)
        request.reservation = *reservation;
    const std::optional<std::string> map = json_string(root, "map");
    if (map && map->size() <= kMaxMemberNameBytes && valid_utf8(*map) == *map) request.map = *map;

    RoomRequestRead read;
    read.ok = true;
    read.request = std::move(request);
    return read;
}
