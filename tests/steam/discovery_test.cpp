#include "steam/discovery.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "core/text.h"
#include "tests/support/test_support.h"

namespace fs = std::filesystem;

namespace {

// A libraryfolders.vdf entry as Steam writes it; backslashes escaped.
std::string entry(const std::string& index, const std::string& path, const std::string& app) {
    std::string escaped;
    for (char c : path) {
        if (c == '\\') escaped += '\\';
        escaped += c;
    }
    return "\t\"" + index + "\"\n\t{\n\t\t\"path\"\t\t\"" + escaped +
           "\"\n\t\t\"label\"\t\t\"\"\n\t\t\"apps\"\n\t\t{\n\t\t\t\"" + app +
           "\"\t\t\"1000\"\n\t\t}\n\t}\n";
}

void write_vdf(const fs::path& steam, const std::string& body) {
    write_test_file(steam / "steamapps" / "libraryfolders.vdf", body);
}

}  // namespace

TEST(LibraryFolders, ListingLibrariesComeFirstThenTheOthersThenSteam) {
    const fs::path steam = make_temp_dir("discovery-order");
    write_vdf(steam, "\"libraryfolders\"\n{\n" + entry("0", "/a", "228980") +
                         "\t\"1\" { \"label\" \"no path\" \"apps\" { \"730\" \"1\" } }\n" +
                         entry("2", "/b", "730") + entry("3", "/c", "440") +
                         entry("4", "/d", "730") + "}\n");
    const std::vector<fs::path> expected = {path_from_utf8("/b"), path_from_utf8("/d"),
                                            path_from_utf8("/a"), path_from_utf8("/c"), steam};
    EXPECT_EQ(library_folders(steam, 730), expected);

    // The app id is compared as decimal text.
    EXPECT_EQ(library_folders(steam, 440).front(), path_from_utf8("/c"));
}

TEST(LibraryFolders, SteamFolderAloneWhenTheFileIsMissingOrBroken) {
    const fs::path steam = make_temp_dir("discovery-broken");
    EXPECT_EQ(library_folders(steam, 730), std::vector<fs::path>{steam});

    write_vdf(steam, "\"libraryfolders\" { \"0\" { \"path\" \"/x");   // unterminated
    EXPECT_EQ(library_folders(steam, 730), std::vector<fs::path>{steam});

    write_vdf(steam, "\"path\" \"/x\"");                                 // no block at all
    EXPECT_EQ(library_folders(steam, 730), std::vector<fs::path>{steam});

    write_vdf(steam, "");
    EXPECT_EQ(library_folders(steam, 730), std::vector<fs::path>{steam});
}

TEST(LibraryFolders, OldCapitalisedTopKeyUsesTheFirstBlock) {
    const fs::path steam = make_temp_dir("discovery-case");
    write_vdf(steam, "\"LibraryFolders\"\n{\n" + entry("0", "/old", "730") + "}\n\"other\" { " +
                         entry("0", "/ignored", "730") + " }\n");
    const std::vector<fs::path> expected = {path_from_utf8("/old"), steam};
    EXPECT_EQ(library_folders(steam, 730), expected);
}

TEST(LibraryFolders, PathsAreUtf8WithEscapesResolved) {
    const fs::path steam = make_temp_dir("discovery-utf8");
    // Cyrillic, Chinese and a doubled backslash as Steam escapes it on Windows.
    const std::string cyrillic = "D:\\Игры\\SteamLibrary";
    const std::string chinese = "E:\\游戏库";
    write_vdf(steam, "\"libraryfolders\"\n{\n" + entry("0", cyrillic, "730") +
                         entry("1", chinese, "730") + "}\n");
    auto folders = library_folders(steam, 730);
    ASSERT_EQ(folders.size(), 3u);
    EXPECT_EQ(path_to_utf8(folders[0]), cyrillic);
    EXPECT_EQ(path_to_utf8(folders[1]), chinese);
#ifdef _WIN32
    EXPECT_EQ(folders[0].native(), L"D:\\\x0418\x0433\x0440\x044b\\SteamLibrary");
    EXPECT_EQ(folders[0].filename().native(), L"SteamLibrary");
#endif
}

// Steam before 2021: a flat block, libraries as numbered pairs beside counters.
TEST(LibraryFolders, OldFlatFileListsLibrariesAsNumberedPairs) {
    const fs::path steam = make_temp_dir("discovery-flat");
    write_vdf(steam,
              "\"LibraryFolders\"\n{\n"
              "\t\"TimeNextStatsReport\"\t\t\"1612345678\"\n"
              "\t\"ContentStatsID\"\t\t\"-4601234567890123456\"\n"
              "\t\"1\"\t\t\"D:\\\\SteamLibrary\"\n"
              "\t\"2\"\t\t\"E:\\\\Games\"\n"
              "}\n");
    const std::vector<fs::path> expected = {path_from_utf8("D:\\SteamLibrary"),
                                            path_from_utf8("E:\\Games"), steam};
    EXPECT_EQ(library_folders(steam, 730), expected);
}
