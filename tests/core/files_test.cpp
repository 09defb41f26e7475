#include "core/files.h"

#include <gtest/gtest.h>

#include "core/text.h"
#include "tests/support/test_support.h"

namespace fs = std::filesystem;

TEST(Files, ParentFolderSkipsEverySeparatorButNeverTheRoot) {
    EXPECT_EQ(path_to_utf8(parent_folder_of(path_from_utf8("a/b/c.json"))), "a/b");
    EXPECT_EQ(path_to_utf8(parent_folder_of(path_from_utf8("x\\\\/c.json"))), "x");
    EXPECT_EQ(path_to_utf8(parent_folder_of(path_from_utf8("c.json"))), "");
    EXPECT_EQ(path_to_utf8(parent_folder_of(path_from_utf8("/c.json"))), "/");
#ifdef _WIN32
    EXPECT_EQ(path_to_utf8(parent_folder_of(path_from_utf8("C:\\x\\\\/f.txt"))), "C:\\x");
    EXPECT_EQ(path_to_utf8(parent_folder_of(path_from_utf8("C:\\f.txt"))), "C:\\");
#endif
}

TEST(Files, WriteCreatesFoldersAndReplacesTheWholeFile) {
    const fs::path dir = make_temp_dir("files-\xD0\xB6");   // a Cyrillic letter in the path
    const fs::path file = dir / "a" / "b" / "c.json";
    ASSERT_TRUE(write_whole_file(file, "a much longer first content"));
    ASSERT_TRUE(write_whole_file(file, "short"));
    EXPECT_EQ(read_whole_file(file), std::optional<std::string>("short"));
    ASSERT_TRUE(write_whole_file(file, ""));
    EXPECT_EQ(read_whole_file(file), std::optional<std::string>(""));
    // Binary content comes back byte for byte, line endings untouched.
    const std::string binary("a\r\nb\0c\n", 7);
    ASSERT_TRUE(write_whole_file(file, binary));
    EXPECT_EQ(read_whole_file(file), std::optional<std::string>(binary));
    // No temporary file is left beside the target.
    int entries = 0;
    for (const auto& entry : fs::directory_iterator(dir / "a" / "b")) { (void)entry; ++entries; }
    EXPECT_EQ(entries, 1);
}

TEST(Files, AFailedWriteKeepsTheOldContent) {
    const fs::path dir = make_temp_dir("files-fail");
    const fs::path file = dir / "agent.json";
    ASSERT_TRUE(write_whole_file(file, "old"));
    // A folder where the file should be: the replace fails, nothing is left over.
    const fs::path blocked = dir / "blocked";
    fs::create_directories(blocked / "inner");
    EXPECT_FALSE(write_whole_file(blocked, "new"));
    EXPECT_TRUE(fs::is_directory(blocked));
    // A parent that cannot be created (it is a file).
    EXPECT_FALSE(write_whole_file(file / "sub" / "x.json", "new"));
    EXPECT_EQ(read_whole_file(file), std::optional<std::string>("old"));
    int entries = 0;
    for (const auto& entry : fs::directory_iterator(dir)) { (void)entry; ++entries; }
    EXPECT_EQ(entries, 2);
}

TEST(Files, ReadingAMissingFileIsAbsentAnEmptyOneIsPresent) {
    const fs::path dir = make_temp_dir("files-read");
    EXPECT_FALSE(read_whole_file(dir / "missing.txt").has_value());
    write_test_file(dir / "empty.txt", "");
    const auto empty = read_whole_file(dir / "empty.txt");
    ASSERT_TRUE(empty.has_value());
    EXPECT_TRUE(empty->empty());
}

TEST(Files, DataFolderEndsInVantor) {
    const auto folder = agent_data_folder();
    ASSERT_TRUE(folder.has_value());
    EXPECT_EQ(path_to_utf8(folder->filename()), "vantor");
}

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>

// A file the user made private stays private when the agent rewrites it.
TEST(Files, ReplaceKeepsThePermissionBits) {
    const fs::path dir = make_temp_dir("files-mode");
    for (const mode_t mode : {0600, 0640, 0755}) {
        const fs::path file = dir / ("agent-" + std::to_string(mode) + ".json");
        ASSERT_TRUE(write_whole_file(file, "old"));
        ASSERT_EQ(chmod(file.c_str(), mode), 0);
        ASSERT_TRUE(write_whole_file(file, "new"));
        struct stat st {};
        ASSERT_EQ(stat(file.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, mode);
        EXPECT_EQ(read_whole_file(file), std::optional<std::string>("new"));
    }
}

// The clipboard helper the agent starts must not inherit the event log.
TEST(Files, AppendedFilesAreClosedOnExec) {
    const fs::path dir = make_temp_dir("files-cloexec");
    std::FILE* file = open_for_append(dir / "agent.jsonl");
    ASSERT_NE(file, nullptr);
    EXPECT_NE(fcntl(fileno(file), F_GETFD) & FD_CLOEXEC, 0);
    std::fclose(file);
}
#endif
