// The status block state machine, fed the way console.log delivers lines.
#include "console/status_parser.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "console/status_summary.h"

namespace {

using Lines = std::vector<std::string>;

// A block as CS2 prints it into console.log with -condebug.
Lines sample_block() {
    const Lines bare = {
        "----- Status -----",
        "Server:  Running [172.18.0.2:27015]",
        "Client:  Connected to server",
        "source   : slot 2",
        "version  : 1.40.4.6/14046 9842 secure  public",
        "steamid  : [A:1:3954317314:28821] (90195584187195394)",
        "udp/ip   : 172.18.0.2:27015",
        "players  : 3 humans, 1 bot (10 max) (not hibernating) (reserved 1:2:3:4)",
        "---------players--------",
        "  id     time ping loss      state   rate adr name",
        "65535 [NoChan]    0    0 challenging      0 ''",
        "   1    03:12    4    0     active 786432 172.18.0.1:37738 ':umbrella2:\xF0\x9D\x9F\x95\xF0\x9D\x90\x9E'",
        "   2    01:59    3    0     active 786432 'Shaikh Kebab'",
        "   3      BOT    0    0     active      0 'Vitaliy'",
        "   4    00:41   12    1     active 786432 10.0.0.7:27005 'O'Brien '",
        "#end",
    };
    Lines lines;
    for (const std::string& line : bare) lines.push_back("12/06 21:14:03 [Client] " + line);
    return lines;
}

// The blocks these lines make, fed in order to one parser.
std::vector<StatusBlock> feed_all(const Lines& lines) {
    StatusParser parser;
    std::vector<StatusBlock> blocks;
    for (const std::string& line : lines)
        if (std::optional<StatusBlock> block = parser.feed(line)) blocks.push_back(std::move(*block));
    return blocks;
}

StatusBlock only_block(const Lines& lines) {
    std::vector<StatusBlock> blocks = feed_all(lines);
    EXPECT_EQ(blocks.size(), 1u);
    return blocks.empty() ? StatusBlock{} : blocks.front();
}

TEST(StatusParser, ReadsEveryFieldOfARealisticBlock) {
    Lines lines = sample_block();
    lines.insert(lines.begin(), "12/06 21:13:58 [Client] Client: Connected to 172.18.0.2:27015");
    // Rows with and without an address; an inner apostrophe and a trailing blank kept; self from "source".
    const nlohmann::json expected = nlohmann::json::parse(R"j({"bot_slots":1,"bots":1,
        "connected_to":"Client: Connected to 172.18.0.2:27015","hibernating":false,"humans":3,
        "log_time":"12/06 21:14:03","max_players":10,"pending_slots":1,"players":[
        {"address":"172.18.0.1:37738","id":1,"loss":0,"name":":umbrella2:\ud835\udfd5\ud835\udc1e","ping":4,
         "rate":786432,"state":"active","time":"03:12"},
        {"address":"","id":2,"loss":0,"name":"Shaikh Kebab","ping":3,"rate":786432,"state":"active","time":"01:59"},
        {"address":"10.0.0.7:27005","id":4,"loss":1,"name":"O'Brien ","ping":12,"rate":786432,"state":"active",
         "time":"00:41"}],"reservation":"1:2:3:4","rows_seen":5,"self_name":"Shaikh Kebab","server_note":"",
        "server_steamid":"[A:1:3954317314:28821] (90195584187195394)","source_slot":2,
        "version":"1.40.4.6/14046 9842 secure  public"})j");
    EXPECT_EQ(status_json(only_block(lines)), expected);
    for (std::string& line : lines) line += "\r";   // the same lines with CR LF give the same block
    EXPECT_EQ(status_json(only_block(lines)), expected);
}

TEST(StatusParser, ReadsThePlayersLine) {
    struct Row { const char* name; std::string line; int humans, bots, max; bool hibernating; std::string reservation; };
    const Row rows[] = {
        {"hibernating, no reservation", "players  : 3 humans, 1 bot (10 max) (hibernating)", 3, 1, 10, true, ""},
        {"singular and plural", "players : 1 human, 2 bots (64 max) (not hibernating) (reserved 5:6)", 1, 2, 64, false, "5:6"},
        {"no blanks, unclosed reservation", "players:0 humans,0 bots(0 max)(reserved abc", 0, 0, 0, false, ""},
        {"the first reservation counts", "players : 10 humans, 0 bots (10 max) x (reserved x y) (reserved z)", 10, 0, 10, false, "x y"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const StatusBlock block = only_block({"----- Status -----", row.line, "#end"});
        EXPECT_EQ((std::vector<int>{block.humans, block.bots, block.max_players, block.hibernating}),
                  (std::vector<int>{row.humans, row.bots, row.max, row.hibernating}));
        EXPECT_EQ(block.reservation, row.reservation);
    }
    // An unclosed "(reserved " keeps the reservation of an earlier players line.
    EXPECT_EQ(only_block({"----- Status -----", "players : 1 human, 0 bots (10 max) (reserved 7:8)",
                          "players : 2 humans, 0 bots (10 max) (reserved 9:9", "#end"}).reservation, "7:8");
}

// Each row alone in a block: a player (name/ping), a pending slot, a bot, or the
// block's note (the last unreadable line that is not blank).
TEST(StatusParser, SortsRowsIntoPlayersPendingSlotsBotsAndNotes) {
    struct Row { const char* name; std::string row; const char* kind; std::string what = ""; };
    const Row rows[] = {
        {"a player", "11 00:21 5 0 active 786432 'ok'", "player", "ok/5"},
        {"a slot not yet taken", "65535 [NoChan] 0 0 challenging 0 ''", "pending"},
        {"an empty name", "7 00:20 5 0 active 786432 ''", "pending"},
        {"a player still connecting", "8 00:20 5 0 challenging 786432 'joining'", "pending"},
        {"a bot", "9 BOT 0 0 active 0 'Bot Ringo'", "bot"},
        {"not a row", "not a row either", "note", "not a row either"},
        {"the column header", "  id     time ping loss      state   rate adr name", "none"},
        {"a row of 1024 bytes", "1 00:10 0 0 active 1 '" + std::string(1001, 'n') + "'", "player",
         std::string(1001, 'n') + "/0"},
        // Rows longer than 1024 bytes were notes while a regex read them; now they are rows like any other.
        {"a row of 1025 bytes", "1 00:10 0 0 active 1 '" + std::string(1002, 'n') + "'", "player",
         std::string(1002, 'n') + "/0"},
        {"a 5,000-byte name", "1 00:10 7 0 active 1 1.2.3.4:5 '" + std::string(5000, 'n') + "'", "player",
         std::string(5000, 'n') + "/7"},
        {"a 100 KB row", "1 00:10 7 0 active 1 '" + std::string(100000, '\'') + "'", "player",
         std::string(100000, '\'') + "/7"},
        {"a 100 KB line that is no row", std::string(100000, 'x'), "note", std::string(100000, 'x')},
        // The blanks between fields are any of blank, tab, LF, VT, FF and CR, as many as there are.
        {"tabs", "11\t00:21\t5\t0\tactive\t786432\t'ok'", "player", "ok/5"},
        {"vertical tab and form feed", "11\v00:21\f5\f\v0 active 786432\v'ok'", "player", "ok/5"},
        {"several blanks", "   11    00:21  \t 5     0   active  786432    'ok'", "player", "ok/5"},
        {"a CR at the end", "11 00:21 5 0 active 786432 'ok'\r", "player", "ok/5"},
        {"CR and LF between fields", "11\r00:21\n5 0 active 786432\r\n'ok'", "player", "ok/5"},
        {"a leading vertical tab", "\v11 00:21 5 0 active 786432 'ok'", "player", "ok/5"},
        {"a CR inside the name", "11 00:21 5 0 active 786432 'o\rk'", "note", "11 00:21 5 0 active 786432 'o\rk'"},
        {"a name after a vertical tab and CR", "11 00:21 5 0 active 786432 \v\r'ok'", "player", "ok/5"},
        {"the rate run into the address", "65535 [NoChan] 0 0 challenging      0unknown ''", "pending"},
        {"the rate run into the name", "11 00:21 5 0 active 786432'ok'", "player", "ok/5"},
        {"a row that ends with the rate", "11 00:21 5 0 active 786432", "note", "11 00:21 5 0 active 786432"},
        {"a row that ends with the rate and a vertical tab", "11 00:21 5 0 active 786432\v", "pending"},
        {"a letter in the ping", "11 00:21 5x 0 active 786432 'ok'", "note", "11 00:21 5x 0 active 786432 'ok'"},
        {"no name at all", "11 00:21 5 0 active 786432 1.2.3.4:5", "pending"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const StatusBlock block = only_block({"----- Status -----", "---------players--------", row.row, "#end"});
        const std::string kind = block.players.size() == 1 ? "player" : block.pending_slots == 1 ? "pending"
                                 : block.bot_slots == 1 ? "bot" : !block.server_note.empty() ? "note" : "none";
        EXPECT_EQ(kind, row.kind);
        EXPECT_EQ(block.rows_seen, kind == "note" || kind == "none" ? 0 : 1);
        if (kind == "player") { EXPECT_EQ(block.players[0].name + "/" + std::to_string(block.players[0].ping), row.what); }
        if (kind == "note") { EXPECT_EQ(block.server_note, row.what); }
    }
}

// Each header line alone in a block, and what it sets.
TEST(StatusParser, ReadsTheHeaderLines) {
    struct Row { const char* name; std::string line; std::string what; };
    const Row rows[] = {
        {"source", "source   : slot 2", "slot=2"},
        {"source with tabs and no blank before the colon", "source:\tslot\t\t3 extra", "slot=3"},
        {"source without a blank before the number", "source : slot3", ""},
        {"source past 64 bits reads 0", "source : slot 99999999999999999999", "slot=0"},
        {"source past the signed 64-bit range reads 0", "source : slot 9223372036854775809", "slot=0"},
        {"source keeps the low 32 bits", "source : slot 4294967298", "slot=2"},
        {"version", "version  : 1.40.4.6/14046 9842 secure  public", "version=1.40.4.6/14046 9842 secure  public"},
        {"version with vertical tab and form feed around the colon", "version\v:\f 1", "version=1"},
        {"version with a CR inside the value", "version : 1\r2", ""},
        {"version with a CR right after the colon", "version :\r 1", "version=1"},
        {"another key that starts alike", "versions : 1", ""},
        {"another key with a slash", "version/x : 1", ""},
        {"steamid", "steamid : [A:1:2:3] (4)", "steamid=[A:1:2:3] (4)"},
        {"a 5,000-byte version", "version : " + std::string(5000, 'v'), "version=" + std::string(5000, 'v')},
        {"a 100 KB players line", "players : 3 humans, 1 bot (10 max)" + std::string(100000, ' ') + "(reserved r)",
         "players=3/1/10 reservation=r"},
        {"players with tabs", "players\t:\t1\thuman,\t2\tbots\t(\t64 max)", ""},
        {"players with tabs where blanks may be", "players\t:\t1\thuman,\t2\tbots\t(64\tmax)", "players=1/2/64"},
        {"players past the signed 64-bit range", "players : 9223372036854775809 humans, 4294967297 bots (3 max)",
         "players=0/1/3"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const StatusBlock block = only_block({"----- Status -----", row.line, "#end"});
        std::string what;
        if (block.source_slot) what += "slot=" + std::to_string(*block.source_slot);
        if (!block.version.empty()) what += "version=" + block.version;
        if (!block.server_steamid.empty()) what += "steamid=" + block.server_steamid;
        if (block.max_players != 0)
            what += "players=" + std::to_string(block.humans) + "/" + std::to_string(block.bots) + "/" +
                    std::to_string(block.max_players);
        if (!block.reservation.empty()) what += " reservation=" + block.reservation;
        EXPECT_EQ(what, row.what);
    }
}

// Numbers in rows: digits past the signed 64-bit range read 0, then the low 32 bits are kept.
TEST(StatusParser, ReadsRowNumbersAsBefore) {
    const StatusBlock block = only_block({"----- Status -----", "---------players--------",
        "4294967297 00:01 99999999999999999999 9223372036854775809 active 9223372036854775807 'a'",
        "0002 00:01 -1 0 active 1 'b'", "#end"});
    ASSERT_EQ(block.players.size(), 1u);
    EXPECT_EQ(block.players[0].id, 1);
    EXPECT_EQ(block.players[0].ping, 0);
    EXPECT_EQ(block.players[0].loss, 0);
    EXPECT_EQ(block.players[0].rate, 9223372036854775807);
    EXPECT_EQ(block.server_note, "0002 00:01 -1 0 active 1 'b'");
}

TEST(StatusParser, WhereBlocksBeginAndEnd) {
    const Lines filler(398, "filler");
    auto with = [](Lines lines, const Lines& more) { lines.insert(lines.end(), more.begin(), more.end()); return lines; };
    struct Row { const char* name; Lines lines; std::size_t blocks; std::string version = ""; };
    const Row rows[] = {
        {"a bare end line", {"----- Status -----", "#end"}, 1},
        {"more after #end", {"----- Status -----", "#end of round"}, 0},
        {"a second header drops the unfinished block",
         {"----- Status -----", "version : 1", "---------players--------", "1 00:10 0 0 active 1 'a'",
          "----- Status -----", "version : 2", "#end"}, 1, "2"},
        {"header keys count only before the player section",
         {"----- Status -----", "version : first", "version :   second  ", "Version : wrong case",
          "---------players--------", "version : too late", "#end"}, 1, "second"},
        {"400 lines are a block", with(with({"----- Status -----", "version : 4"}, filler), {"#end"}), 1, "4"},
        {"401 lines are given up, the next block is read",
         with(with({"----- Status -----", "version : 4"}, filler), {"x", "#end", "----- Status -----", "version : 5", "#end"}), 1, "5"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const std::vector<StatusBlock> blocks = feed_all(row.lines);
        ASSERT_EQ(blocks.size(), row.blocks);
        if (!blocks.empty()) { EXPECT_EQ(blocks.back().version, row.version); }
    }
}

// Skipping to the lines that matter must give exactly what feeding every line
// gives, also when markers straddle the edges of the search windows.
TEST(FirstLineThatMatters, SkippingGivesWhatFeedingEveryLineGives) {
    std::string text;
    for (std::size_t pad : {240u, 700u, 1790u, 3830u, 70000u}) {
        text += std::string(pad, 'x') + " Client: Connected to " + std::to_string(pad) + "\nClient:\n[----- Status -----] x\n";
        text += std::string(pad % 97, '-') + "----- Status -----\n";
        for (const std::string& line : sample_block()) text += line + "\n";
        text += "12/06 21:14:05 [Client] Client: Connected after the block\n";
    }
    auto blocks_of = [&text](StatusParser& parser, bool skip) {
        std::vector<std::string> blocks;
        const std::string_view view(text);
        for (std::size_t at = 0; at < view.size();) {
            if (skip) at += first_line_that_matters(parser, view.substr(at));
            if (at >= view.size()) break;
            const std::size_t end = view.find('\n', at);
            if (auto block = parser.feed(view.substr(at, end - at))) blocks.push_back(status_json(*block).dump());
            at = end + 1;
        }
        return blocks;
    };
    StatusParser every, skipping;
    const std::vector<std::string> all_blocks = blocks_of(every, false);
    EXPECT_EQ(all_blocks.size(), 5u);
    EXPECT_EQ(blocks_of(skipping, true), all_blocks);
    EXPECT_EQ(skipping.last_connect_line, every.last_connect_line);
}

}  // namespace
