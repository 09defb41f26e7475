// What console.log delivers reaches the agent once, whole and in order: no
// line lost, none doubled, however the writes and polls fall. (A console.log
// that is no regular file is refused, opening at the end and waiting for a
// missing one: tests/agent/main_loop_test.py.)
#include "console/console_tail.h"

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "core/text.h"
#include "tests/support/test_support.h"

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

// A tail opened at the end of a console.log in a fresh folder, holding `before`.
std::filesystem::path fresh_log(ConsoleTail& tail, const char* tag, std::string_view before = "") {
    const auto log = make_temp_dir(tag) / "console.log";
    write_test_file(log, before);
    EXPECT_EQ(tail.open(log, false), SharedOpen::opened);
    return log;
}

TEST(ConsoleTail, ALineBegunBeforeTheOpenOrSplitAcrossPollsComesOutOnceWhole) {
    ConsoleTail tail;
    const auto log = fresh_log(tail, "tail-\xc3\xa9t\xc3\xa9", "old partial");   // non-ASCII folder
    append(log, " rest\nexecing van");
    EXPECT_EQ(poll(tail), (Lines{" rest"}));   // the rest of a line begun before the open is one of its own
    append(log, "tor\r");
    EXPECT_TRUE(poll(tail).empty());
    // The CR of a pair split across polls is dropped, only one CR is.
    append(log, "\n\r\n\na\r\r\nlast without feed");
    EXPECT_EQ(poll(tail), (Lines{"execing vantor", "", "", "a\r"}));
    write_test_file(log, "new\n");   // CS2 started again: a new, shorter file; the old half line is gone
    EXPECT_EQ(poll(tail, true), (Lines{"new"}));
}

// A backlog of long lines is read at most 4 MiB a poll and 8 MiB of bare line
// feeds come out a bounded number of lines a poll: nothing is lost or repeated.
// An endless line keeps memory bounded.
TEST(ConsoleTail, WorkAndMemoryAPollAreBoundedAndNothingIsLost) {
    ConsoleTail tail;
    const auto log = fresh_log(tail, "tail-bounded");
    std::string backlog;
    for (int i = 0; i < 10000; ++i) backlog += std::string(999, 'a') + "\n";
    append(log, backlog + std::string(8u << 20, '\n') + "execing vantor\r\n");
    std::size_t long_lines = 0, empty = 0;
    Lines others;
    for (std::uint64_t before = tail.offset, polls = 0; polls < 1000; before = tail.offset, ++polls) {   // 131 are enough
        const Lines got = poll(tail);
        if (got.empty()) break;
        EXPECT_LE(got.size(), kTailLinesPerPoll);
        EXPECT_LE(tail.offset - before, kTailReadCap);
        for (const std::string& line : got) {
            if (line.empty()) ++empty;
            else if (line == backlog.substr(0, 999)) ++long_lines;
            else others.push_back(line);
        }
    }
    EXPECT_EQ(long_lines, 10000u);
    EXPECT_EQ(empty, 8u << 20);
    EXPECT_EQ(others, Lines{"execing vantor"});
    for (int i = 0; i < 3; ++i) {
        append(log, std::string(3u << 20, 'x'));
        EXPECT_EQ(poll(tail), Lines{});
        EXPECT_LE(tail.partial_line.size(), kTailLineCap);
    }
    append(log, "\nexecing vantor\n");
    EXPECT_EQ(poll(tail), (Lines{std::string(kTailLineCap, 'x'), "execing vantor"}));
}
