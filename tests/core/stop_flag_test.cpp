// The stop and finished flags and what the console control handler does with
// each control type.
#include "core/stop_flag.h"

#include <gtest/gtest.h>

#include <csignal>
#include <thread>

#include "core/clock.h"

namespace {

TEST(StopFlag, CtrlCAndCtrlBreakStopAtOnceLaterControlTypesAreNotOurs) {
    struct Row { const char* name; unsigned long type; bool handled_and_stopped; };
    const Row rows[] = {{"Ctrl+C", 0, true},   {"Ctrl+Break", 1, true}, {"log-off", 5, false},
                        {"shut-down", 6, false}, {"unknown", 100, false}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        clear_stop();
        EXPECT_EQ(handle_console_control(row.type), row.handled_and_stopped);
        EXPECT_EQ(stop_requested(), row.handled_and_stopped);
    }
    EXPECT_FALSE(run_finished());   // Ctrl+C never waits for the run to finish
    clear_stop();
}

// Must run after the test above: the finished flag is never cleared.
TEST(StopFlag, CloseWaitsForTheRunToFinish) {
    clear_stop();
    std::thread run([] {
        while (!stop_requested()) sleep_ms(5);
        sleep_ms(200);   // the stop sequence
        mark_run_finished();
    });
    EXPECT_TRUE(handle_console_control(2));
    EXPECT_TRUE(run_finished());   // it returned because the run finished, not by timing out
    run.join();
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
