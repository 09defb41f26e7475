// The three ways the player asks for the room link from the CS2 console, as
// they show up in console.log.
#pragma once

#include <optional>
#include <string>
#include <string_view>

struct RoomCommand {
    std::string how;          // "exec vantor_room", "typed in the console", "exec vantor"
    bool link_only = false;   // true for everything but "exec vantor"
};

// Tests the line's message (after the time prefix and the channel tags) in a
// fixed order; "execing vantor_room" comes first because it also begins with
// "execing vantor". A request only when the message begins with the phrase:
// "execing vantor_room" or "execing vantor" as a whole word, or
// "Unknown command: vantor" with nothing but blanks after it.
std::optional<RoomCommand> room_command_of(std::string_view line);
