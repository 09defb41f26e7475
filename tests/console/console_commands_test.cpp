// How each of the three ways of asking for the room is told apart is in
// tests/agent/main_loop_test.py; here what does not ask, and the silence
// watchdog's edges.
#include "console/console_commands.h"

#include <gtest/gtest.h>

TEST(RoomCommand, OtherLinesDoNotAskForTheRoom) {
    for (const char* line : {"execing autoexec", "Execing vantor", "[Console] Unknown command: vantar", ""})
        EXPECT_FALSE(room_command_of(line).has_value()) << line;
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
