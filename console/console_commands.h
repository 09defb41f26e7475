// The three ways the player asks for the room link from the CS2 console, as
// they show up in console.log, and the watchdog that notices a console.log
// that stopped growing while GSI reports a map.
#pragma once

#include <cstdint>
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

inline constexpr std::uint32_t kSilenceWarnMs = 60000;

struct SilenceWatch {
    std::uint32_t last_growth = 0;   // tick count of the last poll with lines
    bool warned = false;             // warned since the log last grew
};

void silence_reset(SilenceWatch& watch, std::uint32_t now);
// A poll brought lines.
void silence_note_growth(SilenceWatch& watch, std::uint32_t now);
// True once per silence: GSI is on a map and the log has not grown for 60 s.
// Marks the warning as given.
bool silence_warning_due(SilenceWatch& watch, std::uint32_t now, bool on_map);
