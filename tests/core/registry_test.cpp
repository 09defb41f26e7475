// Registry strings (the real registry under Windows and Wine, Steam's registry.vdf
// elsewhere): the end-to-end tests read Steam's keys, these are the edges.
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
    const wchar_t path[] = L"c:/program files (x86)/Стим", doubled[] = L"two\0\0", bare[] = {L'a', L'b'};
    const DWORD number = 7;
    struct Row { const wchar_t* value; DWORD type; const void* data; DWORD size; std::optional<std::string> read; };
    const Row rows[] = {
        {L"SteamPath", REG_SZ, path, sizeof(path), "c:/program files (x86)/Стим"},   // read as "steampath"
        {L"Doubled", REG_SZ, doubled, sizeof(doubled), "two"},   // extra terminators are cut
        {L"Bare", REG_SZ, bare, sizeof(bare), "ab"},               // stored without terminator
        {L"Number", REG_DWORD, &number, sizeof(number), std::nullopt},
    };
    for (const Row& row : rows) {
        ASSERT_EQ(RegSetValueExW(key, row.value, 0, row.type, static_cast<const BYTE*>(row.data), row.size), ERROR_SUCCESS);
        EXPECT_EQ(read_registry_string(name, ascii_lower(wide_to_utf8(row.value))), row.read) << wide_to_utf8(row.value);
    }
    RegCloseKey(key);
    RegDeleteTreeW(HKEY_CURRENT_USER, utf8_to_wide(name).c_str());
}

#else
#include <cstdlib>

TEST(ReadRegistryString, SteamRegistryVdf) {
    const std::filesystem::path home = make_temp_dir("registry-vdf");
    setenv("HOME", path_to_utf8(home).c_str(), 1);   // nothing else in this program reads it
    // Steam's own key case varies; names compare as the Windows registry does.
    write_test_file(home / ".steam" / "registry.vdf", "\"Registry\" { \"HKCU\" { \"Software\" { \"Valve\" { \"Steam\" {\n"
          "\"SteamPath\" \"/home/игрок/.local/share/Steam\" \"ActiveProcess\" { \"pid\" \"1\" } } } } } }\n");
    EXPECT_EQ(read_registry_string("software\\VALVE\\steam", "steampath"), "/home/игрок/.local/share/Steam");
    EXPECT_FALSE(read_registry_string("Software\\Valve\\Steam", "ActiveProcess"));   // a key
    write_test_file(home / ".steam" / "registry.vdf", "\"Registry\" { \"HKCU\" { \"Software\" { \"SteamPath\" \"/unterminated");
    EXPECT_FALSE(read_registry_string("Software", "SteamPath"));
}
#endif
