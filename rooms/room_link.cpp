#include "rooms/room_link.h"

#include "core/text.h"

namespace {

bool starts_with_ignoring_case(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() && equal_ignoring_ascii_case(text.substr(0, prefix.size()), prefix);
}

}  // namespace

std::string room_link_problem(std::string_view url) {
    if (url.empty()) return "the room link is empty";
    // A line break or a quote would end the echo line of the cfg, a semicolon
    // would start a console command the server chose.
    for (std::size_t i = 0; i < url.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(url[i]);
        if (c == '\n' || c == '\r') return "the room link holds a line break";
        if (c < 0x20 || c == 0x7F) return "the room link holds a control character";
        if (c == '"') return "the room link holds a double quote";
        if (c == ';') return "the room link holds a semicolon";
        // C1 controls (U+0080 to U+009F) are encoded as C2 80 to C2 9F.
        if (c == 0xC2 && i + 1 < url.size() && static_cast<unsigned char>(url[i + 1]) <= 0x9F &&
            static_cast<unsigned char>(url[i + 1]) >= 0x80)
            return "the room link holds a control character";
    }
    if (valid_utf8(url) != url) return "the room link is not valid UTF-8";
    std::string_view rest;
    if (starts_with_ignoring_case(url, "http://"))
        rest = url.substr(7);
    else if (starts_with_ignoring_case(url, "https://"))
        rest = url.substr(8);
    else
        return "the room link is not an http or https link";
    if (rest.empty() || rest[0] == '/' || rest[0] == '?' || rest[0] == '#')
        return "the room link has no host";
    return {};
}
