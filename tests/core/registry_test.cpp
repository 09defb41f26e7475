// Registry strings: the real registry under Windows (and Wine), Steam's
// registry.vdf elsewhere.
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
    const wchar_t path[] = L"c:/program files (x86)/Стим", expand[] = L"%LOCALAPPDATA%\\x";
    const wchar_t doubled[] = L"two\0\0", bare[] = {L'a', L'b'}, empty[] = L"";
    const DWORD number = 7;
    struct Row { const char* name; const wchar_t* value; DWORD type; const void* data; DWORD size;
                 std::optional<std::string> read; };
    const Row rows[] = {
        {"names ignore case, text comes back as UTF-8", L"SteamPath", REG_SZ, path, sizeof(path),
         "c:/program files (x86)/Стим"},
        {"expandable text is not expanded", L"Expand", REG_EXPAND_SZ, expand, sizeof(expand), "%LOCALAPPDATA%\\x"},
        {"extra terminators are cut", L"Doubled", REG_SZ, doubled, sizeof(doubled), "two"},
        {"a value stored without terminator", L"Bare", REG_SZ, bare, sizeof(bare), "ab"},
        {"an empty string is present", L"Empty", REG_SZ, empty, sizeof(empty), ""},
        {"a number is no string", L"Number", REG_DWORD, &number, sizeof(number), std::nullopt},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        ASSERT_EQ(RegSetValueExW(key, row.value, 0, row.type, static_cast<const BYTE*>(row.data), row.size),
                  ERROR_SUCCESS);
        EXPECT_EQ(read_registry_string(name, ascii_lower(wide_to_utf8(row.value))), row.read);
    }
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
    EXPECT_FALSE(read_registry_string("Software\\Valve\\Steam", "SteamPath"));   // no file

    // Steam's own key case varies; names compare as the Windows registry does.
    write("\"Registry\" { \"HKCU\" { \"Software\" { \"Valve\" { \"Steam\" {\n"
          "\"SteamPath\" \"/home/игрок/.local/share/Steam\"\n"
          "\"ActiveProcess\" { \"SteamClientDll64\" \"/home/u/.steam/sdk64/steamclient.so\" } } } } } }\n");
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
