// console.log text, cut into lines the way the tail does, fed to one status
// parser; every block it completes is summarised as the main loop would.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "console/status_parser.h"
#include "console/status_summary.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    StatusParser parser;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        const std::string_view line = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        if (std::optional<StatusBlock> block = parser.feed(line)) {
            self_player(*block);
            status_summary(*block);
            status_json(*block).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
            if (block->players.size() > static_cast<std::size_t>(block->rows_seen)) std::abort();
            if (block->rows_seen != static_cast<std::int32_t>(block->players.size()) +
                                        block->pending_slots + block->bot_slots) std::abort();
        }
        if (line.size() % 97 == 0) parser.reset();
    }
    return 0;
}
