// Loading the Linux Steam client library. Its path comes from the same
// ActiveProcess value (read from ~/.steam/registry.vdf) when Steam wrote it,
// otherwise from the sdk64 link that Steam keeps for other programs.
#include "steam/steam_client.h"

#include <dlfcn.h>

#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "core/files.h"
#include "core/registry.h"
#include "core/text.h"
#include "steam/steam_registry.h"

std::optional<std::string> steam_client_library_path() {
    auto value = read_registry_string(kSteamActiveProcessKey, "SteamClientDll64");
    if (value) return value;
    const char* home = std::getenv("HOME");
    if (home == nullptr || *home == '\0') return std::nullopt;
    const std::filesystem::path link = path_from_utf8(home) / ".steam" / "sdk64" / "steamclient.so";
    std::error_code ec;
    if (!std::filesystem::exists(link, ec)) return std::nullopt;
    return path_to_utf8(link);
}

void* steam_library_load(const std::string& path, std::string& error_text) {
    dlerror();
    void* library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) {
        const char* reason = dlerror();
        error_text = "LoadLibrary(" + path + ") failed: " + (reason ? reason : "unknown error");
    }
    return library;
}

void* steam_library_symbol(void* library, const char* name) {
    return dlsym(library, name);
}

void steam_library_unload(void* library) {
    dlclose(library);
}
