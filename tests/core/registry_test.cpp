// Registry strings: the real registry under Windows (and Wine), Steam's
// registry.vdf elsewhere.
#include "core/files.h"

#include <gtest/gtest.h>

#include <string>

#include "core/text.h"
#include "tests/support/test_support.h"

#ifdef _WIN32
#include <windows.h>

namespace {

// A key of the test's own, removed again at the end.
struct TestKey {
    std::string name = "Software\\VantorRegistryTest" + std::to_string(GetCurrentProcessId());
    HKEY key = nullptr;
    TestKey() {
        RegCreateKeyExW(HKEY_CURRENT_USER, utf8_to_wide(name).c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                        nullptr, &key, nullptr);
    }
    ~TestKey() {
        RegCloseKey(key);
        RegDeleteTreeW(HKEY_CURRENT_USER, utf8_to_wide(name).c_str());
    }
    void set(const wchar_t* value, DWORD type, const void* data, DWORD size) {
        ASSERT_EQ(RegSetValueExW(key, value, 0, type, static_cast<const BYTE*>(data), size),
                  ERROR_SUCCESS);
    }
};

}  // namespace

TEST(ReadRegistryString, RealRegistry) {
    TestKey test;
    ASSERT_NE(test.key, nullptr);
    const wchar_t path[] = L"c:/program files (x86)/Стим";
    test.set(L"SteamPath", REG_SZ, path, sizeof(path));
    const wchar_t expand[] = L"%LOCALAPPDATA%\\x";
    test.set(L"Expand", REG_EXPAND_SZ, expand, sizeof(expand));
    const wchar_t doubled[] = L"two\0\0";   // two trailing NULs besides the literal's
    test.set(L"Doubled", REG_SZ, doubled, sizeof(doubled));
    const wchar_t bare[] = {L'a', L'b'};    // stored without any terminator
    test.set(L"Bare", REG_SZ, bare, sizeof(bare));
    test.set(L"Empty", REG_SZ, L"", sizeof(wchar_t));
    DWORD number = 7;
    test.set(L"Number", REG_DWORD, &number, sizeof(number));

    EXPECT_EQ(read_registry_string(test.name, "SteamPath"), "c:/program files (x86)/Стим");
    EXPECT_EQ(read_registry_string(test.name, "steampath"), "c:/program files (x86)/Стим");
    EXPECT_EQ(read_registry_string(test.name, "Expand"), "%LOCALAPPDATA%\\x");
    EXPECT_EQ(read_registry_string(test.name, "Doubled"), "two");
    EXPECT_EQ(read_registry_string(test.name, "Bare"), "ab");
    EXPECT_EQ(read_registry_string(test.name, "Empty"), "");
    EXPECT_FALSE(read_registry_string(test.name, "Number"));
    EXPECT_FALSE(read_registry_string(test.name, "Missing"));
    EXPECT_FALSE(read_registry_string(test.name + "\\NoSuchKey", "SteamPath"));
}

#else
#include <cstdlib>

namespace {

// Points HOME at a test folder for the test's duration.
struct TestHome {
    std::string old;
    bool had = false;
    std::filesystem::path dir;
    explicit TestHome(std::string_view tag) : dir(make_temp_dir(tag)) {
        if (const char* home = std::getenv("HOME")) {
            old = home;
            had = true;
        }
        setenv("HOME", path_to_utf8(dir).c_str(), 1);
    }
    ~TestHome() {
        if (had) setenv("HOME", old.c_str(), 1);
        else unsetenv("HOME");
    }
    void write(std::string_view vdf) { write_test_file(dir / ".steam" / "registry.vdf", vdf); }
};

}  // namespace

TEST(ReadRegistryString, SteamRegistryVdf) {
    TestHome home("registry-vdf");
    EXPECT_FALSE(read_registry_string("Software\\Valve\\Steam", "SteamPath"));

    // Steam's own key case varies; names compare as the Windows registry does.
    home.write(
        "\"Registry\"\n{\n\t\"HKCU\"\n\t{\n\t\t\"Software\"\n\t\t{\n\t\t\t\"Valve\"\n\t\t\t{\n"
        "\t\t\t\t\"Steam\"\n\t\t\t\t{\n"
        "\t\t\t\t\t\"SteamPath\"\t\t\"/home/игрок/.local/share/Steam\"\n"
        "\t\t\t\t\t\"language\"\t\t\"english\"\n"
        "\t\t\t\t\t\"ActiveProcess\"\n\t\t\t\t\t{\n"
        "\t\t\t\t\t\t\"pid\"\t\t\"1234\"\n"
        "\t\t\t\t\t\t\"SteamClientDll64\"\t\t\"/home/u/.steam/sdk64/steamclient.so\"\n"
        "\t\t\t\t\t}\n\t\t\t\t}\n\t\t\t}\n\t\t}\n\t}\n}\n");
    EXPECT_EQ(read_registry_string("Software\\Valve\\Steam", "SteamPath"),
              "/home/игрок/.local/share/Steam");
    EXPECT_EQ(read_registry_string("software\\VALVE\\steam", "steampath"),
              "/home/игрок/.local/share/Steam");
    EXPECT_EQ(read_registry_string("Software\\Valve\\Steam\\ActiveProcess", "SteamClientDll64"),
              "/home/u/.steam/sdk64/steamclient.so");
    EXPECT_FALSE(read_registry_string("Software\\Valve\\Steam", "ActiveProcess"));   // a key
    EXPECT_FALSE(read_registry_string("Software\\Valve\\Steam", "Missing"));
    EXPECT_FALSE(read_registry_string("Software\\Valve\\Other", "SteamPath"));

    home.write("\"registry\" { \"hkcu\" { \"software\" { \"valve\" { \"steam\" { \"steampath\" \"/s\" } } } } }");
    EXPECT_EQ(read_registry_string("Software\\Valve\\Steam", "SteamPath"), "/s");

    home.write("\"Registry\" { \"HKCU\" { \"Software\" { \"SteamPath\" \"/unterminated");
    EXPECT_FALSE(read_registry_string("Software", "SteamPath"));
}
#endif
