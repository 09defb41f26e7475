// The Steam folder on Windows: the SteamPath value the client keeps in the
// registry (forward slashes and all).
#include "steam/discovery.h"

#include <system_error>

#include "core/registry.h"
#include "core/text.h"
#include "steam/steam_registry.h"

namespace fs = std::filesystem;

namespace {

// A file, folder or link (even a dangling one); unreadable status: no.
bool path_exists(const fs::path& path) {
    std::error_code ec;
    fs::file_status status = fs::symlink_status(path, ec);
    return !ec && fs::exists(status);
}

}  // namespace

std::vector<fs::path> steam_root_candidates() {
    auto value = read_registry_string(kSteamKey, "SteamPath");
    if (!value || value->empty()) return {};
    return {path_from_utf8(*value)};
}

std::vector<fs::path> steam_user_folders() { return {}; }

std::optional<fs::path> find_steam_root() {
    for (const fs::path& root : steam_root_candidates()) {
        if (path_exists(root)) return root;
    }
    return std::nullopt;
}
