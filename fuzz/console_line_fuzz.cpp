// One console.log line taken apart: the owned and the view split must agree,
// and the views must point into the line. Also the room command test.
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
    const ConsoleLine owned = split_console_line(line);
    if (!inside(view.time, line) || !inside(view.channel, line) || !inside(view.message, line)) std::abort();
    if (owned.time != view.time || owned.channel != view.channel || owned.message != view.message) std::abort();
    if (view.time.size() + view.channel.size() + view.message.size() > line.size()) std::abort();
    room_command_of(line);
    return 0;
}
