// How each of the three ways of asking for the room is told apart is in
// tests/agent/main_loop_test.py; here what does not ask.
#include "console/console_commands.h"

#include <gtest/gtest.h>

// Only CS2's own lines ask: the phrase opens the message (after the time and
// the channel tag); in chat it follows the speaker's name.
TEST(RoomCommand, OnlyTheGamesOwnLinesAskForTheRoom) {
    const char* none = nullptr;
    const struct { const char* name; const char* line; const char* how; } rows[] = {
        {"exec line with time", "12/06 21:14:03 execing vantor", "exec vantor"},
        {"exec line naming the file", "[Client] execing vantor.cfg", "exec vantor"},
        {"room cfg before exec", "12/06 21:14:03 execing vantor_room", "exec vantor_room"},
        {"bare word, channel tag, CRLF", "12/06 21:14:03 [Console] Unknown command: vantor \r", "typed in the console"},
        {"two tags", "12/06 21:14:03 [Client] [Console] Unknown command: vantor", "typed in the console"},
        {"chat quoting the exec line", "12/06 21:14:03 [ALL] troll: execing vantor lol", none},
        {"chat quoting the refusal", "[ALL] troll: Unknown command: vantor", none},
        {"a longer command starting with the word", "[Console] Unknown command: vantor_hud_toggle", none},
        {"another cfg whose name starts with it", "execing vantorious", none},
        {"a player named after the phrase", "[ALL] execing vantor: gg", none},
        {"... with a clan tag", "[ALL] [CLAN] Unknown command: vantor: gg", none},
        {"case matters", "Execing vantor", none},
        {"another cfg", "execing autoexec", none},
        {"a near miss", "[Console] Unknown command: vantar", none},
        {"empty", "", none},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const std::optional<RoomCommand> command = room_command_of(row.line);
        EXPECT_EQ(command ? command->how : "no request", row.how ? row.how : "no request");
        if (command) { EXPECT_EQ(command->link_only, command->how != "exec vantor"); }
    }
}
