// --replay: runs a whole console.log through the status parser and prints the
// summary of every block it completes.
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

#include "console/status_parser.h"
#include "console/status_summary.h"
#include "core/files.h"
#include "core/options.h"
#include "core/run_modes.h"
#include "core/text.h"

namespace {
void write_out(std::FILE* stream, std::string_view text) {
    std::fwrite(text.data(), 1, text.size(), stream);
}
}  // namespace

int run_replay(const AgentOptions& options) {
    const std::string& path = options.replay_path;
    const std::optional<std::string> bytes = read_whole_file(path_from_utf8(path));
    if (!bytes) {
        write_out(stderr, "cannot read " + path + "\n");
        return 1;
    }

    StatusParser parser;
    int blocks = 0;
    const char* cursor = bytes->data();
    const char* const end = cursor + bytes->size();
    // Every piece between line feeds is a line, the one after the last too.
    for (;;) {
        const auto* feed = static_cast<const char*>(std::memchr(cursor, '\n', end - cursor));
        const char* line_end = feed ? feed : end;
        if (std::optional<StatusBlock> block = parser.feed(std::string_view(cursor, line_end - cursor))) {
            ++blocks;
            write_out(stdout, status_summary(*block) + "\n");
        }
        if (!feed) break;
        cursor = feed + 1;
    }
    write_out(stdout, std::to_string(blocks) + " status block(s) in " + path + "\n");
    return blocks > 0 ? 0 : 1;
}
