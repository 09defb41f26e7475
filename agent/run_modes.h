// The run modes the entry point and start-up hand control to.
#pragma once

#include <filesystem>

struct AgentOptions;
struct Cs2Install;
struct EventLog;

// Normal run: event log, discovery, preflight, then the co-play dump or the
// main loop. Returns the process exit code.
int run_startup(const AgentOptions& options);

// --autostart on|off: writes or removes the autostart entry, with one record
// in a log of its own. 0 when done, 1 when the entry could not be changed.
int run_autostart(const AgentOptions& options);

// Where the run's agent-*.jsonl goes: --log-dir, else the data folder's
// "logs", else "logs" here.
std::filesystem::path event_log_folder(const AgentOptions& options);

// The observing loop; returns 0 once the stop flag ends it.
int run_main_loop(const AgentOptions& options, const Cs2Install& install, EventLog& log);
