// Follows CS2's console.log the way `tail -f` does. The file is opened and
// closed on every poll and shared for reading, writing and deleting, so CS2
// can truncate, delete or recreate it at any time. A file that became shorter
// than what was read has been replaced (a new CS2 session) and is read again
// from its first byte.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "console/shared_file.h"

// At most this much is read per poll; a larger backlog takes several polls.
inline constexpr std::size_t kTailReadCap = 4194304;

// At most this many lines are handed out per poll; the rest of what was read
// stays in `partial_line` and comes out on the following polls, before the
// file is read again. So a pass holds a bounded number of lines however short
// they are (8 MiB of bare line feeds would otherwise be millions of strings).
inline constexpr std::size_t kTailLinesPerPoll = 65536;

// A line still waiting for its line feed keeps at most this many bytes; the
// rest of an endless line (a file of binary junk) is dropped, so memory stays
// bounded. Real console lines are a few hundred bytes.
inline constexpr std::size_t kTailLineCap = 1048576;

struct ConsoleTail {
    std::filesystem::path path;
    std::uint64_t offset = 0;     // everything before it has been read
    std::string partial_line;     // bytes read but not yet handed out as lines

    // Remembers the path and, unless from_start, starts at the file's current
    // end. When the file cannot be opened, or is not a regular file (a FIFO
    // or a device would block or never end), polling starts at byte 0 once a
    // readable file is there.
    SharedOpen open(const std::filesystem::path& file, bool from_start);

    // Appends the complete new lines (without line feed, one trailing carriage
    // return dropped) in file order, at most kTailLinesPerPoll; sets
    // `restarted` when the file was replaced. False when the file could not be
    // read this time.
    bool poll(std::vector<std::string>& lines, bool& restarted);
};
