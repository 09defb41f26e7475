// Room links come from a remote server. Before one is written into a file the
// game executes, or handed to the shell to open, it must be a plain web link.
#pragma once

#include <string>
#include <string_view>

// Empty when the link is an http:// or https:// URL with a host and free of
// double quotes, semicolons, line breaks, other control characters and invalid
// UTF-8; otherwise why it is not safe, e.g. "the room link holds a semicolon".
std::string room_link_problem(std::string_view url);

inline bool room_link_is_safe(std::string_view url) { return room_link_problem(url).empty(); }
