#include "console/console_commands.h"

#include "core/clock.h"
#include "core/text.h"

std::optional<RoomCommand> room_command_of(std::string_view line) {
    if (contains(line, "execing vantor_room"))
        return RoomCommand{"exec vantor_room", true};
    if (contains(line, "Unknown command: vantor"))
        return RoomCommand{"typed in the console", true};
    if (contains(line, "execing vantor"))
        return RoomCommand{"exec vantor", false};
    return std::nullopt;
}

void silence_reset(SilenceWatch& watch, std::uint32_t now) {
    watch.last_growth = now;
    watch.warned = false;
}

void silence_note_growth(SilenceWatch& watch, std::uint32_t now) {
    silence_reset(watch, now);
}

bool silence_warning_due(SilenceWatch& watch, std::uint32_t now, bool on_map) {
    if (!on_map || watch.warned || ticks_since(now, watch.last_growth) < kSilenceWarnMs)
        return false;
    watch.warned = true;
    return true;
}
