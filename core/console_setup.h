// Preparing the process's console and command line so that all text is UTF-8.
#pragma once

#include <string>
#include <vector>

// Everything the program prints is UTF-8 (code page 65001 on Windows; nothing
// to do elsewhere).
void use_utf8_console();

// The command-line arguments as UTF-8, argv[0] included. On Windows the C
// runtime's argv is in the ANSI code page, which mangles names it cannot hold,
// so the arguments are taken from the wide command line instead.
std::vector<std::string> utf8_arguments(int argc, char** argv);

// A console whose reader went away (vantor-agent | head, a closed pager) must
// not end the run: SIGPIPE is ignored on POSIX and a failed write is simply
// lost. Nothing to do on Windows.
void survive_closed_console();
