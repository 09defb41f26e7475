// Room links come from a remote server and from files other programs can
// write. Every link is checked where it comes in (the room answer, room.json,
// rooms.json): only a plain web link reaches the clipboard, the console, a
// notification, a file or the tray.
#pragma once

#include <string>
#include <string_view>

// Empty when the link is an http:// or https:// URL with a host, in ASCII,
// free of blanks, quotes, semicolons, backslashes, angle brackets, line breaks
// and other control characters; otherwise why it is not a room link, e.g.
// "the room link holds a semicolon".
std::string room_link_problem(std::string_view url);

inline bool room_link_is_safe(std::string_view url) { return room_link_problem(url).empty(); }
