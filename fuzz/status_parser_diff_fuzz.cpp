// Differential fuzzing of the status parser: the regex parser it replaced
// (copied here as it stood, under other names) and the current one are fed
// the same lines and must agree on every block, every state between lines
// and where a reader may skip to. Lines longer than the old parser's cap
// (1,024 bytes of message) are left out, since the old one dropped them.
// Kept in the history only: removed once the two agreed.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <memory>
#include <optional>
#include <regex>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "console/byte_search.h"
#include "console/status_parser.h"
#include "console/status_summary.h"
#include "core/text.h"

struct OldStatusParser {
    bool in_block = false;
    bool in_player_section = false;
    std::int32_t lines_in_block = 0;
    std::string last_connect_line;
    StatusBlock current;
    std::optional<StatusBlock> feed(std::string_view line);
    void reset();
};
std::int64_t old_parse_integer(std::string_view text);

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
    block.humans = low_32_bits(old_parse_integer(group(match, 1)));
    block.bots = low_32_bits(old_parse_integer(group(match, 2)));
    block.max_players = low_32_bits(old_parse_integer(group(match, 3)));
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
        block.source_slot = low_32_bits(old_parse_integer(group(match, 1)));
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
    player.id = low_32_bits(old_parse_integer(group(match, 1)));
    player.time = std::string(group(match, 2));
    player.ping = low_32_bits(old_parse_integer(group(match, 3)));
    player.loss = low_32_bits(old_parse_integer(group(match, 4)));
    player.state = std::string(group(match, 5));
    player.rate = old_parse_integer(group(match, 6));
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

void OldStatusParser::reset() {
    in_block = false;
    in_player_section = false;
    lines_in_block = 0;
    current = StatusBlock{};
}

std::optional<StatusBlock> OldStatusParser::feed(std::string_view line) {
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

std::size_t old_first_line_that_matters(const OldStatusParser& parser, std::string_view text) {
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

std::optional<StatusPlayer> old_self_player(const StatusBlock& block) {
    if (!block.source_slot) return std::nullopt;
    for (const StatusPlayer& player : block.players) {
        if (player.id == *block.source_slot) return player;
    }
    return std::nullopt;
}

std::int64_t old_parse_integer(std::string_view text) {
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

namespace {

bool same_player(const StatusPlayer& a, const StatusPlayer& b) {
    return a.id == b.id && a.time == b.time && a.ping == b.ping && a.loss == b.loss &&
           a.state == b.state && a.rate == b.rate && a.address == b.address && a.name == b.name;
}

bool same_block(const StatusBlock& a, const StatusBlock& b) {
    if (a.players.size() != b.players.size()) return false;
    for (std::size_t i = 0; i < a.players.size(); ++i)
        if (!same_player(a.players[i], b.players[i])) return false;
    return a.log_time == b.log_time && a.source_slot == b.source_slot && a.version == b.version &&
           a.server_steamid == b.server_steamid && a.connected_to == b.connected_to &&
           a.server_note == b.server_note && a.humans == b.humans && a.bots == b.bots &&
           a.max_players == b.max_players && a.hibernating == b.hibernating &&
           a.reservation == b.reservation && a.pending_slots == b.pending_slots &&
           a.bot_slots == b.bot_slots && a.rows_seen == b.rows_seen;
}

[[noreturn]] void differ(const char* what, std::string_view line) {
    std::fprintf(stderr, "status parsers differ (%s) on line [%.*s]\n", what,
                 static_cast<int>(std::min<std::size_t>(line.size(), 2000)), line.data());
    std::abort();
}

void compare(const StatusParser& now, const OldStatusParser& old, std::string_view line) {
    if (now.in_block != old.in_block || now.in_player_section != old.in_player_section ||
        now.lines_in_block != old.lines_in_block || now.last_connect_line != old.last_connect_line)
        differ("state", line);
    if (!same_block(now.current, old.current)) differ("block so far", line);
}

void feed_both(StatusParser& now, OldStatusParser& old, std::string_view line) {
    const std::optional<StatusBlock> a = now.feed(line);
    const std::optional<StatusBlock> b = old.feed(line);
    if (a.has_value() != b.has_value()) differ("block done", line);
    if (a && !same_block(*a, *b)) differ("block", line);
    if (a && (self_player(*a).has_value() != old_self_player(*b).has_value() ||
              status_summary(*a) != status_summary(*b)))
        differ("summary", line);
    compare(now, old, line);
}

constexpr std::size_t kOldCap = 1024;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    std::vector<std::string_view> lines;
    for (std::string_view rest = text; !rest.empty();) {
        const std::size_t end = rest.find('\n');
        const std::string_view line = rest.substr(0, end);
        if (trim(split_console_line_view(line).message).size() > kOldCap) return 0;
        lines.push_back(line);
        rest.remove_prefix(end == std::string_view::npos ? rest.size() : end + 1);
    }

    // The lines in order, as console.log gives them.
    {
        StatusParser now;
        OldStatusParser old;
        for (const std::string_view line : lines) feed_both(now, old, line);
    }
    // Each line alone as a header line and as a row of a fresh block, so that
    // the fuzzer reaches the line readers at once.
    for (const std::string_view line : lines) {
        for (const bool row : {false, true}) {
            StatusParser now;
            OldStatusParser old;
            feed_both(now, old, "----- Status -----");
            if (row) feed_both(now, old, "---------players--------");
            feed_both(now, old, line);
            feed_both(now, old, "#end");
        }
    }
    // The same lines with CR LF ends; and where a reader may skip to.
    {
        StatusParser now;
        OldStatusParser old;
        for (const std::string_view line : lines) feed_both(now, old, std::string(line) + "\r");
        if (first_line_that_matters(now, text) != old_first_line_that_matters(old, text))
            differ("first line that matters", text.substr(0, 200));
    }
    // Fixed-width numbers the fuzzer finds slowly: digits beyond 64 bits.
    if (!lines.empty()) {
        const std::string digits(lines[0].size() % 40 + 1, static_cast<char>('0' + lines[0].size() % 10));
        StatusParser now;
        OldStatusParser old;
        feed_both(now, old, "----- Status -----");
        feed_both(now, old, "source : slot " + digits);
        feed_both(now, old, "players : " + digits + " humans, " + digits + " bots (" + digits + " max)");
        feed_both(now, old, "---------players--------");
        feed_both(now, old, digits + " 00:01 " + digits + " " + digits + " active " + digits + " 'n'");
        feed_both(now, old, "#end");
    }
    return 0;
}
