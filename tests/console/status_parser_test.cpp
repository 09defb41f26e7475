// The status block state machine, fed the way console.log delivers lines.
#include "console/status_parser.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "console/status_summary.h"

namespace {

// A block as CS2 prints it into console.log with -condebug.
std::vector<std::string> sample_block() {
    return {
        "12/06 21:14:03 [Client] ----- Status -----",
        "12/06 21:14:03 [Client] Server:  Running [172.18.0.2:27015]",
        "12/06 21:14:03 [Client] Client:  Connected to server",
        "12/06 21:14:03 [Client] source   : slot 2",
        "12/06 21:14:03 [Client] version  : 1.40.4.6/14046 9842 secure  public",
        "12/06 21:14:03 [Client] steamid  : [A:1:3954317314:28821] (90195584187195394)",
        "12/06 21:14:03 [Client] udp/ip   : 172.18.0.2:27015",
        "12/06 21:14:03 [Client] players  : 3 humans, 1 bot (10 max) (not hibernating) "
        "(reserved 1:2:3:4)",
        "12/06 21:14:03 [Client] ---------players--------",
        "12/06 21:14:03 [Client]   id     time ping loss      state   rate adr name",
        "12/06 21:14:03 [Client] 65535 [NoChan]    0    0 challenging      0 ''",
        "12/06 21:14:03 [Client]    1    03:12    4    0     active 786432 "
        "172.18.0.1:37738 ':umbrella2:\xF0\x9D\x9F\x95\xF0\x9D\x90\x9E'",
        "12/06 21:14:03 [Client]    2    01:59    3    0     active 786432 'Shaikh Kebab'",
        "12/06 21:14:03 [Client]    3      BOT    0    0     active      0 'Vitaliy'",
        "12/06 21:14:03 [Client]    4    00:41   12    1     active 786432 10.0.0.7:27005 "
        "'O'Brien '",
        "12/06 21:14:03 [Client] #end",
    };
}

std::vector<StatusBlock> feed_all(StatusParser& parser, const std::vector<std::string>& lines) {
    std::vector<StatusBlock> blocks;
    for (const std::string& line : lines) {
        if (std::optional<StatusBlock> block = parser.feed(line)) blocks.push_back(std::move(*block));
    }
    return blocks;
}

std::vector<StatusBlock> feed_all(const std::vector<std::string>& lines) {
    StatusParser parser;
    return feed_all(parser, lines);
}

// A minimal block around the given player-section lines.
std::vector<std::string> block_with_rows(const std::vector<std::string>& rows) {
    std::vector<std::string> lines = {"----- Status -----", "---------players--------"};
    lines.insert(lines.end(), rows.begin(), rows.end());
    lines.push_back("#end");
    return lines;
}

StatusBlock only_block(const std::vector<std::string>& lines) {
    std::vector<StatusBlock> blocks = feed_all(lines);
    EXPECT_EQ(blocks.size(), 1u);
    return blocks.empty() ? StatusBlock{} : blocks.front();
}

TEST(SplitConsoleLine, TakesTimeChannelAndMessageApart) {
    struct Case {
        std::string line, time, channel, message;
    };
    const std::vector<Case> cases = {
        {"12/06 21:14:03 [Client]   id  name", "12/06 21:14:03", "Client", "  id  name"},
        {"12/06 21:14:03 plain text\r", "12/06 21:14:03", "", "plain text"},
        {"12/06 21:14:03 ", "", "", "12/06 21:14:03 "},  // exactly 15: the prefix stays
        {"12/06 21:14:03 x", "12/06 21:14:03", "", "x"},
        {"12-06 21:14:03 x", "", "", "12-06 21:14:03 x"},
        {"[Client]  two blanks", "", "Client", " two blanks"},
        {"[unclosed channel", "", "", "[unclosed channel"},
        {"[] empty", "", "", "empty"},
        {"text [not] a channel", "", "", "text [not] a channel"},
        {"line\r\r", "", "", "line\r"},  // one carriage return only
    };
    for (const Case& c : cases) {
        const ConsoleLine split = split_console_line(c.line);
        EXPECT_EQ(split.time, c.time) << c.line;
        EXPECT_EQ(split.channel, c.channel) << c.line;
        EXPECT_EQ(split.message, c.message) << c.line;
    }
}

TEST(ParseInteger, ReadsLeadingDigitsWithinRange) {
    const std::vector<std::pair<std::string, std::int64_t>> cases = {
        {"", 0}, {"-", 0}, {"+5", 0}, {" 5", 0}, {"007", 7}, {"8080x", 8080}, {"-42", -42},
        {"9223372036854775807", INT64_MAX}, {"9223372036854775808", 0},
        {"-9223372036854775808", INT64_MIN}, {"-9223372036854775809", 0}};
    for (const auto& [text, value] : cases) EXPECT_EQ(parse_integer(text), value) << text;
}

TEST(StatusParser, ReadsEveryFieldOfARealisticBlock) {
    StatusParser parser;
    parser.feed("12/06 21:13:58 [Client] Client: Connected to 172.18.0.2:27015");
    const std::vector<StatusBlock> blocks = feed_all(parser, sample_block());
    ASSERT_EQ(blocks.size(), 1u);
    const StatusBlock& block = blocks[0];

    EXPECT_EQ(block.log_time, "12/06 21:14:03");
    EXPECT_EQ(block.connected_to, "Client: Connected to 172.18.0.2:27015");
    EXPECT_EQ(block.source_slot, std::optional<std::int32_t>(2));
    EXPECT_EQ(block.version, "1.40.4.6/14046 9842 secure  public");
    EXPECT_EQ(block.server_steamid, "[A:1:3954317314:28821] (90195584187195394)");
    EXPECT_EQ(block.humans, 3);
    EXPECT_EQ(block.bots, 1);
    EXPECT_EQ(block.max_players, 10);
    EXPECT_FALSE(block.hibernating);
    EXPECT_EQ(block.reservation, "1:2:3:4");
    EXPECT_EQ(block.rows_seen, 5);
    EXPECT_EQ(block.pending_slots, 1);
    EXPECT_EQ(block.bot_slots, 1);

    ASSERT_EQ(block.players.size(), 3u);
    const StatusPlayer& first = block.players[0];
    EXPECT_EQ(first.id, 1);
    EXPECT_EQ(first.time, "03:12");
    EXPECT_EQ(first.ping, 4);
    EXPECT_EQ(first.rate, 786432);
    EXPECT_EQ(first.address, "172.18.0.1:37738");
    EXPECT_EQ(first.name, ":umbrella2:\xF0\x9D\x9F\x95\xF0\x9D\x90\x9E");
    EXPECT_EQ(block.players[1].address, "");  // the row shape without an address column
    EXPECT_EQ(block.players[1].name, "Shaikh Kebab");
    EXPECT_EQ(block.players[2].name, "O'Brien ");  // inner apostrophe and blank kept

    ASSERT_TRUE(self_player(block).has_value());
    EXPECT_EQ(self_player(block)->name, "Shaikh Kebab");
}

TEST(StatusParser, CrLfAndLfLinesGiveTheSameBlock) {
    std::vector<std::string> crlf = sample_block();
    for (std::string& line : crlf) line += "\r";
    const StatusBlock from_lf = only_block(sample_block());
    const StatusBlock from_crlf = only_block(crlf);
    EXPECT_EQ(status_json(from_lf).dump(), status_json(from_crlf).dump());
    EXPECT_EQ(status_summary(from_lf), status_summary(from_crlf));
}

TEST(StatusParser, EndsABlockOnlyOnAWholeEndLine) {
    for (const char* end : {"#end", "   #end  \t", "12/06 21:14:03 [Client] #end", "#end\r"}) {
        EXPECT_EQ(feed_all({"----- Status -----", end}).size(), 1u) << end;
    }
    for (const char* not_end : {"#end of round", "#END", "x #end", "[Client]#ending"}) {
        EXPECT_TRUE(feed_all({"----- Status -----", not_end}).empty()) << not_end;
    }
    EXPECT_TRUE(feed_all({"#end"}).empty());  // no block open
}

TEST(StatusParser, BlockWithoutPlayerSectionComesBackEmpty) {
    const StatusBlock block = only_block({"[Client] ----- Status -----", "version : 1", "#end"});
    EXPECT_EQ(block.version, "1");
    EXPECT_EQ(block.log_time, "");
    EXPECT_TRUE(block.players.empty());
    EXPECT_EQ(block.rows_seen, 0);
    EXPECT_FALSE(self_player(block).has_value());
    EXPECT_EQ(only_block({"03/15 07:08:09 ----- Status -----", "#end"}).log_time, "03/15 07:08:09");
    EXPECT_EQ(only_block({"xx ----- Status ----- yy", "#end"}).log_time, "");
}

TEST(StatusParser, SecondHeaderDiscardsTheUnfinishedBlock) {
    const StatusBlock block = only_block({"01/01 00:00:01 ----- Status -----", "players : 9 humans, 0 bots (10 max)",
                                          "---------players--------", "1 00:10 0 0 active 1 'first'",
                                          "01/01 00:00:02 [Client] ----- Status -----", "version : 2", "#end"});
    EXPECT_EQ(block.log_time, "01/01 00:00:02");
    EXPECT_EQ(block.version, "2");
    EXPECT_EQ(block.humans, 0);
    EXPECT_TRUE(block.players.empty());
}

TEST(StatusParser, GivesUpOnABlockAfterFourHundredLines) {
    auto block_ending_at = [](int end_line) {
        std::vector<std::string> lines = {"----- Status -----"};
        for (int i = 1; i < end_line; ++i) lines.push_back("filler");
        lines.push_back("#end");
        return lines;
    };
    EXPECT_EQ(feed_all(block_ending_at(400)).size(), 1u);
    EXPECT_TRUE(feed_all(block_ending_at(401)).empty());

    // After giving up the parser is idle again: the next block is read whole.
    std::vector<std::string> lines = block_ending_at(401);
    for (const std::string& line : block_with_rows({"1 00:10 0 0 active 1 'a'"})) lines.push_back(line);
    const std::vector<StatusBlock> blocks = feed_all(lines);
    ASSERT_EQ(blocks.size(), 1u);
    EXPECT_EQ(blocks[0].players.size(), 1u);
}

TEST(StatusParser, ReadsThePlayersLine) {
    struct Case {
        std::string line;
        int humans, bots, max;
        bool hibernating;
        std::string reservation;
    };
    const std::vector<Case> cases = {
        {"players  : 3 humans, 1 bot (10 max) (hibernating)", 3, 1, 10, true, ""},
        {"players : 1 human, 2 bots (64 max) (not hibernating) (reserved 5:6)", 1, 2, 64, false, "5:6"},
        {"players:0 humans,0 bots(0 max)(reserved abc", 0, 0, 0, false, ""},
        {"players : 2 humans, 0 bots (10 max) (reserved )", 2, 0, 10, false, ""},
        {"players : 10 humans, 0 bots (10 max) trailing (reserved x y) (reserved z)", 10, 0, 10, false,
         "x y"},
    };
    for (const Case& c : cases) {
        const StatusBlock block = only_block({"----- Status -----", c.line, "#end"});
        EXPECT_EQ(block.humans, c.humans) << c.line;
        EXPECT_EQ(block.bots, c.bots) << c.line;
        EXPECT_EQ(block.max_players, c.max) << c.line;
        EXPECT_EQ(block.hibernating, c.hibernating) << c.line;
        EXPECT_EQ(block.reservation, c.reservation) << c.line;
    }
    // An unclosed "(reserved " keeps the reservation of an earlier players line.
    const StatusBlock kept = only_block({"----- Status -----", "players : 1 human, 0 bots (10 max) (reserved 7:8)",
                                         "players : 2 humans, 0 bots (10 max) (reserved 9:9", "#end"});
    EXPECT_EQ(kept.humans, 2);
    EXPECT_EQ(kept.reservation, "7:8");
}

TEST(StatusParser, ReadsHeaderKeysOnlyBeforeThePlayerSection) {
    const StatusBlock block = only_block({"----- Status -----", "version : first", "version :   second  ",
                                          "steamid:[A:1:2:3]", "Version : wrong case", "source : slot x",
                                          "---------players--------", "version : too late", "source : slot 5",
                                          "#end"});
    EXPECT_EQ(block.version, "second");
    EXPECT_EQ(block.server_steamid, "[A:1:2:3]");
    EXPECT_FALSE(block.source_slot.has_value());
    EXPECT_EQ(block.server_note, "source : slot 5");
}

TEST(StatusParser, SortsRowsIntoPlayersPendingAndBotsAndNotes) {
    const StatusBlock block = only_block(block_with_rows({
        "65535 [NoChan] 0 0 challenging 0 ''",
        "7 00:20 5 0 active 786432 ''",                // empty name
        "8 00:20 5 0 challenging 786432 'joining'",   // challenging
        "65535 BOT 0 0 active 0 'ghost bot'",          // pending and bot: pending only
        "9 BOT 0 0 active 0 'Bot Ringo'",
        "10 00:20 5 0 active 786432 1.2.3.4:5 'lonely",  // one apostrophe: no name
        "11 00:21 5 0 active 786432 'ok'",
        "id time ping loss state rate name", "Server hibernating", "not a row either", "   ", "",
    }));
    EXPECT_EQ(block.rows_seen, 7);
    EXPECT_EQ(block.pending_slots, 5);
    EXPECT_EQ(block.bot_slots, 1);
    ASSERT_EQ(block.players.size(), 1u);
    EXPECT_EQ(block.players[0].name, "ok");
    EXPECT_EQ(block.server_note, "not a row either");  // the last unreadable line that is not blank
}

// A dedicated server prints slots still connecting with the rate run into the
// address ("0unknown"); they are pending slots, never the block's note, and a
// block may hold several. The same block arrives bare, behind a channel tag,
// or behind the log time prefix as well.
TEST(StatusParser, ServerSideGhostRowsArePendingSlots) {
    const std::vector<std::string> server_block = {
        "----- Status -----",
        "Server:  Running [0.0.0.0:27015]",
        "Client:  Disconnected",
        "source   : console",
        "hostname : Counter-Strike 2",
        "version  : 1.40.4.6/14046 9842 secure  public",
        "steamid  : [G:1:8054321] (85568392928096305)",
        "udp/ip   : 0.0.0.0:27015 os(Linux) type(dedicated)",
        "players  : 2 humans, 1 bot (10 max) (not hibernating) (unreserved)",
        "---------players--------",
        "  id     time ping loss      state   rate adr name",
        "65535 [NoChan]    0    0 challenging      0unknown ''",
        "    2    01:04   32    0     active 786432 192.168.1.2:27005 'Alice'",
        "65535 [NoChan]    0    0 challenging      0unknown ''",
        "    3      BOT    0    0     active      0 'Vitaliy'",
        "    4    00:58   40    0     active 786432 192.168.1.3:27005 'B0b unknown'",
        "#end",
    };
    for (const char* prefix : {"", "[Client] ", "12/06 21:14:03 [Client] "}) {
        std::vector<std::string> lines;
        for (const std::string& line : server_block) lines.push_back(prefix + line);
        const StatusBlock block = only_block(lines);
        EXPECT_EQ(block.rows_seen, 5) << prefix;
        EXPECT_EQ(block.pending_slots, 2) << prefix;
        EXPECT_EQ(block.bot_slots, 1) << prefix;
        EXPECT_EQ(block.server_note, "") << prefix;
        ASSERT_EQ(block.players.size(), 2u) << prefix;
        EXPECT_EQ(block.players[0].address, "192.168.1.2:27005") << prefix;
        EXPECT_EQ(block.players[1].name, "B0b unknown") << prefix;
        EXPECT_FALSE(block.source_slot.has_value()) << prefix;
    }
}

TEST(StatusParser, SelfPlayerNeedsAMatchingRow) {
    StatusBlock block = only_block({"----- Status -----", "source : slot 4", "---------players--------",
                                    "3 00:10 0 0 active 1 'three'", "4 BOT 0 0 active 1 'bot four'",
                                    "#end"});
    EXPECT_EQ(block.source_slot, std::optional<std::int32_t>(4));
    EXPECT_FALSE(self_player(block).has_value());  // slot 4 is a bot, not a player
    block.source_slot = 3;
    ASSERT_TRUE(self_player(block).has_value());
    EXPECT_EQ(self_player(block)->name, "three");
}

TEST(StatusParser, ConnectLineIsTakenOnlyOutsideBlocks) {
    // "second" comes inside a block and the "disconnected" line has no "Connected": neither is taken.
    StatusParser parser;
    const std::vector<StatusBlock> blocks = feed_all(
        parser, {"Client: Connected to =[A:1:1:1]", "[Client] Client: Connected to first", "Client: disconnected",
                 "12/06 21:00:00 ----- Status -----", "Client: Connected to second", "#end", "----- Status -----",
                 "#end"});
    ASSERT_EQ(blocks.size(), 2u);
    EXPECT_EQ(blocks[0].connected_to, "Client: Connected to first");
    EXPECT_EQ(blocks[1].connected_to, "Client: Connected to first");

    // The line survives a reset but not a fresh parser.
    parser.feed("  Client: Connected to third  ");
    parser.reset();
    EXPECT_EQ(feed_all(parser, {"----- Status -----", "#end"}).at(0).connected_to,
              "Client: Connected to third");
    EXPECT_EQ(feed_all({"----- Status -----", "#end"}).at(0).connected_to, "");
}

TEST(StatusParser, SurvivesMalformedLines) {
    const std::string huge_name(10 * 1024 * 1024, 'n');
    const std::string nul_line("1 00:10 0 0 active 1 'nul\0name'", 31);
    const StatusBlock block = only_block({
        "----- Status -----",
        "version : " + std::string(10 * 1024 * 1024, '9'),
        "source : slot " + std::string(10 * 1024 * 1024, '7'),
        std::string(10 * 1024 * 1024, ' ') + "players : 1 human",
        "---------players--------",
        "1 00:10 0 0 active 1 '" + huge_name + "'",
        "2 00:10 0 0 active 1 '\xff\xfe\xc3('",
        nul_line,
        std::string("\0\0\0", 3),
        "3 00:10 99999999999999999999 0 active 1 'big ping'",
        "#end",
    });
    // Lines far longer than any status line match no pattern.
    EXPECT_EQ(block.version, "");
    EXPECT_FALSE(block.source_slot.has_value());
    EXPECT_EQ(block.rows_seen, 3);
    ASSERT_EQ(block.players.size(), 3u);
    EXPECT_EQ(block.players[0].name, "\xff\xfe\xc3(");
    EXPECT_EQ(block.players[1].name, std::string("nul\0name", 8));
    EXPECT_EQ(block.players[2].ping, 0);  // out of range reads as 0
    EXPECT_EQ(block.server_note, std::string("\0\0\0", 3));

    // A huge row becomes the note rather than overflowing the regex engine.
    const StatusBlock huge = only_block(block_with_rows({"1 00:10 0 0 active 1 '" + huge_name + "'"}));
    EXPECT_EQ(huge.rows_seen, 0);
    EXPECT_EQ(huge.server_note.size(), huge_name.size() + 23);

    // Rows up to 1024 bytes are read (far beyond any real one) without
    // exhausting the stack of a Windows main thread; longer ones are notes.
    const std::string row_start = "1 00:10 0 0 active 1 '";
    const std::string at_limit = row_start + std::string(1024 - row_start.size() - 1, 'n') + "'";
    const StatusBlock limit = only_block(block_with_rows({at_limit, at_limit.substr(0, 1023) + "n'"}));
    EXPECT_EQ(limit.players.size(), 1u);
    EXPECT_EQ(limit.server_note.size(), 1025u);

    // The JSON rendering stays writable whatever the bytes were.
    EXPECT_NO_THROW(status_json(block).dump());
}

TEST(FirstLineThatMatters, FindsTheLineOfTheFirstMarker) {
    StatusParser parser;
    EXPECT_EQ(first_line_that_matters(parser, "a\nb\n"), 4u);
    EXPECT_EQ(first_line_that_matters(parser, ""), 0u);
    EXPECT_EQ(first_line_that_matters(parser, "a\nxx Client: y\n"), 2u);
    EXPECT_EQ(first_line_that_matters(parser, "a\nb\n[x] ----- Status -----\n"), 4u);
    EXPECT_EQ(first_line_that_matters(parser, "Client: first\n----- Status -----\n"), 0u);
    parser.feed("----- Status -----");
    EXPECT_EQ(first_line_that_matters(parser, "a\nb\n"), 0u);  // in a block every line counts
}

// Skipping to the lines that matter must give exactly what feeding every line
// gives, also when markers straddle the edges of the search windows.
TEST(FirstLineThatMatters, SkippingGivesWhatFeedingEveryLineGives) {
    std::string text;
    for (std::size_t pad : {240u, 700u, 1790u, 3830u, 70000u}) {
        text += std::string(pad, 'x') + " Client: Connected to " + std::to_string(pad) + "\n";
        text += "Client:\n[----- Status -----] not a header\nchatter\n";
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
    const std::vector<std::string> skipped_blocks = blocks_of(skipping, true);
    EXPECT_EQ(all_blocks.size(), 5u);
    EXPECT_EQ(skipped_blocks, all_blocks);
    EXPECT_EQ(skipping.last_connect_line, every.last_connect_line);
}

TEST(StatusParser, TruncatedBlockIsNeverReturned) {
    std::vector<std::string> lines = sample_block();
    lines.pop_back();  // the log ends before "#end"
    StatusParser parser;
    EXPECT_TRUE(feed_all(parser, lines).empty());
    EXPECT_TRUE(parser.in_block);
    parser.reset();
    EXPECT_FALSE(parser.in_block);
    EXPECT_EQ(feed_all(parser, sample_block()).size(), 1u);
}

}  // namespace
