#include "service/room_page.h"

#include <ctime>
#include <set>

#include <nlohmann/json.hpp>

namespace {

using nlohmann::json;

std::string utc_text(std::int64_t seconds, const char* format) {
    const std::time_t t = static_cast<std::time_t>(seconds);
    std::tm parts{};
    gmtime_r(&t, &parts);
    char text[64];
    const std::size_t n = std::strftime(text, sizeof text, format, &parts);
    return std::string(text, n);
}

std::set<std::uint64_t> arrived_ids(const StoredRoom& room) {
    std::set<std::uint64_t> ids;
    for (const StoredArrival& arrival : room.arrivals) ids.insert(arrival.steamid);
    return ids;
}

std::size_t here_count(const StoredRoom& room) {
    std::size_t n = 0;
    const std::set<std::uint64_t> ids = arrived_ids(room);
    for (const RoomMember& member : room.members) n += ids.count(member.steamid);
    return n;
}

std::string head(const std::string& title) {
    return "<!doctype html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">"
           "<meta name=\"viewport\" content=\"width=device-width,initial-scale=1\">"
           "<title>" + html_escape(title) + "</title>"
           "<link rel=\"stylesheet\" href=\"../static/room.css\">"
           "<link rel=\"icon\" href=\"../static/icon.svg\" type=\"image/svg+xml\">"
           "<script src=\"../static/room.js\" defer></script></head>\n";
}

void team_section(std::string& out, const StoredRoom& room, const std::set<std::uint64_t>& here,
                  const std::string& team, const char* css, const char* title) {
    std::string items;
    for (const RoomMember& member : room.members) {
        if (member.team != team) continue;
        const std::string id = std::to_string(member.steamid);
        const bool arrived = here.count(member.steamid) != 0;
        items += "<li class=\"player" + std::string(arrived ? " here" : "") + "\" data-steamid=\"" + id + "\">" +
                 "<a href=\"https://steamcommunity.com/profiles/" + id + "\" rel=\"noreferrer noopener\">" +
                 "<bdi>" + html_escape(member.name.empty() ? id : member.name) + "</bdi></a>" +
                 "<span class=\"state\">" + (arrived ? "here" : "not yet") + "</span></li>\n";
    }
    if (items.empty() && team.empty()) return;
    out += "<section class=\"team " + std::string(css) + "\"><h2>" + title + "</h2><ul>\n" + items + "</ul></section>\n";
}

}  // namespace

std::string html_escape(std::string_view text) {
    std::string out;
    out.reserve(text.size() + 16);
    for (const char c : text) {
        switch (c) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '"': out += "&quot;"; break;
            case '\'': out += "&#39;"; break;
            default:
                // Control characters have no business in a name on a page.
                if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) out += "\xef\xbf\xbd";
                else out += c;
        }
    }
    return out;
}

std::string here_text(const StoredRoom& room) {
    return std::to_string(here_count(room)) + " of " + std::to_string(room.members.size()) + " here";
}

std::string room_page_html(const StoredRoom& room) {
    const std::set<std::uint64_t> here = arrived_ids(room);
    const std::string map = room.map.empty() ? "Match room" : room.map;
    std::string out = head(map + " \xc2\xb7 vantor room");
    out += "<body data-key=\"" + html_escape(room.key) + "\"><main>\n<header><h1>" + html_escape(map) + "</h1>" +
           "<p class=\"made\">Room made <time datetime=\"" + utc_text(room.created_at, "%Y-%m-%dT%H:%M:%SZ") + "\">" +
           utc_text(room.created_at, "%Y-%m-%d %H:%M UTC") + "</time></p>" +
           "<p class=\"count\" id=\"count\">" + here_text(room) + "</p></header>\n<div class=\"teams\">\n";
    team_section(out, room, here, "CT", "ct", "Counter-Terrorists");
    team_section(out, room, here, "T", "t", "Terrorists");
    team_section(out, room, here, "", "none", "Team not known");
    out += "</div>\n<footer><p>Room <code>" + html_escape(room.key) +
           "</code> \xc2\xb7 players appear here as their agents report the match.</p></footer>\n</main></body></html>\n";
    return out;
}

std::string missing_room_html() {
    return head("No such room \xc2\xb7 vantor") +
           "<body><main><header><h1>No such room</h1></header>"
           "<p>This room does not exist, or it is old enough to have been cleared away.</p>"
           "</main></body></html>\n";
}

std::string room_state_json(const StoredRoom& room) {
    json members = json::array();
    for (const RoomMember& member : room.members)
        members.push_back(json{{"steamid", std::to_string(member.steamid)}, {"name", member.name}, {"team", member.team}});
    json arrived = json::array();
    for (const StoredArrival& arrival : room.arrivals) arrived.push_back(std::to_string(arrival.steamid));
    const json state{{"key", room.key},
                     {"map", room.map},
                     {"created_at", room.created_at},
                     {"size", room.members.size()},
                     {"here", here_count(room)},
                     {"arrived", std::move(arrived)},
                     {"members", std::move(members)}};
    return state.dump(-1, ' ', false, json::error_handler_t::replace);
}
