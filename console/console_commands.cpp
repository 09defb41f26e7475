#include "console/console_commands.h"

#include "console/status_parser.h"
#include "core/text.h"

namespace {

// The message begins with the phrase, and the phrase is a whole word there:
// "execing vantor.cfg" names the cfg, "execing vantorious" another one.
bool begins_with_word(std::string_view message, std::string_view phrase) {
    if (!starts_with(message, phrase)) return false;
    const std::string_view rest = message.substr(phrase.size());
    return rest.empty() || rest[0] == ' ' || rest[0] == '\t' || rest[0] == '.';
}

// The message without any further tags in front ("[Client] [Console] ...").
std::string_view untagged(std::string_view message) {
    while (!message.empty() && message.front() == '[') {
        const std::size_t close = message.find(']');
        if (close == std::string_view::npos) break;
        message.remove_prefix(close + 1);
        if (!message.empty() && message.front() == ' ') message.remove_prefix(1);
    }
    return message;
}

}  // namespace

std::optional<RoomCommand> room_command_of(std::string_view line) {
    // CS2's own lines carry the phrase at the start of the message; in chat it
    // follows the speaker's name, so other players cannot ask for the room.
    const std::string_view message = untagged(split_console_line_view(line).message);
    if (begins_with_word(message, "execing vantor_room"))
        return RoomCommand{"exec vantor_room", true};
    // The bare word alone is the signal; "vantor_hud_toggle" is another command.
    if (starts_with(message, "Unknown command: vantor") &&
        trim(message.substr(std::string_view("Unknown command: vantor").size())).empty())
        return RoomCommand{"typed in the console", true};
    if (begins_with_word(message, "execing vantor"))
        return RoomCommand{"exec vantor", false};
    return std::nullopt;
}
