// The room API's answer to POST /v1/matches, read as post_room reads it.
// Whatever the answer, a link that passes the check must give a room cfg of
// the six lines the game expects, with the link inside the echo quotes and
// nothing the console would run as a command; a link that fails the check
// is never written.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "rooms/room_creation.h"
#include "rooms/room_link.h"
#include "rooms/room_persistence.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const RoomAnswer answer = read_room_answer(std::string_view(reinterpret_cast<const char*>(data), size));
    if (!room_link_is_safe(answer.url)) return 0;

    const std::string text = room_cfg_text(answer.url);
    std::size_t lines = 0, quotes = 0;
    for (char c : text) {
        lines += c == '\n';
        quotes += c == '"';
        if (c == '\r' || c == ';' || c == '\0') std::abort();
    }
    if (lines != 6 || quotes != 6 || text.find(answer.url) == std::string::npos) std::abort();
    return 0;
}
