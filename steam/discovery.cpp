#include "steam/discovery.h"

#include <string>
#include <system_error>

#include "core/files.h"
#include "core/keyvalues.h"
#include "core/text.h"
#include "steam/cs2_app.h"

namespace fs = std::filesystem;

namespace {

// The flat file Steam wrote before 2021 lists each library as a plain pair,
// "1" "D:\\SteamLibrary", beside counters like "ContentStatsID".
bool numbered_library_pair(const std::string& key, const std::string& value) {
    if (key.empty() || value.empty()) return false;
    for (char c : key) {
        if (c < '0' || c > '9') return false;
    }
    return value.find_first_of("/\\") != std::string::npos;
}

}  // namespace

std::vector<fs::path> library_folders(const fs::path& steam_root, std::uint32_t appid) {
    std::vector<fs::path> with_app;
    std::vector<fs::path> without_app;

    // An unreadable or malformed file leaves the Steam folder alone.
    auto text = read_whole_file(steam_root / "steamapps" / "libraryfolders.vdf");
    std::optional<KvNode> root;
    if (text) root = kv_parse(*text);
    const KvNode* top = nullptr;
    if (root) {
        // The key's case has changed over the years; any single top block will do.
        top = kv_find_child(*root, "libraryfolders");
        if (!top && !root->children.empty()) top = &root->children.front().node;
    }
    if (top) {
        const std::string app = std::to_string(appid);
        for (const KvChild& entry : top->children) {
            const std::string* path = kv_find_value(entry.node, "path");
            if (!path || path->empty()) continue;   // "" would mean the working folder
            const KvNode* apps = kv_find_child(entry.node, "apps");
            bool holds_app = apps && kv_find_value(*apps, app);
            // The file is UTF-8; the code page would mangle non-ASCII library names.
            (holds_app ? with_app : without_app).push_back(path_from_utf8(*path));
        }
        // Those of the old flat file say nothing of their apps.
        for (const auto& [key, value] : top->pairs) {
            if (numbered_library_pair(key, value)) without_app.push_back(path_from_utf8(value));
        }
    }
    without_app.push_back(steam_root);

    with_app.insert(with_app.end(), without_app.begin(), without_app.end());
    return with_app;
}

std::optional<Cs2Install> discover_cs2() {
    auto steam_root = find_steam_root();
    if (!steam_root) return std::nullopt;
    for (const fs::path& folder : library_folders(*steam_root, kCs2AppId)) {
        fs::path game_dir = folder / "steamapps" / "common" / "Counter-Strike Global Offensive" /
                            "game" / "csgo";
        if (folder_exists(game_dir)) {
            return Cs2Install{*steam_root, folder, game_dir, game_dir / "cfg",
                              game_dir / "console.log"};
        }
    }
    return std::nullopt;
}
