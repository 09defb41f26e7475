// One console.log line taken apart: the views must point into the line, in
// order, and a time prefix is the 14 bytes it claims to be. Also the room
// command test, and the line fed to a status parser at every stage of a block.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "console/console_commands.h"
#include "console/status_parser.h"

namespace {

bool inside(std::string_view part, std::string_view whole) {
    if (part.empty()) return true;
    return part.data() >= whole.data() && part.data() + part.size() <= whole.data() + whole.size();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view line(reinterpret_cast<const char*>(data), size);
    const ConsoleLineView view = split_console_line_view(line);
    if (!inside(view.time, line) || !inside(view.channel, line) || !inside(view.message, line)) std::abort();
    if (view.time.size() + view.channel.size() + view.message.size() > line.size()) std::abort();
    if (!view.time.empty() && (view.time.size() != 14 || view.time.data() != line.data())) std::abort();
    if (view.channel.find(']') != std::string_view::npos) std::abort();
    room_command_of(line);

    // The line as a header line and as a row: a block still ends on "#end".
    for (const bool row : {false, true}) {
        StatusParser parser;
        parser.feed("----- Status -----");
        if (row) parser.feed("---------players--------");
        const bool header = line.find("----- Status -----") != std::string_view::npos;
        const bool ends = parser.feed(line).has_value();
        if (!parser.feed("#end").has_value() && !ends && !header) std::abort();
    }
    return 0;
}
