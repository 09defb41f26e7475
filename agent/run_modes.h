// The run modes the entry point and start-up hand control to.
#pragma once

struct AgentOptions;
struct Cs2Install;
struct EventLog;

// Normal run: event log, discovery, preflight, then the co-play dump or the
// main loop. Returns the process exit code.
int run_startup(const AgentOptions& options);

// The observing loop; returns 0 once the stop flag ends it.
int run_main_loop(const AgentOptions& options, const Cs2Install& install, EventLog& log);
