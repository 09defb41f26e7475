// --coplay-once: what Steam knows about the user, the co-play list and the
// friends, dumped into the event log.
#pragma once

struct EventLog;

// Connects to Steam, dumps the lists (debug records on), asks Steam for the
// missing names and dumps the co-play list again after a bounded wait.
// Returns the exit code: 1 without a Steam connection, else 0.
int run_coplay_once(EventLog& log);
