// The stop and finished flags and what the console control handler does with
// each control type.
#include "core/stop_flag.h"

#include <gtest/gtest.h>

#include <csignal>
#include <thread>

#include "core/clock.h"

namespace {

TEST(StopFlag, ControlTypesBeyondCloseAreNotHandled) {
    clear_stop();
    for (unsigned long type : {3ul, 4ul, 5ul, 6ul, 100ul}) {
        EXPECT_FALSE(handle_console_control(type)) << type;
        EXPECT_FALSE(stop_requested()) << type;
    }
}

TEST(StopFlag, CtrlCAndCtrlBreakSetTheFlagAndReturnAtOnce) {
    for (unsigned long type : {0ul, 1ul}) {
        clear_stop();
        EXPECT_TRUE(handle_console_control(type));
        EXPECT_TRUE(stop_requested());
    }
    EXPECT_FALSE(run_finished());  // they never wait for the run to finish
    clear_stop();
}

// Must run after the tests above: the finished flag is never cleared.
TEST(StopFlag, CloseWaitsForTheRunToFinish) {
    clear_stop();
    std::thread run([] {
        while (!stop_requested()) sleep_ms(5);
        sleep_ms(200);  // the stop sequence
        mark_run_finished();
    });
    EXPECT_TRUE(handle_console_control(2));
    EXPECT_TRUE(run_finished());  // it returned because the run finished, not by timing out
    run.join();
    EXPECT_TRUE(handle_console_control(2));  // already finished: no wait
    clear_stop();
}

#ifndef _WIN32
TEST(StopFlag, StopSignalsSetTheFlag) {
    install_stop_handler();
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
        clear_stop();
        ASSERT_EQ(std::raise(signal), 0);
        EXPECT_TRUE(stop_requested()) << signal;
    }
    clear_stop();
}
#endif

}  // namespace
