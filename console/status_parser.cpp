// The status block state machine. Every line pays for one substring search
// (the block header) and, outside a block, one prefix test; the regular
// expressions only ever see lines inside a block.
// GCC 12 reports a false "maybe uninitialized" deep inside <regex> when it
// inlines with sanitizers on; the pragma must precede every standard header.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

#include "console/status_parser.h"

#include <algorithm>
#include <limits>
#include <memory>
#include <regex>
#include <utility>

#include "console/byte_search.h"
#include "core/text.h"

namespace {

constexpr std::string_view kHeaderMarker = "----- Status -----";
constexpr std::string_view kPlayersMarker = "---------players--------";
constexpr std::string_view kEndMarker = "#end";
constexpr std::string_view kConnectPrefix = "Client:";
constexpr std::string_view kReservedMarker = "(reserved ";
constexpr std::int32_t kMaxLinesInBlock = 400;
constexpr std::int64_t kPendingSlotId = 65535;

// The standard library's regex matcher recurses once per character it
// consumes, so a long enough line overflows the stack (a few thousand
// characters on Windows' main thread). Real status lines stay under a few
// hundred bytes; longer ones are treated as matching no pattern.
constexpr std::size_t kLongestPatternText = 1024;

using ViewMatch = std::match_results<std::string_view::const_iterator>;

const std::regex& source_pattern() {
    static const std::regex pattern(R"(^source\s*:\s*slot\s+(\d+))");
    return pattern;
}

const std::regex& players_pattern() {
    static const std::regex pattern(
        R"(^players\s*:\s*(\d+)\s+humans?,\s*(\d+)\s+bots?\s*\((\d+)\s*max\))");
    return pattern;
}

const std::regex& key_pattern() {
    static const std::regex pattern(R"(^([a-z/]+)\s*:\s*(.*)$)");
    return pattern;
}

// Server consoles print a slot still connecting with its rate and address run
// together ("65535 [NoChan] 0 0 challenging      0unknown ''"), so the rate
// may be followed by a non-digit as well as by blanks. For every row with a
// blank after the rate the match is the same as with blanks alone.
const std::regex& row_pattern() {
    static const std::regex pattern(
        R"(^\s*(\d+)\s+(\S+)\s+(\d+)\s+(\d+)\s+(\S+)\s+(\d+)(?:\s+|(?=\D))(.*)$)");
    return pattern;
}

// The search patterns are anchored by '^', so only the first position can
// match; match_continuous spares the engine from trying all the others.
bool search_at_start(std::string_view text, const std::regex& pattern, ViewMatch& match) {
    return std::regex_search(text.begin(), text.end(), match, pattern,
                             std::regex_constants::match_continuous);
}

bool full_match(std::string_view text, const std::regex& pattern, ViewMatch& match) {
    return std::regex_match(text.begin(), text.end(), match, pattern);
}

std::string_view group(const ViewMatch& match, std::size_t index) {
    const auto& sub = match[index];
    if (!sub.matched) return {};
    return std::string_view(std::to_address(sub.first), static_cast<std::size_t>(sub.length()));
}

std::int32_t low_32_bits(std::int64_t value) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(value));
}

void read_players_line(std::string_view message, const ViewMatch& match, StatusBlock& block) {
    block.humans = low_32_bits(parse_integer(group(match, 1)));
    block.bots = low_32_bits(parse_integer(group(match, 2)));
    block.max_players = low_32_bits(parse_integer(group(match, 3)));
    block.hibernating = contains(message, "hibernating") && !contains(message, "not hibernating");
    if (message.size() < kReservedMarker.size()) return;
    const std::size_t open = message.find(kReservedMarker);
    if (open == std::string_view::npos) return;
    const std::size_t start = open + kReservedMarker.size();
    const std::size_t close = message.find(')', start);
    if (close == std::string_view::npos) return;
    block.reservation = std::string(message.substr(start, close - start));
}

// Each pattern begins with a literal word (or, for the keys, the two keys of
// interest are known), so lines without it are passed over before any regex.
void read_header_line(std::string_view message, StatusBlock& block) {
    if (message.size() > kLongestPatternText) return;
    ViewMatch match;
    if (starts_with(message, "source") && search_at_start(message, source_pattern(), match)) {
        block.source_slot = low_32_bits(parse_integer(group(match, 1)));
    } else if (starts_with(message, "players") &&
               search_at_start(message, players_pattern(), match)) {
        read_players_line(message, match, block);
    } else if ((starts_with(message, "version") || starts_with(message, "steamid")) &&
               full_match(message, key_pattern(), match)) {
        const std::string_view key = group(match, 1);
        if (key == "version") block.version = std::string(trim(group(match, 2)));
        if (key == "steamid") block.server_steamid = std::string(trim(group(match, 2)));
    }
}

// The row's remainder is "address 'name'": the name runs from the first to
// the last apostrophe, so a name holding one stays whole.
void split_row_remainder(std::string_view remainder, StatusPlayer& player) {
    const std::size_t first = remainder.find('\'');
    if (first == std::string_view::npos) {
        player.address = std::string(trim(remainder));
        return;
    }
    player.address = std::string(trim(remainder.substr(0, first)));
    const std::size_t last = remainder.rfind('\'');
    if (last != first) player.name = std::string(remainder.substr(first + 1, last - first - 1));
}

void read_player_line(std::string_view message, StatusBlock& block) {
    if (message.empty()) return;
    if (starts_with(message, "id") && contains(message, "name")) return;  // column header
    ViewMatch match;
    if (message.size() > kLongestPatternText || !full_match(message, row_pattern(), match)) {
        block.server_note = std::string(message);
        return;
    }
    StatusPlayer player;
    player.id = low_32_bits(parse_integer(group(match, 1)));
    player.time = std::string(group(match, 2));
    player.ping = low_32_bits(parse_integer(group(match, 3)));
    player.loss = low_32_bits(parse_integer(group(match, 4)));
    player.state = std::string(group(match, 5));
    player.rate = parse_integer(group(match, 6));
    split_row_remainder(group(match, 7), player);

    const bool pending = player.id == kPendingSlotId || player.name.empty() ||
                         player.state == "challenging";
    const bool bot = player.time == "BOT";
    ++block.rows_seen;
    if (pending) {
        ++block.pending_slots;
    } else if (bot) {
        ++block.bot_slots;
    } else {
        block.players.push_back(std::move(player));
    }
}

}  // namespace

ConsoleLineView split_console_line_view(std::string_view line) {
    ConsoleLineView view;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.size() > 15 && line[2] == '/' && line[5] == ' ' && line[8] == ':' &&
        line[11] == ':' && line[14] == ' ') {
        view.time = line.substr(0, 14);
        line.remove_prefix(15);
    }
    if (!line.empty() && line.front() == '[') {
        const std::size_t close = line.find(']');
        if (close != std::string_view::npos) {
            view.channel = line.substr(1, close - 1);
            line.remove_prefix(close + 1);
            if (!line.empty() && line.front() == ' ') line.remove_prefix(1);
        }
    }
    view.message = line;
    return view;
}

ConsoleLine split_console_line(std::string_view line) {
    const ConsoleLineView view = split_console_line_view(line);
    return ConsoleLine{std::string(view.time), std::string(view.channel),
                       std::string(view.message)};
}

void StatusParser::reset() {
    in_block = false;
    in_player_section = false;
    lines_in_block = 0;
    current = StatusBlock{};
}

std::optional<StatusBlock> StatusParser::feed(std::string_view line) {
    const ConsoleLineView split = split_console_line_view(line);
    const std::string_view message = trim(split.message);

    // A header always starts over, even inside an unfinished block.
    if (message.find(kHeaderMarker) != std::string_view::npos) {
        reset();
        in_block = true;
        current.log_time = std::string(split.time);
        current.connected_to = last_connect_line;
        return std::nullopt;
    }
    if (!in_block) {
        if (starts_with(message, kConnectPrefix) && contains(message, "Connected")) {
            last_connect_line = std::string(message);
        }
        return std::nullopt;
    }

    if (++lines_in_block > kMaxLinesInBlock) {  // a block that never ends
        reset();
        return std::nullopt;
    }
    if (message == kEndMarker) {
        std::optional<StatusBlock> done(std::move(current));
        reset();
        return done;
    }
    if (!in_player_section) {
        if (contains(message, kPlayersMarker)) {
            in_player_section = true;
        } else {
            read_header_line(message, current);
        }
    } else {
        read_player_line(message, current);
    }
    return std::nullopt;
}

std::size_t first_line_that_matters(const StatusParser& parser, std::string_view text) {
    if (parser.in_block) return 0;
    // The search runs in growing windows, so that its cost follows the
    // distance to the first hit even when one marker is everywhere and the
    // other nowhere.
    constexpr std::size_t kLargestWindow = 1 << 20;
    std::size_t window = 256;
    for (std::size_t from = 0; from < text.size();
         from += window, window = std::min(window * 2, kLargestWindow)) {
        // Markers that start inside the window may end past it.
        const std::size_t to = std::min(text.size(), from + window + kHeaderMarker.size() - 1);
        const std::string_view part = text.substr(from, to - from);
        const std::size_t header = find_bytes(part, kHeaderMarker);
        const std::size_t hit = find_bytes(part.substr(0, header), kConnectPrefix);
        const std::size_t first = hit != std::string_view::npos ? hit : header;
        if (first == std::string_view::npos) continue;
        const std::size_t feed = text.rfind('\n', from + first);
        return feed == std::string_view::npos ? 0 : feed + 1;
    }
    return text.size();
}

std::optional<StatusPlayer> self_player(const StatusBlock& block) {
    if (!block.source_slot) return std::nullopt;
    for (const StatusPlayer& player : block.players) {
        if (player.id == *block.source_slot) return player;
    }
    return std::nullopt;
}

std::int64_t parse_integer(std::string_view text) {
    std::size_t i = 0;
    const bool negative = !text.empty() && text[0] == '-';
    if (negative) i = 1;
    // The magnitude of the most negative value is one above the largest.
    const std::uint64_t limit = static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()) +
                                (negative ? 1u : 0u);
    std::uint64_t value = 0;
    bool any_digit = false;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        const auto digit = static_cast<std::uint64_t>(text[i] - '0');
        if (value > (limit - digit) / 10) return 0;  // out of range
        value = value * 10 + digit;
        any_digit = true;
    }
    if (!any_digit) return 0;
    if (negative) return value == limit ? std::numeric_limits<std::int64_t>::min()
                                        : -static_cast<std::int64_t>(value);
    return static_cast<std::int64_t>(value);
}
