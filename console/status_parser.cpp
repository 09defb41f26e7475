// The status block state machine. Every line pays for one substring search
// (the block header) and, outside a block, one prefix test; the lines inside
// a block are taken apart by hand, field by field, with no length limit.
#include "console/status_parser.h"

#include <cstdint>
#include <limits>
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

// What the status lines count as blank between fields: blank, tab, line feed,
// vertical tab, form feed and carriage return (C's isspace in the "C" locale).
bool is_blank(char c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}

bool is_digit(char c) {
    return c >= '0' && c <= '9';
}

// A line is read left to right; each step takes a piece off the front.
struct Cursor {
    std::string_view rest;

    bool at_end() const { return rest.empty(); }

    // Blanks off the front; how many.
    std::size_t skip_blanks() {
        std::size_t n = 0;
        while (n < rest.size() && is_blank(rest[n])) ++n;
        rest.remove_prefix(n);
        return n;
    }
    // At least one blank, all of them.
    bool blanks() { return skip_blanks() > 0; }

    bool word(std::string_view text) {
        if (!starts_with(rest, text)) return false;
        rest.remove_prefix(text.size());
        return true;
    }
    // "name :" with blanks around the colon, and the blanks after it.
    bool key(std::string_view name) {
        if (!word(name)) return false;
        skip_blanks();
        if (!word(":")) return false;
        skip_blanks();
        return true;
    }
    bool optional(char c) {
        if (rest.empty() || rest.front() != c) return false;
        rest.remove_prefix(1);
        return true;
    }

    // The digits at the front, all of them; empty when there are none.
    std::string_view digits() {
        std::size_t n = 0;
        while (n < rest.size() && is_digit(rest[n])) ++n;
        const std::string_view taken = rest.substr(0, n);
        rest.remove_prefix(n);
        return taken;
    }
    // The bytes up to the next blank; empty at a blank or the end.
    std::string_view field() {
        std::size_t n = 0;
        while (n < rest.size() && !is_blank(rest[n])) ++n;
        const std::string_view taken = rest.substr(0, n);
        rest.remove_prefix(n);
        return taken;
    }
};

// The rest of a line as one value: neither carriage return nor line feed may
// occur in it.
bool single_line(std::string_view text) {
    return text.find_first_of("\r\n") == std::string_view::npos;
}

// The digits read as a signed 64-bit number; 0 past its range.
std::int64_t number(std::string_view digits) {
    const std::optional<std::uint64_t> value = parse_decimal(digits);
    if (!value || *value > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()))
        return 0;
    return static_cast<std::int64_t>(*value);
}

std::int32_t low_32_bits(std::int64_t value) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(value));
}

// "players : N humans, N bots (N max)", then anything: "human" and "bot" may
// go without their 's', blanks may be missing except after the first two
// numbers. Afterwards the line is searched for the hibernation note and the
// reservation.
bool read_players_line(std::string_view message, StatusBlock& block) {
    Cursor line{message};
    if (!line.key("players")) return false;
    const std::string_view humans = line.digits();
    if (humans.empty() || !line.blanks() || !line.word("human")) return false;
    line.optional('s');
    if (!line.word(",")) return false;
    line.skip_blanks();
    const std::string_view bots = line.digits();
    if (bots.empty() || !line.blanks() || !line.word("bot")) return false;
    line.optional('s');
    line.skip_blanks();
    if (!line.word("(")) return false;
    const std::string_view max_players = line.digits();
    if (max_players.empty()) return false;
    line.skip_blanks();
    if (!line.word("max)")) return false;

    block.humans = low_32_bits(number(humans));
    block.bots = low_32_bits(number(bots));
    block.max_players = low_32_bits(number(max_players));
    block.hibernating = contains(message, "hibernating") && !contains(message, "not hibernating");
    if (message.size() < kReservedMarker.size()) return true;
    const std::size_t open = message.find(kReservedMarker);
    if (open == std::string_view::npos) return true;
    const std::size_t start = open + kReservedMarker.size();
    const std::size_t close = message.find(')', start);
    if (close == std::string_view::npos) return true;
    block.reservation = std::string(message.substr(start, close - start));
    return true;
}

// "source : slot N", then anything.
bool read_source_line(std::string_view message, StatusBlock& block) {
    Cursor line{message};
    if (!line.key("source")) return false;
    if (!line.word("slot") || !line.blanks()) return false;
    const std::string_view slot = line.digits();
    if (slot.empty()) return false;
    block.source_slot = low_32_bits(number(slot));
    return true;
}

// "key : value" for one of the two keys of interest: only blanks may stand
// between the key and the colon, so "versions : x" is another key. The value,
// after the blanks that follow the colon, must hold no CR or LF.
void read_key_line(std::string_view message, std::string_view key, std::string& value) {
    Cursor line{message};
    if (!line.key(key)) return;
    if (!single_line(line.rest)) return;
    value = std::string(trim(line.rest));
}

void read_header_line(std::string_view message, StatusBlock& block) {
    if (read_source_line(message, block) || read_players_line(message, block)) return;
    read_key_line(message, "version", block.version);
    read_key_line(message, "steamid", block.server_steamid);
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

// A row: optional blanks, then id, time, ping, loss, state and rate separated
// by blanks (id, ping, loss and rate all digits), then the remainder
// "address 'name'". The rate is followed by blanks or directly by a non-digit;
// a row that ends with the rate is none. The remainder holds no CR or LF.
bool read_row(std::string_view message, StatusPlayer& player) {
    Cursor line{message};
    line.skip_blanks();
    const std::string_view id = line.digits();
    if (id.empty() || !line.blanks()) return false;
    const std::string_view time = line.field();
    if (time.empty() || !line.blanks()) return false;
    const std::string_view ping = line.digits();
    if (ping.empty() || !line.blanks()) return false;
    const std::string_view loss = line.digits();
    if (loss.empty() || !line.blanks()) return false;
    const std::string_view state = line.field();
    if (state.empty() || !line.blanks()) return false;
    const std::string_view rate = line.digits();
    if (rate.empty() || line.at_end()) return false;
    line.skip_blanks();
    if (!single_line(line.rest)) return false;

    player.id = low_32_bits(number(id));
    player.time = std::string(time);
    player.ping = low_32_bits(number(ping));
    player.loss = low_32_bits(number(loss));
    player.state = std::string(state);
    player.rate = number(rate);
    split_row_remainder(line.rest, player);
    return true;
}

void read_player_line(std::string_view message, StatusBlock& block) {
    if (message.empty()) return;
    if (starts_with(message, "id") && contains(message, "name")) return;  // column header
    StatusPlayer player;
    if (!read_row(message, player)) {
        block.server_note = std::string(message);
        return;
    }
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
    // One pass for both markers: the first line holding either.
    const std::size_t first = find_either(text, kHeaderMarker, kConnectPrefix);
    if (first == std::string_view::npos) return text.size();
    const std::size_t feed = text.rfind('\n', first);
    return feed == std::string_view::npos ? 0 : feed + 1;
}

std::optional<StatusPlayer> self_player(const StatusBlock& block) {
    if (!block.source_slot) return std::nullopt;
    for (const StatusPlayer& player : block.players) {
        if (player.id == *block.source_slot) return player;
    }
    return std::nullopt;
}
