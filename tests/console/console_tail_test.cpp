#include "console/console_tail.h"

#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/stat.h>
#endif

#include "core/text.h"

#include "tests/support/test_support.h"

namespace {

void append(const std::filesystem::path& path, std::string_view bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::app);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    ASSERT_TRUE(out.good());
}

std::vector<std::string> poll_lines(ConsoleTail& tail, bool* restarted_out = nullptr) {
    std::vector<std::string> lines;
    bool restarted = false;
    EXPECT_TRUE(tail.poll(lines, restarted));
    if (restarted_out)
        *restarted_out = restarted;
    else
        EXPECT_FALSE(restarted);
    return lines;
}

using Lines = std::vector<std::string>;

}  // namespace

TEST(ConsoleTail, OpensAtTheEndAndReadsOnlyNewLines) {
    const auto dir = make_temp_dir("tail-\xc3\xa9t\xc3\xa9");   // non-ASCII folder name
    const auto log = dir / "console.log";
    write_test_file(log, "old line\nold partial");
    ConsoleTail tail;
    ASSERT_TRUE(tail.open(log, false));
    EXPECT_EQ(tail.offset, 20u);
    EXPECT_TRUE(poll_lines(tail).empty());
    append(log, " rest\nnew line\n");
    // The bytes after the old end belong to a line begun before the open: they
    // come out as a line of their own, the earlier part is never read.
    EXPECT_EQ(poll_lines(tail), (Lines{" rest", "new line"}));

    ConsoleTail from_start;
    ASSERT_TRUE(from_start.open(log, true));
    EXPECT_EQ(poll_lines(from_start), (Lines{"old line", "old partial rest", "new line"}));
}

TEST(ConsoleTail, LineSplitAcrossPollsIsDeliveredOnceWhole) {
    const auto log = make_temp_dir("tail-split") / "console.log";
    write_test_file(log, "");
    ConsoleTail tail;
    ASSERT_TRUE(tail.open(log, false));
    append(log, "execing van");
    EXPECT_TRUE(poll_lines(tail).empty());
    EXPECT_EQ(tail.partial_line, "execing van");
    append(log, "tor\r");
    EXPECT_TRUE(poll_lines(tail).empty());
    append(log, "\n\r\n\nlast without feed");
    // The CR of a CR LF pair split across polls is still dropped; a lone CR LF
    // is an empty line.
    EXPECT_EQ(poll_lines(tail), (Lines{"execing vantor", "", ""}));
    EXPECT_TRUE(poll_lines(tail).empty());
    append(log, "\n");
    EXPECT_EQ(poll_lines(tail), (Lines{"last without feed"}));
}

TEST(ConsoleTail, OnlyOneTrailingCarriageReturnIsDropped) {
    std::string partial = "a\r\r\nb\rc\n\rd";
    Lines lines;
    cut_lines(partial, lines);
    EXPECT_EQ(lines, (Lines{"a\r", "b\rc"}));
    EXPECT_EQ(partial, "\rd");
}

TEST(ConsoleTail, ShorterFileIsANewSessionReadFromByteZero) {
    const auto log = make_temp_dir("tail-restart") / "console.log";
    write_test_file(log, "first session line\nhalf a li");
    ConsoleTail tail;
    ASSERT_TRUE(tail.open(log, true));
    EXPECT_EQ(poll_lines(tail), (Lines{"first session line"}));
    write_test_file(log, "new\nsession\n");   // truncated and rewritten, shorter
    bool restarted = false;
    EXPECT_EQ(poll_lines(tail, &restarted), (Lines{"new", "session"}));
    EXPECT_TRUE(restarted);
    EXPECT_EQ(tail.offset, 12u);
    EXPECT_TRUE(tail.partial_line.empty());   // the old half line is gone

    // Truncated to nothing: a restart with no lines yet.
    write_test_file(log, "");
    EXPECT_TRUE(poll_lines(tail, &restarted).empty());
    EXPECT_TRUE(restarted);
    EXPECT_EQ(tail.offset, 0u);
}

TEST(ConsoleTail, MissingFileIsPickedUpFromItsFirstByte) {
    const auto dir = make_temp_dir("tail-missing");
    const auto log = dir / "console.log";
    ConsoleTail tail;
    EXPECT_FALSE(tail.open(log, false));
    Lines lines;
    bool restarted = false;
    EXPECT_FALSE(tail.poll(lines, restarted));
    EXPECT_TRUE(lines.empty());
    write_test_file(log, "written before the first poll\n");
    EXPECT_EQ(poll_lines(tail), (Lines{"written before the first poll"}));

    // Deleted between polls: the poll fails and nothing changes; a new file
    // that already grew past the old offset is read on as if it were the old one.
    std::filesystem::remove(log);
    EXPECT_FALSE(tail.poll(lines, restarted));
    EXPECT_EQ(tail.offset, 30u);
    write_test_file(log, std::string(30, 'x') + "tail\n");
    EXPECT_EQ(poll_lines(tail), (Lines{"tail"}));

    // A folder in place of the file is not readable.
    ConsoleTail on_folder;
    on_folder.open(dir, true);
    EXPECT_FALSE(on_folder.poll(lines, restarted));
}

TEST(ConsoleTail, BacklogIsReadAtMostFourMebibytesPerPoll) {
    const auto log = make_temp_dir("tail-cap") / "console.log";
    std::string line(999, 'a');
    line += '\n';
    std::string backlog;
    for (int i = 0; i < 10000; ++i)   // 10,000,000 bytes
        backlog += line;
    write_test_file(log, backlog);
    ConsoleTail tail;
    ASSERT_TRUE(tail.open(log, true));
    std::size_t total = 0;
    int polls = 0;
    while (tail.offset < backlog.size()) {
        const std::uint64_t before = tail.offset;
        total += poll_lines(tail).size();
        EXPECT_LE(tail.offset - before, kTailReadCap);
        ++polls;
    }
    EXPECT_EQ(polls, 3);
    EXPECT_EQ(total, 10000u);
    EXPECT_TRUE(tail.partial_line.empty());
}

// 8 MiB of bare line feeds (a game stuck printing empty lines) come out a
// bounded number of lines per poll, in order, the real lines behind them
// included; a restart while lines still wait drops them.
TEST(ConsoleTail, ManyTinyLinesComeOutABoundedNumberPerPoll) {
    const auto log = make_temp_dir("tail-tiny") / "console.log";
    write_test_file(log, "");
    ConsoleTail tail;
    ASSERT_TRUE(tail.open(log, false));
    const std::size_t feeds = 8 * 1024 * 1024;
    append(log, std::string(feeds, '\n') + "12/06 21:14:03 [Client] execing vantor\r\nhalf");
    std::size_t empty = 0;
    std::size_t polls = 0;
    Lines real;
    for (Lines got = poll_lines(tail); !got.empty(); got = poll_lines(tail)) {
        EXPECT_LE(got.size(), kTailLinesPerPoll);
        for (const std::string& line : got) {
            if (line.empty())
                ++empty;
            else
                real.push_back(line);
        }
        ++polls;
    }
    EXPECT_EQ(empty, feeds);
    EXPECT_EQ(real, Lines{"12/06 21:14:03 [Client] execing vantor"});
    EXPECT_EQ(polls, feeds / kTailLinesPerPoll + 1);
    EXPECT_EQ(tail.partial_line, "half");

    append(log, std::string(2 * kTailLinesPerPoll, '\n'));
    EXPECT_EQ(poll_lines(tail).size(), kTailLinesPerPoll);  // "half" and more wait
    write_test_file(log, "new session\n");
    bool restarted = false;
    EXPECT_EQ(poll_lines(tail, &restarted), Lines{"new session"});
    EXPECT_TRUE(restarted);
}

// A FIFO or a device named as console.log is refused at once, on opening and
// on every poll: opening a FIFO for reading would wait for a writer.
TEST(ConsoleTail, WhatIsNoRegularFileIsRefusedWithoutWaiting) {
    std::vector<std::filesystem::path> paths;
#ifdef _WIN32
    paths.push_back(path_from_utf8("NUL"));
#else
    const auto fifo = make_temp_dir("tail-fifo") / "console.log";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    paths.push_back(fifo);
    paths.push_back(path_from_utf8("/dev/zero"));
#endif
    for (const auto& path : paths) {
        ConsoleTail tail;
        bool not_regular = false;
        EXPECT_FALSE(tail.open(path, false, &not_regular)) << path;
        EXPECT_TRUE(not_regular) << path;
        Lines lines;
        bool restarted = false;
        EXPECT_FALSE(tail.poll(lines, restarted)) << path;
        EXPECT_TRUE(lines.empty());
    }
    // A missing file is not "not regular": it may still appear.
    ConsoleTail missing;
    bool not_regular = true;
    EXPECT_FALSE(missing.open(make_temp_dir("tail-none") / "console.log", false, &not_regular));
    EXPECT_FALSE(not_regular);
}

// Whatever the write pattern, every complete line appended while the tail
// runs is seen exactly once and in order.
TEST(ConsoleTail, AnEndlessLineKeepsMemoryBounded) {
    const auto dir = make_temp_dir("tail-endless");
    const auto log = dir / "console.log";
    write_test_file(log, "");
    ConsoleTail tail;
    ASSERT_TRUE(tail.open(log, false));
    const std::string junk(3 * 1024 * 1024, 'x');
    for (int i = 0; i < 3; ++i) {
        append(log, junk);
        EXPECT_EQ(poll_lines(tail), Lines{});
        EXPECT_LE(tail.partial_line.size(), kTailLineCap);
    }
    append(log, "\nexecing vantor\n");
    const Lines lines = poll_lines(tail);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].size(), kTailLineCap);
    EXPECT_EQ(lines[1], "execing vantor");
}

TEST(ConsoleTail, RandomChunkingLosesAndRepeatsNothing) {
    const auto log = make_temp_dir("tail-random") / "console.log";
    write_test_file(log, "before the agent\n");
    ConsoleTail tail;
    ASSERT_TRUE(tail.open(log, false));

    std::mt19937 rng(20240607);
    std::string stream;
    Lines expected;
    for (int i = 0; i < 3000; ++i) {
        std::string line = "12/06 21:14:03 [Client] line " + std::to_string(i);
        line.append(rng() % 200, static_cast<char>('a' + i % 26));
        if (rng() % 7 == 0)
            line.clear();   // empty lines count too
        expected.push_back(line);
        stream += line;
        stream += (rng() % 3 == 0) ? "\r\n" : "\n";
    }
    stream += "unfinished";

    Lines seen;
    std::size_t at = 0;
    while (at < stream.size()) {
        const std::size_t chunk = std::min<std::size_t>(stream.size() - at, 1 + rng() % 900);
        append(log, std::string_view(stream).substr(at, chunk));
        at += chunk;
        if (rng() % 2 == 0) {
            Lines got = poll_lines(tail);
            seen.insert(seen.end(), got.begin(), got.end());
        }
    }
    Lines got = poll_lines(tail);
    seen.insert(seen.end(), got.begin(), got.end());
    EXPECT_EQ(seen, expected);
    EXPECT_EQ(tail.partial_line, "unfinished");
}
