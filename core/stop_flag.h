// The two process-wide flags shared with the console control handler: stop
// (Ctrl+C, Ctrl+Break, console close, the tray's Exit) and finished (the run
// mode has returned; the close handler waits on it for up to 3 s).
#pragma once

#include <cstdint>

bool stop_requested();
void request_stop();
void clear_stop();          // for tests that run the loop more than once
bool run_finished();
void mark_run_finished();

// Installs the console control handler (SIGINT/SIGTERM/SIGHUP on POSIX).
void install_stop_handler();

// What the console control handler does with control type `type` (0 Ctrl+C,
// 1 Ctrl+Break, 2 close; 3 and above are log-off, shut-down and reserved).
// Returns whether the event was handled. For close it waits up to 3 s for the
// finished flag, so the stop sequence can complete before the process dies.
bool handle_console_control(unsigned long type);

// Waits at most `ms` for the stop flag, woken by the stop itself rather than
// by looking at the flag now and then; whether the flag is set.
bool wait_for_stop(std::uint32_t ms);

// The platform part of the stop's wake-up (a self-pipe on POSIX, an event on
// Windows): raised by request_stop, also from a signal handler, so raising
// is async-signal-safe; it stays raised until cleared.
void stop_wake_raise();
void stop_wake_clear();
void stop_wake_wait(std::uint32_t ms);   // returns early once raised
