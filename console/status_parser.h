// Turns the lines of CS2's console.log, fed one at a time in file order, into
// one StatusBlock per complete `status` block. Reads no files, keeps no clock.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "console/status_block.h"

// One console.log line taken apart, "12/06 21:14:03 [Client] message", as
// views into the line: the 14-character time prefix or empty, the text inside
// a leading [...] or empty, and the rest of the line.
struct ConsoleLineView {
    std::string_view time;
    std::string_view channel;
    std::string_view message;
};

ConsoleLineView split_console_line_view(std::string_view line);

struct StatusParser {
    bool in_block = false;
    bool in_player_section = false;
    std::int32_t lines_in_block = 0;   // lines fed since the block's header
    std::string last_connect_line;     // survives blocks and resets
    StatusBlock current;

    // Feeds one line (without its line feed; a trailing CR is allowed).
    // Returns the block that this line completed, if any.
    std::optional<StatusBlock> feed(std::string_view line);

    // Back to idle; the last connect line is kept.
    void reset();
};

// While the parser is idle, only lines holding the block header or "Client:"
// can change it. Returns where in `text` (whole lines) the first such line
// starts, or text.size() when there is none; 0 while in a block. A reader may
// skip to it and gets exactly what feeding every line would give.
std::size_t first_line_that_matters(const StatusParser& parser, std::string_view text);

// The row of the local player: the first player whose id is the block's
// source slot. None without a source line or without such a row.
std::optional<StatusPlayer> self_player(const StatusBlock& block);
