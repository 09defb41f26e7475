// --replay: runs a whole console.log through the status parser and prints the
// summary of every block it completes.
//
// The file is streamed in chunks rather than read into memory at once: the
// same lines reach the parser, but a log of any size fits, and the replay keeps
// up with the disk instead of waiting on page faults for one huge buffer.
// Stretches that cannot change an idle parser are skipped unread.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

#include "console/replay.h"
#include "console/shared_file.h"
#include "console/status_parser.h"
#include "console/status_summary.h"
#include "core/text.h"

namespace {

constexpr std::size_t kReplayChunk = 1 << 20;

void write_out(std::FILE* stream, std::string_view text) {
    std::fwrite(text.data(), 1, text.size(), stream);
}

void feed_line(StatusParser& parser, std::string_view line, int& blocks) {
    if (std::optional<StatusBlock> block = parser.feed(line)) {
        ++blocks;
        write_out(stdout, printable_text(status_summary(*block)) + "\n");
    }
}

// Feeds the complete lines of buffer[0, used) and moves the bytes after the
// last line feed to the front; returns how many there are. Bytes before
// `fresh` are a kept partial line, known to hold no line feed, so a very long
// line is not searched again each time.
std::size_t feed_complete_lines(StatusParser& parser, std::string& buffer, std::size_t used,
                                std::size_t fresh, int& blocks) {
    const std::string_view filled = std::string_view(buffer).substr(0, used);
    const std::size_t last_feed = filled.substr(fresh).rfind('\n');
    if (last_feed == std::string_view::npos) return used;
    const std::string_view lines = filled.substr(0, fresh + last_feed + 1);
    std::size_t at = 0;
    while (at < lines.size()) {
        at += first_line_that_matters(parser, lines.substr(at));
        if (at >= lines.size()) break;
        const std::size_t feed = lines.find('\n', at);
        feed_line(parser, lines.substr(at, feed - at), blocks);
        at = feed + 1;
    }
    const std::size_t kept = used - lines.size();
    std::memmove(buffer.data(), buffer.data() + lines.size(), kept);
    return kept;
}

}  // namespace

int run_replay(const std::string& path) {
    SharedFile file;
    if (shared_file_open(file, path_from_utf8(path)) != SharedOpen::opened) {
        write_out(stderr, "cannot read " + path + "\n");
        return 1;
    }

    StatusParser parser;
    int blocks = 0;
    // The buffer only grows (a line longer than a chunk makes it grow), so
    // each read goes into memory already there; buffer[0, used) is filled.
    std::string buffer(kReplayChunk, '\0');
    std::size_t used = 0;
    std::uint64_t offset = 0;
    bool read_ok = true;
    for (;;) {
        if (buffer.size() - used < kReplayChunk) buffer.resize(used + kReplayChunk);
        std::size_t got = 0;
        if (!shared_file_read_into(file, offset, buffer.data() + used, kReplayChunk, got)) {
            read_ok = false;
            break;
        }
        if (got == 0) break;  // end of file
        offset += got;
        used = feed_complete_lines(parser, buffer, used + got, used, blocks);
    }
    shared_file_close(file);
    if (!read_ok) {
        write_out(stderr, "cannot read " + path + "\n");
        return 1;
    }
    // The piece after the last line feed is a line too, even when empty.
    feed_line(parser, std::string_view(buffer).substr(0, used), blocks);
    write_out(stdout, std::to_string(blocks) + " status block(s) in " + path + "\n");
    return blocks > 0 ? 0 : 1;
}
