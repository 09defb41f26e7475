// A word to the player when the room link is ready: a desktop notification
// through notify-send away from Windows, a balloon from the tray's icon on
// Windows.
#pragma once

#include <string>
#include <string_view>

struct TrayIcon;

struct RoomNotice {
    std::string title;   // "Room ready -- link copied", or "Room ready"
    std::string text;    // the room's map on a line of its own, then the link
    std::string url;     // what a click on the notification opens
};

RoomNotice room_ready_notice(std::string_view url, std::string_view map, bool copied);

// Shows the notice. Windows needs the tray's icon to show it from, and stays
// quiet while the console window is in front: the player is reading it.
void notify_room_ready(const RoomNotice& notice, const TrayIcon* tray);
