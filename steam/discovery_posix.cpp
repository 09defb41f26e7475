// The Steam folder on Linux. The client writes no SteamPath: it keeps links
// to its folder in ~/.steam, and the install itself sits in one of a few
// known places (native, Flatpak, Snap). registry.vdf is still asked first, for
// set-ups that do write the value.
#include "steam/discovery.h"

#include <cstdlib>
#include <system_error>

#include "core/files.h"
#include "core/registry.h"
#include "core/text.h"
#include "steam/steam_registry.h"

namespace fs = std::filesystem;

namespace {

const char* const kFlatpakHome = ".var/app/com.valvesoftware.Steam";
const char* const kSnapHome = "snap/steam/common";

std::optional<fs::path> home_folder() {
    const char* home = std::getenv("HOME");
    if (home == nullptr || *home == '\0') return std::nullopt;
    return path_from_utf8(home);
}

}  // namespace

std::vector<fs::path> steam_user_folders() {
    auto home = home_folder();
    if (!home) return {};
    return {*home / ".steam", *home / kFlatpakHome / ".steam", *home / kSnapHome / ".steam"};
}

std::vector<fs::path> steam_root_candidates() {
    std::vector<fs::path> candidates;
    auto value = read_registry_string(kSteamKey, "SteamPath");
    if (value && !value->empty()) candidates.push_back(path_from_utf8(*value));
    auto home = home_folder();
    if (!home) return candidates;
    candidates.push_back(*home / ".steam" / "root");
    candidates.push_back(*home / ".steam" / "steam");
    if (auto data = user_data_home()) candidates.push_back(*data / "Steam");
    const fs::path flatpak = *home / kFlatpakHome;
    candidates.push_back(flatpak / ".local" / "share" / "Steam");
    candidates.push_back(flatpak / ".steam" / "root");
    candidates.push_back(flatpak / ".steam" / "steam");
    candidates.push_back(*home / kSnapHome / ".local" / "share" / "Steam");
    return candidates;
}

std::optional<fs::path> find_steam_root() {
    for (const fs::path& candidate : steam_root_candidates()) {
        std::error_code ec;
        fs::path resolved = fs::canonical(candidate, ec);   // fails on a dangling link
        if (ec) continue;
        // A leftover folder that never held an install (no steamapps) is no hit.
        if (!folder_exists(resolved / "steamapps")) continue;
        return resolved;
    }
    return std::nullopt;
}
