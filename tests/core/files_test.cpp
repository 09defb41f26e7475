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

// A damaged file is kept beside it under a name that says so, byte for byte;
// a second one in the same second gets a number.
TEST(Files, BrokenFilesAreKeptBesideWithTheirBytes) {
    const fs::path dir = make_temp_dir("files-broken");
    const std::optional<std::string> damaged = std::string("{\"cut", 5);
    write_test_file(dir / "rooms.json", *damaged);
    const fs::path first = keep_broken_file(dir / "rooms.json", damaged, FileAccess::shared);
    const fs::path second = keep_broken_file(dir / "rooms.json", std::nullopt, FileAccess::shared);   // moved
    EXPECT_TRUE(starts_with(path_to_utf8(first.filename()), "rooms.broken-")) << path_to_utf8(first);
    EXPECT_EQ(first.extension(), ".json");
    EXPECT_EQ(read_test_file(first), *damaged);
    EXPECT_EQ(read_test_file(second), *damaged);
    EXPECT_FALSE(fs::exists(dir / "rooms.json"));
    EXPECT_NE(first, second);
}

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>

namespace {
mode_t mode_of(const fs::path& file) {
    struct stat st {};
    return stat(file.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
}
}  // namespace

// The user's files stay the user's: a link is written through to its target
// (a dotfiles folder keeps working), and a file holding the GSI token is
// readable by its owner alone.
TEST(Files, LinksAreWrittenThroughAndTokenFilesMadePrivate) {
    struct Row {
        const char* name;
        const char* link;      // agent.json -> this (relative to the folder); null: a plain file
        mode_t existing;       // 0: the target does not exist yet
        FileAccess access;
        mode_t mode;           // of the target afterwards
    };
    const Row rows[] = {
        {"a link into a dotfiles folder", "dotfiles/agent.json", 0644, FileAccess::shared, 0644},
        {"a chain of two links", "second-link", 0600, FileAccess::shared, 0600},
        {"a dangling link creates its target", "dotfiles/new/agent.json", 0, FileAccess::shared, 0644},
        {"a token file is created 0600", nullptr, 0, FileAccess::owner_only, 0600},
        {"a token file that was 0644 is tightened", nullptr, 0644, FileAccess::owner_only, 0600},
        {"... keeping the owner's own bits", nullptr, 0755, FileAccess::owner_only, 0700},
        {"a linked token file is tightened at its target", "dotfiles/agent.json", 0664, FileAccess::owner_only, 0600},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const fs::path dir = make_temp_dir("files-links");
        const fs::path file = dir / "agent.json";
        fs::path target = file;
        if (row.link) {
            target = dir / row.link;
            if (std::string(row.link) == "second-link") {   // agent.json -> second-link -> dotfiles/agent.json
                target = dir / "dotfiles" / "agent.json";
                fs::create_directories(target.parent_path());
                fs::create_symlink("dotfiles/agent.json", dir / "second-link");
            }
            fs::create_directories(dir / "dotfiles");
            fs::create_symlink(std::string(row.link) == "second-link" ? "second-link" : row.link, file);
        }
        if (row.existing) {
            write_test_file(target, "old");
            ASSERT_EQ(chmod(target.c_str(), row.existing), 0);
        }
        ASSERT_TRUE(write_whole_file(file, "new", row.access));
        EXPECT_EQ(fs::is_symlink(file), row.link != nullptr);
        EXPECT_EQ(read_test_file(target), "new");
        EXPECT_EQ(mode_of(target), row.mode);
        EXPECT_EQ(final_link_target(file), target);
    }
    // A current file is tightened without a rewrite.
    const fs::path cfg = make_temp_dir("files-restrict") / "gamestate_integration_vantor.cfg";
    write_test_file(cfg, "cfg");
    ASSERT_EQ(chmod(cfg.c_str(), 0644), 0);
    EXPECT_TRUE(restrict_to_owner(cfg));
    EXPECT_EQ(mode_of(cfg), 0600u);
}

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
