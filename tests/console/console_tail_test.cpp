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

using Lines = std::vector<std::string>;

void append(const std::filesystem::path& path, std::string_view bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::app);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    ASSERT_TRUE(out.good());
}

// One poll that must work; `restarted` says whether it found a new session.
Lines poll(ConsoleTail& tail, bool restart_expected = false) {
    Lines lines;
    bool restarted = false;
    EXPECT_TRUE(tail.poll(lines, restarted));
    EXPECT_EQ(restarted, restart_expected);
    return lines;
}

// A tail on an empty console.log in a fresh folder.
std::filesystem::path fresh_log(ConsoleTail& tail, const char* tag, std::string_view before = "") {
    const auto log = make_temp_dir(tag) / "console.log";
    write_test_file(log, before);
    EXPECT_TRUE(tail.open(log, false));
    return log;
}

TEST(ConsoleTail, OpensAtTheEndAndReadsOnlyNewLines) {
    ConsoleTail tail;
    const auto log = fresh_log(tail, "tail-\xc3\xa9t\xc3\xa9", "old line\nold partial");   // non-ASCII folder
    EXPECT_TRUE(poll(tail).empty());
    append(log, " rest\nnew line\n");
    // The rest of a line begun before the open is a line of its own.
    EXPECT_EQ(poll(tail), (Lines{" rest", "new line"}));
    ConsoleTail from_start;
    ASSERT_TRUE(from_start.open(log, true));
    EXPECT_EQ(poll(from_start), (Lines{"old line", "old partial rest", "new line"}));
}

TEST(ConsoleTail, ALineSplitAcrossPollsIsDeliveredOnceWhole) {
    ConsoleTail tail;
    const auto log = fresh_log(tail, "tail-split");
    append(log, "execing van");
    EXPECT_TRUE(poll(tail).empty());
    append(log, "tor\r");
    EXPECT_TRUE(poll(tail).empty());
    // The CR of a pair split across polls is dropped, only one CR is.
    append(log, "\n\r\n\na\r\r\nlast without feed");
    EXPECT_EQ(poll(tail), (Lines{"execing vantor", "", "", "a\r"}));
    EXPECT_TRUE(poll(tail).empty());
    append(log, "\n");
    EXPECT_EQ(poll(tail), (Lines{"last without feed"}));
}

TEST(ConsoleTail, AShorterFileIsANewSessionAndAMissingOneIsWaitedFor) {
    const auto log = make_temp_dir("tail-restart") / "console.log";
    ConsoleTail tail;
    EXPECT_FALSE(tail.open(log, false));   // missing: read from its first byte once it is there
    write_test_file(log, "first session line\nhalf a li");
    EXPECT_EQ(poll(tail), (Lines{"first session line"}));
    write_test_file(log, "new\nsession\n");   // truncated and rewritten, shorter
    EXPECT_EQ(poll(tail, true), (Lines{"new", "session"}));   // the old half line is gone
    std::filesystem::remove(log);
    Lines lines;
    bool restarted = false;
    EXPECT_FALSE(tail.poll(lines, restarted));   // deleted: the poll fails, nothing changes
    write_test_file(log, std::string(12, 'x') + "tail\n");
    EXPECT_EQ(poll(tail), (Lines{"tail"}));
}

TEST(ConsoleTail, WhatIsNoRegularFileIsRefusedWithoutWaiting) {
#ifdef _WIN32
    const std::vector<std::filesystem::path> paths = {path_from_utf8("NUL")};
#else
    const auto fifo = make_temp_dir("tail-fifo") / "console.log";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);   // opening it for reading would wait for a writer
    const std::vector<std::filesystem::path> paths = {fifo, path_from_utf8("/dev/zero")};
#endif
    for (const auto& path : paths) {
        ConsoleTail tail;
        bool not_regular = false;
        EXPECT_FALSE(tail.open(path, false, &not_regular)) << path;
        EXPECT_TRUE(not_regular) << path;
        Lines lines;
        bool restarted = false;
        EXPECT_FALSE(tail.poll(lines, restarted)) << path;
    }
}

// A backlog of long lines is read at most 4 MiB a poll and 8 MiB of bare line
// feeds come out a bounded number of lines a poll: nothing is lost or repeated.
TEST(ConsoleTail, WorkAPollIsBoundedAndNothingIsLost) {
    ConsoleTail tail;
    const auto log = fresh_log(tail, "tail-bounded");
    std::string backlog;
    for (int i = 0; i < 10000; ++i) backlog += std::string(999, 'a') + "\n";
    append(log, backlog + std::string(8u << 20, '\n') + "12/06 21:14:03 [Client] execing vantor\r\nhalf");
    std::size_t long_lines = 0, empty = 0, polls = 0;
    Lines others;
    for (std::uint64_t before = tail.offset;; before = tail.offset, ++polls) {
        const Lines got = poll(tail);
        if (got.empty()) break;
        EXPECT_LE(got.size(), kTailLinesPerPoll);
        EXPECT_LE(tail.offset - before, kTailReadCap);
        for (const std::string& line : got) {
            if (line.empty()) ++empty;
            else if (line == std::string(999, 'a')) ++long_lines;
            else others.push_back(line);
        }
    }
    EXPECT_EQ(long_lines, 10000u);
    EXPECT_EQ(empty, 8u << 20);
    EXPECT_EQ(others, Lines{"12/06 21:14:03 [Client] execing vantor"});
    EXPECT_GE(polls, (8u << 20) / kTailLinesPerPoll);
    EXPECT_EQ(tail.partial_line, "half");
}

TEST(ConsoleTail, AnEndlessLineKeepsMemoryBounded) {
    ConsoleTail tail;
    const auto log = fresh_log(tail, "tail-endless");
    for (int i = 0; i < 3; ++i) {
        append(log, std::string(3u << 20, 'x'));
        EXPECT_EQ(poll(tail), Lines{});
        EXPECT_LE(tail.partial_line.size(), kTailLineCap);
    }
    append(log, "\nexecing vantor\n");
    const Lines lines = poll(tail);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].size(), kTailLineCap);
    EXPECT_EQ(lines[1], "execing vantor");
}

TEST(ConsoleTail, RandomChunkingLosesAndRepeatsNothing) {
    ConsoleTail tail;
    const auto log = fresh_log(tail, "tail-random", "before the agent\n");
    std::mt19937 rng(20240607);
    std::string stream;
    Lines expected;
    for (int i = 0; i < 3000; ++i) {
        std::string line = "12/06 21:14:03 [Client] line " + std::to_string(i);
        line.append(rng() % 200, static_cast<char>('a' + i % 26));
        if (rng() % 7 == 0) line.clear();   // empty lines count too
        expected.push_back(line);
        stream += line + ((rng() % 3 == 0) ? "\r\n" : "\n");
    }
    Lines seen;
    for (std::size_t at = 0; at < stream.size();) {
        const std::size_t chunk = std::min<std::size_t>(stream.size() - at, 1 + rng() % 900);
        append(log, std::string_view(stream).substr(at, chunk));
        at += chunk;
        if (rng() % 2 == 0) for (std::string& line : poll(tail)) seen.push_back(std::move(line));
    }
    for (std::string& line : poll(tail)) seen.push_back(std::move(line));
    EXPECT_EQ(seen, expected);
}

}  // namespace
