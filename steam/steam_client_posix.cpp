// Loading the Linux Steam client library. Steam keeps a link to it in
// ~/.steam/sdk64 for other programs; the library itself sits in linux64 of
// the Steam folder. An ActiveProcess value in registry.vdf (only unusual
// set-ups write one) still comes first.
#include "steam/steam_client.h"

#include <dlfcn.h>

#include <filesystem>
#include <system_error>

#include "core/files.h"
#include "core/registry.h"
#include "core/text.h"
#include "steam/discovery.h"
#include "steam/steam_registry.h"

namespace fs = std::filesystem;

const char* const kSteamClientLibraryName = "steamclient.so";

std::optional<std::string> steam_client_library_path() {
    auto value = read_registry_string(kSteamActiveProcessKey, "SteamClientDll64");
    if (value) return value;
    for (const fs::path& folder : steam_user_folders()) {
        const fs::path link = folder / "sdk64" / "steamclient.so";
        if (regular_file_exists(link)) return path_to_utf8(link);
    }
    if (auto root = find_steam_root()) {
        const fs::path library = *root / "linux64" / "steamclient.so";
        if (regular_file_exists(library)) return path_to_utf8(library);
    }
    return std::nullopt;
}

std::string steam_client_missing_text() {
    return "no steamclient.so in ~/.steam/sdk64 or in the Steam folder's linux64 -- is Steam "
           "installed and running?";
}

void* steam_library_load(const std::string& path, std::string& error_text) {
    dlerror();
    void* library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) {
        const char* reason = dlerror();
        error_text = "dlopen(" + path + ") failed: " + (reason ? reason : "unknown error");
    }
    return library;
}

void* steam_library_symbol(void* library, const char* name) {
    return dlsym(library, name);
}

void steam_library_unload(void* library) {
    dlclose(library);
}
