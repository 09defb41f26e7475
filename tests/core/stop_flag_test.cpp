#include "core/stop_flag.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <functional>
#include <thread>

#include "core/clock.h"

// The console control handler: Ctrl+C and Ctrl+Break stop at once, closing the console waits
// for the run to finish (the finished flag is never cleared), later types are not ours.
TEST(StopFlag, EachControlTypeAndStopSignal) {
    for (unsigned long type : {0ul, 1ul, 5ul, 6ul}) {
        clear_stop();
        EXPECT_EQ(handle_console_control(type), type < 2) << type;
        EXPECT_EQ(stop_requested(), type < 2) << type;
    }
    EXPECT_FALSE(run_finished());
    clear_stop();
    std::thread run([] {
        for (int i = 0; i < 1000 && !stop_requested(); ++i) sleep_ms(5);   // bounded: a lost stop fails, not hangs
        sleep_ms(200);   // the stop sequence
        mark_run_finished();
    });
    EXPECT_TRUE(handle_console_control(2));
    EXPECT_TRUE(run_finished());   // it returned because the run finished, not by timing out
    run.join();
#ifndef _WIN32
    install_stop_handler();
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
        clear_stop();
        ASSERT_EQ(std::raise(signal), 0);
        EXPECT_TRUE(stop_requested()) << signal;
    }
#endif
    clear_stop();
}

// The pause between passes runs its time out when nothing stops it, and ends on
// the stop itself, whichever way it comes: a wait of 30 s that returns in far
// less was woken, not timed out. A cleared stop no longer wakes anyone.
TEST(StopFlag, WaitForStopIsWokenByTheStop) {
    clear_stop();
    EXPECT_FALSE(wait_for_stop(20));
    const std::pair<const char*, std::function<void()>> ways[] = {
        {"the tray's Exit", [] { request_stop(); }},
        {"Ctrl+C", [] { handle_console_control(0); }},
#ifndef _WIN32
        {"SIGTERM", [] { install_stop_handler(); std::raise(SIGTERM); }},
#endif
    };
    for (const auto& [name, stop] : ways) {
        clear_stop();
        std::thread stopper([&stop] { sleep_ms(50); stop(); });
        const auto began = std::chrono::steady_clock::now();
        EXPECT_TRUE(wait_for_stop(30000)) << name;
        EXPECT_LT(std::chrono::steady_clock::now() - began, std::chrono::seconds(15)) << name;
        stopper.join();
        EXPECT_TRUE(wait_for_stop(30000)) << name;   // still set: no wait at all
        clear_stop();
        EXPECT_FALSE(wait_for_stop(20)) << name;
    }
}
