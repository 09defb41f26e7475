#include "core/files.h"

#include <gtest/gtest.h>

#include "core/text.h"
#include "tests/support/test_support.h"

namespace fs = std::filesystem;

// A write replaces the whole file or, when it fails, leaves what was there;
// either way nothing is left beside it.
TEST(Files, WriteReplacesTheWholeFileAndLeavesNothingBeside) {
    const fs::path dir = make_temp_dir("files-\xD0\xB6");   // a Cyrillic letter in the path
    const fs::path file = dir / "a" / "b" / "c.json";
    EXPECT_FALSE(read_whole_file(file).has_value());
    for (const std::string& content : {std::string("a much longer first content"), std::string("short"),
                                      std::string(), std::string("a\r\nb\0c\n", 7)}) {
        ASSERT_TRUE(write_whole_file(file, content));
        EXPECT_EQ(read_whole_file(file), std::optional<std::string>(content));   // empty is present
    }
    fs::create_directories(dir / "blocked" / "inner");   // a folder where the file should be
    EXPECT_FALSE(write_whole_file(dir / "blocked", "new"));
    EXPECT_TRUE(fs::is_directory(dir / "blocked"));
    EXPECT_FALSE(write_whole_file(file / "sub" / "x.json", "new"));   // a parent that is a file
    EXPECT_EQ(std::distance(fs::recursive_directory_iterator(dir), fs::recursive_directory_iterator()), 5);   // a, b, c.json, blocked, inner
}

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>

// A file the user made private stays private when the agent rewrites it.
TEST(Files, ReplaceKeepsThePermissionBits) {
    const fs::path dir = make_temp_dir("files-mode");
    for (const mode_t mode : {0600, 0640, 0755}) {
        const fs::path file = dir / ("agent-" + std::to_string(mode) + ".json");
        ASSERT_TRUE(write_whole_file(file, "old") && chmod(file.c_str(), mode) == 0 && write_whole_file(file, "new"));
        struct stat st {};
        ASSERT_EQ(stat(file.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, mode);
    }
}
// The clipboard helper the agent starts must not inherit the event log.
TEST(Files, AppendedFilesAreClosedOnExec) {
    std::FILE* file = open_for_append(make_temp_dir("files-cloexec") / "agent.jsonl");
    ASSERT_NE(file, nullptr);
    EXPECT_NE(fcntl(fileno(file), F_GETFD) & FD_CLOEXEC, 0);
    std::fclose(file);
}
#endif
