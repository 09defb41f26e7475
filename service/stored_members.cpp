#include "service/stored_members.h"

#include <nlohmann/json.hpp>

using nlohmann::json;

std::string stored_members_text(const std::vector<RoomMember>& members) {
    json rows = json::array();
    for (const RoomMember& m : members) rows.push_back(json::array({m.steamid, m.name, m.team, m.group, m.source}));
    return rows.dump(-1, ' ', false, json::error_handler_t::replace);
}

bool read_stored_members(std::string_view text, std::vector<RoomMember>& members) {
    const json rows = json::parse(text, nullptr, false);
    if (!rows.is_array()) return false;
    bool whole = true;
    for (const json& row : rows) {
        if (!row.is_array() || row.size() != 5 || !row[0].is_number_unsigned() || !row[1].is_string() ||
            !row[2].is_string() || !row[3].is_number_integer() || !row[4].is_string()) {
            whole = false;
            continue;
        }
        members.push_back(RoomMember{row[3].get<std::int32_t>(), row[1].get<std::string>(), row[4].get<std::string>(),
                                     row[0].get<std::uint64_t>(), row[2].get<std::string>()});
    }
    return whole;
}
