#include "console/console_commands.h"

#include <gtest/gtest.h>

TEST(RoomCommand, ConsoleLinesThatAskForTheRoom) {
    struct Row { const char* name; const char* line; const char* how; bool link_only; };
    const Row rows[] = {
        {"exec of the room cfg is never the plain exec", "12/06 21:14:03 execing vantor_room",
         "exec vantor_room", true},
        {"the bare word typed", "[Console] Unknown command: vantor", "typed in the console", true},
        {"exec of vantor.cfg", "12/06 21:14:03 execing vantor.cfg", "exec vantor", false},
        {"another cfg", "execing autoexec", nullptr, false},
        {"case matters", "Execing vantor", nullptr, false},
        {"an empty line", "", nullptr, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const auto command = room_command_of(row.line);
        ASSERT_EQ(command.has_value(), row.how != nullptr);
        if (!command) continue;
        EXPECT_EQ(command->how, row.how);
        EXPECT_EQ(command->link_only, row.link_only);
    }
}

TEST(SilenceWatch, WarnsOncePerSilenceOnlyOnAMapAndAcrossTheTickWrap) {
    SilenceWatch watch;
    silence_reset(watch, 1000);
    EXPECT_FALSE(silence_warning_due(watch, 1000 + 59999, true));
    EXPECT_FALSE(silence_warning_due(watch, 1000 + 60000, false));   // in the menu
    EXPECT_TRUE(silence_warning_due(watch, 1000 + 60000, true));
    EXPECT_FALSE(silence_warning_due(watch, 1000 + 600000, true));   // once per silence
    silence_note_growth(watch, 0xFFFFFF00u);
    EXPECT_FALSE(silence_warning_due(watch, 59743, true));           // 59999 ms later, wrapped
    EXPECT_TRUE(silence_warning_due(watch, 59744, true));
}
