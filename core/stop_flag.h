// The two process-wide flags shared with the console control handler: stop
// (Ctrl+C, Ctrl+Break, console close, the tray's Exit) and finished (the run
// mode has returned; the close handler waits on it for up to 3 s).
#pragma once

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
