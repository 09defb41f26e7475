#include "rooms/room_link.h"

#include "core/text.h"

namespace {

bool starts_with_ignoring_case(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() && equal_ignoring_ascii_case(text.substr(0, prefix.size()), prefix);
}

}  // namespace

std::string room_link_problem(std::string_view url) {
    if (url.empty()) return "the room link is empty";
    // A line break or a quote would end the echo line of the cfg (or forge a
    // line on the terminal), a semicolon would start a console command the
    // server chose, a blank would split the link where it is handed on.
    for (const char ch : url) {
        const auto c = static_cast<unsigned char>(ch);
        if (c == '\n' || c == '\r') return "the room link holds a line break";
        if (c < 0x20 || c == 0x7F) return "the room link holds a control character";
        if (c == ' ') return "the room link holds a blank";
        if (c == '"') return "the room link holds a double quote";
        if (c == '\'' || c == '`') return "the room link holds a quote";
        if (c == ';') return "the room link holds a semicolon";
        if (c == '\\' || c == '<' || c == '>') return "the room link holds a character links never hold";
        // Beyond ASCII hide C1 controls, invisible blanks and the bidi
        // characters that reorder a terminal line; the service's links are
        // ASCII (a foreign host name comes as xn--).
        if (c >= 0x80) return "the room link holds a character outside ASCII";
    }
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
