// --replay: the status blocks of an existing console.log, printed and counted.
#pragma once

#include <string>

// Parses the file at `path` (UTF-8, as typed) and prints the summary of every
// status block it completes, then the count. Returns the exit code: 0 when at
// least one block was found, 1 when there was none or the file cannot be read.
int run_replay(const std::string& path);
