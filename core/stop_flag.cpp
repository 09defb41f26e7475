// The stop and finished flags. Both are touched from the console control
// handler's thread (or a signal handler), so they are lock-free atomics and
// nothing else; the stop also raises the platform's wake-up for its waiters.
#include "core/stop_flag.h"

#include <atomic>

#include "core/clock.h"

namespace {
std::atomic<bool> g_stop{false};
std::atomic<bool> g_finished{false};
static_assert(std::atomic<bool>::is_always_lock_free, "the flags are set from a signal handler");

constexpr unsigned long kCtrlBreak = 1;
constexpr unsigned long kClose = 2;
}  // namespace

bool stop_requested() { return g_stop.load(); }
void request_stop() {
    g_stop.exchange(true);
    stop_wake_raise();   // after the flag: a woken waiter must find it set
}
void clear_stop() {
    g_stop.exchange(false);
    stop_wake_clear();
}
bool run_finished() { return g_finished.load(); }
void mark_run_finished() { g_finished.exchange(true); }

bool handle_console_control(unsigned long type) {
    if (type > kClose) return false;  // log-off, shut-down: not ours to handle
    request_stop();
    if (type <= kCtrlBreak) return true;
    // The console is closing: the system ends the process once we return, so
    // give the main loop up to 3 s to finish its stop sequence.
    for (int i = 0; i < 60 && !run_finished(); ++i) sleep_ms(50);
    return true;
}

bool wait_for_stop(std::uint32_t ms) {
    if (!stop_requested()) stop_wake_wait(ms);
    return stop_requested();
}
