// What the tray menu shows of rooms.json: a label a player recognises a match
// by, and the link the item opens.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

struct RoomMenuItem {
    std::wstring label;   // the menu's own text (UTF-16 on Windows)
    std::string url;
};

// Label and link of every history entry, newest first. A label reads
// "05.12 21:30   de_dust2" in local time; without a map only the time; with
// neither, the first eight characters of the room key.
std::vector<RoomMenuItem> room_menu_items(const std::filesystem::path& folder);
