#include "agent/tray.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "core/clock.h"
#include "core/stop_flag.h"
#include "core/text.h"
#include "tests/support/test_support.h"

#ifdef _WIN32
#include <windows.h>
#include <shellapi.h>

namespace {

// What the pop-up menu held, read while it is open (WM_INITMENUPOPUP reaches
// the window's thread through a hook), then the menu is closed.
struct MenuItemSeen {
    UINT id = 0;
    std::wstring text;
    bool separator = false;
    bool grayed = false;
};
std::vector<MenuItemSeen> g_menu;
bool g_menu_shown = false;

std::vector<MenuItemSeen> read_menu(HMENU menu) {
    std::vector<MenuItemSeen> items;
    const int count = GetMenuItemCount(menu);
    for (int i = 0; i < count; ++i) {
        wchar_t text[256] = {};
        MENUITEMINFOW info{};
        info.cbSize = sizeof(info);
        info.fMask = MIIM_ID | MIIM_STATE | MIIM_FTYPE | MIIM_STRING;
        info.dwTypeData = text;
        info.cch = 255;
        GetMenuItemInfoW(menu, static_cast<UINT>(i), TRUE, &info);
        items.push_back({info.wID, text, (info.fType & MFT_SEPARATOR) != 0,
                         (info.fState & MFS_GRAYED) != 0});
    }
    return items;
}

LRESULT CALLBACK watch_menu(int code, WPARAM wparam, LPARAM lparam) {
    if (code == HC_ACTION) {
        const auto* message = reinterpret_cast<const CWPSTRUCT*>(lparam);
        if (message->message == WM_INITMENUPOPUP) {
            g_menu = read_menu(reinterpret_cast<HMENU>(message->wParam));
            g_menu_shown = true;
        } else if (message->message == WM_ENTERIDLE && message->wParam == MSGF_MENU) {
            EndMenu();
        }
    }
    return CallNextHookEx(nullptr, code, wparam, lparam);
}

// Closes a menu that never went idle, so a test cannot hang in it.
void CALLBACK close_menu(HWND, UINT, UINT_PTR, DWORD) { EndMenu(); }

// Sends the icon's callback message with this mouse event; the menu it opens
// (if any) is read and closed.
std::vector<MenuItemSeen> click(const TrayIcon& tray, UINT mouse_event) {
    g_menu.clear();
    g_menu_shown = false;
    HHOOK hook = SetWindowsHookExW(WH_CALLWNDPROC, watch_menu, nullptr, GetCurrentThreadId());
    const UINT_PTR timer = SetTimer(nullptr, 0, 3000, close_menu);
    SendMessageW(static_cast<HWND>(tray.window), kTrayCallbackMessage, 1, mouse_event);
    KillTimer(nullptr, timer);
    UnhookWindowsHookEx(hook);
    tray_pump();
    return g_menu;
}

std::vector<std::wstring> texts_of(const std::vector<MenuItemSeen>& items) {
    std::vector<std::wstring> texts;
    for (const MenuItemSeen& item : items) texts.push_back(item.separator ? L"---" : item.text);
    return texts;
}

class TrayWindow : public ::testing::Test {
protected:
    void SetUp() override {
        std::string error;
        if (!tray_create(tray, error)) {
            // Windows need a display; under Wine ctest runs this without one,
            // tests/agent/tray_window_test.py runs it again under xvfb-run.
            if (!std::getenv("DISPLAY")) GTEST_SKIP() << "no display: " << error;
            FAIL() << error;
        }
    }
    void TearDown() override { tray_destroy(tray); }
    TrayIcon tray;
};

TEST_F(TrayWindow, CreatesTheHiddenWindowAndTheIcon) {
    HWND window = static_cast<HWND>(tray.window);
    ASSERT_TRUE(IsWindow(window));
    EXPECT_TRUE(tray.icon_added);
    EXPECT_FALSE(IsWindowVisible(window));
    wchar_t text[64] = {};
    GetClassNameW(window, text, 64);
    EXPECT_EQ(std::wstring(text), L"VantorTray");
    GetWindowTextW(window, text, 64);
    EXPECT_EQ(std::wstring(text), L"vantor");

    // A second tray in the same process reuses the registered class.
    TrayIcon second;
    std::string error;
    ASSERT_TRUE(tray_create(second, error)) << error;
    EXPECT_NE(second.window, tray.window);
    tray_destroy(second);
    EXPECT_TRUE(IsWindow(window));
}

TEST_F(TrayWindow, MenuOpensOnButtonReleaseOnly) {
    const std::vector<MenuItemSeen> menu = click(tray, WM_RBUTTONUP);
    ASSERT_TRUE(g_menu_shown);
    EXPECT_EQ(texts_of(menu),
              (std::vector<std::wstring>{L"No rooms yet", L"---", L"Hide console", L"Exit"}));
    ASSERT_EQ(menu.size(), 4u);
    EXPECT_EQ(menu[0].id, 0u);
    EXPECT_TRUE(menu[0].grayed);
    EXPECT_EQ(menu[2].id, kTrayConsoleCommand);
    EXPECT_EQ(menu[3].id, kTrayExitCommand);
    EXPECT_FALSE(menu[3].grayed);

    click(tray, WM_LBUTTONUP);
    EXPECT_TRUE(g_menu_shown);
    for (UINT other : {WM_MOUSEMOVE, WM_LBUTTONDOWN, WM_RBUTTONDOWN, WM_LBUTTONDBLCLK}) {
        click(tray, other);
        EXPECT_FALSE(g_menu_shown) << other;
    }
}

TEST_F(TrayWindow, MenuListsTheRoomsInOrder) {
    tray_set_items(tray, {{L"05.12 21:30   de_dust2", "https://rooms.example/r/1"},
                          {L"05.12 20:02   de_mirage \u2764", "https://rooms.example/r/2"},
                          {L"0123abcd", "https://rooms.example/r/3"}});
    const std::vector<MenuItemSeen> menu = click(tray, WM_RBUTTONUP);
    EXPECT_EQ(texts_of(menu),
              (std::vector<std::wstring>{L"05.12 21:30   de_dust2", L"05.12 20:02   de_mirage \u2764",
                                         L"0123abcd", L"---", L"Hide console", L"Exit"}));
    ASSERT_EQ(menu.size(), 6u);
    for (UINT i = 0; i < 3; ++i) {
        EXPECT_EQ(menu[i].id, i + 1);
        EXPECT_FALSE(menu[i].grayed);
    }
    // Replaced as a whole.
    tray_set_items(tray, {});
    EXPECT_EQ(texts_of(click(tray, WM_RBUTTONUP)).front(), L"No rooms yet");
}

TEST_F(TrayWindow, ExitIsSeenThroughThePump) {
    HWND window = static_cast<HWND>(tray.window);
    // Ids with no item do nothing.
    SendMessageW(window, WM_COMMAND, 0, 0);
    SendMessageW(window, WM_COMMAND, 4, 0);
    EXPECT_FALSE(tray.exit_requested);
    // What the menu posts when Exit is chosen arrives through the pump.
    PostMessageW(window, WM_COMMAND, kTrayExitCommand, 0);
    EXPECT_FALSE(tray.exit_requested);
    tray_pump();
    EXPECT_TRUE(tray.exit_requested);
}

TEST_F(TrayWindow, ConsoleSwitchFlipsTheConsoleWindow) {
    HWND window = static_cast<HWND>(tray.window);
    HWND console = GetConsoleWindow();
    // Started from a shell (or from ctest) the console is shared: never hidden.
    DWORD processes[2];
    if (GetConsoleProcessList(processes, 2) != 1) {
        EXPECT_FALSE(tray_hide_console(tray));
    }
    if (!console) {
        SendMessageW(window, WM_COMMAND, kTrayConsoleCommand, 0);
        EXPECT_FALSE(tray.console_hidden);   // nothing to switch
        // A console of its own, as when the agent is started by double-click
        // (the standard handles stay where they are).
        FreeConsole();
        if (!AllocConsole() || !(console = GetConsoleWindow()))
            GTEST_SKIP() << "this process has no console window";
        ShowWindow(console, SW_SHOW);
        EXPECT_EQ(GetConsoleProcessList(processes, 2), 1u);
        EXPECT_TRUE(tray_hide_console(tray));
        EXPECT_TRUE(tray.console_hidden);
        EXPECT_FALSE(IsWindowVisible(console));
        EXPECT_EQ(texts_of(click(tray, WM_RBUTTONUP))[2], L"Show console");
        SendMessageW(window, WM_COMMAND, kTrayConsoleCommand, 0);   // show it again
        EXPECT_FALSE(tray.console_hidden);
    }
    const bool was_visible = IsWindowVisible(console);
    SendMessageW(window, WM_COMMAND, kTrayConsoleCommand, 0);
    EXPECT_TRUE(tray.console_hidden);
    EXPECT_FALSE(IsWindowVisible(console));
    EXPECT_EQ(texts_of(click(tray, WM_RBUTTONUP))[2], L"Show console");
    SendMessageW(window, WM_COMMAND, kTrayConsoleCommand, 0);
    EXPECT_FALSE(tray.console_hidden);
    EXPECT_TRUE(IsWindowVisible(console));
    // Destroy brings back a console the agent hid.
    SendMessageW(window, WM_COMMAND, kTrayConsoleCommand, 0);
    tray_destroy(tray);
    EXPECT_TRUE(IsWindowVisible(console));
    if (!was_visible) ShowWindow(console, SW_HIDE);
}

TEST_F(TrayWindow, ARoomThatIsNoWebLinkIsNeverOpened) {
    // A link from the room service naming a local script: opening it would run it.
    const std::filesystem::path dir = make_temp_dir("tray-open");
    const std::filesystem::path marker = dir / "ran.txt";
    const std::filesystem::path script = dir / "room.cmd";
    write_test_file(script, "@echo ran> \"" + path_to_utf8(marker) + "\"\r\n");
    tray_set_items(tray, {{L"evil", path_to_utf8(script)},
                          {L"evil too", "file:///" + path_to_utf8(script)}});
    SendMessageW(static_cast<HWND>(tray.window), WM_COMMAND, 1, 0);
    SendMessageW(static_cast<HWND>(tray.window), WM_COMMAND, 2, 0);
    sleep_ms(1500);
    EXPECT_FALSE(std::filesystem::exists(marker));
    EXPECT_FALSE(tray.exit_requested);
}

TEST_F(TrayWindow, DestroyRemovesIconAndWindow) {
    HWND window = static_cast<HWND>(tray.window);
    tray_set_items(tray, {{L"x", "https://rooms.example/r/1"}});
    tray_destroy(tray);
    EXPECT_FALSE(IsWindow(window));
    EXPECT_FALSE(tray.icon_added);
    EXPECT_EQ(tray.window, nullptr);
    EXPECT_TRUE(tray.items.empty());
    tray_destroy(tray);   // twice is harmless
}

std::wstring clipboard_text() {
    std::wstring text;
    if (!OpenClipboard(nullptr)) return L"<clipboard not opened>";
    if (HANDLE data = GetClipboardData(CF_UNICODETEXT)) {
        if (const auto* chars = static_cast<const wchar_t*>(GlobalLock(data))) {
            text = chars;
            GlobalUnlock(data);
        }
    }
    CloseClipboard();
    return text;
}

// Explorer started again: the icons it showed are gone, and it broadcasts
// "TaskbarCreated" (also sent while icons survive, on a display change).
// The menu holds the main loop while it is open: the loop's inputs are still
// read, and Ctrl+C closes the menu instead of waiting for the player.
TEST_F(TrayWindow, AnOpenMenuKeepsTheLoopGoingAndClosesOnStop) {
    static int ticks = 0;
    ticks = 0;
    tray.menu_tick = [](void*) {
        if (++ticks == 2) request_stop();
    };
    const UINT_PTR guard = SetTimer(nullptr, 0, 10000, close_menu);
    const std::uint32_t opened = tick_now();
    SendMessageW(static_cast<HWND>(tray.window), kTrayCallbackMessage, 1, WM_RBUTTONUP);
    const std::uint32_t took = ticks_since(tick_now(), opened);
    KillTimer(nullptr, guard);
    clear_stop();
    tray_pump();
    EXPECT_GE(ticks, 2);
    EXPECT_LT(took, 5000u);   // closed by the stop, not by the guard
}

TEST_F(TrayWindow, TheIconComesBackWhenExplorerStartsAgain) {
    HWND window = static_cast<HWND>(tray.window);
    tray_set_items(tray, {{L"05.12 21:30   de_dust2", "https://rooms.example/r/1"}});
    NOTIFYICONDATAW icon{};
    icon.cbSize = sizeof(icon);
    icon.hWnd = window;
    icon.uID = 1;
    const UINT taskbar_created = RegisterWindowMessageW(L"TaskbarCreated");
    for (bool explorer_lost_it : {true, false}) {
        if (explorer_lost_it) {
            ASSERT_TRUE(Shell_NotifyIconW(NIM_DELETE, &icon));
            ASSERT_FALSE(Shell_NotifyIconW(NIM_MODIFY, &icon));   // gone
        }
        SendMessageW(window, taskbar_created, 0, 0);
        EXPECT_TRUE(tray.icon_added) << explorer_lost_it;
        EXPECT_TRUE(Shell_NotifyIconW(NIM_MODIFY, &icon)) << explorer_lost_it;   // there again
        EXPECT_EQ(texts_of(click(tray, WM_RBUTTONUP)).front(), L"05.12 21:30   de_dust2");
    }
}

TEST_F(TrayWindow, TheClipboardIsOpenedForTheTraysWindow) {
    std::uint32_t error = 99;
    ASSERT_TRUE(copy_to_clipboard("https://rooms.example/r/1", error, &tray));
    EXPECT_EQ(GetClipboardOwner(), static_cast<HWND>(tray.window));
    EXPECT_EQ(clipboard_text(), L"https://rooms.example/r/1");
    ASSERT_TRUE(copy_to_clipboard("without a tray", error));   // no owner, as before
    EXPECT_EQ(GetClipboardOwner(), nullptr);
    EXPECT_EQ(clipboard_text(), L"without a tray");
}

TEST(Clipboard, HoldsTheLinkAsUnicodeText) {
    const std::string link = "https://rooms.example/r/\xD0\xBA\xD0\xBB\xD1\x8E\xD1\x87?x=1";
    std::uint32_t error = 99;
    ASSERT_TRUE(copy_to_clipboard(link, error));
    EXPECT_EQ(error, 0u);
    EXPECT_EQ(clipboard_text(), utf8_to_wide(link));
    ASSERT_TRUE(copy_to_clipboard("second", error));
    EXPECT_EQ(clipboard_text(), L"second");
}

TEST(Clipboard, FailsAfterThreeAttemptsWhileAnotherThreadHoldsIt) {
    std::uint32_t error = 0;
    ASSERT_TRUE(copy_to_clipboard("before", error));
    HANDLE opened = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HANDLE release = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    // Another owner: the clipboard is held for a window (Wine lets every
    // caller without a window share an open clipboard).
    bool held = false;
    std::thread holder([&] {
        HWND owner = CreateWindowExW(0, L"STATIC", L"holder", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                     nullptr, nullptr);
        held = owner && OpenClipboard(owner);
        SetEvent(opened);
        WaitForSingleObject(release, 10000);
        if (held) CloseClipboard();
        if (owner) DestroyWindow(owner);
    });
    WaitForSingleObject(opened, 10000);
    if (!held) {
        SetEvent(release);
        holder.join();
        CloseHandle(opened);
        CloseHandle(release);
        GTEST_SKIP() << "no window to hold the clipboard with (no display)";
    }
    const std::int64_t began = monotonic_ns();
    const bool copied = copy_to_clipboard("during", error);
    const std::int64_t took_ms = (monotonic_ns() - began) / 1000000;
    SetEvent(release);
    holder.join();
    CloseHandle(opened);
    CloseHandle(release);
    EXPECT_FALSE(copied);
    EXPECT_NE(error, 0u);
    EXPECT_GE(took_ms, 35);   // two pauses of 20 ms between the attempts
    EXPECT_EQ(clipboard_text(), L"before");
    EXPECT_TRUE(copy_to_clipboard("after", error));
}

}  // namespace

#else  // POSIX

#include <sys/stat.h>

#include <map>

#include "core/event_log.h"

namespace {

TEST(Tray, IsNotAvailableAndSaysSo) {
    TrayIcon tray;
    std::string error;
    EXPECT_FALSE(tray_create(tray, error));
    EXPECT_NE(error.find("no notification area"), std::string::npos) << error;
    EXPECT_EQ(tray.window, nullptr);
    EXPECT_FALSE(tray_hide_console(tray));
    tray_pump();
    tray_set_items(tray, {{L"x", "https://rooms.example/r/1"}});
    EXPECT_EQ(tray.items.size(), 1u);
    tray_destroy(tray);
    EXPECT_TRUE(tray.items.empty());
}

const char* const kSessionVariables[] = {"DISPLAY", "WAYLAND_DISPLAY", "DBUS_SESSION_BUS_ADDRESS",
                                         "XDG_RUNTIME_DIR"};

// Points PATH at a folder with a stand-in clipboard helper and sets the
// display variables for one test.
class ClipboardHelper : public ::testing::Test {
protected:
    void SetUp() override {
        dir = make_temp_dir("clipboard");
        saved_path = std::getenv("PATH") ? std::getenv("PATH") : "";
        for (const char* name : kSessionVariables) {
            saved[name] = std::getenv(name) ? std::getenv(name) : "";
            unsetenv(name);
        }
        setenv("PATH", (path_to_utf8(dir) + ":" + saved_path).c_str(), 1);
    }
    void TearDown() override {
        setenv("PATH", saved_path.c_str(), 1);
        for (const auto& [name, value] : saved) {
            if (value.empty()) unsetenv(name.c_str());
            else setenv(name.c_str(), value.c_str(), 1);
        }
    }
    // A helper that records its arguments and input, then exits with `code`.
    void helper(const std::string& name, int code) {
        const std::filesystem::path script = dir / name;
        write_test_file(script, "#!/bin/sh\necho \"$@\" > \"" + path_to_utf8(dir / (name + ".args")) +
                                    "\"\ncat > \"" + path_to_utf8(dir / (name + ".in")) + "\"\nexit " +
                                    std::to_string(code) + "\n");
        chmod(script.c_str(), 0755);
    }
    std::filesystem::path dir;
    std::string saved_path;
    std::map<std::string, std::string> saved;
};

TEST_F(ClipboardHelper, XclipGetsTheTextOnItsInput) {
    helper("xclip", 0);
    std::uint32_t error = 99;
    EXPECT_FALSE(copy_to_clipboard("https://rooms.example/r/1", error));   // no display yet
    EXPECT_NE(error, 0u);
    setenv("DISPLAY", ":99", 1);
    const std::string link = "https://rooms.example/r/\xD0\xBA\xD0\xBB\xD1\x8E\xD1\x87";
    ASSERT_TRUE(copy_to_clipboard(link, error));
    EXPECT_EQ(error, 0u);
    EXPECT_EQ(read_test_file(dir / "xclip.in"), link);
    EXPECT_EQ(read_test_file(dir / "xclip.args"), "-selection clipboard\n");
}

TEST_F(ClipboardHelper, WaylandComesFirstAndFailuresAreReported) {
    helper("xclip", 0);
    helper("wl-copy", 0);
    setenv("DISPLAY", ":99", 1);
    setenv("WAYLAND_DISPLAY", "wayland-0", 1);
    std::uint32_t error = 99;
    ASSERT_TRUE(copy_to_clipboard("link", error));
    EXPECT_EQ(read_test_file(dir / "wl-copy.in"), "link");
    EXPECT_FALSE(std::filesystem::exists(dir / "xclip.in"));

    helper("wl-copy", 3);   // the helper fails: its exit status is the error
    EXPECT_FALSE(copy_to_clipboard("link", error));
    EXPECT_EQ(error, 3u);

    std::filesystem::remove(dir / "wl-copy");   // Wayland without wl-copy: xclip
    ASSERT_TRUE(copy_to_clipboard("via xclip", error));
    EXPECT_EQ(read_test_file(dir / "xclip.in"), "via xclip");

    std::filesystem::remove(dir / "xclip");   // X11 without xclip: xsel
    helper("xsel", 0);
    ASSERT_TRUE(copy_to_clipboard("via xsel", error));
    EXPECT_EQ(read_test_file(dir / "xsel.in"), "via xsel");
    EXPECT_EQ(read_test_file(dir / "xsel.args"), "--clipboard --input\n");

    setenv("PATH", path_to_utf8(dir / "none").c_str(), 1);   // no helper at all
    EXPECT_FALSE(copy_to_clipboard("link", error));
    EXPECT_NE(error, 0u);
}

TEST_F(ClipboardHelper, HintNamesWhatToInstall) {
    struct Row {
        const char* name;
        const char* wayland;
        const char* display;
        const char* helper;   // installed, or ""
        const char* hint;     // a part of the hint, or "" for none
    };
    const Row rows[] = {
        {"wayland with wl-copy", "wayland-0", "", "wl-copy", ""},
        {"x11 with xclip", "", ":0", "xclip", ""},
        {"x11 with xsel", "", ":0", "xsel", ""},
        {"xwayland falls back to xclip", "wayland-0", ":0", "xclip", ""},
        {"wayland without wl-copy", "wayland-0", "", "xclip", "install the package wl-clipboard"},
        {"x11 without a helper", "", ":0", "wl-copy", "install the package xclip"},
        {"no desktop session", "", "", "xclip", "no desktop session"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        for (const char* name : {"wl-copy", "xclip", "xsel"}) std::filesystem::remove(dir / name);
        if (*row.helper) helper(row.helper, 0);
        for (const auto& [name, value] : {std::pair{"WAYLAND_DISPLAY", row.wayland},
                                           std::pair{"DISPLAY", row.display}}) {
            if (*value) setenv(name, value, 1);
            else unsetenv(name);
        }
        const std::string hint = clipboard_missing_hint();
        if (*row.hint) EXPECT_NE(hint.find(row.hint), std::string::npos) << hint;
        else EXPECT_EQ(hint, "");
    }
}

TEST_F(ClipboardHelper, NotificationGoesThroughNotifySendWithASessionBus) {
    helper("notify-send", 0);
    notify_room_ready("https://rooms.example/r/1", true);   // no session bus: nothing
    EXPECT_FALSE(std::filesystem::exists(dir / "notify-send.args"));
    setenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent", 1);
    notify_room_ready("https://rooms.example/r/1", true);
    EXPECT_EQ(read_test_file(dir / "notify-send.args"),
              "--app-name=vantor Room ready -- link copied https://rooms.example/r/1\n");
    notify_room_ready("https://rooms.example/r/2", false);
    EXPECT_EQ(read_test_file(dir / "notify-send.args"),
              "--app-name=vantor Room ready https://rooms.example/r/2\n");
}

// The helper gets the text as its input and nothing else the agent holds
// open: neither the event log nor the temporary file's own descriptor.
TEST_F(ClipboardHelper, TheHelperInheritsOnlyItsInput) {
    EventLog log;
    ASSERT_TRUE(log_open(log, dir / "logs"));
    const std::filesystem::path open_files = dir / "open.txt";
    const std::filesystem::path script = dir / "xclip";
    write_test_file(script, "#!/bin/sh\ncat > /dev/null\nfor f in /proc/$$/fd/*; do readlink \"$f\"; done > \"" +
                                path_to_utf8(open_files) + "\"\nexit 0\n");
    chmod(script.c_str(), 0755);
    setenv("DISPLAY", ":99", 1);
    std::uint32_t error = 99;
    ASSERT_TRUE(copy_to_clipboard("https://rooms.example/r/1", error));
    const std::string open = read_test_file(open_files);
    EXPECT_EQ(open.find(path_to_utf8(log.path)), std::string::npos) << open;
    const std::size_t input = open.find("vantor-clip-");
    ASSERT_NE(input, std::string::npos) << open;                            // its standard input
    EXPECT_EQ(open.find("vantor-clip-", input + 1), std::string::npos) << open;   // and only that
}

}  // namespace

#endif
