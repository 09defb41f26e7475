// Candidate libraries from libraryfolders.vdf, in every layout Steam wrote.
#include "steam/discovery.h"

#include <optional>

#include <gtest/gtest.h>

#include "core/text.h"
#include "tests/support/test_support.h"

namespace {

// A libraryfolders.vdf entry as Steam writes it; backslashes escaped.
std::string entry(const std::string& index, const std::string& path, const std::string& app) {
    std::string escaped;
    for (char c : path) escaped += c == '\\' ? std::string("\\\\") : std::string(1, c);
    return "\t\"" + index + "\"\n\t{\n\t\t\"path\"\t\t\"" + escaped + "\"\n\t\t\"label\"\t\t\"\"\n\t\t\"apps\"\n\t\t{\n\t\t\t\"" +
           app + "\"\t\t\"1000\"\n\t\t}\n\t}\n";
}

TEST(LibraryFolders, ThoseWithTheAppFirstThenTheOthersThenSteam) {
    // vdf none: no file; folders: those before the Steam folder
    const struct { const char* name; std::optional<std::string> vdf; std::vector<std::string> folders; } rows[] = {
        {"no file", std::nullopt, {}},
        {"unterminated", "\"libraryfolders\" { \"0\" { \"path\" \"/x", {}},
        {"with the app first; no path skipped; the app id as decimal text",
         ("\"libraryfolders\"\n{\n" + entry("0", "/a", "228980") + "\t\"1\" { \"apps\" { \"730\" \"1\" } }\n" +
          entry("2", "/b", "730") + entry("3", "/c", "7300") + entry("4", "/d", "730") + "}\n"),
         {"/b", "/d", "/a", "/c"}},
        {"old capitalised key: the first block only",
         ("\"LibraryFolders\"\n{\n" + entry("0", "/old", "730") + "}\n\"other\" { " + entry("0", "/no", "730") + " }\n"),
         {"/old"}},
        {"UTF-8 paths, escapes resolved",
         ("\"libraryfolders\"\n{\n" + entry("0", "D:\\Игры\\SteamLibrary", "730") + entry("1", "E:\\游戏库", "730") + "}\n"),
         {"D:\\Игры\\SteamLibrary", "E:\\游戏库"}},
        {"before 2021: numbered pairs beside counters",
         "\"LibraryFolders\"\n{\n\t\"TimeNextStatsReport\"\t\t\"1612345678\"\n\t\"ContentStatsID\"\t\t\"-4601234567890123456\"\n"
         "\t\"1\"\t\t\"D:\\\\SteamLibrary\"\n\t\"2\"\t\t\"E:\\\\Games\"\n}\n",
         {"D:\\SteamLibrary", "E:\\Games"}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const std::filesystem::path steam = make_temp_dir("discovery");
        if (row.vdf) write_test_file(steam / "steamapps" / "libraryfolders.vdf", *row.vdf);
        std::vector<std::string> got;
        for (const auto& folder : library_folders(steam, 730)) got.push_back(path_to_utf8(folder));
        std::vector<std::string> expected = row.folders;
        expected.push_back(path_to_utf8(steam));
        EXPECT_EQ(got, expected);
    }
}

}  // namespace
