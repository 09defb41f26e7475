// Registry strings: the real registry under Windows (and Wine), Steam's
// registry.vdf elsewhere.
#include "core/files.h"
#include "core/registry.h"

#include <gtest/gtest.h>

#include <string>

#include "core/text.h"
#include "tests/support/test_support.h"

#ifdef _WIN32
#include <windows.h>

TEST(ReadRegistryString, RealRegistry) {
    const std::string name = "Software\\VantorRegistryTest" + std::to_string(GetCurrentProcessId());
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, utf8_to_wide(name).c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                              nullptr, &key, nullptr), ERROR_SUCCESS);
    auto set = [&](const wchar_t* value, DWORD type, const void* data, DWORD size) {
        EXPECT_EQ(RegSetValueExW(key, value, 0, type, static_cast<const BYTE*>(data), size), ERROR_SUCCESS);
    };
    const wchar_t path[] = L"c:/program files (x86)/Стим";
    set(L"SteamPath", REG_SZ, path, sizeof(path));
    const wchar_t expand[] = L"%LOCALAPPDATA%\\x";
    set(L"Expand", REG_EXPAND_SZ, expand, sizeof(expand));
    const wchar_t doubled[] = L"two\0\0";   // two trailing NULs besides the literal's
    set(L"Doubled", REG_SZ, doubled, sizeof(doubled));
    const wchar_t bare[] = {L'a', L'b'};    // stored without any terminator
    set(L"Bare", REG_SZ, bare, sizeof(bare));
    set(L"Empty", REG_SZ, L"", sizeof(wchar_t));
    DWORD number = 7;
    set(L"Number", REG_DWORD, &number, sizeof(number));

    EXPECT_EQ(read_registry_string(name, "steampath"), "c:/program files (x86)/Стим");
    EXPECT_EQ(read_registry_string(name, "Expand"), "%LOCALAPPDATA%\\x");
    EXPECT_EQ(read_registry_string(name, "Doubled"), "two");
    EXPECT_EQ(read_registry_string(name, "Bare"), "ab");
    EXPECT_EQ(read_registry_string(name, "Empty"), "");
    EXPECT_FALSE(read_registry_string(name, "Number"));
    EXPECT_FALSE(read_registry_string(name, "Missing"));
    EXPECT_FALSE(read_registry_string(name + "\\NoSuchKey", "SteamPath"));
    RegCloseKey(key);
    RegDeleteTreeW(HKEY_CURRENT_USER, utf8_to_wide(name).c_str());
}

#else
#include <cstdlib>

TEST(ReadRegistryString, SteamRegistryVdf) {
    const std::filesystem::path home = make_temp_dir("registry-vdf");
    const char* old_home = std::getenv("HOME");
    const std::string old = old_home ? old_home : "";
    setenv("HOME", path_to_utf8(home).c_str(), 1);
    auto write = [&](std::string_view vdf) { write_test_file(home / ".steam" / "registry.vdf", vdf); };
    EXPECT_FALSE(read_registry_string("Software\\Valve\\Steam", "SteamPath"));

    // Steam's own key case varies; names compare as the Windows registry does.
    write("\"Registry\"\n{\n\t\"HKCU\"\n\t{\n\t\t\"Software\"\n\t\t{\n\t\t\t\"Valve\"\n\t\t\t{\n"
          "\t\t\t\t\"Steam\"\n\t\t\t\t{\n\t\t\t\t\t\"SteamPath\"\t\t\"/home/игрок/.local/share/Steam\"\n"
          "\t\t\t\t\t\"ActiveProcess\"\n\t\t\t\t\t{\n"
          "\t\t\t\t\t\t\"SteamClientDll64\"\t\t\"/home/u/.steam/sdk64/steamclient.so\"\n"
          "\t\t\t\t\t}\n\t\t\t\t}\n\t\t\t}\n\t\t}\n\t}\n}\n");
    EXPECT_EQ(read_registry_string("software\\VALVE\\steam", "steampath"), "/home/игрок/.local/share/Steam");
    EXPECT_EQ(read_registry_string("Software\\Valve\\Steam\\ActiveProcess", "SteamClientDll64"),
              "/home/u/.steam/sdk64/steamclient.so");
    EXPECT_FALSE(read_registry_string("Software\\Valve\\Steam", "ActiveProcess"));   // a key
    EXPECT_FALSE(read_registry_string("Software\\Valve\\Other", "SteamPath"));

    write("\"Registry\" { \"HKCU\" { \"Software\" { \"SteamPath\" \"/unterminated");
    EXPECT_FALSE(read_registry_string("Software", "SteamPath"));
    if (old_home) setenv("HOME", old.c_str(), 1);
    else unsetenv("HOME");
}
#endif
