// Loading steamclient64.dll from the path the running client leaves in the
// registry.
#include "steam/steam_client.h"

#include <windows.h>

#include "core/files.h"
#include "core/registry.h"
#include "core/text.h"
#include "steam/steam_registry.h"

const char* const kSteamClientLibraryName = "steamclient64.dll";

std::optional<std::string> steam_client_library_path() {
    return read_registry_string(kSteamActiveProcessKey, "SteamClientDll64");
}

std::string steam_client_missing_text() {
    return std::string("HKCU\\") + kSteamActiveProcessKey +
           "\\SteamClientDll64 is missing -- Steam is not running";
}

void* steam_library_load(const std::string& path, std::string& error_text) {
    // The altered search path finds the client's own dependencies in its folder.
    HMODULE module = LoadLibraryExW(utf8_to_wide(path).c_str(), nullptr,
                                    LOAD_WITH_ALTERED_SEARCH_PATH);
    if (module == nullptr) {
        const unsigned long code = GetLastError();
        error_text = "LoadLibrary(" + path + ") failed: " + std::to_string(code);
        return nullptr;
    }
    return reinterpret_cast<void*>(module);
}

void* steam_library_symbol(void* library, const char* name) {
    FARPROC proc = GetProcAddress(static_cast<HMODULE>(library), name);
    return reinterpret_cast<void*>(proc);
}

void steam_library_unload(void* library) {
    FreeLibrary(static_cast<HMODULE>(library));
}
