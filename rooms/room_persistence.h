// Where a room link is kept: room.json (the room of the latest match, so a
// restarted agent can hand it over), rooms.json (the ten newest rooms, for the
// tray menu) and vantor_room.cfg in the CS2 cfg folder (prints the link in the
// game console on "exec vantor_room").
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct EventLog;

// One element of rooms.json; a stored entry always has a link.
struct RoomHistoryEntry {
    std::int64_t created_at = 0;   // seconds since 1970, UTC
    std::string map;
    std::string room_key;
    std::string url;
};

inline constexpr std::size_t kRoomHistorySize = 10;

// Writes room.json and adds the room to rooms.json in `folder`. Each failed
// write is one "error" event; the two files are written independently. A
// rooms.json that is no JSON array is first kept aside as
// rooms.broken-<local time>.json, with an "error" event and a console line.
void save_room_in(EventLog& log, const std::filesystem::path& folder, std::string_view room_key,
                  std::string_view url, std::string_view reservation, std::string_view map);

// The link of folder/room.json when it was saved for this (non-empty)
// reservation and is a room link (room_link_problem).
std::optional<std::string> find_saved_room_in(const std::filesystem::path& folder,
                                              std::string_view reservation);

// The first ten entries of folder/rooms.json with a room link
// (room_link_problem), in file order (the newest first); empty when the file
// is missing or is not a JSON array.
// Reading never fails as a whole.
std::vector<RoomHistoryEntry> load_room_history(const std::filesystem::path& folder);

// Puts the entry in front (dropping a stored one with the same key), keeps the
// ten newest and rewrites the file. False for an entry without a room link (the file
// is left alone) or when the write fails.
bool add_room_to_history(const std::filesystem::path& folder, const RoomHistoryEntry& entry);

// Rewrites cfg_folder/vantor_room.cfg with the link. Nothing when the folder or
// the link is empty. A link that is not a plain http(s) link is never written
// into the file the game executes: it is refused with an "error" event.
void write_room_cfg(EventLog& log, const std::filesystem::path& cfg_folder, std::string_view url);

// The text of the room cfg for a link, six lines.
std::string room_cfg_text(std::string_view url);
