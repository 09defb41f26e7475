// The silence watchdog's edges: the warning comes once per silence, only on a
// map, and the tick count may wrap in between.
#include "console/silence_watch.h"

#include <gtest/gtest.h>

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
