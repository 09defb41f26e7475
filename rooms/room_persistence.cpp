#include "rooms/room_persistence.h"

#include <cstdint>

#include <nlohmann/json.hpp>

#include "core/clock.h"
#include "core/event_log.h"
#include "core/files.h"
#include "core/json_file.h"
#include "core/json_members.h"
#include "core/text.h"
#include "rooms/room_link.h"

namespace {

using nlohmann::json;

json parse_quietly(const std::optional<std::string>& text) {
    if (!text) return json(json::value_t::discarded);
    return json::parse(*text, nullptr, false);
}

// A member that is missing reads as the default; one of the wrong type makes
// the whole object unreadable (false).
bool read_string(const json& object, const char* key, std::string& out) {
    if (!json_member(object, key)) return true;
    const std::optional<std::string> value = json_string(object, key);
    if (value) out = *value;
    return value.has_value();
}

bool read_int64(const json& object, const char* key, std::int64_t& out) {
    if (!json_member(object, key)) return true;
    const std::optional<std::int64_t> value = json_int64(object, key);
    if (value) out = *value;
    return value.has_value();
}

json entry_json(const RoomHistoryEntry& entry) {
    return json{{"created_at", entry.created_at},
                {"map", entry.map},
                {"room_key", entry.room_key},
                {"url", entry.url}};
}

void report_error(EventLog& log, const char* where, const std::filesystem::path& path,
                  const std::string& console_text) {
    log_event(log, "error", json{{"where", where}, {"detail", path_to_utf8(path)}}, console_text);
}

// A rooms.json that is there but is no JSON array would be replaced by a
// one-entry history: it is kept aside first, as agent.json is. False when it
// could not be kept (then it must not be replaced either).
bool keep_damaged_history(EventLog& log, const std::filesystem::path& file) {
    const std::optional<std::string> text = read_whole_file(file);
    if (!text || trim(*text).empty()) return true;   // nothing to lose
    const json list = json::parse(*text, nullptr, false);
    if (list.is_array()) return true;
    const std::string why = list.is_discarded() ? "is not valid JSON" : "is not a JSON array";
    const std::filesystem::path aside = keep_broken_file(file, text, FileAccess::shared);
    if (aside.empty()) {
        const std::string problem =
            path_to_utf8(file) + " " + why + " and could not be kept aside -- leaving it as it is";
        log_event(log, "error", json{{"where", "rooms_json"}, {"detail", problem}}, "rooms: " + problem);
        return false;
    }
    const std::string problem = path_to_utf8(file) + " " + why + " -- kept it as " + path_to_utf8(aside) +
                                "; starting a new history";
    log_event(log, "error", json{{"where", "rooms_json"}, {"detail", problem}}, "rooms: " + problem);
    return true;
}

}  // namespace

void save_room_in(EventLog& log, const std::filesystem::path& folder, std::string_view room_key,
                  std::string_view url, std::string_view reservation, std::string_view map) {
    const json saved{{"created_at", unix_now()},
                     {"reservation", std::string(reservation)},
                     {"room_key", std::string(room_key)},
                     {"url", std::string(url)}};
    const auto room_path = folder / "room.json";
    if (!write_whole_file(room_path, json_file_text(saved)))
        report_error(log, "room_json", room_path, "could not save the room link");

    const RoomHistoryEntry entry{unix_now(), std::string(map), std::string(room_key), std::string(url)};
    if (!keep_damaged_history(log, folder / "rooms.json")) return;
    if (!add_room_to_history(folder, entry))
        report_error(log, "rooms_json", folder / "rooms.json", "could not add the room to the history");
}

std::optional<std::string> find_saved_room_in(const std::filesystem::path& folder,
                                              std::string_view reservation) {
    if (reservation.empty()) return std::nullopt;
    const json saved = parse_quietly(read_whole_file(folder / "room.json"));
    if (!saved.is_object()) return std::nullopt;
    std::string saved_reservation;
    std::string url;
    if (!read_string(saved, "reservation", saved_reservation) || !read_string(saved, "url", url))
        return std::nullopt;
    if (saved_reservation != reservation || !room_link_is_safe(url)) return std::nullopt;
    return url;
}

std::vector<RoomHistoryEntry> load_room_history(const std::filesystem::path& folder) {
    std::vector<RoomHistoryEntry> history;
    const json list = parse_quietly(read_whole_file(folder / "rooms.json"));
    if (!list.is_array()) return history;
    for (const json& element : list) {
        // The file keeps the newest first, and the writer no more than ten: a
        // longer hand-edited file must not push the menu's ids into those of
        // the console switch and Exit.
        if (history.size() == kRoomHistorySize) break;
        if (!element.is_object()) continue;
        RoomHistoryEntry entry;
        if (!read_string(element, "room_key", entry.room_key) || !read_string(element, "url", entry.url) ||
            !read_string(element, "map", entry.map) || !read_int64(element, "created_at", entry.created_at))
            continue;
        // Another program may have written the file: only room links get in.
        if (!room_link_is_safe(entry.url)) continue;
        history.push_back(std::move(entry));
    }
    return history;
}

bool add_room_to_history(const std::filesystem::path& folder, const RoomHistoryEntry& entry) {
    if (!room_link_is_safe(entry.url)) return false;
    std::vector<RoomHistoryEntry> history = load_room_history(folder);
    for (auto it = history.begin(); it != history.end(); ++it) {
        if (it->room_key == entry.room_key) {
            history.erase(it);
            break;
        }
    }
    history.insert(history.begin(), entry);
    if (history.size() > kRoomHistorySize) history.resize(kRoomHistorySize);

    json list = json::array();
    for (const auto& kept : history) list.push_back(entry_json(kept));
    return write_whole_file(folder / "rooms.json", json_file_text(list));
}

std::string room_cfg_text(std::string_view url) {
    std::string text =
        "// vantor -- rewritten whenever a room is created, and safe to delete.\n"
        "//\n"
        "// Type  exec vantor_room  in the console to print this link and copy it.\n"
        "echo \"\"\n"
        "echo \"[vantor] ";
    text += url;
    text += "\"\n"
            "echo \"\"\n";
    return text;
}

void write_room_cfg(EventLog& log, const std::filesystem::path& cfg_folder, std::string_view url) {
    if (cfg_folder.empty() || url.empty()) return;
    const auto path = cfg_folder / "vantor_room.cfg";
    // The game runs this file: a link from the server that could break out of
    // the echo line is not written at all (it is still handed over elsewhere).
    if (const std::string problem = room_link_problem(url); !problem.empty()) {
        const std::string detail = problem + ", so " + path_to_utf8(path) + " was not written";
        log_event(log, "error", json{{"where", "room_cfg"}, {"detail", detail}},
                  "room cfg not written: " + problem);
        return;
    }
    if (!write_whole_file(path, room_cfg_text(url)))
        report_error(log, "room_cfg", path, "could not write " + path_to_utf8(path));
}
