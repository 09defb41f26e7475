// Small desktop programs the agent hands work to away from Windows: wl-copy,
// xclip or xsel for the clipboard, notify-send for notifications. Only the
// POSIX side has them.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// Whether the environment variable is set and not empty.
bool have_variable(const char* name);

// The first executable `name` on PATH; empty when there is none.
std::string find_program(const std::string& name);

// Runs the helper with `text` as its standard input and its output discarded,
// waiting at most 3 s.
struct HelperRun {
    bool ok = false;                // started, and exited with status 0 in time
    std::uint32_t error_code = 0;   // otherwise errno or the helper's exit status
};
HelperRun run_helper(const std::string& program, const std::vector<std::string>& args,
                     std::string_view text);
