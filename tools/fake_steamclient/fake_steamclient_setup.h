// For tests and benchmarks: point the real registry value
// HKCU\Software\Valve\Steam\ActiveProcess\SteamClientDll64 at the fake Steam
// client and hand it its fixture. Away from Windows the "registry" is
// $HOME/.steam/registry.vdf, so HOME is moved to a folder of the caller's.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

#include "core/text.h"

#ifdef _WIN32
#include <windows.h>
#endif

// The fake's fixed place in the build tree (see CMakeLists.txt here).
inline std::filesystem::path fake_steamclient_path(const std::filesystem::path& build_dir,
                                                   bool with_export = true) {
    std::filesystem::path dir = build_dir / "tools" / "fake_steamclient";
    if (!with_export) dir /= "noexport";
#ifdef _WIN32
    return dir / "steamclient64.dll";
#else
    return dir / "steamclient.so";
#endif
}

// A path as a Windows program under Wine must see it: host paths ("/...")
// through drive Z: with backslashes. Unchanged elsewhere.
inline std::string client_visible_path(const std::filesystem::path& path) {
    std::string text = path_to_utf8(path);
#ifdef _WIN32
    if (!text.empty() && text[0] == '/') text = "Z:" + text;
    for (char& c : text) {
        if (c == '/') c = '\\';
    }
#endif
    return text;
}

inline void set_env_var(const char* name, const std::string& value) {
#ifdef _WIN32
    SetEnvironmentVariableW(utf8_to_wide(name).c_str(),
                            value.empty() ? nullptr : utf8_to_wide(value).c_str());
#else
    if (value.empty()) {
        unsetenv(name);
    } else {
        setenv(name, value.c_str(), 1);
    }
#endif
}

// Writes (or, with no value, removes) SteamClientDll64. `home` is where the
// POSIX registry.vdf lives; HOME is pointed at it.
inline bool set_client_registry_value(const std::optional<std::string>& value,
                                      const std::filesystem::path& home) {
#ifdef _WIN32
    (void)home;
    const wchar_t* key = L"Software\\Valve\\Steam\\ActiveProcess";
    if (!value) {
        LSTATUS status = RegDeleteKeyValueW(HKEY_CURRENT_USER, key, L"SteamClientDll64");
        return status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND;
    }
    const std::wstring wide = utf8_to_wide(*value);
    return RegSetKeyValueW(HKEY_CURRENT_USER, key, L"SteamClientDll64", REG_SZ, wide.c_str(),
                           static_cast<DWORD>((wide.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
#else
    set_env_var("HOME", path_to_utf8(home));
    std::filesystem::create_directories(home / ".steam");
    std::ofstream out(home / ".steam" / "registry.vdf", std::ios::binary | std::ios::trunc);
    out << "\"Registry\"\n{\n\t\"HKCU\"\n\t{\n\t\t\"Software\"\n\t\t{\n\t\t\t\"Valve\"\n\t\t\t{\n"
           "\t\t\t\t\"Steam\"\n\t\t\t\t{\n\t\t\t\t\t\"ActiveProcess\"\n\t\t\t\t\t{\n";
    if (value) out << "\t\t\t\t\t\t\"SteamClientDll64\"\t\t\"" << *value << "\"\n";
    out << "\t\t\t\t\t\t\"pid\"\t\t\"4242\"\n\t\t\t\t\t}\n\t\t\t\t}\n\t\t\t}\n\t\t}\n\t}\n}\n";
    return out.good();
#endif
}
