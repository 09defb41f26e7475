#include "console/console_commands.h"

#include <gtest/gtest.h>

TEST(RoomCommand, PhrasesAreTestedInOrderOnTheRawLine) {
    auto room = room_command_of("12/06 21:14:03 execing vantor_room");
    ASSERT_TRUE(room);
    EXPECT_EQ(room->how, "exec vantor_room");   // never "exec vantor"
    EXPECT_TRUE(room->link_only);

    auto typed = room_command_of("[Console] Unknown command: vantor");
    ASSERT_TRUE(typed);
    EXPECT_EQ(typed->how, "typed in the console");
    EXPECT_TRUE(typed->link_only);

    auto exec = room_command_of("12/06 21:14:03 execing vantor.cfg");
    ASSERT_TRUE(exec);
    EXPECT_EQ(exec->how, "exec vantor");
    EXPECT_FALSE(exec->link_only);

    EXPECT_FALSE(room_command_of("execing autoexec"));
    EXPECT_FALSE(room_command_of("Execing vantor"));   // case matters
    EXPECT_FALSE(room_command_of(""));
}

TEST(SilenceWatch, WarnsOncePerSilenceAndOnlyOnAMap) {
    SilenceWatch watch;
    silence_reset(watch, 1000);
    EXPECT_FALSE(silence_warning_due(watch, 1000 + 59999, true));
    EXPECT_FALSE(silence_warning_due(watch, 1000 + 60000, false));   // in the menu
    EXPECT_TRUE(silence_warning_due(watch, 1000 + 60000, true));
    EXPECT_FALSE(silence_warning_due(watch, 1000 + 600000, true));   // once per silence
    silence_note_growth(watch, 700000);
    EXPECT_FALSE(silence_warning_due(watch, 759999, true));
    EXPECT_TRUE(silence_warning_due(watch, 760000, true));
}

TEST(SilenceWatch, SurvivesTheTickCountWrap) {
    SilenceWatch watch;
    silence_reset(watch, 0xFFFFFF00u);
    EXPECT_FALSE(silence_warning_due(watch, 1000, true));   // 1256 ms later
    EXPECT_TRUE(silence_warning_due(watch, 60000, true));
}
