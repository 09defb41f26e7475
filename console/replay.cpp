// --replay: runs a whole console.log through the status parser and prints the
// summary of every block it completes.
//
// The file is streamed in chunks rather than read into memory at once: the
// same lines reach the parser, but a log of any size fits, and the replay keeps
// up with the disk instead of waiting on page faults for one huge buffer.
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

#include "console/console_tail.h"
#include "console/status_parser.h"
#include "console/status_summary.h"
#include "core/options.h"
#include "core/run_modes.h"
#include "core/text.h"

namespace {

constexpr std::size_t kReplayChunk = 1 << 20;

void write_out(std::FILE* stream, std::string_view text) {
    std::fwrite(text.data(), 1, text.size(), stream);
}

struct ReplayCount {
    int blocks = 0;
};

void feed_line(StatusParser& parser, std::string_view line, ReplayCount& count) {
    if (std::optional<StatusBlock> block = parser.feed(line)) {
        ++count.blocks;
        write_out(stdout, status_summary(*block) + "\n");
    }
}

// Feeds every complete line of `buffer` and drops it, keeping the bytes after
// the last line feed. `scanned` is how much of the kept part holds no line
// feed, so a very long line is not searched again with every chunk.
void feed_complete_lines(StatusParser& parser, std::string& buffer, std::size_t& scanned,
                         ReplayCount& count) {
    const char* const begin = buffer.data();
    const char* const end = begin + buffer.size();
    const char* line = begin;
    const char* search = begin + scanned;
    while (const auto* feed = static_cast<const char*>(std::memchr(search, '\n', end - search))) {
        feed_line(parser, std::string_view(line, feed - line), count);
        line = search = feed + 1;
    }
    buffer.erase(0, static_cast<std::size_t>(line - begin));
    scanned = buffer.size();
}

}  // namespace

int run_replay(const AgentOptions& options) {
    const std::string& path = options.replay_path;
    SharedFile file;
    if (!shared_file_open(file, path_from_utf8(path))) {
        write_out(stderr, "cannot read " + path + "\n");
        return 1;
    }

    StatusParser parser;
    ReplayCount count;
    std::string buffer;
    std::size_t scanned = 0;
    std::uint64_t offset = 0;
    bool read_ok = true;
    for (;;) {
        const std::size_t before = buffer.size();
        if (!shared_file_read(file, offset, kReplayChunk, buffer)) {
            read_ok = false;
            break;
        }
        if (buffer.size() == before) break;  // end of file
        offset += buffer.size() - before;
        feed_complete_lines(parser, buffer, scanned, count);
    }
    shared_file_close(file);
    if (!read_ok) {
        write_out(stderr, "cannot read " + path + "\n");
        return 1;
    }
    // The piece after the last line feed is a line too, even when empty.
    feed_line(parser, buffer, count);
    write_out(stdout, std::to_string(count.blocks) + " status block(s) in " + path + "\n");
    return count.blocks > 0 ? 0 : 1;
}
